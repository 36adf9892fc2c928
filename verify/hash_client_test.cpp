#include "verify/hash_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <string>
#include <thread>

#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/os/socket.h"

namespace verify {
namespace {

// ScriptedServer accepts one connection on 127.0.0.1 and answers it as `script` says: it sends
// `greeting` (or closes at once when that is empty), reads one line, sends `reply`, and closes
// (after reading one more line when `expectQuit`). With `trickleMs`, greeting and reply go out a
// byte at a time with that pause after each, until the client stops taking them.
class ScriptedServer {
 public:
  ScriptedServer(std::string greeting, std::string reply, bool expectQuit = true, int trickleMs = 0)
      : listening(platform::OpenListenSocket(0, 1)) {
    port = platform::LocalPort(listening.fd.get());
    thread = std::thread([this, greeting, reply, expectQuit, trickleMs] {
      platform::UniqueFd fd = platform::AcceptConnection(listening.fd.get());
      if (!fd || greeting.empty()) return;
      platform::SetSocketTimeouts(fd.get(), 5000);
      Send(fd.get(), greeting, trickleMs);
      received = ReadLine(fd.get());
      Send(fd.get(), reply, trickleMs);
      if (expectQuit) {
        quit = ReadLine(fd.get());
        platform::SendAll(fd.get(), "OK: Bye.\r\n");
      }
    });
  }
  ~ScriptedServer() {
    platform::ShutdownSocket(listening.fd.get());
    thread.join();
  }
  int Port() const { return port; }
  const std::string& Received() const { return received; }
  const std::string& Quit() const { return quit; }

 private:
  static bool Send(int fd, const std::string& text, int trickleMs) {
    if (trickleMs == 0) return platform::SendAll(fd, text);
    for (const char c : text) {
      if (!platform::SendAll(fd, std::string_view(&c, 1))) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(trickleMs));
    }
    return true;
  }
  static std::string ReadLine(int fd) {
    std::string line;
    char c = 0;
    while (platform::Receive(fd, std::span<char>(&c, 1)) == 1) {
      line += c;
      if (c == '\n') break;
    }
    return line;
  }
  platform::ListenResult listening;
  int port = 0;
  std::thread thread;
  std::string received, quit;
};

// A digest text: 64 hexadecimal digits.
const std::string kDigest = "F539FEA9E562966ECC4441EBBDB3B22C4DB9F86D566C59F372C833E71FA986D1";
const EngineLimits kLimits;

TEST(RequestHash, ReadsTheDigestAfterOkHash) {
  ScriptedServer server("Quilmarend 3,1,0,10\r\n", "OK: Hash=" + kDigest + "  \r\n");
  EXPECT_EQ(RequestHash("http://host/doc.xml?x", "127.0.0.1", server.Port(), kLimits), kDigest);
  EXPECT_EQ(server.Received(), "GETHASH http://host/doc.xml?x\r\n");
}

// Only a whole digest on the reply's first line is taken: nothing else a peer sends reaches an
// answer or the log.
TEST(RequestHash, OnlyAWholeDigestOnTheFirstLineCounts) {
  std::string lower = kDigest;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  struct Case {
    std::string reply, digest;  // "" when refused with 5921
  };
  const Case kCases[] = {
      {"OK: Hash=ABCD\r\nCheckSignature: OK\r\n", ""},
      {"OK: Hash=" + kDigest + "\r\nCheckSignature: OK\r\n.\r\n", kDigest},
      {"OK: Hash=" + lower + "\r\n", lower},
      {"OK: Hash=" + kDigest.substr(1) + "\r\n", ""},
      {"OK: Hash=" + kDigest + "0\r\n", ""},
      {"OK: Hash=" + kDigest.substr(1) + "G\r\n", ""},
      {"OK: Hash=" + kDigest.substr(0, 32) + "\r" + kDigest.substr(32) + "\r\n", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.reply);
    ScriptedServer server("hi\r\n", c.reply);
    EXPECT_EQ(RequestHash("file:///x", "127.0.0.1", server.Port(), kLimits), c.digest);
    if (c.digest.empty()) {
      EXPECT_EQ(platform::GetLastError(), platform::HASH_SERVER_BAD_REPLY);
    }
  }
}

TEST(RequestHash, FailuresLeaveTheirCodes) {
  // A port with nobody listening: the connection is refused.
  // A port held by a socket that does not listen: the connection is refused.
  const platform::UniqueFd bound(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(bound.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const int closedPort = platform::LocalPort(bound.get());
  EXPECT_EQ(RequestHash("file:///x", "127.0.0.1", closedPort, kLimits), "");
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_CONNECTION_REFUSED);
  // A connect that is never answered (the listener's one-place queue is taken) ends at its limit.
  const platform::ListenResult full = platform::OpenListenSocket(0, 0);
  const int fullPort = platform::LocalPort(full.fd.get());
  bool resolveFailed = false;
  uint32_t resolverCode = 0;
  const platform::UniqueFd queued =
      platform::ConnectTcp("127.0.0.1", fullPort, 2000, &resolveFailed, &resolverCode);
  ASSERT_TRUE(queued);
  EngineLimits shortConnect;
  shortConnect.hashServerConnect = std::chrono::milliseconds(50);
  EXPECT_EQ(RequestHash("file:///x", "127.0.0.1", fullPort, shortConnect), "");
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_CONNECTION_REFUSED);

  {
    ScriptedServer server("", "", false);  // closes without a greeting
    EXPECT_EQ(RequestHash("file:///x", "127.0.0.1", server.Port(), kLimits), "");
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_READ_FAULT);
  }
  {
    ScriptedServer server("hello\r\n", "error: couldn't calculate hash\r\n", false);
    EXPECT_EQ(RequestHash("file:///x", "127.0.0.1", server.Port(), kLimits), "");
    EXPECT_EQ(platform::GetLastError(), 5921u);
  }
  {
    // Greeting and reply in one piece are read as one line: the reply test then fails.
    ScriptedServer server("hello\r\nOK: Hash=AB\r\n", "", false);
    EXPECT_EQ(RequestHash("file:///x", "127.0.0.1", server.Port(), kLimits), "");
    EXPECT_EQ(platform::GetLastError(), 5921u);
  }
}

