// End-to-end tests of the listener and the connection protocol over real sockets.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/file_io.h"
#include "platform/os/socket.h"
#include "tests/e2e_environment.h"
#include "tests/fakes/fake_internet.h"
#include "tests/pki/http_server.h"
#include "tests/test_client.h"

namespace tests {
namespace {

constexpr std::string_view kGreeting = "Quilmarend 3,1,0,10\r\n\r\n";

class ServerE2E : public ::testing::Test {
 protected:
  void SetUp() override { server = StartServer(); }

  TestClient Client() {
    std::optional<TestClient> client = TestClient::Connect(server->BoundPort());
    if (!client) throw std::runtime_error("cannot connect");
    EXPECT_EQ(client->ReadGreeting(), kGreeting);
    return std::move(*client);
  }

  std::unique_ptr<server::TCPServer> server;
};

TEST_F(ServerE2E, GreetingArrivesBeforeTheClientSendsAnything) {
  std::optional<TestClient> client = TestClient::Connect(server->BoundPort());
  ASSERT_TRUE(client);
  EXPECT_EQ(client->ReadGreeting(), kGreeting);
  EXPECT_FALSE(client->HasDataWithin(100));
}

TEST_F(ServerE2E, CommandTableMatchesInOrder) {
  TestClient client = Client();
  EXPECT_EQ(client.Command("STRSX"), "OK: Getting data, end with <CRLF>.<CRLF>\r\n");
  EXPECT_EQ(client.Command("."), "OK: String stored\r\n");
  EXPECT_EQ(client.Command("SIGNATURE"), "OK: Getting signature, end with <CRLF>.<CRLF>\r\n");
  EXPECT_EQ(client.Command("."), "OK: Signature stored. Length=0\r\n");
  EXPECT_EQ(client.Command("CERTIFICATE"), "OK: Getting certificate, end with <CRLF>.<CRLF>\r\n");
  EXPECT_EQ(client.Command("."), "OK: Certificate stored. Length=0\r\n");
  for (const std::string_view line : {"HASHEDXMLX", "CHECK ", "B64ON ", "b64on", ""}) {
    SCOPED_TRACE(line);
    client.Send(std::string(line) + "\r\n");
    EXPECT_EQ(client.ReadUntilDot(), "error: What?\r\n.\r\n");
  }
  // Whole-line rows against prefix rows: "HASHSERVER" alone and with an empty argument.
  EXPECT_EQ(client.Command("HASHSERVER"), "OK: Hashserver local enabled\r\n");
  EXPECT_EQ(client.Command("HASHSERVER "), "OK: Hashserver enabled\r\n");
  EXPECT_EQ(client.Command("STRS "), "OK: String stored\r\n");
}

TEST_F(ServerE2E, BlocksKeepLineEndingsAndUnstuffDotsWhateverTheSegmentation) {
  TestClient client = Client();
  client.Send("SIGN\r\n");
  EXPECT_EQ(client.ReadLine(), "OK: Getting signature, end with <CRLF>.<CRLF>\r\n");
  // ".abc" CR LF, an empty line, "def" LF: 4 + 2 + 2 + 3 bytes. Sent a byte at a time.
  for (const char c : std::string_view("..abc\r\n\r\ndef\n.\r\n")) client.Send({&c, 1});
  EXPECT_EQ(client.ReadLine(), "OK: Signature stored. Length=11\r\n");
  // The same block in one piece with a bare-LF line in the middle.
  client.Send("HASHEDXML\r\n<a>\n..\r\n</a>\r\n.\n");
  EXPECT_EQ(client.ReadLine(), "OK: Getting HashedXml, end with <CRLF>.<CRLF>\r\n");
  EXPECT_EQ(client.ReadLine(), "OK: HashedXml stored. Length=11\r\n");  // "<a>\n.\r\n</a>"
}

TEST_F(ServerE2E, QuitInsideABlockIsStoredAndTheConnectionStaysOpen) {
  TestClient client = Client();
  EXPECT_EQ(client.SendBlock("CERT", "QUIT\r\n"), "OK: Certificate stored. Length=4\r\n");
  EXPECT_EQ(client.Command("B64ON"), "OK: String will decoded\r\n");
  EXPECT_EQ(client.Command("QUIT"), "OK: Bye.\r\n");
  EXPECT_TRUE(client.WaitClosed(5000));
}

TEST_F(ServerE2E, TimeAndKeyLifetimeAnswers) {
  TestClient client = Client();
  struct Case {
    std::string_view line, answer;
  };
  const Case kCases[] = {
      {"TIME 2021-03-02", "OK: Time set - Tuesday, 02 March 2021 12:00:00\r\n"},
      {"TIME 2021-02-30 08:05:09", "OK: Time set - Tuesday, 02 March 2021 08:05:09\r\n"},
      {"TIME 1969-12-31", "error: Invalid time format\r\n"},
      {"TIME 2021-13-01", "error: Invalid time format\r\n"},
      {"TIME 2021-03", "error: Invalid time format\r\n"},
      {"TIME 2021-03-02 24:00:00", "error: Invalid time format\r\n"},
      {"SKLIFETIME 0", "OK: SecretKey Lifetime set to 366\r\n"},
      {"SKLIFETIME x", "OK: SecretKey Lifetime set to 366\r\n"},
      {"SKLIFETIME -5", "OK: SecretKey Lifetime set to -5\r\n"},
      {"SKLIFETIME 731", "OK: SecretKey Lifetime set to 731\r\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(client.Command(c.line), c.answer);
  }
}

TEST_F(ServerE2E, ClientBeyondTheWorkerCountWaitsInTheBacklog) {
  server::ServerSetup setup;
  setup.limits.maxConnectionsPerAddress = 0;  // every client here comes from 127.0.0.1
  server.reset();
  server = StartServer(100, setup);
  std::vector<TestClient> clients;
  for (int i = 0; i < 100; ++i) clients.push_back(Client());
  std::optional<TestClient> waiting = TestClient::Connect(server->BoundPort());
  ASSERT_TRUE(waiting);  // the backlog takes the connection
  EXPECT_FALSE(waiting->HasDataWithin(300));
  EXPECT_EQ(clients[42].Command("QUIT"), "OK: Bye.\r\n");
  EXPECT_EQ(waiting->ReadGreeting(), kGreeting);
  EXPECT_EQ(waiting->Command("FINDOFF"), "OK: Find certificate OFF\r\n");
}

TEST_F(ServerE2E, SlotServesAgainAfterQuit) {
  server.reset();
  server = StartServer(1);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    TestClient client = Client();
    EXPECT_EQ(client.Command("CRLOFF"), "OK: Check revocation off\r\n");
    EXPECT_EQ(client.Command("EXIT"), "OK: Bye.\r\n");
    EXPECT_TRUE(client.WaitClosed(5000));
  }
}

TEST_F(ServerE2E, PeerThatClosesEarlyDoesNotDisturbOthers) {
  {
    TestClient rude = Client();
    rude.Send(std::string(200000, 'x') + "\nSTRS\r\nabc");  // answers go to a closed peer
  }
  TestClient client = Client();
  EXPECT_EQ(client.Command("HTMLON"), "OK: HTML Report ON\r\n");
}

TEST_F(ServerE2E, SilentClientIsDroppedAfterTheConnectionTimeOutWithoutAnswer) {
  server::ServerSetup setup;
  setup.limits.connectionTimeout = std::chrono::milliseconds(100);
  server = StartServer(2, setup);
  TestClient client = Client();
  client.Send("STRS\r\nunfinished");
  EXPECT_EQ(client.ReadLine(), "OK: Getting data, end with <CRLF>.<CRLF>\r\n");
  EXPECT_TRUE(client.WaitClosed(20000));
  EXPECT_TRUE(client.Pending().empty());
}

TEST_F(ServerE2E, ConnectionHoldingTooMuchUnfinishedDataEnds) {
  TestClient greedy = Client();
  TestClient bystander = Client();
  greedy.Send("STRS\r\n");
  EXPECT_EQ(greedy.ReadLine(), "OK: Getting data, end with <CRLF>.<CRLF>\r\n");
  // 100 MiB of block lines, then 29 MiB of a line without its end: over 128 MiB together.
  const std::string line(1 << 20, 'b');
  std::string block;
  for (int i = 0; i < 100; ++i) block += line + "\r\n";
  greedy.Send(block);
  std::string unfinished(29 << 20, 'u');
  greedy.Send(unfinished);
  EXPECT_TRUE(greedy.WaitClosed(30000));
  EXPECT_TRUE(greedy.Pending().empty());
  EXPECT_NE(LogText().find("134217728"), std::string::npos);
  EXPECT_EQ(bystander.Command("MD5ON"), "OK: File hash on\r\n");
}

TEST(ServerLimits, ConnectionsOverTheAddressCapAreClosedAtOnceWithoutHoldingAWorker) {
  // Two workers, one connection per address: while the first is open, each later one is closed
  // without a greeting, and none of them keeps the second worker from the next.
  server::ServerSetup setup;
  setup.limits.maxConnectionsPerAddress = 1;
  const auto server = StartServer(2, setup);
  const int port = server->BoundPort();
  std::optional<TestClient> first = TestClient::Connect(port);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->ReadGreeting(), kGreeting);
  std::vector<TestClient> refused;
  for (int i = 0; i < 3; ++i) {
    refused.push_back(*TestClient::Connect(port));
    EXPECT_TRUE(refused.back().WaitClosed(5000));
    EXPECT_TRUE(refused.back().Pending().empty());
  }
  EXPECT_NE(LogText().find(" 127.0.0.1 "), std::string::npos);
  EXPECT_EQ(first->Command("QUIT"), "OK: Bye.\r\n");
  EXPECT_TRUE(first->WaitClosed(5000));
  std::optional<TestClient> next = TestClient::Connect(port);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->ReadGreeting(), kGreeting);
}

