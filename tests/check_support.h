#pragma once

// Helpers for the end-to-end tests of CHECK: a PKI made on the fly, certificate stores filled in
// the test's own state folder, and a client that sends a document and a signature and reads the
// answer.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto/cert_store.h"
#include "tests/pki/cert.h"
#include "tests/pki/key.h"
#include "tests/pki/trust.h"
#include "tests/test_client.h"

namespace tests {

// Texts of the answers in Windows-1251, written out byte by byte.
extern const std::string kHashValueText;  // "Значение хеша неверно."
extern const std::string kBadTagText;     // "ASN1: неверный тег."
extern const std::string kEodText;  // "ASN1: непредвиденный конец данных."
extern const std::string kBadSignatureText;    // "Неправильная подпись."
extern const std::string kNotTimeValidPhrase;  // chain phrases, each ending in ". "
extern const std::string kRevokedPhrase;
extern const std::string kUntrustedRootPhrase;
extern const std::string kRevocationUnknownPhrase;
extern const std::string kCyclicPhrase;
extern const std::string kPartialChainPhrase;
extern const std::string kOfflinePhrase;
// AllChainPhrases: the thirteen phrases joined, as the status 0xFFFFFFFF shows them.
std::string AllChainPhrases();

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
