#pragma once

// Helpers for the end-to-end tests of CHECK: a PKI made on the fly, certificate stores filled in
// the test's own state folder, and a client that sends a document and a signature and reads the
// answer.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cert_store.h"
#include "tests/pki/cert.h"
#include "tests/pki/key.h"
#include "tests/test_client.h"

namespace tests {

// Texts of the answers in Windows-1251, written out byte by byte.
extern const std::string kHashValueText;  // "Значение хеша неверно."
extern const std::string kNotFoundText;  // "Объект или свойство не найдены."
extern const std::string kBadTagText;  // "ASN1: неверный тег."
extern const std::string kEodText;  // "ASN1: непредвиденный конец данных."
extern const std::string kBadSignatureText;  // "Неправильная подпись."
extern const std::string kKeyLifetimeText;  // "Истек срок действия закрытого ключа сертификата."
extern const std::string kKeyUsageText;  // "Сертификат не допускает ни одного из ..."
extern const std::string kNotTimeValidPhrase;  // chain phrases, each ending in ". "
extern const std::string kRevokedPhrase;
extern const std::string kUntrustedRootPhrase;
extern const std::string kRevocationUnknownPhrase;
extern const std::string kCyclicPhrase;
extern const std::string kPartialChainPhrase;
extern const std::string kOfflinePhrase;
// AllChainPhrases: the thirteen phrases joined, as the status 0xFFFFFFFF shows them.
std::string AllChainPhrases();

// A three-level PKI: a root, an intermediate CA and a signer, all of one key kind.
struct Pki {
  pki::Key rootKey, caKey, leafKey;
  pki::Cert root, ca, leaf;
};

// LeafSpec is the signer certificate every test starts from: C=RU, O=Org, SN=Petrov, GN=Petr,
// CN=Petrov Petr, serial 00 A1 B2, valid from a day ago for a year, emailProtection usage.
pki::CertSpec LeafSpec();
// CaSpec is a CA certificate named CN=`name`, O=Org, C=RU.
pki::CertSpec CaSpec(const std::string& name);

// MakePki issues root -> CA -> leaf with keys of `kind`; the leaf follows `leaf`.
Pki MakePki(pki::KeyKind kind, const pki::CertSpec& leaf = LeafSpec());

// AddToStore writes `cert` into the store folder `name` of `location`.
void AddToStore(platform::StoreLocation location, const std::string& name, const pki::Cert& cert);
// AddToFolder writes `cert` into `folder`, made as it is named.
void AddToFolder(const std::string& folder, const pki::Cert& cert);

// Base64Lines encodes `bytes` in lines of 64 characters ending in CR LF, ready for a block.
std::string Base64Lines(const std::vector<uint8_t>& bytes);

// CheckClient connects to `port`, sends B64ON, the document and the signature blocks and the
// commands of `settings` (each answered with one line), and is then ready for "CHECK".
TestClient CheckClient(int port, std::string_view document, const std::vector<uint8_t>& signature,
                       const std::vector<std::string>& settings = {});

// RunCheck sends CHECK and returns the whole answer through its "." line.
std::string RunCheck(TestClient& client);

// AnswerLine returns the value of the answer line `name` ("CheckChainStatus"), or "<none>".
std::string AnswerLine(const std::string& answer, std::string_view name);

}  // namespace tests
