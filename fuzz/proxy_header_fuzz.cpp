// Feeds arbitrary bytes to the PROXY protocol header parser as the start of a connection and
// checks what its reader relies on: more is asked for only beyond what has come, a header lies
// within what has come, and bytes taken as the parser asks for them, never more, give the same
// outcome as all of them at once, so the reader never reads past a header.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/require.h"
#include "server/proxy_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using server::ProxyHeaderStatus;
  const std::span<const uint8_t> input(data, size);
  const server::ProxyHeaderParse whole = server::ParseProxyHeader(input);
  fuzz::Require(whole.status != ProxyHeaderStatus::kDone || whole.bytes <= size,
                "a header lies within what has come");
  size_t taken = 0;
  server::ProxyHeaderParse step = server::ParseProxyHeader(input.first(0));
  while (step.status == ProxyHeaderStatus::kNeedMore && taken < size) {
    fuzz::Require(step.bytes > taken && step.bytes <= server::kMaxProxyHeaderBytes,
                  "more is asked for beyond what has come, up to the longest header");
    taken = std::min(step.bytes, size);
    step = server::ParseProxyHeader(input.first(taken));
  }
  fuzz::Require(step.status == whole.status &&
                    (step.status != ProxyHeaderStatus::kDone || step.bytes == whole.bytes),
                "bytes taken as asked for give the outcome of all at once");
  return 0;
}
