#pragma once

// SHA-256 of bytes, for keys that stand for what they digest (a certificate, a chain question).

#include <array>
#include <cstdint>
#include <span>

namespace platform {

using Sha256Digest = std::array<uint8_t, 32>;

// Sha256 returns the SHA-256 digest of `bytes`.
Sha256Digest Sha256(std::span<const uint8_t> bytes);

}  // namespace platform
