#include "server/connection.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/socket.h"
#include "platform/unique_fd.h"

namespace server {
namespace {

class NoRequests : public RequestHandler {
 public:
  void Check(std::string_view, const ConnectionSettings&, ConnectionData&, AnswerSink&) override {}
  void AddTimestamp(const ConnectionSettings&, ConnectionData&, AnswerSink&) override {}
  std::string GetHash(const std::string&, const std::string&) override { return {}; }
};

// Peer is a conversation over a socket pair, served by Converse on a thread of its own.
class Peer {
 public:
  explicit Peer(const ConnectionLimits& limits) {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    client = platform::UniqueFd(fds[0]);
    platform::SetSocketTimeouts(fds[0], 20000);
    server = std::thread([limits, fd = fds[1]] {
      NoRequests handler;
      (void)Converse(fd, "3,1,0,10", handler, limits);
      close(fd);
    });
  }
  ~Peer() {
    client.reset();
    server.join();
  }

  // Open sends `bytes`, then MD5ON twice, the second after the first answer, so that the server
  // has counted what `bytes` left it holding; true when both answers come.
  bool Open(const std::string& bytes) { return Ask(bytes + "MD5ON\r\n") && Ask("MD5ON\r\n"); }

 private:
  // Ask sends `bytes` and reads up to the answer to MD5ON; false when the server closes first.
  bool Ask(const std::string& bytes) {
    (void)platform::SendAll(client.get(), bytes);  // a refused send shows in the reading below
    for (std::string received; received.size() < 4096;) {
      if (received.find("OK: File hash on\r\n") != std::string::npos) return true;
      char buffer[4096];
      const ssize_t n = platform::Receive(client.get(), std::span<char>(buffer, sizeof buffer));
      if (n <= 0) return false;
      received.append(buffer, static_cast<size_t>(n));
    }
    return false;
  }

  platform::UniqueFd client;
  std::thread server;
};

std::string Block(const char* command, size_t kib) {
  return std::string(command) + "\r\n" + std::string(kib << 10, 'x') + "\r\n.\r\n";
}

TEST(Converse, EndsConnectionsThatHoldTooMuchAloneOrTogether) {
  // Two connections, each allowed 1 MiB, share a budget; `first` is sent (and answered) before
  // `second`. A budget is given back when its connection ends.
  struct Case {
    const char* name;
    uint64_t budgetKib;
    std::string first, second;
    bool firstOpen, secondOpen;
  };
  const Case kCases[] = {
      {"within both limits", 4096, Block("STRS", 400) + Block("SIGN", 400), Block("CERT", 900),
       true, true},
      {"finished blocks count", 4096, Block("STRS", 600) + Block("SIGN", 600), "", false, true},
      {"so does the unfinished line", 4096, Block("CERT", 600) + std::string(600 << 10, 'u'), "",
       false, true},
      {"a replaced block counts once", 4096, Block("STRS", 600) + Block("STRS", 600), "", true,
       true},
      {"passing the shared budget", 1024, Block("STRS", 600), Block("CERT", 600), true, false},
      {"after the first has ended", 1024, Block("STRS", 600) + "QUIT\r\n", Block("CERT", 600),
       false, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    HeldBudget budget(c.budgetKib << 10);
    const ConnectionLimits limits{size_t{1} << 20, &budget};
    Peer first(limits);
    EXPECT_EQ(first.Open(c.first), c.firstOpen);
    Peer second(limits);
    EXPECT_EQ(second.Open(c.second), c.secondOpen);
  }
}

}  // namespace
}  // namespace server
