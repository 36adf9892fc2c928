#pragma once

// BER elements read as OpenSSL's decoder reads their headers, for code that must agree with it on
// where an element starts and ends without decoding it: identifier octets with a tag number of
// several bytes, length octets in the long form with leading zero bytes, an indefinite length
// (only on a constructed element) whose end is found by counting the end-of-contents octets of
// the elements inside, and OpenSSL's bounds on each. Only platform/*.cpp include this.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform::detail {

inline constexpr uint8_t kUniversal = 0x00;
inline constexpr uint8_t kContextSpecific = 0x80;

// BerElement is one element: its class (the identifier's top two bits), tag number and form, and
// where it starts, where its contents start and end (for an indefinite length, where its
// end-of-contents octets start), and where it ends.
struct BerElement {
  uint8_t tagClass = 0;
  uint32_t tag = 0;
  bool constructed = false;
  bool indefinite = false;
  size_t start = 0, contentStart = 0, contentEnd = 0, end = 0;

  bool Is(uint8_t expectedClass, uint32_t expectedTag) const {
    return tagClass == expectedClass && tag == expectedTag;
  }
};

// ReadBerElement reads the element at `at`, which with everything inside it must end by `bound`
// (at most data.size()). Nullopt when OpenSSL would refuse its header or find it running past
// `bound` or an indefinite length without its end: faults a decoder reports as running out of
// data.
std::optional<BerElement> ReadBerElement(std::span<const uint8_t> data, size_t at, size_t bound);

// BerChildren returns the elements inside `parent`, which was read within `bound`; nullopt when
// one of them cannot be read.
std::optional<std::vector<BerElement>> BerChildren(std::span<const uint8_t> data,
                                                   const BerElement& parent, size_t bound);

// DecodedSizeEstimate is what decoding `der` with OpenSSL, and importing it as a certificate,
// takes in memory, estimated from its size and its number of elements: every element decoded is
// an allocation of its own.
size_t DecodedSizeEstimate(std::span<const uint8_t> der);

}  // namespace platform::detail
