// End-to-end tests of bare signature values with the signer's certificate, of hashed XML
// fragments, of the libxml2 binding and of GETHASH, over real sockets.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/wait.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/base/hex.h"
#include "platform/os/socket.h"
#include "tests/check_support.h"
#include "tests/e2e_environment.h"
#include "tests/pki/http_server.h"
#include "tests/pki/raw_signature.h"

namespace tests {
namespace {

using pki::KeyKind;
using platform::StoreLocation;

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// Gost94 is the GOST R 34.11-94 digest of `bytes`, computed with OpenSSL directly.
std::vector<uint8_t> Gost94(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, pki::DigestOf(KeyKind::kGost2001),
             nullptr);
  return std::vector<uint8_t>(digest, digest + length);
}

std::string Base64(const std::vector<uint8_t>& bytes) {
  std::string lines = Base64Lines(bytes);
  std::string flat;
  for (const char c : lines) {
    if (c != '\r' && c != '\n') flat += c;
  }
  return flat;
}

// SignedInfo returns a signed text in canonical form that carries `digestValue`.
std::string SignedInfo(const std::string& digestValue) {
  return "<SignedInfo xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><Reference URI=\"#doc\">"
         "<DigestValue>" +
         digestValue + "</DigestValue></Reference></SignedInfo>";
}

// The fragment in Windows-1251 as a client sends it, and in UTF-8 as it is canonicalized.
const std::string kFragment1251 =
    "<Document xmlns=\"urn:test\"><Item "
    "id=\"1\">\xc7\xed\xe0\xf7\xe5\xed\xe8\xe5</Item></Document>";
const std::string kFragmentUtf8 =
    "<Document xmlns=\"urn:test\"><Item id=\"1\">\xd0\x97\xd0\xbd\xd0\xb0\xd1\x87\xd0\xb5\xd0\xbd"
    "\xd0\xb8\xd0\xb5</Item></Document>";

class XmlE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    server = StartServer(8);
    p = MakePki(KeyKind::kGost2001);
    AddToStore(StoreLocation::kLocalMachine, "ROOT", p.root);
    AddToStore(StoreLocation::kLocalMachine, "CA", p.ca);  // a lone certificate brings no chain
    AddToStore(StoreLocation::kCurrentUser, "MY", p.leaf);
  }

  // Check sends a signed text, a signature value, a certificate and optionally a fragment, and
  // returns the CHECK answer. The fragment goes raw (B64OFF), so its Windows-1251 letters arrive
  // as they are.
  std::string Check(const std::string& signedText, std::vector<uint8_t> signatureValue,
                    const pki::Cert& cert, const std::string* fragment = nullptr) {
    std::optional<TestClient> client = TestClient::Connect(server->BoundPort());
    client->ReadGreeting();
    client->Command("CRLOFF");
    client->SendBlock("STRS", DotStuffed(signedText) + "\r\n");
    client->SendBlock("SIGN", Base64Lines(signatureValue));
    client->SendBlock("CERT", Base64Lines(cert.Der()));
    if (fragment != nullptr) client->SendBlock("HASHEDXML", DotStuffed(*fragment) + "\r\n");
    return RunCheck(*client);
  }

  static std::string DotStuffed(const std::string& text) {
    return !text.empty() && text.front() == '.' ? "." + text : text;
  }

  std::vector<uint8_t> SignValue(const pki::Key& key, const std::string& text) {
    return pki::SignRaw(key, Bytes(text)).signature;  // big-endian, as an XML signature has it
  }

  std::unique_ptr<server::TCPServer> server;
  Pki p;
};

TEST_F(XmlE2E, SignatureValueOverTheTextAsSent) {
  const std::string text = "  any signed text, not XML at all\t";
  const std::vector<uint8_t> value = SignValue(p.leafKey, text);
  const std::string answer = Check(text, value, p.leaf);
  EXPECT_EQ(answer.substr(0, answer.find("SubjectName")),
            "CheckSignature: OK\r\n"
            "CheckSignatureStatus:  00000000\r\n"  // the (empty) detail and its blank
            "FindCertificate: OK\r\n"
            "FindCertificateStatus: 00000000\r\n"
            "CheckChain: OK\r\n"
            "CheckChainStatus: \r\n");
  // The same bytes in CryptoAPI's own order are reversed once more and fail.
  const std::vector<uint8_t> reversed(value.rbegin(), value.rend());
  EXPECT_EQ(AnswerLine(Check(text, reversed, p.leaf), "CheckSignatureStatus"),
            " " + kBadSignatureText + " (80090006)");
}