TEST(RequestHash, SlowOrEndlessRepliesAreBounded) {
  using std::chrono::milliseconds;
  struct Case {
    const char* why;
    std::string greeting, reply;
    int trickleMs;
    milliseconds limit;
    std::string digest;  // "" when the call fails with `error`
    uint32_t error;
  };
  const std::string over(70000, 'A');   // past the 64 KiB a reply line may hold
  const std::string under(60000, ' ');  // trailing blanks, removed
  const Case kCases[] = {
      {"greeting trickled a byte per 10 ms", std::string(200, 'h') + "\r\n", "OK: Hash=AB\r\n", 10,
       milliseconds(100), "", platform::ERROR_READ_FAULT},
      {"reply trickled a byte per 10 ms", "h\n", "OK: Hash=" + std::string(200, 'A') + "\r\n", 10,
       milliseconds(100), "", platform::HASH_SERVER_BAD_REPLY},
      {"reply line over 64 KiB", "hi\r\n", "OK: Hash=" + over + "\r\n", 0, milliseconds(10000), "",
       platform::HASH_SERVER_BAD_REPLY},
      {"reply line under 64 KiB", "hi\r\n", "OK: Hash=" + kDigest + under + "\r\n", 0,
       milliseconds(10000), kDigest, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    ScriptedServer server(c.greeting, c.reply, false, c.trickleMs);
    EngineLimits limits;
    limits.hashServerExchange = c.limit;
    const std::string digest = RequestHash("file:///x", "127.0.0.1", server.Port(), limits);
    EXPECT_TRUE(digest == c.digest) << digest.size() << " characters";  // too long to print
    if (c.digest.empty()) {
      EXPECT_EQ(platform::GetLastError(), c.error);
    }
  }
}

TEST(RequestHash, EmptyDigestIsReturnedEmpty) {
  ScriptedServer server("hi\r\n", "OK: Hash=\r\n");
  EXPECT_EQ(RequestHash("file:///x", "127.0.0.1", server.Port(), kLimits), "");
  EXPECT_EQ(platform::GetLastError(), platform::HASH_SERVER_BAD_REPLY);
  EXPECT_EQ(server.Quit(), "QUIT\r\n");
}

TEST(GetHash, PortAfterTheColonOrTheDefault) {
  ScriptedServer server("hi\r\n", "OK: Hash=" + kDigest + "\r\n");
  EXPECT_EQ(GetHash("file:///x", "127.0.0.1:" + std::to_string(server.Port()), {}), kDigest);
  struct Case {
    std::string setting, host;
    int port;
  };
  const Case kCases[] = {
      {"hashes.example", "hashes.example", 3847},
      {"hashes.example:0", "hashes.example", 3847},
      {"hashes.example:abc", "hashes.example", 3847},
      {"h:12x", "h", 12},
      {"h:99999", "h", 3847},
      {":5", ":5", 3847},
      {"localhost:3848", "localhost", 3848},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.setting);
    const HashServerAddress address = ParseHashServer(c.setting);
    EXPECT_EQ(address.host, c.host);
    EXPECT_EQ(address.port, c.port);
  }
}

}  // namespace
}  // namespace verify
