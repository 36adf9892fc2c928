// Feeds arbitrary bytes to the PROXY protocol header parser as the start of a connection and
// checks what its reader relies on:
//  - more is asked for only beyond what has come, and a whole header is never longer than what
//    has come, nor than the longest header;
//  - fed the bytes one at a time, each time as many as it last asked for at most, the parser
//    reaches the same outcome: the reader, which takes exactly that, never reads past a header;
//  - a header's client, when it names one, is never an IPv4-mapped IPv6 address.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/require.h"
#include "server/proxy_header.h"

namespace fuzz {
namespace {

void Check(std::span<const uint8_t> input) {
  const server::ProxyHeaderParse whole = server::ParseProxyHeader(input);
  if (whole.status == server::ProxyHeaderStatus::kNeedMore) {
    Require(whole.bytes > input.size() && whole.bytes <= server::kMaxProxyHeaderBytes,
            "more is asked for beyond what has come, up to the longest header");
  }
  if (whole.status == server::ProxyHeaderStatus::kDone) {
    Require(whole.bytes > 0 && whole.bytes <= input.size(), "a header lies within what has come");
  }
  // The reader's way: take at most what was asked for, and ask again.
  size_t taken = 0;
  server::ProxyHeaderParse step = server::ParseProxyHeader(input.first(0));
  while (step.status == server::ProxyHeaderStatus::kNeedMore && taken < input.size()) {
    Require(step.bytes > taken, "more is asked for beyond what has come");
    taken = std::min(step.bytes, input.size());
    step = server::ParseProxyHeader(input.first(taken));
  }
  if (step.status == server::ProxyHeaderStatus::kNeedMore) {
    Require(whole.status == server::ProxyHeaderStatus::kNeedMore, "what is unfinished stays so");
  } else {
    Require(step.status == whole.status && step.bytes == whole.bytes,
            "bytes fed as asked for give the same outcome as all at once");
  }
  if (whole.status == server::ProxyHeaderStatus::kDone && whole.source) {
    const auto& bytes = whole.source->address.bytes;
    const bool mapped =
        whole.source->address.v6 &&
        std::all_of(bytes.begin(), bytes.begin() + 10, [](uint8_t b) { return b == 0; }) &&
        bytes[10] == 0xFF && bytes[11] == 0xFF;
    Require(!mapped, "a client is never an IPv4-mapped IPv6 address");
  }
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Check(std::span<const uint8_t>(data, size));
  return 0;
}