// By default an address has 16 connections at most, all of 127.0.0.0/8 counting as one address.
TEST(ServerLimits, LoopbackAddressesShareTheDefaultCap) {
  const auto server = StartServer(20);
  const int port = server->BoundPort();
  std::vector<TestClient> clients;
  for (int i = 1; i <= 16; ++i) {
    clients.push_back(*TestClient::Connect(port, "127.0.0.1", "127.0.0." + std::to_string(i)));
    ASSERT_EQ(clients.back().ReadGreeting(), kGreeting) << i;
  }
  std::optional<TestClient> over = TestClient::Connect(port, "127.0.0.1", "127.1.2.3");
  EXPECT_TRUE(over->WaitClosed(5000) && over->Pending().empty());
  const std::string log = LogText();  // the refusal names the client and what it counts as
  EXPECT_NE(log.find(" 127.0.0.0/8 ", log.find(" 127.1.2.3 ")), std::string::npos);
}

TEST(ServerStart, PortInUseFailsToBindWithoutStartingWorkers) {
  const platform::ListenResult holder = platform::OpenListenSocket(0, 1);
  ASSERT_TRUE(holder.fd);
  const int port = platform::LocalPort(holder.fd.get());
  const int threadsBefore = CountThreads();
  const server::ServerStart started = server::TCPServer::Start(port, 100);
  ASSERT_TRUE(std::holds_alternative<std::string>(started)) << "started on a port in use";
  EXPECT_EQ(std::get<std::string>(started), "Cannot bind socket");
  EXPECT_EQ(CountThreads(), threadsBefore);
}

