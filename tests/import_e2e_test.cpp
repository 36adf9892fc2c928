// "-import FILE...": certificate files of every kind go into the machine's stores, each one
// reported in a box on standard error, and a server over the same state folder uses them.

#include <gtest/gtest.h>
#include <openssl/pkcs12.h>
#include <sys/wait.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>

#include "tests/check_support.h"
#include "tests/e2e_environment.h"
#include "tests/pki/cms.h"

namespace tests {
namespace {

namespace fs = std::filesystem;

std::string Write(const std::string& name, const std::string& bytes) {
  const std::string path = StateRoot() + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string Text(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

std::string Pem(const pki::Cert& cert) {
  return "-----BEGIN CERTIFICATE-----\r\n" + Base64Lines(cert.Der()) +
         "-----END CERTIFICATE-----\r\n";
}

template <typename T>
std::string DerOf(int (*i2d)(const T*, unsigned char**), const T* object) {
  unsigned char* der = nullptr;
  const int length = i2d(object, &der);
  const pki::OpenSslBytesPtr owner(der);
  return length > 0 ? std::string(reinterpret_cast<char*>(der), length) : std::string();
}

std::string Pkcs12(const pki::Cert& cert, const pki::Key& key, const char* password) {
  const std::unique_ptr<PKCS12, pki::FreeWith<PKCS12_free>> p12(
      PKCS12_create(password, nullptr, key.get(), cert.get(), nullptr, 0, 0, 0, 0, 0));
  return DerOf(i2d_PKCS12, p12.get());
}

// Pkcs7 is a SignedData of `certs` alone, in the order given (PKCS #7 keeps them as they come,
// where CMS would sort them).
std::string Pkcs7(const std::vector<pki::Cert>& certs) {
  const std::unique_ptr<PKCS7, pki::FreeWith<PKCS7_free>> p7(PKCS7_new());
  PKCS7_set_type(p7.get(), NID_pkcs7_signed);
  PKCS7_content_new(p7.get(), NID_pkcs7_data);
  for (const pki::Cert& cert : certs) PKCS7_add_certificate(p7.get(), cert.get());
  return DerOf(i2d_PKCS7, p7.get());
}

std::string Added(const std::string& subject, bool root) {
  return root ? "Сертификат добавлен в ROOT: Сертификат на " + subject +
                    "\nдобавлен в \"Доверенные корневые центры сертификации\" на локальный "
                    "компьютер\n"
              : "Сертификат добавлен в ADDRESSBOOK: Сертификат на " + subject +
                    "\nдобавлен в \"Другие пользователи\" на локальный компьютер\n";
}

TEST(ImportE2E, FilesGoToTheirStoresWithOneBoxEachAndServeACheck) {
  const Pki p = MakePki(pki::KeyKind::kEcdsaP256);
  pki::CertSpec newerSpec = LeafSpec();  // same issuer and serial, a later start
  newerSpec.notBefore = std::time(nullptr) - 60;
  const pki::Cert newer = pki::Issue(newerSpec, p.leafKey, &p.ca, p.caKey);
  const std::string leaf = "CN=Petrov Petr, G=Petr, SN=Petrov, O=Org, C=RU";
  const std::string exists = "Сертификат не добавлен: Объект или свойство уже существует.\n";
  const std::string cannotOpen = "Ошибка: Неудалось открыть контейнер с сертификатом\n\n";
  // Each run: the files given to "-import", the boxes it shows.
  const std::pair<std::vector<std::string>, std::string> kRuns[] = {
      {{Write("chain.p7b", Pkcs7({p.leaf, p.ca, p.root}))},
       Added(leaf, false) + Added("CN=Test CA ecdsa_p256, O=Org, C=RU", false) +
           Added("CN=Test Root ecdsa_p256, O=Org, C=RU", true)},
      {{Write("two.pem", Pem(p.ca) + Pem(p.root)), Write("leaf.cer", Text(p.leaf.Der()))},
       exists + exists + exists},
      {{Write("newer.p12", Pkcs12(newer, p.leafKey, "")), Write("old.cer", Text(p.leaf.Der())),
        Write("secret.p12", Pkcs12(newer, p.leafKey, "secret")), Write("junk.cer", "junk"),
        StateRoot() + "/missing.cer"},
       Added(leaf, false) + exists + cannotOpen + "Не удается найти запрошенный объект.\n" +
           cannotOpen + "Не удается найти запрошенный объект.\n" + cannotOpen +
           "Не удается найти указанный файл.\n"},
  };
  for (const auto& [files, boxes] : kRuns) {
    SCOPED_TRACE(fs::path(files[0]).filename().string());
    std::vector<std::string> arguments = {"/IMPORT"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const std::string errors = StateRoot() + "/import-errors.txt";
    int status = -1;
    // Under a UTF-8 locale the boxes' Windows-1251 texts come out as UTF-8.
    waitpid(RunServerBinary(ServerBinary(), 0, errors, StateRoot(), "C.UTF-8", arguments), &status,
            0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile(errors), boxes);
  }
  // The older signer certificate is gone and no temporary file is left.
  std::set<std::string> held;
  std::error_code missing;
  for (const auto& entry :
       fs::directory_iterator(StateRoot() + "/stores/LocalMachine/ADDRESSBOOK", missing)) {
    held.insert(ReadFile(entry.path()));
  }
  EXPECT_EQ(held, (std::set<std::string>{Text(p.ca.Der()), Text(newer.Der())}));

  // The signer is found only in LocalMachine/ADDRESSBOOK, and its chain ends in the new root.
  const auto signature =
      pki::SignDetached(std::vector<uint8_t>{'d', 'o', 'c'}, {{newer, p.leafKey}}, {p.ca});
  const auto server = StartServer(2);
  TestClient client = CheckClient(server->BoundPort(), "doc", signature, {"CRLOFF"});
  const std::string answer = RunCheck(client);
  EXPECT_EQ(AnswerLine(answer, "FindCertificate"), "OK") << answer;
  EXPECT_EQ(AnswerLine(answer, "CheckChain"), "OK") << answer;
}

}  // namespace
}  // namespace tests
