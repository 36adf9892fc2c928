#include "verify/providers.h"

#include <functional>
#include <memory>

#include "platform/base/file_reference.h"
#include "platform/base/last_error.h"
#include "platform/base/log.h"
#include "platform/base/thread_id.h"
#include "platform/base/win_status.h"
#include "platform/os/file_io.h"
#include "platform/os/inet.h"
#include "verify/verify_texts.h"

namespace verify {
namespace {

using platform::ThreadId;

// Documents are read and hashed in pieces of this size; the digest does not depend on it.
constexpr size_t kHashPiece = 64 * 1024;

platform::CryptProviderPtr AcquireGostProvider() {
  return platform::CryptAcquireContextA(platform::kGostProviderName, platform::PROV_GOST_2001_DH,
                                        platform::CRYPT_VERIFYCONTEXT);
}

// TooLarge fails with ERROR_FILE_TOO_LARGE.
bool TooLarge() {
  platform::SetLastError(platform::ERROR_FILE_TOO_LARGE);
  return false;
}

// HashFile feeds the file at `path` to `hash`; false with the last error set. Only a regular file
// is hashed: a device or a FIFO would never end, or never begin. A file larger than `maxBytes`,
// by its size or by what it yields (it may grow while it is read), is refused, a large one before
// a byte is read.
bool HashFile(const std::string& path, uint64_t maxBytes, platform::CryptHash& hash) {
  const platform::UniqueFd fd = platform::OpenForReading(path);
  if (!fd) return false;
  const std::optional<uint64_t> size = platform::FileSize(fd.get());
  if (!size) return false;
  if (*size > maxBytes) return TooLarge();
  std::vector<uint8_t> piece(kHashPiece);
  for (uint64_t hashed = 0;;) {
    const std::optional<size_t> read = platform::ReadSome(fd.get(), piece);
    if (!read) return false;
    if (*read == 0) return true;
    hashed += *read;
    if (hashed > maxBytes) return TooLarge();
    if (!hash.HashData(std::span<const uint8_t>(piece.data(), *read))) return false;
  }
}

// HashUrl feeds the document at `url` to `hash`, within the download limits and the document size
// limit; a download that passes the latter stops there with ERROR_FILE_TOO_LARGE.
bool HashUrl(const std::string& url, const EngineContext& engine, platform::CryptHash& hash) {
  platform::InternetRequest request;
  request.url = url;
  request.agent = "HashServer";
  engine.limits.hashedDocument.ApplyTo(request);
  request.abandoned = engine.clientGone;
  const uint64_t maxBytes = engine.limits.maxDocumentBytes;
  uint64_t received = 0;
  const bool done = engine.internet->Stream(
      request, [&hash, &received, maxBytes](std::span<const uint8_t> piece) {
        received += piece.size();
        return received <= maxBytes && hash.HashData(piece);
      });
  return received > maxBytes ? TooLarge() : done;
}

}  // namespace

std::string DigestText(std::span<const uint8_t> digest) {
  // Low nibble first, unlike platform::HexText: the hash server's own format, kept on purpose.
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(digest.size() * 2);
  for (const uint8_t byte : digest) {
    text += kDigits[byte & 15];
    text += kDigits[byte >> 4];
  }
  return text;
}

bool IsProvContainsSignAlgorythm(platform::CryptProvider& provider, const std::string& oid,
                                 std::string& errorText) {
  for (uint32_t flags = platform::CRYPT_FIRST;; flags = platform::CRYPT_NEXT) {
    const std::optional<platform::ProvEnumAlgs> algorithm = provider.EnumAlgorithms(flags);
    if (!algorithm) {
      const uint32_t code = platform::GetLastError();
      if (code == platform::ERROR_NO_MORE_ITEMS) return false;
      const bool first = flags == platform::CRYPT_FIRST;
      platform::Log(first ? texts::kLogEnumAlgsFirstFailed : texts::kLogEnumAlgsNextFailed,
                    ThreadId(), code);
      errorText = platform::FormatText(
          first ? texts::kErrorEnumAlgsFirstFailed : texts::kErrorEnumAlgsNextFailed, code);
      return false;
    }
    const std::optional<platform::OidInfo> info = platform::CryptFindOIDInfo(algorithm->aiAlgid);
    if (info && info->oid == oid) return true;
  }
}

platform::CryptProviderPtr GetProvByCert(const platform::CertContext& cert,
                                         std::string& errorText) {
  const std::string& oid = cert.Info().subjectPublicKeyInfo.algorithmOid;
  for (uint32_t index = 0;; ++index) {
    const std::optional<platform::ProviderEntry> entry = platform::CryptEnumProvidersA(index);
    if (!entry) return nullptr;
    platform::CryptProviderPtr provider =
        platform::CryptAcquireContextA(entry->name, entry->type, platform::CRYPT_VERIFYCONTEXT);
    if (!provider) {
      platform::Log(texts::kLogGetProvByCertFailed, ThreadId(), platform::GetLastError());
      return nullptr;
    }
    if (IsProvContainsSignAlgorythm(*provider, oid, errorText)) return provider;
  }
}

bool HashBuffer(std::span<const uint8_t> bytes, std::vector<uint8_t>& digest) {
  platform::CryptProviderPtr provider = AcquireGostProvider();
  if (!provider) return false;
  platform::CryptHashPtr hash = provider->CreateHash(platform::CALG_GR3411);
  if (!hash || !hash->HashData(bytes)) return false;
  const std::optional<std::vector<uint8_t>> value = hash->HashValue();
  if (!value) return false;
  digest = *value;
  return true;
}

namespace {

// DigestTextOf hashes what `feed` reads into a GOST R 34.11-94 hash and returns the digest text;
// empty with the last error set when the hash cannot be made or `feed` fails.
std::string DigestTextOf(const std::function<bool(platform::CryptHash&)>& feed) {
  uint32_t error = 0;
  std::string digestText;
  platform::CryptProviderPtr provider = AcquireGostProvider();
  platform::CryptHashPtr hash = provider ? provider->CreateHash(platform::CALG_GR3411) : nullptr;
  std::optional<std::vector<uint8_t>> digest;
  if (hash && feed(*hash)) digest = hash->HashValue();
  if (digest) {
    digestText = DigestText(*digest);
  } else {
    error = platform::GetLastError();
  }
  platform::SetLastError(error);
  return digestText;
}

}  // namespace

std::string HashDocument(std::string_view reference, const EngineContext& engine) {
  std::string text(reference);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  if (!platform::IsFileReference(text)) {
    return DigestTextOf(
        [&text, &engine](platform::CryptHash& hash) { return HashUrl(text, engine, hash); });
  }
  std::string path = platform::ToLinuxPath(text, platform::UncRoot());
  const size_t cut = path.find_first_of("#?", 1);
  if (cut != std::string::npos) path.resize(cut);
  return HashLocalFile(path, engine.limits.maxDocumentBytes);
}

std::string HashLocalFile(const std::string& path, uint64_t maxBytes) {
  return DigestTextOf(
      [&path, maxBytes](platform::CryptHash& hash) { return HashFile(path, maxBytes, hash); });
}

}  // namespace verify
