// End-to-end tests of documents given by reference: downloads served on 127.0.0.1, local and
// mounted files, temporary files, the hash-server path and the upload service, each through CHECK.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/socket.h"
#include "tests/check_support.h"
#include "tests/e2e_environment.h"
#include "tests/pki/cms.h"
#include "tests/pki/http_server.h"

namespace tests {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDocument = "<doc>signed by reference</doc>\r\n";
const std::string kCouldNotOpen = "Error: Could not open inet file.\r\n.\r\n";
const std::string kHashFailed = "error: couldn't calculate hash\r\n";

void WriteDocument(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << kDocument;
}

size_t EntriesIn(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

// One reference of each kind through CHECK: a download over loopback HTTP, a local file, a
// temporary file (deleted once read), the remote hash server's digest, and the upload service. The
// variants of each are the rows of the retrieval unit table.
TEST(RetrievalE2E, ReferencesAreFetchedVerifiedAndCleanedUp) {
  const fs::path root = StateRoot();
  const fs::path temp = root / "tmp";
  fs::create_directories(temp);
  setenv("TMPDIR", temp.c_str(), 1);
  WriteDocument(root / "docs/doc.xml");
  WriteDocument(temp / "delivered.xml");
  WriteDocument(root / "upload/demo/doc.xml");

  const Pki p = MakePki(pki::KeyKind::kEcdsaP256);
  AddToStore(platform::StoreLocation::kLocalMachine, "ROOT", p.root);
  const std::vector<uint8_t> signature = pki::SignDetached(
      std::vector<uint8_t>(kDocument.begin(), kDocument.end()), {{p.leaf, p.leafKey}}, {p.ca});
  std::ofstream(root / "upload/demo/contract.sig") << Base64Lines(signature);
  pki::HttpServer http;
  http.Serve("/doc.xml", std::vector<uint8_t>(kDocument.begin(), kDocument.end()), "text/xml");
  auto server = StartServer(8);
  const std::string hashServer = "HASHSERVER 127.0.0.1:" + std::to_string(server->BoundPort());
  const size_t tempEntries = EntriesIn(temp);

  // `answer` is the whole answer for failures; "OK" and "80091007" stand for the CheckSignature
  // verdict and its status (the text itself, or a digest text, verified as the document).
  struct Case {
    std::string reference, setting, answer;
    std::string signatureName = "";  // fetched from the upload service instead of sent
  };
  const std::string upload = "UPLOADSERVICE demo";
  const std::string hashMismatch = "80091007";
  const Case kCases[] = {
      {http.Url("/doc.xml"), "", "OK"},
      {"file://" + (root / "docs/doc.xml").string(), "", "OK"},
      {"tempfile://" + (temp / "delivered.xml").string(), "", "OK"},
      {http.Url("/doc.xml"), hashServer, hashMismatch},
      {"doc.xml", upload, "OK", "contract.sig"},
      {"doc.xml", "UPLOADSERVICE nobody", "error: unknown upload service\r\n", "contract.sig"},
      {"../demo/doc.xml", upload, "error: the file name leaves the service's folder\r\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.reference + " " + c.setting);
    std::optional<TestClient> client = TestClient::Connect(server->BoundPort());
    ASSERT_TRUE(client);
    client->ReadGreeting();
    client->Command("STRS " + c.reference);
    if (c.signatureName.empty()) {
      client->SendBlock("SIGN", Base64Lines(signature));
    } else {
      client->Command("SIGN " + c.signatureName);
    }
    client->Command("CRLOFF");
    if (!c.setting.empty()) client->Command(c.setting);
    client->Send("CHECK\r\n");
    // The upload service's errors have no "." line.
    const std::string answer =
        c.answer.starts_with("error:") ? client->ReadLine() : client->ReadUntilDot();
    if (c.answer == "OK") {
      EXPECT_EQ(AnswerLine(answer, "CheckSignature"), "OK") << answer;
      // The next CHECK sees the resolved text: a deleted local copy or a path, verified as text.
      if (c.signatureName.empty()) {
        EXPECT_NE(AnswerLine(RunCheck(*client), "CheckSignatureStatus").find(hashMismatch),
                  std::string::npos);
      }
    } else if (c.answer == hashMismatch) {
      EXPECT_NE(AnswerLine(answer, "CheckSignatureStatus").find(hashMismatch), std::string::npos)
          << answer;
    } else {
      EXPECT_EQ(answer, c.answer);
    }
  }
  EXPECT_TRUE(fs::exists(root / "docs/doc.xml"));
  EXPECT_FALSE(fs::exists(temp / "delivered.xml"));
  EXPECT_EQ(EntriesIn(temp), tempEntries - 1);  // the delivered file is gone, nothing was left
}

// "Error: Ошибка при работе с удаленным файлом (" in CP1251, written out by hand.
const std::string kSizeRefused =
    "Error: \xce\xf8\xe8\xe1\xea\xe0 \xef\xf0\xe8 \xf0\xe0\xe1\xee\xf2\xe5 \xf1 "
    "\xf3\xe4\xe0\xeb\xe5\xed\xed\xfb\xec \xf4\xe0\xe9\xeb\xee\xec (";
// "Error: Неопознанная ошибка при работе с удаленным файлом (" likewise.
const std::string kHashServerFailed =
    "error: \xcd\xe5\xee\xef\xee\xe7\xed\xe0\xed\xed\xe0\xff \xee\xf8\xe8\xe1\xea\xe0 "
    "\xef\xf0\xe8 \xf0\xe0\xe1\xee\xf2\xe5 \xf1 \xf3\xe4\xe0\xeb\xe5\xed\xed\xfb\xec "
    "\xf4\xe0\xe9\xeb\xee\xec (";

// A file past the size limit gets its answer; an upload service's copy goes whatever happens to
// it, and only this process's own hashing can read it.
TEST(RetrievalE2E, FileOverTheLimitIsRefusedAndUploadCopiesGoWhateverHappens) {
  const fs::path root = StateRoot();
  const fs::path temp = root / "tmp-again";
  fs::create_directories(temp);
  setenv("TMPDIR", temp.c_str(), 1);
  WriteDocument(root / "upload/demo/doc.xml");
  std::ofstream(root / "big.xml") << std::string(kDocument.size() + 1, 'x');
  const Pki p = MakePki(pki::KeyKind::kEcdsaP256);
  AddToStore(platform::StoreLocation::kLocalMachine, "ROOT", p.root);
  const std::vector<uint8_t> signature = pki::SignDetached(
      std::vector<uint8_t>(kDocument.begin(), kDocument.end()), {{p.leaf, p.leafKey}}, {p.ca});
  const platform::ListenResult hashServer = platform::OpenListenSocket(0, 1);
  server::ServerSetup setup;
  setup.limits.engine.maxDocumentBytes = kDocument.size();
  setup.limits.maxXmlDocumentBytes = kDocument.size() - 1;
  const auto server = StartServer(2, setup);

  TestClient client = CheckClient(server->BoundPort(), "", signature, {"CRLOFF"});
  const auto check = [&client](const std::string& document) {
    client.Command("STRS " + document);
    return RunCheck(client);
  };
  EXPECT_EQ(check("file://" + (root / "big.xml").string()), kSizeRefused + "00000000)\r\n.\r\n");
  client.Send("GETHASH file://" + (root / "big.xml").string() + "\r\n");
  EXPECT_EQ(client.ReadLine(), kHashFailed);
  client.Command("HASHSERVER");
  EXPECT_EQ(check("file://" + (root / "big.xml").string()), kSizeRefused + "00000000)\r\n.\r\n");

  client.Command("UPLOADSERVICE demo");
  client.Command("HASHSERVER");
  EXPECT_NE(AnswerLine(check("doc.xml"), "CheckSignatureStatus").find("80091007"),
            std::string::npos);  // the digest text, verified as the document
  client.Command("HASHSERVER 127.0.0.1:" +
                 std::to_string(platform::LocalPort(hashServer.fd.get())));
  EXPECT_EQ(check("doc.xml"), kHashServerFailed + "00000032)\r\n.\r\n");
  pollfd waiting{hashServer.fd.get(), POLLIN, 0};
  EXPECT_EQ(::poll(&waiting, 1, 0), 0) << "the hash server was asked for a file it cannot read";
  client.Command("NOHASHSERVER");  // answered once the CHECK before it has ended
  EXPECT_TRUE(fs::is_empty(temp));

  // A signed text canonicalized as XML, read whole, has a smaller limit of its own.
  client.Command("UPLOADSERVICE ");
  WriteDocument(root / "signed.xml");
  client.SendBlock("CERT", Base64Lines(p.leaf.Der()));
  client.SendBlock("HASHEDXML", "PGEvPg==\r\n");
  EXPECT_EQ(check("file://" + (root / "signed.xml").string()), kSizeRefused + "00000000)\r\n.\r\n");
}

// A download whose client has left ends at once, and its worker serves the next client.
TEST(RetrievalE2E, DownloadEndsWhenItsClientHasLeft) {
  pki::HttpServer http;
  http.Serve("/stalled.xml", std::vector<uint8_t>(4096, 'x'), "text/xml");
  http.SetStall("/stalled.xml", 2);
  server::ServerSetup setup;
  setup.limits.download.paceWindow = std::chrono::hours(1);  // too slow only after an hour
  const auto server = StartServer(1, setup);
  {
    TestClient client = *TestClient::Connect(server->BoundPort());
    client.ReadGreeting();
    client.Command("STRS " + http.Url("/stalled.xml"));
    client.Send("CHECK\r\n");
  }  // gone while its download runs
  EXPECT_FALSE(TestClient::Connect(server->BoundPort())->ReadGreeting().empty());  // a free worker
  EXPECT_NE(LogText().find("(00002ef1)"), std::string::npos);  // the download was cancelled
}

// A FIFO, a device, a folder or a socket named by a client is refused at once on every path that
// opens a file, and no worker is left reading or waiting on one.
TEST(RetrievalE2E, SpecialFilesAreRefusedAtOnceOnEveryPath) {
  const fs::path folder = fs::path(StateRoot()) / "special";
  fs::create_directories(folder / "folder");
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
  const platform::UniqueFd socketFd(::socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  (folder / "socket").string().copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(socketFd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  auto server = StartServer(4);

  for (const fs::path& file : {fs::path("/dev/zero"), fs::path("/dev/urandom"), folder / "fifo",
                               folder / "folder", folder / "socket"}) {
    SCOPED_TRACE(file);
    const std::string reference = "file://" + file.string();
    std::optional<TestClient> client = TestClient::Connect(server->BoundPort());
    ASSERT_TRUE(client);
    client->ReadGreeting();
    // Each answer must come within a second.
    client->Command("STRS " + reference);
    client->Send("CHECK\r\n");
    EXPECT_EQ(client->ReadUntilDot(1000), kCouldNotOpen);
    client->Send("GETHASH " + reference + "\r\n");
    EXPECT_EQ(client->ReadLine(1000), "error: couldn't calculate hash\r\n");
    client->Command("HASHSERVER");
    client->Command("STRS " + reference);
    client->Send("CHECK\r\n");
    EXPECT_TRUE(client->ReadUntilDot(1000).starts_with("error: ")) << "the hash path";
  }
  EXPECT_EQ(server->Stop(), 0);  // no worker still busy
}

// A "tempfile:" reference is deleted only inside the temporary folder, even while another local
// user swaps a folder in it with a link to a folder outside.
TEST(RetrievalE2E, FolderSwappedForALinkNeverLeadsADeleteOutside) {
  const fs::path temp = fs::path(StateRoot()) / "swap-tmp";
  const fs::path outside = fs::path(StateRoot()) / "swap-outside";
  fs::create_directories(temp / "d");
  fs::create_directories(outside);
  std::ofstream(outside / "victim") << "keep me";
  fs::create_symlink(outside, temp / "l");
  setenv("TMPDIR", temp.c_str(), 1);
  auto server = StartServer(2);

  // The real folder stays reachable through its descriptor whatever its name is at the moment.
  const platform::UniqueFd realFolder(::open((temp / "d").c_str(), O_PATH | O_DIRECTORY));
  std::atomic<bool> done{false};
  std::thread attacker([&] {
    while (!done) {
      const platform::UniqueFd victim(
          ::openat(realFolder.get(), "victim", O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
      ::renameat2(AT_FDCWD, (temp / "d").c_str(), AT_FDCWD, (temp / "l").c_str(), RENAME_EXCHANGE);
    }
  });
  std::optional<TestClient> client = TestClient::Connect(server->BoundPort());
  ASSERT_TRUE(client);
  client->ReadGreeting();
  int checks = 0, opened = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    client->Command("STRS tempfile://" + (temp / "d/victim").string());
    client->Send("CHECK\r\n");
    opened += client->ReadUntilDot() != kCouldNotOpen;
    ++checks;
  }
  done = true;
  attacker.join();
  EXPECT_TRUE(fs::exists(outside / "victim")) << "after " << checks << " CHECKs";
  EXPECT_GT(opened, 0);  // the real folder's file was read, and deleted, along the way
}

// A reference, a GETHASH argument or an upload-service name of several lines is refused before
// anything is sent, and the log shows it on one line.
TEST(RetrievalE2E, ValuesOfSeveralLinesAreRefusedUnsentAndLoggedOnOneLine) {
  const platform::ListenResult hashServer = platform::OpenListenSocket(0, 1);
  ASSERT_TRUE(hashServer.fd);
  const std::string hashSetting =
      "HASHSERVER 127.0.0.1:" + std::to_string(platform::LocalPort(hashServer.fd.get()));
  auto server = StartServer(2);
  struct Case {
    std::vector<std::string> setup;  // commands sent before the request, each with its answer
    std::string document;            // a STRS block, when not empty
    std::string request, answer;
  };
  const Case kCases[] = {
      {{hashSetting},
       "http://127.0.0.1:1/doc\r\nQUIT\r\nGETHASH file:///etc/shadow\r\n",
       "CHECK",
       kCouldNotOpen},
      {{hashSetting},
       "",
       "GETHASH http://127.0.0.1:1/doc\rQuilmarend.exe:(1)\tforged",
       kHashFailed},
      {{"UPLOADSERVICE demo\rQuilmarend.exe:(1)\tforged", "STRS doc.xml"},
       "",
       "CHECK",
       kCouldNotOpen},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.request);
    std::optional<TestClient> client = TestClient::Connect(server->BoundPort());
    ASSERT_TRUE(client);
    client->ReadGreeting();
    for (const std::string& line : c.setup) client->Command(line);
    if (!c.document.empty()) client->SendBlock("STRS", c.document);
    client->Send(c.request + "\r\n");
    EXPECT_EQ(c.request == "CHECK" ? client->ReadUntilDot() : client->ReadLine(), c.answer);
  }
  pollfd waiting{hashServer.fd.get(), POLLIN, 0};
  EXPECT_EQ(::poll(&waiting, 1, 0), 0) << "the hash server was called";
  const std::string log = LogText();
  EXPECT_NE(log.find("http://127.0.0.1:1/doc\\r\\nQUIT\\r\\nGETHASH"), std::string::npos);
  for (size_t start = 0; start < log.size(); start = log.find("\r\n", start) + 2) {
    ASSERT_EQ(log.compare(start, 16, "Quilmarend.exe:("), 0) << log.substr(start, 80);
  }
}

}  // namespace
}  // namespace tests
