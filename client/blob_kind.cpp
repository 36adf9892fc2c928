#include "client/blob_kind.h"

#include <algorithm>
#include <array>
#include <span>

#include "platform/base/base64.h"
#include "platform/base/ber.h"
#include "platform/base/utf8.h"

namespace client {
namespace {

using platform::BerElement;

constexpr std::string_view kPemBegin = "-----BEGIN ";
constexpr std::string_view kPemEnd = "-----END ";

// The contents of the object identifiers 1.2.840.113549.1.7.n (PKCS #7 content types) and
// 1.2.840.113549.1.9.16.1.n (S/MIME content types) without their last arc.
constexpr std::array<uint8_t, 8> kPkcs7Arc = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07};
constexpr std::array<uint8_t, 10> kSmimeArc = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                               0x0D, 0x01, 0x09, 0x10, 0x01};
constexpr uint8_t kSignedDataArc = 2;

struct Der {
  std::span<const uint8_t> bytes;

  std::optional<std::vector<BerElement>> Children(const BerElement& parent) const {
    return platform::BerChildren(bytes, parent);
  }
  // SmallInteger is the value of the INTEGER `element` when it fits in one byte, else -1.
  int SmallInteger(const BerElement& element) const {
    if (element.Identifier() != platform::kBerInteger || element.ContentSize() != 1) return -1;
    return bytes[element.contentStart];
  }
  bool ContentIs(const BerElement& element, std::span<const uint8_t> prefix, size_t extra) const {
    return element.ContentSize() == prefix.size() + extra &&
           std::equal(prefix.begin(), prefix.end(), bytes.begin() + element.contentStart);
  }
};

// CmsTypeName names the content type whose identifier is `oid`: "signedData", "envelopedData".
std::string CmsTypeName(const Der& der, const BerElement& oid) {
  if (der.ContentIs(oid, kPkcs7Arc, 1)) {
    constexpr const char* kNames[] = {"",
                                      "data",
                                      "signedData",
                                      "envelopedData",
                                      "signedAndEnvelopedData",
                                      "digestedData",
                                      "encryptedData"};
    const uint8_t last = der.bytes[oid.contentEnd - 1];
    if (last >= 1 && last <= 6) return kNames[last];
  }
  if (der.ContentIs(oid, kSmimeArc, 1)) {
    switch (der.bytes[oid.contentEnd - 1]) {
      case 2:
        return "authData";
      case 9:
        return "compressedData";
      case 23:
        return "authEnvelopedData";
    }
  }
  return "an unknown type";
}

// ExamineSignedData fills what `blob` needs to know of the SignedData `signedData`.
void ExamineSignedData(const Der& der, const BerElement& signedData, Blob& blob) {
  const std::optional<std::vector<BerElement>> fields = der.Children(signedData);
  // version, digestAlgorithms, encapContentInfo, [0] certificates, [1] crls, signerInfos
  if (!fields || fields->size() < 4 || fields->back().Identifier() != platform::kBerSet) {
    blob.kind = BlobKind::kOtherDer;
    return;
  }
  const auto certificates = std::find_if(
      fields->begin() + 3, fields->end() - 1,
      [](const BerElement& field) { return field.Identifier() == platform::kBerContextZero; });
  blob.hasCertificates = certificates != fields->end() - 1 && certificates->ContentSize() > 0;
  const std::optional<std::vector<BerElement>> signers = der.Children(fields->back());
  blob.signerCount = signers ? signers->size() : 0;
}

