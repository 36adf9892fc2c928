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
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
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

// SchemaProblems validates JSON Lines against the schema shipped beside the manual page with
// python3-jsonschema; empty when every line is valid, "skip" when the validator is missing.
std::string SchemaProblems(const std::string& lines) {
  if (std::system("/usr/bin/python3 -c 'import jsonschema' 2>/dev/null") != 0) return "skip";
  const std::string input = WriteFile("outputs.jsonl", lines);
  const std::string command = "/usr/bin/python3 " QUILMAREND_SOURCE_DIR
                              "/tests/validate_json.py " QUILMAREND_SOURCE_DIR
                              "/client/quilmarend-check.schema.json < " +
                              input + " 2>&1";
  std::string problems;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) problems.append(buffer, n);
    if (pclose(pipe) != 0 && problems.empty()) problems = "the validator failed";
  }
  return problems;
}

// OtherService listens on a loopback port and greets every connection as an SSH server would.
class OtherService {
 public:
  OtherService() : listening(platform::OpenListenSocket("127.0.0.1", 0, 8)) {
    server = std::thread([this] {
      while (platform::UniqueFd peer = platform::AcceptConnection(listening.fd.get())) {
        platform::SendAll(peer.get(), "SSH-2.0-OpenSSH_9.2p1\r\n");
      }
    });
  }
  ~OtherService() {
    platform::ShutdownSocket(listening.fd.get());
    server.join();
  }
  std::string Address() const {
    return "127.0.0.1:" + std::to_string(platform::LocalPort(listening.fd.get()));
  }

 private:
  platform::ListenResult listening;
  std::thread server;
};

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
  EXPECT_EQ(answer["valid"], true);
  EXPECT_EQ(answer["signature"],
            nlohmann::json::parse(R"({"ok":true,"status":"00000000","text":""})"));
  EXPECT_EQ(answer["chain"]["reasons"], nlohmann::json::array());
  EXPECT_EQ(answer["signer"]["subject"], "Петров Пётр, Petr, Petrov, Org, RU");
  EXPECT_EQ(answer["signer"]["serial"], "00A1B2");
  EXPECT_NE(answer["report"].get<std::string>().find("<meta charset=\"utf-8\">"),
            std::string::npos);

  const ClientRun bad =
      RunClient(With({"--json", WriteFile("other.txt", "another document"), derPath}));
  EXPECT_EQ(bad.status, 1);
  const nlohmann::json failed = nlohmann::json::parse(bad.out);
  EXPECT_EQ(failed["valid"], false);
  EXPECT_EQ(failed["signature"]["status"], "80091007");  // CRYPT_E_HASH_VALUE
  EXPECT_EQ(failed["signature"]["text"], "Значение хеша неверно.");
  EXPECT_EQ(failed["report"], nullptr);
  EXPECT_EQ(failed["error"], nullptr);
  const std::string problems = SchemaProblems(run.out + bad.out);
  EXPECT_TRUE(problems.empty() || problems == "skip") << problems;

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