TEST_F(XmlE2E, HashedFragmentFoundInTheSignedText) {
  const std::string signedInfo = SignedInfo(Base64(Gost94(kFragmentUtf8)));
  const std::vector<uint8_t> value = SignValue(p.leafKey, signedInfo);
  EXPECT_EQ(AnswerLine(Check(signedInfo, value, p.leaf, &kFragment1251), "CheckSignature"), "OK");
  // Comments do not change the canonical form, so not the digest either.
  const std::string commented =
      "<Document xmlns=\"urn:test\"><!-- a remark --><Item id=\"1\">\xc7\xed\xe0\xf7\xe5\xed\xe8"
      "\xe5</Item><!--x--></Document>";
  EXPECT_EQ(AnswerLine(Check(signedInfo, value, p.leaf, &commented), "CheckSignature"), "OK");
  // The signed text is canonicalized too: extra blanks in its tags change nothing.
  std::string spaced = signedInfo;
  spaced.replace(spaced.find("<Reference "), 11, "<Reference   ");
  EXPECT_EQ(AnswerLine(Check(spaced, value, p.leaf, &kFragment1251), "CheckSignature"), "OK");
}

TEST_F(XmlE2E, FragmentFailuresAreTextsWithStatusZero) {
  const std::string digest = Base64(Gost94(kFragmentUtf8));
  struct Case {
    const char* why;
    std::string signedText, fragment, status;
  };
  const std::string kMismatch =
      "\xd5\xfd\xf8 \xe4\xe0\xed\xed\xfb\xf5 \xed\xe5 \xf1\xee\xe2\xef\xe0\xe4\xe0\xe5\xf2.";
  const std::string kBadXml =
      "\xcd\xe5\xea\xee\xf0\xf0\xe5\xea\xf2\xed\xfb\xe9 xml \xe4\xee\xea\xf3\xec\xe5\xed\xf2.";
  const Case kCases[] = {
      {"digest cut by a line break", SignedInfo(digest.substr(0, 20) + "\r\n" + digest.substr(20)),
       kFragment1251, kMismatch + " 00000000"},
      {"fragment not well-formed", SignedInfo(digest), "<Document><Item></Document>",
       kBadXml + " 00000000"},
      {"empty fragment", SignedInfo(digest), "", kBadXml + " 00000000"},
      // Unlike the fragment, the signed text is not converted: Windows-1251 letters are not UTF-8.
      {"signed text in Windows-1251", SignedInfo(digest) + "<!-- \xc7 -->", kFragment1251,
       kBadXml + " 00000000"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    const std::string answer =
        Check(c.signedText, SignValue(p.leafKey, c.signedText), p.leaf, &c.fragment);
    EXPECT_EQ(AnswerLine(answer, "CheckSignature"), "FAIL");
    EXPECT_EQ(AnswerLine(answer, "CheckSignatureStatus"), c.status);
    EXPECT_EQ(AnswerLine(answer, "CheckChain"), "OK");  // the certificate steps still run
  }
}

TEST_F(XmlE2E, InternalEntitiesApplyExternalOnesAreRefused) {
  const std::string withInternal = "<!DOCTYPE a [<!ENTITY e \"inner\">]><a>&e;</a>";
  const std::string signedInternal = SignedInfo(Base64(Gost94("<a>inner</a>")));
  EXPECT_EQ(
      AnswerLine(Check(signedInternal, SignValue(p.leafKey, signedInternal), p.leaf, &withInternal),
                 "CheckSignature"),
      "OK");

  pki::HttpServer http;
  http.Serve("/secret.txt", Bytes("SECRET"), "text/plain");
  const std::string secretFile = StateRoot() + "/secret.txt";
  std::ofstream(secretFile) << "SECRET";
  const std::string signedSecret = SignedInfo(Base64(Gost94("<a>SECRET</a>")));
  for (const std::string& source : {"file://" + secretFile, http.Url("/secret.txt")}) {
    SCOPED_TRACE(source);
    const std::string fragment = "<!DOCTYPE a [<!ENTITY e SYSTEM \"" + source + "\">]><a>&e;</a>";
    EXPECT_EQ(AnswerLine(Check(signedSecret, SignValue(p.leafKey, signedSecret), p.leaf, &fragment),
                         "CheckSignature"),
              "FAIL");
  }
  // An external DTD is not fetched either.
  const std::string withDtd = "<!DOCTYPE a SYSTEM \"" + http.Url("/a.dtd") + "\"><a>SECRET</a>";
  Check(signedSecret, SignValue(p.leafKey, signedSecret), p.leaf, &withDtd);
  EXPECT_EQ(http.Hits("/secret.txt"), 0);
  EXPECT_EQ(http.Hits("/a.dtd"), 0);
}

TEST_F(XmlE2E, ProviderFollowsTheSubjectKey) {
  // An RSA certificate: its provider has no GOST digest.
  const Pki rsa = MakePki(KeyKind::kRsa2048);
  AddToStore(StoreLocation::kLocalMachine, "ROOT", rsa.root);
  const std::string text = "signed";
  EXPECT_EQ(AnswerLine(Check(text, SignValue(rsa.leafKey, text), rsa.leaf), "CheckSignatureStatus"),
            " \xd3\xea\xe0\xe7\xe0\xed \xed\xe5\xef\xf0\xe0\xe2\xe8\xeb\xfc\xed\xfb\xe9 "
            "\xe0\xeb\xe3\xee\xf0\xe8\xf2\xec. (80090008)");  // "Указан неправильный алгоритм."
  // A GOST 2012 key has no provider here: "Не найден провайдер." and the enumeration's end.
  const Pki gost2012 = MakePki(KeyKind::kGost2012_256);
  EXPECT_EQ(AnswerLine(Check(text, SignValue(gost2012.leafKey, text), gost2012.leaf),
                       "CheckSignatureStatus"),
            "\xcd\xe5 \xed\xe0\xe9\xe4\xe5\xed \xef\xf0\xee\xe2\xe0\xe9\xe4\xe5\xf0. "
            "\xc4\xee\xef\xee\xeb\xed\xe8\xf2\xe5\xeb\xfc\xed\xfb\xf5 \xe4\xe0\xed\xed\xfb\xf5 "
            "\xed\xe5\xf2. (00000103)");
  // A GOST key certified by an RSA authority verifies with the GOST provider.
  pki::CertSpec certSpec = LeafSpec();
  certSpec.serial = {0x77};
  const pki::Cert mixed = pki::Issue(certSpec, p.leafKey, &rsa.ca, rsa.caKey);
  EXPECT_EQ(AnswerLine(Check(text, SignValue(p.leafKey, text), mixed), "CheckSignature"), "OK");
}

class GetHashE2E : public ::testing::Test {
 protected:
  void SetUp() override { server = StartServer(8); }
  std::string GetHash(const std::string& argument, const std::string& hashServer = "") {
    std::optional<TestClient> client = TestClient::Connect(server->BoundPort());
    client->ReadGreeting();
    if (!hashServer.empty()) client->Command("HASHSERVER " + hashServer);
    return client->Command("GETHASH " + argument);
  }
  // DigestText writes each byte of the digest low nibble first: the byte with its nibbles swapped.
  static std::string DigestText(std::string_view content) {
    std::vector<uint8_t> swapped = Gost94(content);
    for (uint8_t& b : swapped) b = static_cast<uint8_t>(b << 4 | b >> 4);
    return platform::HexText(swapped);
  }
  std::unique_ptr<server::TCPServer> server;
};

TEST_F(GetHashE2E, FilesDownloadsAndARemoteHashServer) {
  const std::string document = std::string(3000, 'x') + "\r\n<end/>";
  const std::string path = StateRoot() + "/document.xml";
  std::ofstream(path, std::ios::binary) << document;
  const std::string empty = StateRoot() + "/empty.xml";
  std::ofstream(empty, std::ios::binary).flush();
  pki::HttpServer http;
  http.Serve("/document.xml", Bytes(document), "text/xml");

  const std::string expected = "OK: Hash=" + DigestText(document) + "\r\n";
  EXPECT_EQ(GetHash("file://" + path), expected);
  EXPECT_EQ(GetHash("file://" + empty),
            "OK: Hash=F352CBF1BBEC72AC01BF91853F9174A37E1E47283C5BE3FC747A2EEDA8BA4E8C\r\n");
  EXPECT_EQ(GetHash(http.Url("/document.xml")), expected);
  EXPECT_EQ(GetHash(http.Url("/document.xml"), "localhost"), expected);

  // A second server computes it for the first.
  auto remote = StartServer(4);
  EXPECT_EQ(GetHash("file://" + path, "127.0.0.1:" + std::to_string(remote->BoundPort())),
            expected);
}

TEST_F(GetHashE2E, FailuresAnswerTheirText) {
  pki::HttpServer http;
  http.ServeStatus("/gone.xml", 404);
  const std::string kFailed = "error: couldn't calculate hash\r\n";
  EXPECT_EQ(GetHash("file://" + StateRoot() + "/missing.xml"), kFailed);
  EXPECT_EQ(GetHash(http.Url("/gone.xml")), kFailed);
  EXPECT_EQ(GetHash(StateRoot() + "/plain/path.xml"), kFailed);
  const platform::UniqueFd refusing = RefusingSocket();
  EXPECT_EQ(GetHash("file:///etc/hostname",
                    "127.0.0.1:" + std::to_string(platform::LocalPort(refusing.get()))),
            kFailed);
  // The remote server's own failure: its "error:" reply is no hash.
  auto remote = StartServer(4);
  EXPECT_EQ(GetHash("file:///no/such/file", "127.0.0.1:" + std::to_string(remote->BoundPort())),
            kFailed);
}

// LibXml2Path is the system's libxml2, found beside this test program.
std::string LibXml2Path() {
  return std::filesystem::canonical("/proc/self/exe").parent_path() / "libxml2.so.2";
}

// The server binary, copied alone into a folder of its own, so that what stands beside it can be
// chosen.
class LibXmlBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = StateRoot() + "/lonely";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(ServerBinary(), folder + "/quilmarend");
    p = MakePki(KeyKind::kGost2001);
  }
  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  std::string CheckWithFragment(const std::string& fragment = "<a/>") {
    pid = RunServerBinary(folder + "/quilmarend", 0, folder + "/errors.txt", folder);
    const int port = WaitForListening(folder + "/errors.txt");
    EXPECT_NE(port, 0);
    std::optional<TestClient> client = TestClient::Connect(port);
    client->ReadGreeting();
    client->Command("STRS <a/>");
    client->Command("SIGN AAAA");
    client->SendBlock("CERT", Base64Lines(p.leaf.Der()));
    client->Command("HASHEDXML " + fragment);
    return AnswerLine(RunCheck(*client), "CheckSignatureStatus");
  }
  std::string folder;
  Pki p;
  int pid = 0;
};

