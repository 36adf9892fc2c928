#pragma once

// What a file given as a signature or a certificate holds, told from its bytes alone (DER tags,
// PEM labels, Base64 text), so that a misplaced file is named before anything is sent: a private
// key never leaves the machine, and swapped arguments are not judged as a signature that fails.
//
// Example:
//   const Blob blob = ExamineBlob(content);
//   if (std::optional<std::string> why = SignatureProblem(blob, "a.p7s")) Refuse(*why);

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace client {

enum class BlobKind {
  kEmpty,
  kSignedData,  // a CMS SignedData message
  kOtherCms,    // a CMS ContentInfo of another type (`detail` names it)
  kCertificate,
  kCertificateList,  // a CRL
  kCertificateRequest,
  kPrivateKey,  // PKCS #8 (plain or encrypted), PKCS #1 RSA, SEC 1 EC, OpenSSH
  kPkcs12,      // a private key with its certificates
  kPublicKey,
  kTruncated,  // DER that ends before its outer length says
  kOtherDer,   // a DER SEQUENCE of none of the shapes above
  kOtherPem,   // PEM with a label of none of the kinds above (`detail` holds it)
  kBase64,     // Base64 text of bytes that are none of the above
  kText,       // readable text that is none of the above
  kBinary,     // bytes that are none of the above
};

// Blob is a file's content examined: its kind, and the bytes it stands for (the DER a PEM or
// Base64 text holds; the content itself otherwise).
struct Blob {
  BlobKind kind = BlobKind::kEmpty;
  std::vector<uint8_t> bytes;
  bool pem = false;    // it came as PEM
  std::string detail;  // the CMS content type, or the PEM label of kOtherPem
  // For kSignedData: whether the message carries certificates, and how many signers it has.
  bool hasCertificates = false;
  size_t signerCount = 0;
};

// ExamineBlob tells what `content` holds: PEM (its first block), DER, or Base64 text of DER.
// `bytes` is what is sent: the DER a PEM block or Base64 text holds, the decoded Base64 of
// anything else (a bare signature value), or the content itself.
Blob ExamineBlob(std::string_view content);

// IsSignatureForm is true when `blob` holds a detached CMS signature the server can check.
inline bool IsSignatureForm(const Blob& blob) {
  return blob.kind == BlobKind::kSignedData && blob.signerCount > 0 && blob.hasCertificates;
}

// KindText names `blob`'s kind for a sentence: "a PEM private key", "text".
std::string KindText(const Blob& blob);

// SignatureProblem is why `blob`, the file `path`, cannot be sent as a detached CMS signature,
// as a sentence ("a.p7s is a PEM private key, not a signature; it was not sent"); nullopt when
// it can.
std::optional<std::string> SignatureProblem(const Blob& blob, std::string_view path);

// ValueProblem is the same for a bare signature value (raw bytes or Base64), given with --cert.
std::optional<std::string> ValueProblem(const Blob& blob, std::string_view path);

// CertificateProblem is the same for the signer's certificate given with --cert.
std::optional<std::string> CertificateProblem(const Blob& blob, std::string_view path);

}  // namespace client
