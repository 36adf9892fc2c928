#pragma once

// Reading the signature, signature value and certificate files a user gives: DER or raw bytes,
// PEM, or Base64 text are all accepted and turned into the bytes they hold.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace client {

// DecodeBlob returns the bytes `content` holds: the Base64 body of its first PEM block when it
// has a "-----BEGIN " line, the decoded text when it is nothing but Base64 and white space, else
// the bytes themselves. Nullopt when a PEM body or a Base64 text does not decode.
std::optional<std::vector<uint8_t>> DecodeBlob(std::string_view content);

// ReadInputFile returns the bytes of the file `path`, read to its end (a pipe too); nullopt with
// `error` set, naming the file and the reason, when it cannot be opened or read (a folder) or
// holds more than `maxBytes` bytes.
std::optional<std::string> ReadInputFile(const std::string& path, uint64_t maxBytes,
                                         std::string& error);

// ReadBlobFile reads `path` as ReadInputFile does and decodes it as DecodeBlob does; nullopt with
// `error` set when the file cannot be read, is larger than `maxBytes`, is empty or does not
// decode.
std::optional<std::vector<uint8_t>> ReadBlobFile(const std::string& path, uint64_t maxBytes,
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
