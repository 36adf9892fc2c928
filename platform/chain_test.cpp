#include "platform/chain.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/cert_store.h"
#include "platform/detail/verify_context.h"
#include "platform/last_error.h"
#include "platform/state_root.h"
#include "platform/win_status.h"
#include "tests/pki/cert.h"
#include "tests/pki/key.h"

namespace platform {
namespace {

using tests::pki::Cert;
using tests::pki::CertSpec;
using tests::pki::Issue;
using tests::pki::Key;
using tests::pki::KeyKind;

CertContextPtr Context(const Cert& cert) {
  const std::vector<uint8_t> der = cert.Der();
  return CertContext::Create(der);
}

CertSpec Ca(const char* name) {
  CertSpec certSpec;
  certSpec.subject = {{"CN", name}};
  certSpec.isCa = true;
  return certSpec;
}

void WriteInto(const std::string& folder, const std::string& name, const Cert& cert) {
  std::filesystem::create_directories(folder);
  const std::vector<uint8_t> der = cert.Der();
  std::ofstream(folder + "/" + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(der.data()), static_cast<std::streamsize>(der.size()));
}

class ChainTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The state root is read once per process: point it at a folder of this test's own.
    static const std::string root =
        (std::filesystem::temp_directory_path() / ("chain-test-" + std::to_string(getpid())))
            .string();
    setenv("QUILMAREND_HOME", root.c_str(), 1);
    ASSERT_EQ(StateRoot(), root);
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(StateRoot()); }
};

TEST_F(ChainTest, IssuersCertifyingEachOtherAreCyclic) {
  const Key keyA = tests::pki::CachedKey(KeyKind::kEcdsaP256, 0);
  const Key keyB = tests::pki::CachedKey(KeyKind::kEcdsaP256, 1);
  const Key leafKey = tests::pki::CachedKey(KeyKind::kEcdsaP256, 2);
  // B is certified by A and A by B: neither is self-issued, each names the other.
  const Cert selfA = Issue(Ca("A"), keyA, nullptr, keyA);
  const Cert b = Issue(Ca("B"), keyB, &selfA, keyA);
  const Cert a = Issue(Ca("A"), keyA, &b, keyB);
  CertSpec leafSpec;
  leafSpec.subject = {{"CN", "Leaf"}};
  const Cert leaf = Issue(leafSpec, leafKey, &a, keyA);

  CertContextPtr end = Context(leaf);
  auto companions = std::make_shared<CertCollection>();
  companions->push_back(Context(a));
  companions->push_back(Context(b));
  end->SetCompanions(companions);
  const std::optional<uint32_t> status = CertGetCertificateChain(*end, ChainParameters{});
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status & (CERT_TRUST_IS_CYCLIC | CERT_TRUST_IS_PARTIAL_CHAIN), CERT_TRUST_IS_CYCLIC);
}

TEST_F(ChainTest, StoreNamesMatchWhateverTheirCaseAndNewFilesAreSeen) {
  const Key key = tests::pki::CachedKey(KeyKind::kEcdsaP256, 3);
  const Cert root = Issue(Ca("Root"), key, nullptr, key);
  CertSpec leafSpec;
  leafSpec.subject = {{"CN", "Signer"}};
  leafSpec.serial = {0x42};
  const Cert leaf = Issue(leafSpec, key, &root, key);
  CertContextPtr end = Context(leaf);

  // Untrusted until the root appears in a folder named in its own case.
  EXPECT_EQ(CertGetCertificateChain(*end, ChainParameters{}), CERT_TRUST_IS_PARTIAL_CHAIN);
  WriteInto(StateRoot() + "/stores/LocalMachine/Root", "root.crt", root);
  EXPECT_EQ(CertGetCertificateChain(*end, ChainParameters{}), 0u);

  std::unique_ptr<CertStore> book = CertStore::Open(StoreLocation::kCurrentUser, "addressbook");
  EXPECT_FALSE(book->FindSubjectCert(end->Info()));
  WriteInto(StateRoot() + "/stores/CurrentUser/AddressBook", "signer.cer", leaf);
  book = CertStore::Open(StoreLocation::kCurrentUser, "ADDRESSBOOK");
  EXPECT_TRUE(book->FindSubjectCert(end->Info()));
  // A file that is not a certificate is passed over.
  std::ofstream(StateRoot() + "/stores/CurrentUser/AddressBook/broken.cer") << "not DER";
  EXPECT_TRUE(
      CertStore::Open(StoreLocation::kCurrentUser, "AddressBook")->FindSubjectCert(end->Info()));
}

TEST_F(ChainTest, JudgedAtTheRequestedTime) {
  const Key key = tests::pki::CachedKey(KeyKind::kEcdsaP256, 4);
  CertSpec rootSpec = Ca("Timed Root");
  rootSpec.notBefore = 946684800;  // 2000-01-01
  rootSpec.notAfter = 4102444800;  // 2100-01-01
  const Cert root = Issue(rootSpec, key, nullptr, key);
  WriteInto(StateRoot() + "/stores/LocalMachine/ROOT", "timed.cer", root);
  CertSpec leafSpec;
  leafSpec.subject = {{"CN", "Timed"}};
  leafSpec.notBefore = 1577836800;  // 2020-01-01
  leafSpec.notAfter = 1609459200;   // 2021-01-01
  const Cert leaf = Issue(leafSpec, key, &root, key);
  CertContextPtr end = Context(leaf);
  ChainParameters in2020;
  in2020.time = (1590000000ULL + 11644473600ULL) * 10000000ULL;
  EXPECT_EQ(CertGetCertificateChain(*end, in2020), 0u);
  EXPECT_EQ(CertGetCertificateChain(*end, ChainParameters{}), CERT_TRUST_IS_NOT_TIME_VALID);
}

// A verification that fails inside the library without naming an error is no verdict, never trust.
TEST_F(ChainTest, VerificationThatCannotRunIsNotTrusted) {
  const Key key = tests::pki::CachedKey(KeyKind::kEcdsaP256, 5);
  const Cert self = Issue(Ca("Self"), key, nullptr, key);
  const std::vector<uint8_t> der = self.Der();
  const unsigned char* p = der.data();
  const detail::X509Ptr x509(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  ASSERT_TRUE(x509);
  for (const bool runs : {true, false}) {
    SCOPED_TRACE(runs ? "verification runs" : "verification fails inside");
    const detail::X509StorePtr store(X509_STORE_new());
    ASSERT_EQ(X509_STORE_add_cert(store.get(), x509.get()), 1);
    if (!runs) X509_STORE_set_verify(store.get(), [](X509_STORE_CTX*) { return -1; });
    const detail::X509StoreCtxPtr context(X509_STORE_CTX_new());
    ASSERT_EQ(X509_STORE_CTX_init(context.get(), store.get(), x509.get(), nullptr), 1);
    const std::optional<uint32_t> bits = detail::VerifyContext(context.get());
    EXPECT_EQ(bits, runs ? std::optional<uint32_t>(0) : std::nullopt);
    if (!runs) {
      EXPECT_EQ(GetLastError(), NTE_FAIL);
    }
  }
}

}  // namespace
}  // namespace platform
