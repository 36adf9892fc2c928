#pragma once

// Provider selection and GOST R 34.11-94 hashing for the engine and the hash server.
//  - GetProvByCert finds the first provider whose algorithms include the algorithm of the
//    certificate's public key (SubjectPublicKeyInfo), asking each through
//    IsProvContainsSignAlgorythm.
//  - HashBuffer and HashDocument digest with the GOST provider's CALG_GR3411.
// The digest text of HashDocument writes each byte low nibble first ("0x1F" -> "F1").

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto/cert_context.h"
#include "platform/crypto/crypt_providers.h"
#include "verify/engine_limits.h"

namespace verify {

// GetProvByCert returns the first provider of the machine that implements `cert`'s public-key
// algorithm, acquired for public operations; null when none does or a provider cannot be
// acquired (the search ends there). Failures are logged; `errorText` receives the texts of
// IsProvContainsSignAlgorythm's failures.
platform::CryptProviderPtr GetProvByCert(const platform::CertContext& cert, std::string& errorText);

// IsProvContainsSignAlgorythm is true when one of `provider`'s algorithms maps to `oid`.
bool IsProvContainsSignAlgorythm(platform::CryptProvider& provider, const std::string& oid,
                                 std::string& errorText);

// HashBuffer returns the GOST R 34.11-94 digest of `bytes` in CryptoAPI's order; false (digest
// untouched) when the GOST provider or its hash is missing.
bool HashBuffer(std::span<const uint8_t> bytes, std::vector<uint8_t>& digest);

// HashDocument returns the digest text of the document `reference`: a "file:" reference read
// from its local path (cut at a "#" or "?" after its first character), anything else downloaded
// as a URL through `engine.internet` within `engine.limits.hashedDocument` (agent "HashServer",
// never from a cache, an HTTP status of 400 or above a failure; stopped when
// `engine.clientGone` says so). Empty on failure. A document larger than
// `engine.limits.maxDocumentBytes` fails with ERROR_FILE_TOO_LARGE, a file at once. Leaves the
// last error at the failing step's code, 0 on success. Streams the document; never holds it whole.
std::string HashDocument(std::string_view reference, const EngineContext& engine);

// HashLocalFile returns the digest text of the regular file at `path`, as HashDocument does for a
// "file:" reference with the size limit `maxBytes`, without reading the path as a reference.
// Empty with the last error set on failure.
std::string HashLocalFile(const std::string& path, uint64_t maxBytes);

// DigestText writes `digest` as hexadecimal, each byte low nibble first.
std::string DigestText(std::span<const uint8_t> digest);

}  // namespace verify
