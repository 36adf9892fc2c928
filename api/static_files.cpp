#include "api/static_files.h"

#include <algorithm>

namespace api {
namespace {

// The page may load only from its own origin and runs no inline script; it may not be framed.
constexpr char kPagePolicy[] =
    "default-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

struct StaticFileRow {
  std::string_view path;
  std::string_view contentType;
  const std::string_view* bytes;
  bool page;  // a file of the page, with the page's policy
};

const StaticFileRow kFiles[] = {
    {kOpenApiPath, "application/json", &kOpenApiDescription, false},
    {"/", "text/html; charset=utf-8", &kPageHtml, true},
    {"/page.css", "text/css; charset=utf-8", &kPageCss, true},
    {"/page.js", "text/javascript; charset=utf-8", &kPageScript, true},
    {"/icon.svg", "image/svg+xml", &kPageIcon, true},
};

const StaticFileRow* Find(std::string_view path) {
  const auto found = std::find_if(std::begin(kFiles), std::end(kFiles),
                                  [path](const StaticFileRow& row) { return row.path == path; });
  return found != std::end(kFiles) ? found : nullptr;
}

}  // namespace

bool IsPagePath(std::string_view path) {
  const StaticFileRow* row = Find(path);
  return row != nullptr && row->page;
}

std::optional<platform::HttpAnswer> StaticFile(std::string_view path) {
  const StaticFileRow* row = Find(path);
  if (row == nullptr) return std::nullopt;
  platform::HttpAnswer answer{200,
                              std::string(row->contentType),
                              std::string(*row->bytes),
                              {{"X-Content-Type-Options", "nosniff"}}};
  if (row->page) {
    answer.headers.emplace_back("Content-Security-Policy", kPagePolicy);
    answer.headers.emplace_back("Referrer-Policy", "no-referrer");
    answer.headers.emplace_back("Cache-Control", "no-cache");
  }
  return answer;
}

}  // namespace api