// SignedShapeKind tells a certificate, a CRL and a request apart: each is { to-be-signed,
// algorithm, signature }, and only the to-be-signed part differs.
BlobKind SignedShapeKind(const Der& der, const BerElement& toBeSigned) {
  const std::optional<std::vector<BerElement>> fields = der.Children(toBeSigned);
  if (!fields || fields->empty()) return BlobKind::kOtherDer;
  // A certificate starts with its [0] version (or, as version 1, its serial number), then the
  // algorithm, issuer, validity, subject; a CRL has its thisUpdate time among its own fields; a
  // request ends with its [0] attributes after the version, subject and key.
  const bool hasTime = std::any_of(fields->begin(), fields->end(), [](const BerElement& field) {
    return field.Identifier() == platform::kBerUtcTime ||
           field.Identifier() == platform::kBerGeneralizedTime;
  });
  if (hasTime) return BlobKind::kCertificateList;
  if (fields->front().Identifier() == platform::kBerContextZero) return BlobKind::kCertificate;
  if (fields->size() == 4 && fields->back().Identifier() == platform::kBerContextZero) {
    return BlobKind::kCertificateRequest;
  }
  return fields->size() >= 6 ? BlobKind::kCertificate : BlobKind::kOtherDer;
}

// DerKind tells the kind of the SEQUENCE `outer` from the shape of its fields.
BlobKind DerKind(const Der& der, const BerElement& outer, Blob& blob) {
  const std::optional<std::vector<BerElement>> fields = der.Children(outer);
  if (!fields || fields->empty()) return BlobKind::kOtherDer;
  const std::vector<BerElement>& f = *fields;
  const auto tags = [&](std::initializer_list<uint8_t> expected) {
    return f.size() >= expected.size() && std::equal(expected.begin(), expected.end(), f.begin(),
                                                     [](uint8_t tag, const BerElement& field) {
                                                       return field.Identifier() == tag;
                                                     });
  };
  using namespace platform;
  if (f.size() == 2 && tags({kBerObjectId, kBerContextZero})) {  // ContentInfo
    blob.detail = CmsTypeName(der, f[0]);
    const std::optional<std::vector<BerElement>> wrapped = der.Children(f[1]);
    if (!der.ContentIs(f[0], kPkcs7Arc, 1) || der.bytes[f[0].contentEnd - 1] != kSignedDataArc) {
      return BlobKind::kOtherCms;
    }
    if (!wrapped || wrapped->size() != 1 || (*wrapped)[0].Identifier() != kBerSequence) {
      return BlobKind::kOtherDer;
    }
    blob.kind = BlobKind::kSignedData;
    ExamineSignedData(der, (*wrapped)[0], blob);
    return blob.kind;
  }
  if (tags({kBerSequence, kBerSequence, kBerBitString}) && f.size() == 3) {
    return SignedShapeKind(der, f[0]);
  }
  if (tags({kBerInteger, kBerSequence, kBerSequence}) && der.SmallInteger(f[0]) == 3) {
    return BlobKind::kPkcs12;  // version 3, authSafe ContentInfo, macData
  }
  if (tags({kBerInteger, kBerSequence, kBerOctetString}) && der.SmallInteger(f[0]) <= 1) {
    return BlobKind::kPrivateKey;  // PKCS #8 PrivateKeyInfo (version 0, or 1 with a public key)
  }
  if (tags({kBerSequence, kBerOctetString}) && f.size() == 2) {
    return BlobKind::kPrivateKey;  // PKCS #8 EncryptedPrivateKeyInfo
  }
  if (tags({kBerSequence, kBerBitString}) && f.size() == 2) return BlobKind::kPublicKey;
  if (tags({kBerInteger, kBerOctetString}) && der.SmallInteger(f[0]) == 1) {
    return BlobKind::kPrivateKey;  // SEC 1 ECPrivateKey
  }
  if (f.size() >= 9 && der.SmallInteger(f[0]) == 0 &&
      std::all_of(f.begin(), f.end(),
                  [](const BerElement& e) { return e.Identifier() == kBerInteger; })) {
    return BlobKind::kPrivateKey;  // PKCS #1 RSAPrivateKey
  }
  return BlobKind::kOtherDer;
}

