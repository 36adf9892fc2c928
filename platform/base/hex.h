#pragma once

// Hexadecimal texts of bytes, as the answers, the report, the store's file names and the log
// write them.
//
// Example:
//   HexText(serial, HexCase::kUpper, true)  // a serial kept least significant byte first

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {

enum class HexCase { kUpper, kLower };

// AppendHex appends `byte` as two hexadecimal digits, high nibble first.
void AppendHex(std::string& out, uint8_t byte, HexCase hexCase = HexCase::kUpper);

// HexText writes each byte as two hexadecimal digits, high nibble first; with `reverse` the bytes
// are taken last to first; with `spaced` one blank stands between pairs.
std::string HexText(std::span<const uint8_t> bytes, HexCase hexCase = HexCase::kUpper,
                    bool reverse = false, bool spaced = false);
// HexText writes the bytes of `bytes` (text in any encoding) as the one above does.
std::string HexText(std::string_view bytes, HexCase hexCase = HexCase::kUpper, bool reverse = false,
                    bool spaced = false);

// SerialNumberText writes a serial number kept least significant byte first (as CryptoAPI keeps
// it) in its usual form: upper case, most significant byte first, every stored byte included.
std::string SerialNumberText(std::span<const uint8_t> serialNumber);

}  // namespace platform
