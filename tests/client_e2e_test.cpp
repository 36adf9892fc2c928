// End-to-end tests of quilmarend-check: the client binary run as a child process against a real
// server in this process, with a PKI made on the fly and certificate stores in the test's folder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/cp1251.h"
#include "platform/os/socket.h"
#include "tests/check_support.h"
#include "tests/e2e_environment.h"
#include "tests/pki/cms.h"
#include "tests/pki/key.h"
#include "tests/pki/raw_signature.h"

extern char** environ;

namespace tests {
namespace {

using platform::StoreLocation;

// The document's lines include a lone "." and lines starting with "..", which a client that sent
// it as protocol lines without care would cut short or change.
constexpr std::string_view kDocument = "first line\r\n.\r\n..two dots\r\n.\n...\r\nlast";

struct ClientRun {
  int status = -1;
  std::string out, err;
};

// RunClient runs quilmarend-check with `arguments` under LC_ALL=C.UTF-8, its output in files.
ClientRun RunClient(const std::vector<std::string>& arguments) {
  const std::string outPath = StateRoot() + "/client.out", errPath = StateRoot() + "/client.err";
  std::vector<std::string> words = {QUILMAREND_CHECK_BINARY};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables = {"LC_ALL=C.UTF-8"};
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (!std::string_view(*variable).starts_with("LC_ALL=")) variables.emplace_back(*variable);
  }
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = -1;
  ClientRun run;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = ReadFile(outPath);
  run.err = ReadFile(errPath);
  return run;
}

std::string WriteFile(const std::string& name, std::string_view content) {
  const std::string path = StateRoot() + "/" + name;
  FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);
  return path;
}

std::string Text(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

class ClientE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    server = StartServer(8);
    pki::CertSpec leaf = LeafSpec();
    leaf.subject.back().value = "Петров Пётр";
    p = MakePki(pki::KeyKind::kGost2001, leaf);
    AddToStore(StoreLocation::kLocalMachine, "ROOT", p.root);
    AddToStore(StoreLocation::kLocalMachine, "CA", p.ca);  // a bare value brings no certificates
    AddToStore(StoreLocation::kCurrentUser, "MY", p.leaf);
    const std::vector<uint8_t> document(kDocument.begin(), kDocument.end());
    signature = pki::SignDetached(document, {{p.leaf, p.leafKey}}, {p.ca});
    documentPath = WriteFile("document.txt", kDocument);
    derPath = WriteFile("signature.p7s", Text(signature));
  }

  std::vector<std::string> With(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(),
                     {"--server", "127.0.0.1:" + std::to_string(server->BoundPort()), "--no-crl"});
    return arguments;
  }

  std::unique_ptr<server::TCPServer> server;
  Pki p;
  std::vector<uint8_t> signature;
  std::string documentPath, derPath;
};

TEST_F(ClientE2E, PrintsTheAnswerOfEverySignatureForm) {
  const std::string base64 = Base64Lines(signature);
  const std::string pemPath =
      WriteFile("signature.pem", "-----BEGIN PKCS7-----\n" + base64 + "-----END PKCS7-----\n");
  const std::string cmsPemPath =
      WriteFile("signature.cms", "-----BEGIN CMS-----\r\n" + base64 + "-----END CMS-----\r\n");
  const std::string base64Path = WriteFile("signature.b64", base64);
  const std::string tampered = WriteFile("tampered.txt", std::string(kDocument) + " ");

  const ClientRun good = RunClient(With({documentPath, derPath}));
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_EQ(good.out,
            "CheckSignature: OK\nCheckSignatureStatus: 00000000\nFindCertificate: OK\n"
            "FindCertificateStatus: 00000000\nCheckChain: OK\nCheckChainStatus: \n"
            "SubjectName: Petrov Petr\n"
            "Subject: Петров Пётр, Petr, Petrov, Org, RU\n"
            "SubjectX500: CN=Петров Пётр, G=Petr, SN=Petrov, O=Org, C=RU\n"
            "Issuer: Test CA, Org, RU\nIssuerX500: CN=Test CA, O=Org, C=RU\nSubjectSN: 00A1B2\n");
  for (const std::string& path : {pemPath, cmsPemPath, base64Path}) {
    const ClientRun same = RunClient(With({documentPath, path}));
    EXPECT_EQ(same.status, 0) << path << ": " << same.err;
    EXPECT_EQ(same.out, good.out) << path;
  }
  const ClientRun bad = RunClient(With({tampered, derPath}));
  EXPECT_EQ(bad.status, 1) << bad.err;
  EXPECT_NE(bad.out.find("CheckSignature: FAIL\n"), std::string::npos) << bad.out;
}