TEST_F(LibXmlBinding, MissingBesideTheProgram) {
  // "Не установлен libxml2.so.2!", though the system has one on its search path.
  EXPECT_EQ(CheckWithFragment(),
            "\xcd\xe5 \xf3\xf1\xf2\xe0\xed\xee\xe2\xeb\xe5\xed libxml2.so.2! 00000000");
}

TEST_F(LibXmlBinding, CanonicalizationErrorsAreAnsweredNotPrinted) {
  std::filesystem::create_symlink(LibXml2Path(), folder + "/libxml2.so.2");
  // A relative namespace name parses but cannot be canonicalized.
  EXPECT_EQ(CheckWithFragment("<a xmlns=\"rel\"/>"),
            "\xce\xf8\xe8\xe1\xea\xe0 CanonicalizeXml - xmlC14NDocDumpMemory. 00000000");
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  pid = 0;
  const std::string errors = ReadFile(folder + "/errors.txt");
  EXPECT_EQ(errors.find("C14N"), std::string::npos) << errors;
  EXPECT_NE(errors.find("Quilmarend.exe:"), std::string::npos);  // the log itself is there
}

TEST_F(LibXmlBinding, LibraryLackingTwoNames) {
  std::filesystem::copy_file(FAKE_LIBXML2, folder + "/libxml2.so.2");
  // "Необходимо обновить libxml2.so.2. Не найдены следующие методы:" and the two names.
  EXPECT_EQ(CheckWithFragment(),
            "\xcd\xe5\xee\xe1\xf5\xee\xe4\xe8\xec\xee \xee\xe1\xed\xee\xe2\xe8\xf2\xfc "
            "libxml2.so.2. \xcd\xe5 \xed\xe0\xe9\xe4\xe5\xed\xfb \xf1\xeb\xe5\xe4\xf3\xfe\xf9\xe8"
            "\xe5 \xec\xe5\xf2\xee\xe4\xfb:xmlC14NDocDumpMemory,xmlMemoryDump 00000000");
}

}  // namespace
}  // namespace tests
