#include "api/static_files.h"

namespace api {

bool IsPagePath(std::string_view /*path*/) { return false; }

std::optional<platform::HttpAnswer> StaticFile(std::string_view path) {
  if (path == kOpenApiPath) {
    return platform::HttpAnswer{200,
                                "application/json",
                                std::string(kOpenApiDescription),
                                {{"X-Content-Type-Options", "nosniff"}}};
  }
  return std::nullopt;
}

}  // namespace api
