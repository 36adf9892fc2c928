#include "tests/check_support.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "tests/e2e_environment.h"

namespace tests {

const std::string kHashValueText =
    "\xc7\xed\xe0\xf7\xe5\xed\xe8\xe5 \xf5\xe5\xf8\xe0 \xed\xe5\xe2\xe5\xf0\xed\xee.";
const std::string kNotFoundText =
    "\xce\xe1\xfa\xe5\xea\xf2 \xe8\xeb\xe8 \xf1\xe2\xee\xe9\xf1\xf2\xe2\xee \xed\xe5 "
    "\xed\xe0\xe9\xe4\xe5\xed\xfb.";
const std::string kBadTagText = "ASN1: \xed\xe5\xe2\xe5\xf0\xed\xfb\xe9 \xf2\xe5\xe3.";
const std::string kEodText =
    "ASN1: \xed\xe5\xef\xf0\xe5\xe4\xe2\xe8\xe4\xe5\xed\xed\xfb\xe9 \xea\xee\xed\xe5\xf6 "
    "\xe4\xe0\xed\xed\xfb\xf5.";
const std::string kBadSignatureText =
    "\xcd\xe5\xef\xf0\xe0\xe2\xe8\xeb\xfc\xed\xe0\xff \xef\xee\xe4\xef\xe8\xf1\xfc.";
const std::string kKeyLifetimeText =
    "\xc8\xf1\xf2\xe5\xea \xf1\xf0\xee\xea \xe4\xe5\xe9\xf1\xf2\xe2\xe8\xff "
    "\xe7\xe0\xea\xf0\xfb\xf2\xee\xe3\xee \xea\xeb\xfe\xf7\xe0 "
    "\xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xe0.";
const std::string kKeyUsageText =
    "\xd1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2 \xed\xe5 \xe4\xee\xef\xf3\xf1\xea\xe0\xe5\xf2 "
    "\xed\xe8 \xee\xe4\xed\xee\xe3\xee \xe8\xe7 \xe7\xe0\xe4\xe0\xed\xed\xfb\xf5 "
    "\xe2\xe0\xf0\xe8\xe0\xed\xf2\xee\xe2 \xe8\xf1\xef\xee\xeb\xfc\xe7\xee\xe2\xe0\xed\xe8\xff "
    "\xea\xeb\xfe\xf7\xe0.";
const std::string kNotTimeValidPhrase =
    "\xd1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2 \xed\xe5\xe4\xe5\xe9\xf1\xf2\xe2\xe8\xf2\xe5\xeb"
    "\xe5\xed \xe2 \xe4\xe0\xed\xed\xfb\xe9 \xec\xee\xec\xe5\xed\xf2. ";
const std::string kRevokedPhrase =
    "\xce\xe4\xe8\xed \xe8\xe7 \xf1\xe5\xf0\xf2\xe8\xf4\xea\xe0\xf2\xee\xe2 \xe2 "
    "\xf6\xe5\xef\xee\xf7\xea\xe5 \xe1\xfb\xeb \xe0\xed\xed\xf3\xeb\xe8\xf0\xee\xe2\xe0\xed. ";
const std::string kUntrustedRootPhrase =
    "\xca\xee\xf0\xed\xe5\xe2\xee\xe9 \xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2 "
    "\xf6\xe5\xef\xee\xf7\xea\xe8 \xed\xe5 \xff\xe2\xeb\xff\xe5\xf2\xf1\xff "
    "\xe4\xee\xe2\xe5\xf0\xe5\xed\xed\xfb\xec. ";
const std::string kRevocationUnknownPhrase =
    "\xd1\xf2\xe0\xf2\xf3\xf1 \xe0\xed\xed\xf3\xeb\xe8\xf0\xee\xe2\xe0\xed\xe8\xff "
    "\xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xee\xe2 \xed\xe5 \xe2\xfb\xff\xf1\xed\xe5\xed. ";
const std::string kCyclicPhrase =
    "\xd6\xe8\xea\xeb\xe8\xf7\xe5\xf1\xea\xe0\xff \xe7\xe0\xe2\xe8\xf1\xe8\xec\xee\xf1\xf2\xfc "
    "\xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xee\xe2. ";
const std::string kPartialChainPhrase =
    "\xce\xe4\xe8\xed \xe8\xe7 \xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xee\xe2 \xe2 "
    "\xf6\xe5\xef\xee\xf7\xea\xe5 \xed\xe5 \xff\xe2\xeb\xff\xe5\xf2\xf1\xff "
    "\xe4\xee\xe2\xe5\xf0\xe5\xed\xed\xfb\xec. ";
const std::string kOfflinePhrase =
    "\xcd\xe5 \xf3\xe4\xe0\xeb\xee\xf1\xfc \xe7\xe0\xe3\xf0\xf3\xe7\xe8\xf2\xfc "
    "\xe4\xe5\xe9\xf1\xf2\xe2\xf3\xfe\xf9\xe8\xe9 \xf1\xef\xe8\xf1\xee\xea "
    "\xee\xf2\xee\xe7\xe2\xe0\xed\xed\xfb\xf5 \xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xee\xe2. ";

std::string AllChainPhrases() {
  const std::string kNotNested =
      "\xc2 \xf6\xe5\xef\xee\xf7\xea\xe5 \xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xee\xe2 "
      "\xe2\xf0\xe5\xec\xff \xed\xe5\xef\xf0\xe0\xe2\xe8\xeb\xfc\xed\xee\xe5. ";
  const std::string kBadCertSignature =
      "\xcd\xe5\xe2\xe5\xf0\xed\xe0\xff \xef\xee\xe4\xef\xe8\xf1\xfc "
      "\xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xe0. ";
  const std::string kNotForUsage =
      "\xd1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2 \xf1\xe5\xf0\xe2\xe5\xf0\xe0 \xed\xe5 "
      "\xee\xe4\xee\xe1\xf0\xe5\xed \xe4\xeb\xff \xf2\xe0\xea\xe8\xf5 "
      "\xf1\xee\xe5\xe4\xe8\xed\xe5\xed\xe8\xe9. ";
  const std::string kCtlTime =
      "\xd6\xe5\xef\xee\xf7\xea\xe0 \xef\xf0\xee\xe2\xe5\xf0\xea\xe8 "
      "\xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xee\xe2 "
      "\xed\xe5\xe4\xe5\xe9\xf1\xf2\xe2\xe8\xf2\xe5\xeb\xfc\xed\xe0\xff \xe2 "
      "\xe4\xe0\xed\xed\xfb\xe9 \xec\xee\xec\xe5\xed\xf2. ";
  const std::string kCtlSignature =
      "\xd6\xe5\xef\xee\xf7\xea\xe0 \xef\xf0\xee\xe2\xe5\xf0\xea\xe8 "
      "\xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xee\xe2 \xed\xe5 \xe8\xec\xe5\xe5\xf2 "
      "\xef\xf0\xe0\xe2\xe8\xeb\xfc\xed\xee\xe9 \xef\xee\xe4\xef\xe8\xf1\xe8. ";
  const std::string kCtlUsage =
      "\xd6\xe5\xef\xee\xf7\xea\xe0 \xef\xf0\xee\xe2\xe5\xf0\xea\xe8 "
      "\xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xee\xe2 \xed\xe5 "
      "\xee\xe4\xee\xe1\xf0\xe5\xed\xe0 \xe4\xeb\xff \xf2\xe0\xea\xee\xe3\xee "
      "\xe8\xf1\xef\xee\xeb\xfc\xe7\xee\xe2\xe0\xed\xe8\xff. ";
  return kNotTimeValidPhrase + kNotNested + kRevokedPhrase + kBadCertSignature + kNotForUsage +
         kUntrustedRootPhrase + kRevocationUnknownPhrase + kCyclicPhrase + kPartialChainPhrase +
         kCtlTime + kCtlSignature + kCtlUsage + kOfflinePhrase;
}

pki::CertSpec LeafSpec() {
  pki::CertSpec certSpec;
  certSpec.subject = {
      {"C", "RU"}, {"O", "Org"}, {"SN", "Petrov"}, {"GN", "Petr"}, {"CN", "Petrov Petr"}};
  certSpec.serial = {0x00, 0xA1, 0xB2};
  certSpec.keyUsage = pki::kDigitalSignature | pki::kNonRepudiation;
  certSpec.extendedKeyUsage = {"1.3.6.1.5.5.7.3.4"};
  return certSpec;
}

pki::CertSpec CaSpec(const std::string& name) {
  pki::CertSpec certSpec;
  certSpec.subject = {{"C", "RU"}, {"O", "Org"}, {"CN", name}};
  certSpec.isCa = true;
  certSpec.keyUsage = pki::kKeyCertSign | pki::kCrlSign;
  const int64_t now = std::time(nullptr);
  certSpec.notBefore = now - 10 * 86400;
  certSpec.notAfter = now + 3650 * 86400LL;
  return certSpec;
}

Pki MakePki(pki::KeyKind kind, const pki::CertSpec& leaf) {
  Pki p;
  p.rootKey = pki::CachedKey(kind, 0);
  p.caKey = pki::CachedKey(kind, 1);
  p.leafKey = pki::CachedKey(kind, 2);
  // Each key kind has CAs of its own names, so that certificates of different kinds never share
  // an issuer and serial number.
  const std::string suffix =
      kind == pki::KeyKind::kGost2001 ? "" : " " + std::string(pki::KeyKindName(kind));
  p.root = pki::Issue(CaSpec("Test Root" + suffix), p.rootKey, nullptr, p.rootKey);
  pki::CertSpec caSpec = CaSpec("Test CA" + suffix);
  caSpec.serial = {0x02};
  p.ca = pki::Issue(caSpec, p.caKey, &p.root, p.rootKey);
  p.leaf = pki::Issue(leaf, p.leafKey, &p.ca, p.caKey);
  if (!p.root || !p.ca || !p.leaf) throw std::runtime_error("the PKI could not be made");
  return p;
}

void AddToStore(platform::StoreLocation location, const std::string& name, const pki::Cert& cert) {
  AddToFolder(platform::StoreFolder(location, name), cert);
}

void AddToFolder(const std::string& folder, const pki::Cert& cert) {
  std::filesystem::create_directories(folder);
  static int counter = 0;
  std::ofstream file(folder + "/test-" + std::to_string(++counter) + ".cer", std::ios::binary);
  const std::vector<uint8_t> der = cert.Der();
  file.write(reinterpret_cast<const char*>(der.data()), static_cast<std::streamsize>(der.size()));
}

std::string Base64Lines(const std::vector<uint8_t>& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string flat;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const uint32_t b0 = bytes[i];
    const uint32_t b1 = i + 1 < bytes.size() ? bytes[i + 1] : 0;
    const uint32_t b2 = i + 2 < bytes.size() ? bytes[i + 2] : 0;
    const uint32_t group = (b0 << 16) | (b1 << 8) | b2;
    flat += kAlphabet[group >> 18];
    flat += kAlphabet[(group >> 12) & 63];
    flat += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
    flat += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
  }
  std::string lines;
  for (size_t i = 0; i < flat.size(); i += 64) lines += flat.substr(i, 64) + "\r\n";
  return lines;
}

TestClient CheckClient(int port, std::string_view document, const std::vector<uint8_t>& signature,
                       const std::vector<std::string>& settings) {
  std::optional<TestClient> client = TestClient::Connect(port);
  if (!client) throw std::runtime_error("cannot connect");
  client->ReadGreeting();
  client->Command("B64ON");
  client->SendBlock("STRS", Base64Lines(std::vector<uint8_t>(document.begin(), document.end())));
  client->SendBlock("SIGN", Base64Lines(signature));
  for (const std::string& line : settings) client->Command(line);
  return std::move(*client);
}

std::string RunCheck(TestClient& client) {
  client.Send("CHECK\r\n");
  return client.ReadUntilDot();
}

std::string AnswerLine(const std::string& answer, std::string_view name) {
  const std::string key = "\r\n" + std::string(name) + ": ";
  size_t start = answer.rfind(std::string(name) + ": ", 0) == 0 ? 0 : answer.find(key);
  if (start == std::string::npos) return "<none>";
  start = answer.find(": ", start) + 2;
  return answer.substr(start, answer.find("\r\n", start) - start);
}

}  // namespace tests