// IsCutShort is true when `bytes` begin with a SEQUENCE header whose length runs past their end.
bool IsCutShort(std::span<const uint8_t> bytes) {
  if (bytes.size() < 2 || bytes[0] != platform::kBerSequence || bytes[1] == 0x80) return false;
  size_t header = 2;
  uint64_t length = bytes[1];
  if (bytes[1] & 0x80) {
    const size_t count = bytes[1] & 0x7F;
    if (count > 4 || bytes.size() < 2 + count) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | bytes[2 + i];
    header += count;
  }
  return length > bytes.size() - header;
}

// ExamineDer fills `blob` from the bytes it holds; false when they are no DER structure at all
// (nothing is set then).
bool ExamineDer(Blob& blob) {
  const Der der{blob.bytes};
  const std::optional<BerElement> outer = platform::ReadBerElement(der.bytes, 0);
  if (!outer) {
    if (!IsCutShort(der.bytes)) return false;
    blob.kind = BlobKind::kTruncated;
    return true;
  }
  if (outer->Identifier() != platform::kBerSequence) return false;
  blob.kind = DerKind(der, *outer, blob);
  return true;
}

// IsBase64Text is true for lines of Base64 letters and "=" (blanks only around a line).
bool IsBase64Text(std::string_view text) {
  bool anyLetter = false;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
      line.remove_suffix(1);
    }
    anyLetter = anyLetter || !line.empty();
    const bool letters = std::all_of(line.begin(), line.end(), [](char c) {
      return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
             c == '+' || c == '/' || c == '=';
    });
    if (!letters) return false;
  }
  return anyLetter;
}

// IsText is true for UTF-8 without control bytes other than TAB, CR, LF and FF.
bool IsText(std::string_view content) {
  return platform::IsUtf8(content) && std::none_of(content.begin(), content.end(), [](char c) {
           const auto byte = static_cast<unsigned char>(c);
           return (byte < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != '\f') || byte == 0x7F;
         });
}

// PemKind is the kind a PEM label announces; kSignedData for the labels of CMS messages, whose
// DER then tells the rest.
BlobKind PemKind(std::string_view label) {
  if (label == "PKCS7" || label == "CMS" || label == "PKCS #7 SIGNED DATA") {
    return BlobKind::kSignedData;
  }
  if (label.ends_with("PRIVATE KEY")) return BlobKind::kPrivateKey;
  if (label.ends_with("PUBLIC KEY")) return BlobKind::kPublicKey;
  if (label == "CERTIFICATE" || label == "X509 CERTIFICATE" || label == "TRUSTED CERTIFICATE") {
    return BlobKind::kCertificate;
  }
  if (label.ends_with("CERTIFICATE REQUEST")) return BlobKind::kCertificateRequest;
  if (label == "X509 CRL") return BlobKind::kCertificateList;
  return BlobKind::kOtherPem;
}

// ExaminePem fills `blob` from the PEM block at `begin` of `content`.
void ExaminePem(std::string_view content, size_t begin, Blob& blob) {
  blob.pem = true;
  const size_t labelStart = begin + kPemBegin.size();
  const size_t labelEnd = content.find("-----", labelStart);
  const size_t body = content.find('\n', labelStart);
  const size_t end = content.find(kPemEnd, labelStart);
  const std::string_view label = labelEnd == std::string_view::npos
                                     ? std::string_view()
                                     : content.substr(labelStart, labelEnd - labelStart);
  blob.kind = PemKind(label);
  if (blob.kind == BlobKind::kOtherPem) blob.detail = label;
  if (blob.kind != BlobKind::kSignedData && blob.kind != BlobKind::kCertificate) return;
  if (body == std::string_view::npos || end == std::string_view::npos || end < body) {
    blob.kind = BlobKind::kTruncated;
    return;
  }
  // The DER says what the block holds, whatever its label announced.
  blob.bytes = platform::Base64Decode(content.substr(body + 1, end - body - 1));
  if (!ExamineDer(blob)) blob.kind = BlobKind::kOtherDer;
}

}  // namespace

