#pragma once

// Text conversions of certificate fields for the answer and the HTML report.

#include <cstdint>
#include <span>
#include <string>

namespace report {

// HexText writes each byte as two upper-case hexadecimal digits, high nibble first; with
// `reverse` the bytes are taken last to first; with `spaced` one blank stands between pairs.
std::string HexText(std::span<const uint8_t> bytes, bool reverse, bool spaced);

// SerialNumberText writes a serial number stored least significant byte first in its usual
// big-endian form, every stored byte included.
std::string SerialNumberText(std::span<const uint8_t> serialNumber);

}  // namespace report
