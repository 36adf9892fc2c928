#pragma once

// Reading ASN.1 BER encodings element by element, without decoding them: where each element's
// identifier, contents and end lie. Definite and indefinite lengths are read (signing tools write
// both); tags of more than one byte are not, as no structure the program reads uses them.
//
// Example:
//   std::optional<BerElement> outer = ReadBerElement(der, 0);
//   if (outer && outer->tag == kBerSequence) {
//     std::optional<std::vector<BerElement>> fields = BerChildren(der, *outer);
//   }

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform {

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

// BerElement is one element of an encoding: where it starts, where its contents start and end,
// and where it ends (an indefinite length's end includes its end-of-contents octets).
struct BerElement {
  uint8_t tag = 0;
  bool indefinite = false;
  size_t start = 0, contentStart = 0, contentEnd = 0, end = 0;

  size_t ContentSize() const { return contentEnd - contentStart; }
};

// ReadBerElement reads the element that starts at `at` of `data`; nullopt when it does not fit in
// `data`, its tag takes more than one byte, its length is malformed, or indefinite lengths nest
// deeper than a signer writes them.
std::optional<BerElement> ReadBerElement(std::span<const uint8_t> data, size_t at);

// BerChildren returns the elements of `parent`'s contents, in order; nullopt when they do not fill
// the contents exactly.
std::optional<std::vector<BerElement>> BerChildren(std::span<const uint8_t> data,
                                                   const BerElement& parent);

}  // namespace platform
