#pragma once

// Reading the files a user gives, and the Base64 lines their bytes travel in.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace client {

// ReadInputFile returns the bytes of the file `path`, read to its end (a pipe too); nullopt with
// `error` set, naming the file and the reason, when it cannot be opened or read (a folder) or
// holds more than `maxBytes` bytes.
std::optional<std::string> ReadInputFile(const std::string& path, uint64_t maxBytes,
                                         std::string& error);

// Bytes per Base64 line: 57 bytes make 76 characters.
inline constexpr size_t kBase64LineBytes = 57;

// Base64Lines encodes `bytes` in lines of 76 characters, each ending in CR LF.
std::string Base64Lines(std::span<const uint8_t> bytes);

// Base64LinesSize is the length of what Base64Lines makes of `byteCount` bytes: four characters
// for every three bytes begun and CR LF for every line begun (a whole line's 57 bytes are a
// multiple of three, so only the last line may end in a partial group).
constexpr uint64_t Base64LinesSize(uint64_t byteCount) {
  return (byteCount + 2) / 3 * 4 + (byteCount + kBase64LineBytes - 1) / kBase64LineBytes * 2;
}

}  // namespace client