TEST_F(ClientE2E, TroubleTellsInputFromServerByStatusAndOneLine) {
  const platform::UniqueFd refusing = RefusingSocket();
  const std::string port = "127.0.0.1:" + std::to_string(platform::LocalPort(refusing.get()));
  const OtherService other;
  const std::string missing = StateRoot() + "/нет-подписи.p7s";  // a UTF-8 name stays intact
  const std::string folder = StateRoot(), longName = folder + "/" + std::string(5000, 'a');
  // A sparse document whose Base64 lines pass what the server holds for one connection.
  const std::string large = WriteFile("large.bin", "");
  ASSERT_EQ(truncate(large.c_str(), 100 << 20), 0);
  const std::string key = WriteFile("contract.txt.p7s", pki::PrivateKeyPem(p.leafKey));
  const std::string certificate =
      WriteFile("leaf.pem", "-----BEGIN CERTIFICATE-----\n" + Base64Lines(p.leaf.Der()) +
                                "-----END CERTIFICATE-----\n");
  const std::string bare =
      WriteFile("bare.p7s",
                Text(pki::SignDetached(std::vector<uint8_t>(kDocument.begin(), kDocument.end()),
                                       {{p.leaf, p.leafKey}}, {}, {.includeSignerCerts = false})));
  const struct {
    std::vector<std::string> arguments;
    int status;
    const char* kind;
    std::string message;
  } cases[] = {
      {{"--server", port, documentPath, derPath},
       3,
       "connection",
       "cannot connect to the server at " + port + ": Connection refused"},
      {{"--server", other.Address(), documentPath, derPath},
       3,
       "connection",
       other.Address() + " is not a Quilmarend server; it said \"SSH-2.0-OpenSSH_9.2p1\""},
      {With({"--ref", "file:///nonexistent/document.pdf", derPath}), 3, "server",
       "the server refused CHECK: Error: Could not open inet file."},
      {With({documentPath, missing}), 2, "input", missing + ": No such file or directory"},
      {With({documentPath, folder}), 2, "input", folder + ": Is a directory"},
      {With({folder, derPath}), 2, "input", folder + ": Is a directory"},
      {With({"--cert", folder, documentPath, WriteFile("value.b64", Base64Lines({1, 2, 3}))}), 2,
       "input", folder + ": Is a directory"},
      {With({"--html", folder, documentPath, derPath}), 2, "input", folder + ": Is a directory"},
      {With({documentPath, longName}), 2, "input", ": File name too long"},
      {With({"--upload-service", "u", documentPath, longName}), 3, "server",
       "the server refused CHECK: "},  // a service's name
      // A line end in a name is written visibly, so the message stays one line.
      {With({documentPath, folder + "/two\nlines"}), 2, "input",
       folder + "/two\\nlines: No such file"},
      {With({large, derPath}), 2, "input",
       "100.0 MiB is more than the server takes inline (about 90 MiB); have it read the file "
       "itself with --ref file://" +
           large},
      {With({documentPath, key}), 2, "input",
       key + " is a PEM private key, not a signature; it was not sent (keep it private)"},
      {With({documentPath, certificate}), 2, "input",
       certificate + " is a PEM certificate, not a signature (a bare value goes with --cert)"},
      {With({derPath, documentPath}), 2, "input",
       "DOCUMENT and SIGNATURE swapped? " + documentPath + " is text, and " + derPath +
           " is a CMS signed message"},
      {With({documentPath, bare}), 2, "input",
       bare + " carries no certificates; the server takes the signer's certificate from the "
              "message, so sign with it included"},
      {With({"--time", "yesterday", documentPath, derPath}), 2, "usage", "--time must be"},
      {With({documentPath}), 2, "usage", "SIGNATURE is missing after DOCUMENT"},
  };
  std::string objects;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const ClientRun run = RunClient(c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_TRUE(run.err.starts_with("quilmarend-check: ")) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    // A usage error adds a line that points to --help; any other trouble is one line.
    const long lines = std::count(run.err.begin(), run.err.end(), '\n');
    EXPECT_EQ(lines, std::string_view(c.kind) == "usage" ? 2 : 1) << run.err;

    std::vector<std::string> json = c.arguments;
    json.insert(json.begin(), "--json");
    const ClientRun asJson = RunClient(json);
    EXPECT_EQ(asJson.status, c.status);
    EXPECT_EQ(std::count(asJson.out.begin(), asJson.out.end(), '\n'), 1) << asJson.out;
    const nlohmann::json object = nlohmann::json::parse(asJson.out, nullptr, false);
    EXPECT_EQ(object["error"]["kind"], c.kind) << asJson.out;
    EXPECT_EQ(object["signature"], nullptr);
    objects += asJson.out;
  }
  const std::string problems = SchemaProblems(objects);
  EXPECT_TRUE(problems.empty() || problems == "skip") << problems;
}

