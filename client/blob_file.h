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

// ReadBlobFile reads `path` and decodes it as DecodeBlob does; nullopt with `error` set when the
// file cannot be read, is empty or does not decode.
std::optional<std::vector<uint8_t>> ReadBlobFile(const std::string& path, std::string& error);

// Bytes per Base64 line: 57 bytes make 76 characters.
inline constexpr size_t kBase64LineBytes = 57;

// Base64Lines encodes `bytes` in lines of 76 characters, each ending in CR LF.
std::string Base64Lines(std::span<const uint8_t> bytes);

}  // namespace client
