#pragma once

// Detached CMS SignedData for the PKI fixture, in DER or in the indefinite-length BER that
// streaming signing tools write.
//
// Example:
//   std::vector<uint8_t> signature =
//       SignDetached(document, {{leaf, leafKey}}, {intermediate}, {.encoding = CmsEncoding::kBer});

#include <cstdint>
#include <span>
#include <vector>

#include "tests/pki/cert.h"
#include "tests/pki/key.h"

namespace tests::pki {

// CmsSigner is one signer: its certificate and the matching private key.
struct CmsSigner {
  Cert cert;
  Key key;
};

enum class CmsEncoding {
  kDer,  // definite lengths throughout
  // kBer: indefinite lengths (0x80 ... 00 00) for ContentInfo, its [0], SignedData and
  // encapContentInfo, as streaming signers write them; certificates and SignerInfos definite.
  kBer,
};

struct CmsOptions {
  // includeSignerCerts puts each signer's certificate into the certificates field.
  bool includeSignerCerts = true;
  // signedAttributes adds contentType, signingTime and messageDigest; without them the signature
  // is over the content itself.
  bool signedAttributes = true;
  CmsEncoding encoding = CmsEncoding::kDer;
};

// SignDetached returns a ContentInfo holding a detached SignedData over `data` (the bytes as
// they are, no line-end conversion) with one SignerInfo per entry of `signers`, in order, each
// naming its signer by issuer and serial number and digesting with DigestOf(key.Kind()). GOST
// signers get the GOST CMS algorithms from the engine: digestAlgorithm GOST R 34.11-94 or
// 34.11-2012, signatureAlgorithm the key's own algorithm OID (1.2.643.2.2.19 for 2001).
// `extraCerts` are added to the certificates field after the signers'. Empty on failure; the
// reason goes to standard error.
std::vector<uint8_t> SignDetached(std::span<const uint8_t> data,
                                  const std::vector<CmsSigner>& signers,
                                  const std::vector<Cert>& extraCerts = {},
                                  const CmsOptions& options = {});

}  // namespace tests::pki
