#pragma once

// DecodedSizeEstimate is what decoding `der` with OpenSSL, and importing it as a certificate,
// takes in memory, estimated from its size and its number of elements: every element decoded is
// an allocation of its own. The certificate cache counts its entries so, and a CHECK takes it
// from what its connection may hold before it decodes. Only platform/crypto/*.cpp include this.

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform::detail {

size_t DecodedSizeEstimate(std::span<const uint8_t> der);

}  // namespace platform::detail
