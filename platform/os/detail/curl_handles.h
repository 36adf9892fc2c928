#pragma once

// Owning aliases for the C handles of curl, wrapped on the line that creates them. Only
// platform/os/*.cpp include this header.

#include <curl/curl.h>

#include <memory>

namespace platform::detail {

template <auto Free>
struct CurlFreeWith {
  void operator()(auto* p) const { Free(p); }
};

using CurlPtr = std::unique_ptr<CURL, CurlFreeWith<curl_easy_cleanup>>;
using CurlHeadersPtr = std::unique_ptr<curl_slist, CurlFreeWith<curl_slist_free_all>>;

}  // namespace platform::detail
