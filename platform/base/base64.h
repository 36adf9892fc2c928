#pragma once

// The Base64 codec of the protocol: the standard alphabet with "=" padding.
//  - The encoder breaks its output with CR LF after every 76 characters ("=" counted), with no line
//    end after the last line; each encoding counts afresh.
//  - The decoder skips every byte outside the alphabet (CR, LF, blanks and "=" included), turns
//    each group of four alphabet characters into three bytes and a final group of two or three
//    into one or two bytes; a final lone character gives nothing.
//
// Example:
//   Base64Encode(bytes);              // "TWFu" for "Man"
//   Base64Decode("TW\r\nFu");         // the bytes of "Man"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Base64Encode returns the encoding of `bytes`, broken into lines of 76 characters.
std::string Base64Encode(std::span<const uint8_t> bytes);

// Base64DecodeBufferSize is the room the decoder needs for `inputLength` characters: the decoded
// bytes and the zero byte written after them.
constexpr size_t Base64DecodeBufferSize(size_t inputLength) {
  return (3 * inputLength + 3) / 4 + 2;
}

// Base64Decode decodes `text` into `out` (resized to Base64DecodeBufferSize first), writes a zero
// byte after the decoded bytes and returns their count.
size_t Base64Decode(std::string_view text, std::vector<uint8_t>& out);

// Base64Decode returns the decoded bytes of `text`.
std::vector<uint8_t> Base64Decode(std::string_view text);

}  // namespace platform