TEST_F(ClientE2E, BatchChecksEveryPairOverOneConnection) {
  // A signer the server's stores do not hold, and pairs good, changed, misplaced and malformed.
  const Pki stranger = MakePki(pki::KeyKind::kEcdsaP256);
  const std::string strangerSignature =
      WriteFile("stranger.p7s",
                Text(pki::SignDetached(std::vector<uint8_t>(kDocument.begin(), kDocument.end()),
                                       {{stranger.leaf, stranger.leafKey}}, {stranger.ca})));
  const std::string changed = WriteFile("changed.txt", std::string(kDocument) + " ");
  const std::string key = WriteFile("key.pem", pki::PrivateKeyPem(p.leafKey));
  const std::string pairs = WriteFile(
      "pairs.txt", documentPath + "\t" + derPath + "\n" + changed + "\t" + derPath + "\r\n\n" +
                       documentPath + "\t" + strangerSignature + "\n" + documentPath + "\t" + key +
                       "\nno tab here\n" + documentPath + "\t" + derPath);
  const size_t logStart = LogText().size();
  const ClientRun run = RunClient(With({"--batch", pairs}));
  EXPECT_EQ(run.status, 2) << run.err;  // the worst: a file in the wrong place
  const std::string statusZero = "00000000,00000000,00000000\t";
  const std::vector<std::string> expected = {
      "OK\t" + documentPath + "\t" + derPath + "\t" + statusZero + "Petrov Petr",
      "FAIL\t" + changed + "\t" + derPath +
          "\t80091007,00000000,00000000\tsignature: "
          "Значение хеша неверно. (80091007)",
      "FAIL\t" + documentPath + "\t" + strangerSignature + "\t00000000,80092004,",
      "ERROR\t" + documentPath + "\t" + key + "\t-\t" + key +
          " is a PEM private key, not a signature; it was not sent (keep it private)",
      "ERROR\tno tab here\t\t-\tline 6 of " + pairs + " has no TAB between DOCUMENT and SIGNATURE",
      "OK\t" + documentPath + "\t" + derPath + "\t" + statusZero + "Petrov Petr"};
  std::istringstream lines(run.out);
  std::string line;
  for (const std::string& start : expected) {
    ASSERT_TRUE(std::getline(lines, line)) << run.out;
    EXPECT_TRUE(line.starts_with(start)) << line;
  }
  EXPECT_FALSE(std::getline(lines, line)) << line;
  EXPECT_NE(run.err.find("hint: the signer's certificate is in none of the server's certificate "
                         "stores (80092004); import it on the server's machine with 'sudo "
                         "quilmarend -import FILE'"),
            std::string::npos)
      << run.err;
  // The four pairs that were sent came over one connection: one peer in the CHECK lines.
  std::set<std::string> peers;
  std::istringstream log(LogText().substr(logStart));
  int checks = 0;
  while (std::getline(log, line)) {
    const size_t at = line.find(" CHECK: ");
    if (at == std::string::npos) continue;
    ++checks;
    peers.insert(line.substr(line.rfind('\t', at) + 1, at - line.rfind('\t', at) - 1));
  }
  EXPECT_EQ(checks, 4);
  EXPECT_EQ(peers.size(), 1u);

  // The same as JSON Lines, and NUL-separated names.
  const ClientRun json = RunClient(With({"--json", "--batch", pairs}));
  EXPECT_EQ(json.status, 2);
  EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 6) << json.out;
  const std::string problems = SchemaProblems(json.out);
  EXPECT_TRUE(problems.empty() || problems == "skip") << problems;
  const std::string nul = WriteFile("pairs.bin", documentPath + '\0' + derPath + '\0');
  const ClientRun zero = RunClient(With({"--batch", nul, "-0"}));
  EXPECT_EQ(zero.status, 0) << zero.err;
  EXPECT_TRUE(zero.out.starts_with("OK\t" + documentPath + "\t" + derPath + "\t")) << zero.out;
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
  // The client sends its QUIT without waiting for the hash.
  EXPECT_TRUE(received.starts_with("GETHASH file:///srv/a.pdf\r\n")) << received;
}

}  // namespace
}  // namespace tests
