#include "verify/crypto.h"

#include <algorithm>

#include "platform/cert_extensions.h"
#include "platform/cert_name.h"
#include "platform/cert_store.h"
#include "platform/chain.h"
#include "platform/crypt_msg.h"
#include "platform/file_io.h"
#include "platform/last_error.h"
#include "platform/log.h"
#include "platform/thread_id.h"
#include "platform/win_status.h"
#include "report/detail_blocks.h"
#include "report/html_report.h"
#include "report/tmp_cert_arhive.h"
#include "verify/base64.h"
#include "verify/libxml_binding.h"
#include "verify/providers.h"
#include "verify/texts.h"

namespace verify {
namespace {

constexpr char kOidSurname[] = "2.5.4.4";
constexpr char kOidGivenName[] = "2.5.4.42";
// Name buffers of the Windows calls, terminating NUL included.
constexpr size_t kNameStrBuffer = 16384;
constexpr size_t kNameStringBuffer = 2048;

int ThreadId() { return static_cast<int>(platform::GetCurrentThreadId()); }

std::vector<uint8_t> Bytes(std::string_view text, bool decode) {
  if (decode) return Base64Decode(text);
  return std::vector<uint8_t>(text.begin(), text.end());
}

// Truncated: what a fixed buffer of `size` characters holds of `text`.
std::string Truncated(std::string text, size_t size) {
  if (text.size() >= size) text.resize(size - 1);
  return text;
}

}  // namespace

CCrypto::CCrypto(report::TmpCertArhive& archive) : archive(archive) {}

CCrypto::~CCrypto() = default;

void CCrypto::SetText(std::string_view value, bool decode) { text = Bytes(value, decode); }

void CCrypto::SetTextBytes(std::vector<uint8_t> bytes) { text = std::move(bytes); }

void CCrypto::SetTextFile(platform::UniqueFd file, uint64_t size) {
  text.clear();
  textFile = std::move(file);
  textFileSize = size;
}

void CCrypto::SetSignature(std::string_view value, bool decode) {
  signature = Bytes(value, decode);
}

void CCrypto::SetHashedXml(std::string_view value, bool decode) {
  hashedXml = Bytes(value, decode);
}

void CCrypto::SetCertificate(std::string_view value, bool decode) {
  certificate = value.empty() ? std::vector<uint8_t>() : Bytes(value, decode);
}

void CCrypto::SetVerifyTime(const platform::SystemTime& time) {
  if (time.year == 0) return;
  if (const std::optional<uint64_t> fileTime = platform::SystemTimeToFileTime(time)) {
    verifyTime = *fileTime;
  }
}

void CCrypto::Verify(VerifyResult& result) {
  signerCert.reset();
  uint32_t signatureStatus = 0, certificateStatus = 0, chainStatus = 0, cadesStatus = 0;

  platform::Log(texts::kLogVerifySignatureStart, ThreadId());
  if (!certificate.empty()) {
    // The signature value and the fragment are checked over the bytes in memory.
    if (textFile) {
      std::optional<std::vector<uint8_t>> bytes = platform::ReadWhole(textFile.get());
      text = bytes ? std::move(*bytes) : std::vector<uint8_t>();
      textFile.reset();
    }
    result.signatureOk = VerifySignature(signatureStatus);
    result.signatureDetail = &errorText;
  } else {
    result.signatureOk = VerifyDetached(signatureStatus);
  }
  platform::Log(texts::kLogVerifySignatureEnd, ThreadId());

  platform::Log(texts::kLogVerifyCertificateStart, ThreadId());
  result.certificateFound = VerifyCertificate(certificateStatus);
  platform::Log(texts::kLogVerifyCertificateEnd, ThreadId());

  platform::Log(texts::kLogVerifyChainStart, ThreadId());
  result.chainOk = VerifyChain(chainStatus);
  platform::Log(texts::kLogVerifyChainEnd, ThreadId());

  platform::Log(texts::kLogVerifyCadesStart, ThreadId());
  result.cadesOk = VerifyCades(cadesStatus);
  platform::Log(texts::kLogVerifyCadesEnd, ThreadId());

  result.signatureStatus = signatureStatus;
  result.certificateStatus = certificateStatus;
  result.chainStatus = chainStatus;
  result.cadesStatus = cadesStatus;

  if (htmlReport) report += report::BuildReport(signerCert.get());
}

bool CCrypto::VerifySignature(uint32_t& status) {
  signerCert = platform::CertContext::Create(certificate);
  if (!signerCert) {
    status = platform::GetLastError();
    platform::Log(texts::kLogImportCertFailed, status);
    errorText = texts::kErrorImportCert;
    return false;
  }
  bool verdict = true;
  if (hashedXml) verdict = CompareHash(status);
  if (verdict) verdict = VerifyRawSignature(status);
  return verdict;
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

bool CCrypto::CompareHash(uint32_t& status) {
  std::vector<uint8_t> fragment = *hashedXml;
  if (xmlMode) {
    const std::string canonical = CanonicalizeXml(fragment);
    fragment.assign(canonical.begin(), canonical.end());
  }
  if (fragment.empty()) {
    status = platform::GetLastError();
    return false;
  }
  std::vector<uint8_t> digest;
  if (!HashBuffer(fragment, digest)) {
    errorText = texts::kErrorHashFailed;
    return false;
  }
  const std::string encoded = Base64Encode(digest);
  const std::string_view signedText(reinterpret_cast<const char*>(text.data()), text.size());
  if (signedText.find(encoded) == std::string_view::npos) {
    errorText = texts::kErrorHashMismatch;
    return false;
  }
  return true;
}

bool CCrypto::VerifyRawSignature(uint32_t& status) {
  std::vector<uint8_t> signedText = text;
  if (xmlMode) {
    const std::string canonical = CanonicalizeXml(signedText);
    signedText.assign(canonical.begin(), canonical.end());
  }
  if (signedText.empty()) {
    status = platform::GetLastError();
    return false;
  }
  platform::CryptProviderPtr provider = GetProvByCert(*signerCert, errorText);
  if (!provider) {
    errorText = texts::kErrorNoProvider;
    status = platform::GetLastError();
    return false;
  }
  platform::CryptKeyPtr key =
      provider->ImportPublicKeyInfo(signerCert->Info().subjectPublicKeyInfo.encoded);
  if (!key) {
    status = platform::GetLastError();
    return false;
  }
  platform::CryptHashPtr hash = provider->CreateHash(platform::CALG_GR3411);
  if (!hash || !hash->HashData(signedText)) {
    status = platform::GetLastError();
    return false;
  }
  // The value arrives in the big-endian order of an XML signature; CryptVerifySignatureA takes
  // CryptoAPI's little-endian order. A reversed copy leaves the engine's value as it was set, so
  // a second Verify sees the same bytes.
  const std::vector<uint8_t> littleEndian(signature.rbegin(), signature.rend());
  if (!platform::CryptVerifySignatureA(*hash, littleEndian, *key)) {
    status = platform::GetLastError();
    return false;
  }
  status = 0;
  return true;
}

bool CCrypto::VerifyDetached(uint32_t& status) {
  platform::Log(texts::kLogSizes, ThreadId(),
                static_cast<int>(textFile ? textFileSize : text.size()),
                static_cast<int>(signature.size()));
  const bool verified =
      textFile ? platform::CryptVerifyDetachedMessageSignatureFile(signature, textFile.get(), 0,
                                                                   &signerCert)
               : platform::CryptVerifyDetachedMessageSignature(signature, text, 0, &signerCert);
  if (verified) {
    status = 0;
    return true;
  }
  status = platform::GetLastError();
  // Keep a certificate for the report and the later steps when the message has exactly one
  // signer: the certificate it names, else the message's first one.
  if (platform::CryptGetMessageSignerCount(signature) == 1) {
    signerCert = platform::FindMessageSignerCertificate(signature, 0);
    if (!signerCert) {
      std::optional<platform::CertCollection> certs =
          platform::CryptGetMessageCertificates(signature);
      if (certs && !certs->empty()) signerCert = certs->front()->Duplicate();
    }
  }
  return false;
}

bool CCrypto::VerifyCertificate(uint32_t& status) {
  if (!signerCert) {
    status = platform::NO_SIGNER_CERTIFICATE;
    return false;
  }
  if (!findCertificate) {
    status = 0;
    return true;
  }
  using platform::StoreLocation;
  const std::pair<StoreLocation, const char*> kStores[] = {
      {StoreLocation::kCurrentUser, "AddressBook"},
      {StoreLocation::kCurrentUser, "MY"},
      {StoreLocation::kLocalMachine, "AddressBook"},
  };
  for (const auto& [location, name] : kStores) {
    if (platform::CertStore::Open(location, name)->FindSubjectCert(signerCert->Info())) {
      status = 0;
      return true;
    }
  }
  status = platform::GetLastError();
  return false;
}

bool CCrypto::VerifyChain(uint32_t& status) {
  if (!signerCert) {
    status = platform::NO_SIGNER_CERTIFICATE;
    return false;
  }
  const platform::CertInfo& info = signerCert->Info();
  bool valid = false;
  if (archive.CheckItem(info.serialNumber, info.issuer, &valid, &status)) return valid;
  valid = EvaluateChain(status);
  archive.StoreItem(info.serialNumber, info.issuer, valid, status);
  platform::Log(texts::kLogChainStored, ThreadId(), status);
  return valid;
}

bool CCrypto::EvaluateChain(uint32_t& status) {
  platform::Log(texts::kLogChainEngineStart, ThreadId());
  platform::ChainParameters parameters;
  parameters.checkRevocation = checkRevocation;
  if (verifyTime != 0) parameters.time = verifyTime;
  platform::Log(texts::kLogChainEngineEnd, ThreadId());

  platform::Log(texts::kLogGetChainStart, ThreadId());
  const std::optional<uint32_t> trustStatus =
      platform::CertGetCertificateChain(*signerCert, parameters);
  if (!trustStatus) {
    status = platform::GetLastError();
    return false;
  }
  platform::Log(texts::kLogGetChainEnd, ThreadId());

  if (keyLifetimeDays >= 0 && KeyLifetimeExceeded()) {
    status = platform::SEC_E_CONTEXT_EXPIRED;
    return false;
  }
  platform::Log(texts::kLogOidStart, ThreadId());
  if (!oidList.empty()) {
    if (const uint32_t usageStatus = KeyUsageStatus(); usageStatus != 0) {
      status = usageStatus;
      return false;
    }
  }
  platform::Log(texts::kLogOidEnd, ThreadId());
  status = *trustStatus;
  return true;
}

bool CCrypto::KeyLifetimeExceeded() const {
  // Whole seconds since 1970, computed in 64 bits: validity dates before 1970 or after 3000 are
  // compared exactly rather than failing a conversion.
  const platform::CertInfo& info = signerCert->Info();
  const int64_t notBefore = platform::FileTimeToUnixSeconds(info.notBefore);
  const int64_t notAfter = platform::FileTimeToUnixSeconds(info.notAfter);
  const int64_t limit = std::min(notAfter, notBefore + int64_t{keyLifetimeDays} * 86400);
  // Always the real clock, never the requested evaluation time.
  const int64_t now = platform::SystemClock().Now();
  return now > limit || now < notBefore;
}

uint32_t CCrypto::KeyUsageStatus() const {
  const std::string list = oidList + ",";  // every entry, the last included, ends with a comma
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

bool CCrypto::VerifyCades(uint32_t& status) {
  status = 0;
  return true;
}

std::string CCrypto::GetSubjectName() const {
  if (!signerCert) return {};
  const std::string surname = Truncated(
      platform::CertGetNameStringA(*signerCert, platform::CERT_NAME_ATTR_TYPE, 0, kOidSurname),
      kNameStringBuffer);
  const std::string givenName = Truncated(
      platform::CertGetNameStringA(*signerCert, platform::CERT_NAME_ATTR_TYPE, 0, kOidGivenName),
      kNameStringBuffer);
  if (surname.empty() || givenName.empty()) {
    return Truncated(
        platform::CertGetNameStringA(*signerCert, platform::CERT_NAME_SIMPLE_DISPLAY_TYPE, 0),
        kNameStringBuffer);
  }
  return surname + " " + givenName;
}

std::string CCrypto::GetName(bool issuer, bool x500) const {
  if (!signerCert) return {};
  const uint32_t type = (x500 ? platform::CERT_X500_NAME_STR : platform::CERT_SIMPLE_NAME_STR) |
                        platform::CERT_NAME_STR_REVERSE_FLAG;
  return Truncated(platform::CertNameToStrA(*signerCert, issuer, type), kNameStrBuffer);
}

std::string CCrypto::GetSerialNumber() const {
  if (!signerCert) return {};
  return report::SerialNumberText(signerCert->Info().serialNumber);
}

std::string CCrypto::AddTimestamp() const { return texts::kCadesNotSupported; }

}  // namespace verify
