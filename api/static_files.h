#pragma once

// The files the HTTP front serves from inside the server: the OpenAPI description of the API
// (the same bytes as deploy/openapi.json) and the verification page with its style and script
// (api/page/). They are compiled in, so the server needs nothing installed beside it and the
// page fetches nothing from anywhere else.

#include <optional>
#include <string_view>

#include "platform/os/http_listener.h"

namespace api {

inline constexpr std::string_view kEndpointsCheck = "/v1/check";
inline constexpr std::string_view kOpenApiPath = "/v1/openapi.json";

// The compiled-in files (generated from the source files by api/embed.cmake).
extern const std::string_view kOpenApiDescription;
extern const std::string_view kPageHtml;
extern const std::string_view kPageCss;
extern const std::string_view kPageScript;
extern const std::string_view kPageIcon;

// IsPagePath is true for "/" and the page's files (style, script, icon).
bool IsPagePath(std::string_view path);

// StaticFile returns the answer for GET `path` when it names a compiled-in file, else nullopt.
// The page's answers carry a Content-Security-Policy that lets it load only from its own
// origin and run no inline script, and none of them may be sniffed as another type.
std::optional<platform::HttpAnswer> StaticFile(std::string_view path);

}  // namespace api
