#include "tests/pki/trust.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tests {

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

}  // namespace tests