TEST(ServerStop, EndsIdleWorkersAndOpenConnectionsPromptly) {
  server::ServerSetup setup;
  setup.limits.maxConnectionsPerAddress = 0;  // every client here comes from 127.0.0.1
  auto server = StartServer(100, setup);
  const int port = server->BoundPort();
  std::vector<TestClient> clients;
  for (int i = 0; i < 50; ++i) {
    clients.push_back(*TestClient::Connect(port));
    clients.back().ReadGreeting();
  }
  clients[0].Send("STRS\r\nhalf a block");
  const auto started = std::chrono::steady_clock::now();
  server.reset();
  const auto stopped = std::chrono::steady_clock::now();
  for (TestClient& client : clients) EXPECT_TRUE(client.WaitClosed(1000));
  // Waiting out the connections' receive time-outs would take 10 s at least.
  EXPECT_LT(stopped - started, std::chrono::seconds(5));
  const std::string log = LogText();
  EXPECT_NE(log.find("\t\xc7\xe0\xea\xf0\xfb\xf2\xe8\xe5 \xf1\xe5\xf0\xe2\xe5\xf0\xe0\r\n"),
            std::string::npos);  // "Закрытие сервера"
}

// RunBinary starts the server executable with `port`; its standard error goes to `errorFile`.
pid_t RunBinary(int port, const std::string& errorFile, const char* locale = "C") {
  return RunServerBinary(ServerBinary(), port, errorFile, StateRoot(), locale);
}

