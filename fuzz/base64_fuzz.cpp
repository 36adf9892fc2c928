// Drives the Base64 codec with arbitrary bytes and checks what its callers rely on:
//  - decoding any text stays inside Base64DecodeBufferSize, with the zero byte after the output,
//    and gives 3 bytes per 4 alphabet characters (1 or 2 for a final group of 2 or 3);
//  - bytes outside the alphabet change nothing: the text with them removed decodes the same;
//  - the encoding of any bytes uses only the alphabet, "=" and CR LF breaks after every 76
//    characters, and decodes back to the same bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/require.h"
#include "platform/base/base64.h"

namespace fuzz {
namespace {

bool InAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

void CheckDecode(std::string_view text) {
  std::vector<uint8_t> out;
  const size_t length = platform::Base64Decode(text, out);
  Require(out.size() == platform::Base64DecodeBufferSize(text.size()),
          "the decoder sizes its buffer by Base64DecodeBufferSize");
  Require(length <= platform::Base64DecodeBufferSize(text.size()) - 1,
          "decoded bytes and their zero byte fit the buffer");
  Require(out[length] == 0, "a zero byte follows the decoded bytes");

  std::string alphabetOnly;
  for (const char c : text) {
    if (InAlphabet(c)) alphabetOnly += c;
  }
  const size_t groups = alphabetOnly.size() / 4;
  const size_t tail = alphabetOnly.size() % 4;
  Require(length == groups * 3 + (tail >= 2 ? tail - 1 : 0),
          "3 bytes per 4 characters, 1 or 2 for a final group of 2 or 3");
  const std::vector<uint8_t> decoded = platform::Base64Decode(text);
  Require(decoded.size() == length && std::equal(decoded.begin(), decoded.end(), out.begin()),
          "both decoders give the same bytes");
  Require(platform::Base64Decode(alphabetOnly) == decoded,
          "bytes outside the alphabet are skipped");
}

void CheckRoundTrip(std::span<const uint8_t> bytes) {
  const std::string encoded = platform::Base64Encode(bytes);
  size_t characters = 0;
  size_t column = 0;
  for (size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    if (c == '\r') {
      Require(column == 76 && i + 2 < encoded.size() && encoded[i + 1] == '\n',
              "a CR LF break follows exactly 76 characters and never ends the text");
      column = 0;
      ++i;
      continue;
    }
    Require(InAlphabet(c) || c == '=', "the encoding holds only alphabet characters and '='");
    Require(c != '=' || characters + 2 >= (bytes.size() + 2) / 3 * 4,
            "'=' appears only in the last two places");
    Require(column < 76, "no line is longer than 76 characters");
    ++column;
    ++characters;
  }
  Require(characters == (bytes.size() + 2) / 3 * 4, "4 characters per started group of 3 bytes");
  const std::vector<uint8_t> decoded = platform::Base64Decode(encoded);
  Require(
      decoded.size() == bytes.size() && std::equal(decoded.begin(), decoded.end(), bytes.begin()),
      "decoding the encoding gives the bytes back");
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  fuzz::CheckDecode(std::string_view(reinterpret_cast<const char*>(bytes), size));
  fuzz::CheckRoundTrip(std::span<const uint8_t>(bytes, size));
  return 0;
}
