#include "desktop/icon.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <cmath>
#include <filesystem>
#include <memory>

namespace desktop {
namespace {

using SurfacePtr = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using CairoPtr = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

// Draw paints the icon, `size` units square, on `surface` and reports whether cairo succeeded.
bool Draw(cairo_surface_t* surface, double size) {
  const CairoPtr cr(cairo_create(surface), &cairo_destroy);
  const double s = size, ring = s / 16;
  // The gold ring lies wholly inside the square.
  cairo_arc(cr.get(), s / 2, s / 2, (s - ring) / 2, 0, 2 * M_PI);
  cairo_set_source_rgb(cr.get(), 0.12, 0.31, 0.55);
  cairo_fill_preserve(cr.get());
  cairo_set_source_rgb(cr.get(), 0.9, 0.75, 0.2);
  cairo_set_line_width(cr.get(), ring);
  cairo_stroke(cr.get());
  cairo_move_to(cr.get(), s * 0.27, s * 0.52);
  cairo_line_to(cr.get(), s * 0.44, s * 0.69);
  cairo_line_to(cr.get(), s * 0.74, s * 0.33);
  cairo_set_source_rgb(cr.get(), 1, 1, 1);
  cairo_set_line_width(cr.get(), s / 8);
  cairo_set_line_cap(cr.get(), CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr.get(), CAIRO_LINE_JOIN_ROUND);
  cairo_stroke(cr.get());
  return cairo_status(cr.get()) == CAIRO_STATUS_SUCCESS;
}

// AppsFolder makes <folder>/hicolor/<theme size>/apps and returns it; empty on failure.
std::filesystem::path AppsFolder(const std::string& folder, const std::string& themeSize) {
  std::filesystem::path apps = std::filesystem::path(folder) / "hicolor" / themeSize / "apps";
  std::error_code error;
  std::filesystem::create_directories(apps, error);
  return error ? std::filesystem::path() : apps;
}

}  // namespace

bool WriteIconTheme(const std::string& folder) {
  for (const int size : kIconSizes) {
    const auto apps = AppsFolder(folder, std::to_string(size) + 'x' + std::to_string(size));
    const SurfacePtr png(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size),
                         &cairo_surface_destroy);
    if (apps.empty() || !Draw(png.get(), size) ||
        cairo_surface_write_to_png(png.get(), (apps / kIconName).concat(".png").c_str()) !=
            CAIRO_STATUS_SUCCESS) {
      return false;
    }
  }
  constexpr double kSvgSize = 64;  // in pixels; the picture scales with it
  const auto apps = AppsFolder(folder, "scalable");
  if (apps.empty()) return false;
  const SurfacePtr svg(
      cairo_svg_surface_create((apps / kIconName).concat(".svg").c_str(), kSvgSize, kSvgSize),
      &cairo_surface_destroy);
  cairo_svg_surface_set_document_unit(svg.get(), CAIRO_SVG_UNIT_PX);
  if (!Draw(svg.get(), kSvgSize)) return false;
  cairo_surface_finish(svg.get());
  return cairo_surface_status(svg.get()) == CAIRO_STATUS_SUCCESS;
}

}  // namespace desktop