// WaitExited waits up to `limit` for `pid` to end and returns its status; -1 (after killing it)
// when it is still running then.
int WaitExited(pid_t pid, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    usleep(20000);
  }
  return status;
}

TEST(ServerBinary, PortInUseEndsWithCannotBindSocket) {
  const platform::ListenResult holder = platform::OpenListenSocket(0, 1);
  ASSERT_TRUE(holder.fd);
  const std::string errors = StateRoot() + "/bind-errors.txt";
  const pid_t pid = RunBinary(platform::LocalPort(holder.fd.get()), errors);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  // The failed run ends, and the mode decision that follows finds no AppID key (2).
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  const std::string text = ReadFile(errors);
  EXPECT_NE(text.find("Quilmarend: Cannot bind socket\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\tCannot bind 0.0.0.0 port " +
                      std::to_string(platform::LocalPort(holder.fd.get())) +
                      ": Address already in use\r\n"),
            std::string::npos);
  // The archive is made before the bind; the start line is never written.
  EXPECT_NE(text.find("TmpCertArhive new"), std::string::npos);
  EXPECT_EQ(text.find("\xc7\xe0\xef\xf3\xf1\xea"), std::string::npos);  // "Запуск"
  // The archive is freed as the failed construction unwinds.
  EXPECT_NE(text.find("TmpCertArhive del"), std::string::npos);
}

// At info a request writes one line and the trace is silent; at debug every line is written. Under
// the journal (standard error is the stream JOURNAL_STREAM names) each line starts with its
// priority.
TEST(ServerBinary, EachLevelWritesItsLinesWithTheJournalsPrefix) {
  struct Case {
    const char* level;
    bool journal;
    std::string_view prefixes;  // the priorities allowed, "" for none
  };
  const Case kCases[] = {{"info", true, "356"}, {"debug", false, ""}, {"debug", true, "3567"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.level) + (c.journal ? " journal" : ""));
    const std::string errors = StateRoot() + "/levels-" + c.level + ".txt";
    std::ofstream(errors).flush();
    struct stat file {};
    ASSERT_EQ(stat(errors.c_str(), &file), 0);
    const std::string stream = std::to_string(file.st_dev) + ":" + std::to_string(file.st_ino);
    setenv("JOURNAL_STREAM", c.journal ? stream.c_str() : "1:1", 1);
    setenv("QUILMAREND_LOG_LEVEL", c.level, 1);
    setenv("QUILMAREND_LISTEN", "127.0.0.1", 1);
    const pid_t pid = RunBinary(0, errors);
    unsetenv("JOURNAL_STREAM");
    unsetenv("QUILMAREND_LOG_LEVEL");
    unsetenv("QUILMAREND_LISTEN");
    const int port = WaitForListening(errors);
    ASSERT_NE(port, 0);
    std::optional<TestClient> client = TestClient::Connect(port);
    ASSERT_TRUE(client);
    client->ReadGreeting();
    client->Command("B64OFF");  // a settings command: no info line
    client->Command("GETHASH file:///nonexistent");
    client->Send("CHECK\r\n");
    client->ReadUntilDot();
    client->Command("QUIT");
    kill(pid, SIGTERM);
    WaitExited(pid, std::chrono::seconds(20));

    const std::string log = ReadFile(errors);
    const std::string peer = "\t127.0.0.1:";
    EXPECT_NE(log.find(peer), std::string::npos) << log;
    EXPECT_NE(log.find(" GETHASH: failed ("), std::string::npos) << log;
    EXPECT_NE(log.find(" CHECK: signature FAIL "), std::string::npos) << log;
    EXPECT_NE(log.find("\tListening on 127.0.0.1 port " + std::to_string(port) + "; state root "),
              std::string::npos);
    EXPECT_EQ(log.find("recv CHECK") != std::string::npos, std::string(c.level) == "debug");
    for (size_t start = 0; start < log.size(); start = log.find("\r\n", start) + 2) {
      const std::string_view line = std::string_view(log).substr(start, 19);
      if (c.prefixes.empty()) {
        EXPECT_TRUE(line.starts_with("Quilmarend.exe:(")) << line;
      } else {
        EXPECT_TRUE(line[0] == '<' && c.prefixes.find(line[1]) != std::string_view::npos &&
                    line.substr(2).starts_with(">Quilmarend.exe:("))
            << line;
      }
    }
  }
}