Blob ExamineBlob(std::string_view content) {
  Blob blob;
  if (content.empty()) return blob;
  if (const size_t begin = content.find(kPemBegin); begin != std::string_view::npos) {
    ExaminePem(content, begin, blob);
    return blob;
  }
  if (IsBase64Text(content)) {
    blob.bytes = platform::Base64Decode(content);
    if (!ExamineDer(blob)) blob.kind = BlobKind::kBase64;  // a bare signature value, say
    return blob;
  }
  blob.bytes.assign(content.begin(), content.end());
  if (ExamineDer(blob)) return blob;
  blob.kind = IsText(content) ? BlobKind::kText : BlobKind::kBinary;
  return blob;
}

std::string KindText(const Blob& blob) {
  const std::string pem = blob.pem ? "PEM " : "";
  switch (blob.kind) {
    case BlobKind::kEmpty:
      return "empty";
    case BlobKind::kSignedData:
      return "a CMS signed message";
    case BlobKind::kOtherCms:
      return "a CMS message of type " + blob.detail;
    case BlobKind::kCertificate:
      return "a " + pem + "certificate";
    case BlobKind::kCertificateList:
      return "a " + pem + "certificate revocation list";
    case BlobKind::kCertificateRequest:
      return "a " + pem + "certificate request";
    case BlobKind::kPrivateKey:
      return "a " + pem + "private key";
    case BlobKind::kPkcs12:
      return "a PKCS #12 file (a private key with its certificates)";
    case BlobKind::kPublicKey:
      return "a " + pem + "public key";
    case BlobKind::kTruncated:
      return "cut short (its DER encoding ends before its length says)";
    case BlobKind::kOtherDer:
      return "DER of no kind a signature has";
    case BlobKind::kOtherPem:
      return "PEM of type \"" + blob.detail + "\"";
    case BlobKind::kText:
      return "text";
    case BlobKind::kBase64:
      return "Base64 text that holds no DER structure";
    case BlobKind::kBinary:
      return "neither DER, PEM nor Base64";
  }
  return "unknown";
}

namespace {

// Misplaced is the sentence for `blob`, the file `name`, found where `wanted` belongs, with
// `advice` after it. A private key is said to have stayed here.
std::string Misplaced(const Blob& blob, const std::string& name, std::string_view wanted,
                      std::string_view advice = {}) {
  if (blob.kind == BlobKind::kEmpty) return name + " is empty";
  const bool secret = blob.kind == BlobKind::kPrivateKey || blob.kind == BlobKind::kPkcs12;
  return name + " is " + KindText(blob) + ", not " + std::string(wanted) + std::string(advice) +
         (secret ? "; it was not sent (keep it private)" : "");
}

}  // namespace

std::optional<std::string> SignatureProblem(const Blob& blob, std::string_view path) {
  const std::string name(path);
  if (blob.kind != BlobKind::kSignedData) {
    return Misplaced(blob, name, "a signature",
                     blob.kind == BlobKind::kCertificate ? " (a bare value goes with --cert)" : "");
  }
  if (blob.signerCount == 0) {
    return name + " is a PKCS #7 file with certificates only and no signer";
  }
  if (!blob.hasCertificates) {
    return name +
           " carries no certificates; the server takes the signer's certificate from the "
           "message, so sign with it included";
  }
  return std::nullopt;
}

std::optional<std::string> ValueProblem(const Blob& blob, std::string_view path) {
  // Any bytes may be a value; only a structure that is something else, or text, is refused.
  if (blob.kind == BlobKind::kBinary || blob.kind == BlobKind::kBase64 ||
      blob.kind == BlobKind::kTruncated || blob.kind == BlobKind::kOtherDer) {
    return std::nullopt;
  }
  return Misplaced(
      blob, std::string(path), "a bare signature value",
      blob.kind == BlobKind::kSignedData ? "; without --cert it is checked as one" : "");
}

std::optional<std::string> CertificateProblem(const Blob& blob, std::string_view path) {
  if (blob.kind == BlobKind::kCertificate) return std::nullopt;
  return Misplaced(blob, std::string(path), "a certificate");
}

}  // namespace client
