#include "verify/crypto.h"

#include <algorithm>

#include "platform/base/base64.h"
#include "platform/base/hex.h"
#include "platform/base/last_error.h"
#include "platform/base/log.h"
#include "platform/base/thread_id.h"
#include "platform/base/win_status.h"
#include "platform/base/win_time.h"
#include "platform/crypto/cert_cache.h"
#include "platform/crypto/cert_extensions.h"
#include "platform/crypto/cert_name.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/chain.h"
#include "platform/crypto/crypt_msg.h"
#include "platform/os/file_io.h"
#include "verify/libxml_binding.h"
#include "verify/providers.h"
#include "verify/tmp_cert_arhive.h"
#include "verify/verify_texts.h"

namespace verify {
namespace {

using platform::ThreadId;

}  // namespace

CCrypto::CCrypto(CheckRequest checkRequest, TmpCertArhive& certArchive,
                 const EngineContext& engineContext)
    : request(std::move(checkRequest)), archive(certArchive), engine(engineContext) {}

CCrypto::~CCrypto() = default;

VerifyResult CCrypto::Verify() {
  VerifyResult result;
  platform::Log(texts::kLogVerifySignatureStart, ThreadId());
  Verdict signature;
  if (!request.certificate.empty()) {
    // Canonicalization and the digest search take the signed text in memory; a bare signature
    // value over any other document is checked over its file in pieces.
    if (request.documentFile && (request.xmlMode || request.hashedXml)) {
      std::optional<std::vector<uint8_t>> bytes = platform::ReadWhole(request.documentFile.get());
      request.document = bytes ? std::move(*bytes) : std::vector<uint8_t>();
      request.documentFile.reset();
    }
    signature = VerifySignature();
    result.signatureDetail = errorText;
  } else {
    signature = VerifyDetached();
  }
  platform::Log(texts::kLogVerifySignatureEnd, ThreadId());

  platform::Log(texts::kLogVerifyCertificateStart, ThreadId());
  const Verdict certificate = VerifyCertificate();
  platform::Log(texts::kLogVerifyCertificateEnd, ThreadId());

  platform::Log(texts::kLogVerifyChainStart, ThreadId());
  const Verdict chain = VerifyChain();
  platform::Log(texts::kLogVerifyChainEnd, ThreadId());

  platform::Log(texts::kLogVerifyCadesStart, ThreadId());
  (void)VerifyCades();  // it always passes, and nothing reads its verdict
  platform::Log(texts::kLogVerifyCadesEnd, ThreadId());

  result.signatureOk = signature.ok;
  result.signatureStatus = signature.status;
  result.certificateFound = certificate.ok;
  result.certificateStatus = certificate.status;
  result.chainOk = chain.ok;
  result.chainStatus = chain.status;
  if (signerCert) {
    result.names = signerCert->Texts();
    result.signer = std::move(signerCert);
  }
  return result;
}

Verdict CCrypto::VerifySignature() {
  signerCert = platform::CertCache::Process().Get(request.certificate, request.allowance);
  if (!signerCert) {
    const uint32_t status = platform::GetLastError();
    platform::Log(texts::kLogImportCertFailed, status);
    errorText = texts::kErrorImportCert;
    return Verdict::Failed(status);
  }
  if (request.hashedXml) {
    const Verdict fragment = CompareHash();
    if (!fragment.ok) return fragment;
  }
  return VerifyRawSignature();
}

std::string CCrypto::CanonicalizeXml(std::span<const uint8_t> bytes) {
  // A failure here is reported by its text alone: the status that follows it is 0.
  platform::SetLastError(0);
  if (!xml) {
    const std::string missing = FindDll();
    if (!missing.empty()) {
      errorText = missing;
      platform::SetLastError(0);  // a text failure; the loader's code is not the status
      return {};
    }
    xml = std::make_unique<LibXmlF>();
  }
  if (!xml->Usable()) {
    errorText = texts::kErrorNoLibXml;
    return {};
  }
  xml->SetUpOnce();
  xml->QuietThread();
  // Per-thread parser defaults: ID attributes recognised, DTD default attributes added, entities
  // replaced by their text.
  *xml->__xmlLoadExtDtdDefaultValue() = XML_DETECT_IDS | XML_COMPLETE_ATTRS;
  xml->xmlSubstituteEntitiesDefault(1);
  // Read as UTF-8 whatever the document declares; the parser's messages are not printed either.
  constexpr int kOptions =
      XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  const xmlDocPtr document =
      xml->xmlReadMemory(reinterpret_cast<const char*>(bytes.data()),
                         static_cast<int>(bytes.size()), nullptr, "UTF-8", kOptions);
  if (document == nullptr) {
    errorText = texts::kErrorBadXml;
    return {};
  }
  std::unique_ptr<xmlDoc, decltype(xml->xmlFreeDoc)> owner(document, xml->xmlFreeDoc);
  if (xml->xmlDocGetRootElement(document) == nullptr) {
    errorText = texts::kErrorNoRootElement;
    return {};
  }
  xmlChar* canonical = nullptr;
  const int length =
      xml->xmlC14NDocDumpMemory(document, nullptr, XML_C14N_EXCLUSIVE_1_0, nullptr, 0, &canonical);
  if (length < 0) {
    if (canonical != nullptr) (*xml->xmlFree)(canonical);
    errorText = texts::kErrorC14nFailed;
    return {};
  }
  std::string text = canonical != nullptr ? reinterpret_cast<const char*>(canonical) : "";
  if (canonical != nullptr) (*xml->xmlFree)(canonical);
  return text;
}

Verdict CCrypto::CompareHash() {
  std::vector<uint8_t> fragment = *request.hashedXml;
  if (request.xmlMode) {
    const std::string canonical = CanonicalizeXml(fragment);
    fragment.assign(canonical.begin(), canonical.end());
  }
  if (fragment.empty()) return Verdict::Failed(platform::GetLastError());
  std::vector<uint8_t> digest;
  // A failed digest or a digest missing from the signed text is told by the error text alone.
  if (!HashBuffer(fragment, digest)) {
    errorText = texts::kErrorHashFailed;
    return Verdict::Failed(0);
  }
  const std::string encoded = platform::Base64Encode(digest);
  const std::string_view signedText(reinterpret_cast<const char*>(request.document.data()),
                                    request.document.size());
  if (signedText.find(encoded) == std::string_view::npos) {
    errorText = texts::kErrorHashMismatch;
    return Verdict::Failed(0);
  }
  return Verdict::Passed();
}

Verdict CCrypto::VerifyRawSignature() {
  std::string canonical;
  std::span<const uint8_t> signedText = request.document;
  if (request.xmlMode) {
    canonical = CanonicalizeXml(signedText);
    signedText = std::span(reinterpret_cast<const uint8_t*>(canonical.data()), canonical.size());
  }
  const bool fromFile = static_cast<bool>(request.documentFile);
  if (fromFile ? request.documentFileSize == 0 : signedText.empty()) {
    return Verdict::Failed(platform::GetLastError());
  }
  platform::CryptProviderPtr provider = GetProvByCert(*signerCert, errorText);
  if (!provider) {
    errorText = texts::kErrorNoProvider;
    return Verdict::Failed(platform::GetLastError());
  }
  platform::CryptKeyPtr key =
      provider->ImportPublicKeyInfo(signerCert->Info().subjectPublicKeyInfo.encoded);
  if (!key) return Verdict::Failed(platform::GetLastError());
  platform::CryptHashPtr hash = provider->CreateHash(platform::CALG_GR3411);
  const auto hashPiece = [&hash](std::span<const uint8_t> piece) { return hash->HashData(piece); };
  if (!hash || !(fromFile ? platform::ReadPieces(request.documentFile.get(), hashPiece)
                          : hashPiece(signedText))) {
    return Verdict::Failed(platform::GetLastError());
  }
  // The value arrives in the big-endian order of an XML signature; CryptVerifySignatureA takes
  // CryptoAPI's little-endian order.
  const std::vector<uint8_t> littleEndian(request.signature.rbegin(), request.signature.rend());
  if (!platform::CryptVerifySignatureA(*hash, littleEndian, *key)) {
    return Verdict::Failed(platform::GetLastError());
  }
  return Verdict::Passed();
}

Verdict CCrypto::VerifyDetached() {
  const std::vector<uint8_t>& signature = request.signature;
  const bool fromFile = static_cast<bool>(request.documentFile);
  platform::Log(texts::kLogSizes, ThreadId(),
                static_cast<int>(fromFile ? request.documentFileSize : request.document.size()),
                static_cast<int>(signature.size()));
  platform::MemoryAllowance* allowance = request.allowance;
  const bool verified = fromFile
                            ? platform::CryptVerifyDetachedMessageSignatureFile(
                                  signature, request.documentFile.get(), 0, &signerCert, allowance)
                            : platform::CryptVerifyDetachedMessageSignature(
                                  signature, request.document, 0, &signerCert, allowance);
  if (verified) return Verdict::Passed();
  const uint32_t status = platform::GetLastError();
  // Keep a certificate for the report and the later steps when the message has exactly one
  // signer: the certificate it names, else the message's first one.
  if (platform::CryptGetMessageSignerCount(signature, allowance) == 1) {
    signerCert = platform::FindMessageSignerCertificate(signature, 0, allowance);
    if (!signerCert) signerCert = platform::FirstMessageCertificate(signature, allowance);
  }
  return Verdict::Failed(status);
}

Verdict CCrypto::VerifyCertificate() {
  if (!signerCert) return Verdict::Failed(platform::NO_SIGNER_CERTIFICATE);
  if (!request.findCertificate) return Verdict::Passed();
  using platform::StoreLocation;
  const std::pair<StoreLocation, const char*> kStores[] = {
      {StoreLocation::kCurrentUser, "AddressBook"},
      {StoreLocation::kCurrentUser, "MY"},
      {StoreLocation::kLocalMachine, "AddressBook"},
  };
  for (const auto& [location, name] : kStores) {
    // Only the signer's own certificate counts: another one with its issuer and serial number
    // (and another key) is not it.
    if (platform::CertStore::Open(location, name)->FindExisting(*signerCert)) {
      return Verdict::Passed();
    }
  }
  return Verdict::Failed(platform::GetLastError());
}

Verdict CCrypto::VerifyChain() {
  if (!signerCert) return Verdict::Failed(platform::NO_SIGNER_CERTIFICATE);
  const ArchiveKey key = ChainQuestion{*signerCert, request.verifyTime, request.checkRevocation,
                                       request.keyLifetimeDays, request.oidList}
                             .Key();
  if (const std::optional<Verdict> known = archive.CheckItem(key)) return *known;
  const Verdict chain = EvaluateChain();
  (void)archive.StoreItem(key, chain);
  platform::Log(texts::kLogChainStored, ThreadId(), chain.status);
  return chain;
}

Verdict CCrypto::EvaluateChain() {
  platform::Log(texts::kLogChainEngineStart, ThreadId());
  platform::ChainParameters parameters;
  parameters.checkRevocation = request.checkRevocation;
  if (request.verifyTime != 0) parameters.time = request.verifyTime;
  parameters.urlRetrievalTimeoutMs = static_cast<int>(engine.limits.chainFetch.count());
  parameters.clock = engine.clock;
  parameters.internet = engine.internet;
  platform::Log(texts::kLogChainEngineEnd, ThreadId());

  platform::Log(texts::kLogGetChainStart, ThreadId());
  const std::optional<uint32_t> trustStatus =
      platform::CertGetCertificateChain(*signerCert, parameters);
  if (!trustStatus) return Verdict::Failed(platform::GetLastError());
  platform::Log(texts::kLogGetChainEnd, ThreadId());

  if (request.keyLifetimeDays >= 0 && KeyLifetimeExceeded()) {
    return Verdict::Failed(platform::SEC_E_CONTEXT_EXPIRED);
  }
  platform::Log(texts::kLogOidStart, ThreadId());
  if (!request.oidList.empty()) {
    if (const uint32_t usageStatus = KeyUsageStatus(); usageStatus != 0) {
      return Verdict::Failed(usageStatus);
    }
  }
  platform::Log(texts::kLogOidEnd, ThreadId());
  // A chain that was built and passed the filters: the trust bits are its status, set or not.
  return Verdict::Passed(*trustStatus);
}

bool CCrypto::KeyLifetimeExceeded() const {
  // Whole seconds since 1970, computed in 64 bits: validity dates before 1970 or after 3000 are
  // compared exactly rather than failing a conversion.
  const platform::CertInfo& info = signerCert->Info();
  const int64_t notBefore = platform::FileTimeToUnixSeconds(info.notBefore);
  const int64_t notAfter = platform::FileTimeToUnixSeconds(info.notAfter);
  const int64_t limit = std::min(notAfter, notBefore + int64_t{request.keyLifetimeDays} * 86400);
  // Always the clock's now, never the requested evaluation time.
  const int64_t now = engine.clock->Now();
  return now > limit || now < notBefore;
}

uint32_t CCrypto::KeyUsageStatus() const {
  const std::string list =
      request.oidList + ",";  // every entry, the last included, ends with a comma
  const platform::CertExtension* usageExtension = nullptr;
  for (const platform::CertExtension& extension : signerCert->Info().extensions) {
    if (extension.oid == platform::kOidEnhancedKeyUsage) {
      usageExtension = &extension;
      break;
    }
  }
  if (usageExtension == nullptr) return platform::KEY_USAGE_NOT_ALLOWED;
  const std::optional<std::vector<std::string>> usages =
      platform::DecodeEnhancedKeyUsage(usageExtension->value);
  if (!usages) return platform::GetLastError();
  for (const std::string& usage : *usages) {
    // Entries are compared byte for byte, blanks included.
    for (size_t start = 0; start < list.size();) {
      const size_t comma = list.find(',', start);
      if (std::string_view(list).substr(start, comma - start) == usage) return 0;
      start = comma + 1;
    }
  }
  return platform::KEY_USAGE_NOT_ALLOWED;
}

Verdict CCrypto::VerifyCades() { return Verdict::Passed(); }

std::string AddTimestampAnswer() { return texts::kCadesNotSupported; }

}  // namespace verify