TEST(ServerBinary, ServesAndStopsOnSigtermLoggingInTheLocalesCharset) {
  // The start and stop lines: "Запуск сервера 3,1,0,10" and "Закрытие сервера".
  struct Case {
    const char* locale;
    std::string_view start, stop;
  };
  const Case kCases[] = {
      {"C", "\t\xc7\xe0\xef\xf3\xf1\xea \xf1\xe5\xf0\xe2\xe5\xf0\xe0 3,1,0,10\r\n",
       "\t\xc7\xe0\xea\xf0\xfb\xf2\xe8\xe5 \xf1\xe5\xf0\xe2\xe5\xf0\xe0\r\n"},
      {"C.UTF-8", "\tЗапуск сервера 3,1,0,10\r\n", "\tЗакрытие сервера\r\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.locale);
    const std::string errors = StateRoot() + "/run-log-" + c.locale + ".txt";
    const pid_t pid = RunBinary(0, errors, c.locale);
    const int port = WaitForListening(errors);
    ASSERT_NE(port, 0);
    std::optional<TestClient> client = TestClient::Connect(port);
    ASSERT_TRUE(client);
    EXPECT_EQ(client->ReadGreeting(), kGreeting);
    EXPECT_EQ(client->Command("B64OFF"), "OK: String will not decoded\r\n");
    kill(pid, SIGTERM);
    const int status = WaitExited(pid, std::chrono::seconds(20));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);  // the mode decision after the run: no AppID key
    EXPECT_TRUE(client->WaitClosed(1000));
    const std::string log = ReadFile(errors);
    EXPECT_NE(log.find(c.start), std::string::npos) << log;
    EXPECT_NE(log.find(c.stop), std::string::npos) << log;
    EXPECT_EQ(log.rfind("Quilmarend.exe:(", 0), 0u);
  }
}

// Deleting the request files, as the host does before the process ends, makes every later request
// file of this process go at once; no other test of this file makes one in this process.
TEST(ServerStop, EndsWithinItsAllowanceWhileAWorkerWaitsOnASilentPeer) {
  // A download that stops after its first bytes and then stays silent.
  tests::FakeInternet internet;
  internet.Hold("http://docs.test/document.xml", std::vector<uint8_t>(4096, 'x'));
  const std::filesystem::path temp = StateRoot() + "/stuck-tmp";
  std::filesystem::create_directories(temp);
  setenv("TMPDIR", temp.c_str(), 1);
  // ThreadSanitizer starts a thread of its own with the process's first thread: one started and
  // joined here puts it among the threads of before.
  std::thread([] {}).join();
  const int threadsBefore = CountThreads();
  server::ServerSetup setup;
  setup.limits.stopAllowance = std::chrono::milliseconds(100);
  setup.internet = &internet;
  auto server = StartServer(2, setup);
  std::optional<TestClient> client = TestClient::Connect(server->BoundPort());
  ASSERT_TRUE(client);
  client->ReadGreeting();
  client->Command("STRS http://docs.test/document.xml");
  client->Send("CHECK\r\n");
  internet.WaitHeld();  // the download waits on the peer, its file has its first bytes
  ASSERT_FALSE(std::filesystem::is_empty(temp));

  EXPECT_EQ(server->Stop(), 1);
  server.reset();
  // The worker left behind is logged, then "Закрытие сервера".
  const std::string log = LogText();
  EXPECT_NE(log.find(": 1 (100 \xec\xf1)\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\t\xc7\xe0\xea\xf0\xfb\xf2\xe8\xe5 \xf1\xe5\xf0\xe2\xe5\xf0\xe0\r\n"),
            std::string::npos);
  platform::RemoveRequestFiles();
  EXPECT_TRUE(std::filesystem::is_empty(temp)) << "the download's file outlived the process";
  // The worker ends once its peer lets go; the process then has its threads of before.
  internet.Release();
  EXPECT_TRUE(client->WaitClosed(20000));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (CountThreads() > threadsBefore && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_LE(CountThreads(), threadsBefore);
}

}  // namespace
}  // namespace tests