TEST_F(ClientE2E, JsonObjectAndUtf8Report) {
  const std::string page = StateRoot() + "/report.html";
  const ClientRun run = RunClient(With({"--json", "--html", page, documentPath, derPath}));
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::json answer = nlohmann::json::parse(run.out);
  EXPECT_EQ(answer["CheckSignature"], true);
  EXPECT_EQ(answer["CheckSignatureStatus"], 0);
  EXPECT_EQ(answer["CheckChain"], true);
  EXPECT_EQ(answer["CheckChainStatus"], 0);
  EXPECT_EQ(answer["Subject"], "Петров Пётр, Petr, Petrov, Org, RU");
  EXPECT_EQ(answer["SubjectSN"], "00A1B2");

  const ClientRun bad =
      RunClient(With({"--json", WriteFile("other.txt", "another document"), derPath}));
  EXPECT_EQ(bad.status, 1);
  const nlohmann::json failed = nlohmann::json::parse(bad.out);
  EXPECT_EQ(failed["CheckSignature"], false);
  EXPECT_EQ(failed["CheckSignatureStatus"], 0x80091007u);  // CRYPT_E_HASH_VALUE
  EXPECT_EQ(failed["CheckSignatureStatusText"], "Значение хеша неверно.");

  // libxml2's HTML parser, told nothing about the charset, reads the page's own declaration.
  const htmlDocPtr document = htmlReadFile(page.c_str(), nullptr, HTML_PARSE_NOERROR);
  ASSERT_NE(document, nullptr);
  xmlChar* text = xmlNodeGetContent(xmlDocGetRootElement(document));
  const std::string content = reinterpret_cast<const char*>(text);
  xmlFree(text);
  xmlFreeDoc(document);
  EXPECT_NE(content.find("Подписи"), std::string::npos) << content;
  EXPECT_NE(content.find("Петров Пётр"), std::string::npos) << content;
}

TEST_F(ClientE2E, BareValueWithCertificateAndFragmentInEitherCharset) {
  // The digest of the fragment's canonical form (UTF-8) is the one the signed text carries; the
  // fragment file may be in UTF-8 or in Windows-1251.
  const std::string fragment = "<Document xmlns=\"urn:test\"><Item>Значение</Item></Document>";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(fragment.data(), fragment.size(), digest, &length,
             pki::DigestOf(pki::KeyKind::kGost2001), nullptr);
  std::string digestText = Base64Lines(std::vector<uint8_t>(digest, digest + length));
  digestText.resize(digestText.find('\r'));
  const std::string signedInfo =
      "<SignedInfo xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><DigestValue>" + digestText +
      "</DigestValue></SignedInfo>";
  const std::vector<uint8_t> value =
      pki::SignRaw(p.leafKey, std::vector<uint8_t>(signedInfo.begin(), signedInfo.end())).signature;
  for (const std::string& file : {fragment, platform::Utf8ToCp1251(fragment)}) {
    const ClientRun run =
        RunClient(With({"--cert", WriteFile("leaf.cer", Text(p.leaf.Der())), "--hashed-xml",
                        WriteFile("fragment.xml", file), WriteFile("signedinfo.xml", signedInfo),
                        WriteFile("value.b64", Base64Lines(value))}));
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("CheckSignature: OK\nCheckSignatureStatus:  00000000\n"),
              std::string::npos)
        << run.out;
  }
}

