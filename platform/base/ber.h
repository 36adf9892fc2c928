#pragma once

// Reading ASN.1 BER encodings element by element, without decoding them: where each element's
// identifier, contents and end lie, read as OpenSSL's decoder reads their headers, so that code
// which must agree with it (the CMS certificate splitter) and code that only looks (the client's
// check of what a file holds) read the same: identifier octets with a tag number of several
// bytes, length octets in the long form with leading zero bytes, an indefinite length (only on a
// constructed element) whose end is found by counting the end-of-contents octets of the elements
// inside, and OpenSSL's bounds on each.
//
// Example:
//   std::optional<BerElement> outer = ReadBerElement(der, 0);
//   if (outer && outer->Identifier() == kBerSequence) {
//     std::optional<std::vector<BerElement>> fields = BerChildren(der, *outer);
//   }

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform {

// Identifier octets of the elements read most, as one byte: class, form and tag number.
inline constexpr uint8_t kBerInteger = 0x02;
inline constexpr uint8_t kBerBitString = 0x03;
inline constexpr uint8_t kBerOctetString = 0x04;
inline constexpr uint8_t kBerObjectId = 0x06;
inline constexpr uint8_t kBerUtcTime = 0x17;
inline constexpr uint8_t kBerGeneralizedTime = 0x18;
inline constexpr uint8_t kBerSequence = 0x30;
inline constexpr uint8_t kBerSet = 0x31;
inline constexpr uint8_t kBerContextZero = 0xA0;  // [0], constructed
inline constexpr uint8_t kBerContextOne = 0xA1;   // [1], constructed

// The classes of an identifier (its top two bits).
inline constexpr uint8_t kUniversal = 0x00;
inline constexpr uint8_t kContextSpecific = 0x80;

// BerHeader is an element's identifier and length octets; `length` is meaningless when
// indefinite.
struct BerHeader {
  uint8_t tagClass = 0;
  uint32_t tag = 0;
  bool constructed = false;
  bool indefinite = false;
  size_t contentStart = 0;
  uint64_t length = 0;
};

// BerElement is one element: its class, tag number and form, and where it starts, where its
// contents start and end (for an indefinite length, where its end-of-contents octets start), and
// where it ends.
struct BerElement {
  uint8_t tagClass = 0;
  uint32_t tag = 0;
  bool constructed = false;
  bool indefinite = false;
  size_t start = 0, contentStart = 0, contentEnd = 0, end = 0;

  bool Is(uint8_t expectedClass, uint32_t expectedTag) const {
    return tagClass == expectedClass && tag == expectedTag;
  }
  // Identifier is the one-byte identifier (compare with the kBer constants); 0xFF for a tag
  // number that takes more than one byte.
  uint8_t Identifier() const {
    return tag < 0x1F ? static_cast<uint8_t>(tagClass | (constructed ? 0x20 : 0) | tag) : 0xFF;
  }
  size_t ContentSize() const { return contentEnd - contentStart; }
};

// ReadBerHeader reads the header at `at` with `bound - at` bytes available (`bound` at most
// data.size()), refusing what OpenSSL's ASN1_get_object refuses. Nullopt for such a header.
std::optional<BerHeader> ReadBerHeader(std::span<const uint8_t> data, size_t at, size_t bound);

// BerEndOfContentsAt is true when end-of-contents octets (two zero bytes) start at `at`.
bool BerEndOfContentsAt(std::span<const uint8_t> data, size_t at, size_t bound);

// ReadBerElement reads the element at `at`, which with everything inside it must end by `bound`
// (data.size() when not given). Nullopt when OpenSSL would refuse its header or find it running
// past `bound` or an indefinite length without its end: faults a decoder reports as running out
// of data.
std::optional<BerElement> ReadBerElement(std::span<const uint8_t> data, size_t at, size_t bound);
std::optional<BerElement> ReadBerElement(std::span<const uint8_t> data, size_t at);

// BerChildren returns the elements inside `parent`, which was read within `bound` (data.size()
// when not given); nullopt when one of them cannot be read or they run past its contents.
std::optional<std::vector<BerElement>> BerChildren(std::span<const uint8_t> data,
                                                   const BerElement& parent, size_t bound);
std::optional<std::vector<BerElement>> BerChildren(std::span<const uint8_t> data,
                                                   const BerElement& parent);

}  // namespace platform
