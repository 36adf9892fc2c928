#pragma once

// RequestLimits bound the work of one request. The server runs with the defaults; tests make
// them small.

#include <cstdint>

namespace server {

struct RequestLimits {
  // A document (downloaded, or read from a file) larger than this is refused.
  uint64_t maxDocumentBytes = 0x80000000;
};

}  // namespace server