TEST_F(ClientE2E, TroubleEndsWithTwoAndOneLine) {
  const platform::UniqueFd refusing = RefusingSocket();
  const std::string port = "127.0.0.1:" + std::to_string(platform::LocalPort(refusing.get()));
  const std::string missing = StateRoot() + "/нет-подписи.p7s";  // a UTF-8 name stays intact
  const std::string folder = StateRoot(), longName = folder + "/" + std::string(5000, 'a');
  // A sparse document whose Base64 lines pass what the server holds for one connection.
  const std::string large = WriteFile("large.bin", "");
  ASSERT_EQ(truncate(large.c_str(), 100 << 20), 0);
  const struct {
    std::vector<std::string> arguments;
    std::string message;
  } cases[] = {
      {{"--server", port, documentPath, derPath}, "cannot connect to the server at " + port},
      {With({documentPath, missing}), missing + ": No such file or directory"},
      {With({documentPath, folder}), folder + ": Is a directory"},
      {With({folder, derPath}), folder + ": Is a directory"},
      {With({"--cert", folder, documentPath, derPath}), folder + ": Is a directory"},
      {With({"--cert", derPath, "--hashed-xml", folder, documentPath, derPath}),
       folder + ": Is a directory"},
      {With({"--html", folder, documentPath, derPath}), folder + ": Is a directory"},
      {With({documentPath, longName}), ": File name too long"},
      {With({"--upload-service", "u", documentPath, longName}), "rror: "},  // a service's name
      // A line end in a name is written visibly, so the message stays one line.
      {With({documentPath, folder + "/two\nlines"}), folder + "/two\\nlines: No such file"},
      {With({large, derPath}),
       "100.0 MiB is more than the server takes inline (about 90 MiB); have it read the file "
       "itself with --ref file://" +
           large},
      {With({"--time", "yesterday", documentPath, derPath}), "--time must be"},
      {With({documentPath}), "DOCUMENT and SIGNATURE are needed"},
      {With({"--ref", "file:///nonexistent/document.pdf", derPath}), "rror: "},
  };
  for (const auto& c : cases) {
    const ClientRun run = RunClient(c.arguments);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_TRUE(run.err.starts_with("quilmarend-check: ")) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    // Only a usage error adds the synopsis to its reason.
    const bool usage = c.message.starts_with("--time") || c.message.starts_with("DOCUMENT");
    if (!usage) {
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
  }
}

TEST_F(ClientE2E, ReachesAServerOnIpv6) {
  // A listener on ::1 alone, playing a server that answers GETHASH.
  platform::UniqueFd listener(socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  socklen_t length = sizeof address;
  if (!listener || bind(listener.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener.get(), 1) != 0 ||
      getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    GTEST_SKIP() << "no IPv6 loopback";
  }
  std::string received;
  std::thread fakeServer([&] {
    pollfd waiter{listener.get(), POLLIN, 0};
    if (poll(&waiter, 1, 10'000) != 1) return;
    const platform::UniqueFd peer(accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    platform::SendAll(peer.get(), "Quilmarend 3,1,0,10\r\n\r\n");
    platform::SetSocketTimeouts(peer.get(), 10'000);
    char buffer[256];
    for (ssize_t got = 1; got > 0 && !received.ends_with('\n');) {
      got = platform::Receive(peer.get(), buffer);
      received.append(buffer, static_cast<size_t>(std::max<ssize_t>(got, 0)));
    }
    platform::SendAll(peer.get(), "OK: Hash=00ff\r\n");
  });
  const std::string server6 = "[::1]:" + std::to_string(ntohs(address.sin6_port));
  const ClientRun run = RunClient({"--server", server6, "--gethash", "file:///srv/a.pdf"});
  fakeServer.join();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "00ff\n");
  EXPECT_EQ(received, "GETHASH file:///srv/a.pdf\r\n");
}

}  // namespace
}  // namespace tests
