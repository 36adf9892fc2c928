#include "server/connection.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"

namespace server {
namespace {

class NoRequests : public RequestHandler {
 public:
  void Check(std::string_view, const ConnectionSettings&, ConnectionData&, AnswerSink&) override {}
  void AddTimestamp(const ConnectionSettings&, ConnectionData&, AnswerSink&) override {}
  std::string GetHash(const std::string&, const std::string&) override { return {}; }
};

// Peer is one conversation over a socket pair, served by Converse on a thread of its own.
class Peer {
 public:
  Peer(NoRequests& handler, const ConnectionLimits& limits) {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    client = platform::UniqueFd(fds[0]);
    server = std::thread([&handler, limits, fd = fds[1]] {
      (void)Converse(fd, "3,1,0,10", handler, limits);
      close(fd);
    });
  }
  ~Peer() {
    client.reset();
    server.join();
  }

  // Open sends `bytes` and then "MD5ON"; true when the answer to MD5ON comes, false when the
  // server ends the conversation instead. A second MD5ON, sent after the first answer, comes back
  // only after the server has counted what the first part left it holding.
  bool Open(const std::string& bytes) { return Ask(bytes + "MD5ON\r\n", 1) && Ask("MD5ON\r\n", 2); }

 private:
  bool Ask(const std::string& bytes, size_t answers) {
    for (size_t sent = 0; sent < bytes.size();) {
      const ssize_t n = send(client.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;  // the server has closed: the reading below sees it
      sent += static_cast<size_t>(n);
    }
    for (;;) {
      size_t seen = 0;
      for (size_t at = received.find(kAnswer); at != std::string::npos;
           at = received.find(kAnswer, at + 1)) {
        ++seen;
      }
      if (seen >= answers) return true;
      pollfd waiting{client.get(), POLLIN, 0};
      char buffer[4096];
      if (poll(&waiting, 1, 20000) != 1) return false;
      const ssize_t n = read(client.get(), buffer, sizeof buffer);
      if (n <= 0) return false;
      received.append(buffer, static_cast<size_t>(n));
    }
  }

  static constexpr std::string_view kAnswer = "OK: File hash on\r\n";
  platform::UniqueFd client;
  std::thread server;
  std::string received;
};

std::string Block(const char* command, size_t kib) {
  return std::string(command) + "\r\n" + std::string(kib << 10, 'x') + "\r\n.\r\n";
}

TEST(Converse, EndsConnectionsThatHoldTooMuchAloneOrTogether) {
  // Two connections, each allowed 1 MiB, share a budget; `first` is sent (and answered) before
  // `second`. The per-connection limit counts finished blocks and the unfinished line too.
  struct Case {
    const char* name;
    uint64_t budgetKib;
    std::string first, second;
    bool firstOpen, secondOpen;
  };
  const std::string unfinishedLine(600 << 10, 'u');
  const Case kCases[] = {
      {"within both limits", 4096, Block("STRS", 400) + Block("SIGN", 400), Block("CERT", 900),
       true, true},
      {"finished blocks together", 4096, Block("STRS", 600) + Block("SIGN", 600), "", false, true},
      {"block and unfinished line", 4096, Block("HASHEDXML", 600) + unfinishedLine, "", false,
       true},
      {"a block replaced is counted once", 4096, Block("STRS", 600) + Block("STRS", 600), "", true,
       true},
      {"the connection that passes the budget", 1024, Block("STRS", 600), Block("CERT", 600), true,
       false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    NoRequests handler;
    HeldBudget budget(c.budgetKib << 10);
    const ConnectionLimits limits{size_t{1} << 20, &budget};
    Peer first(handler, limits);
    Peer second(handler, limits);
    EXPECT_EQ(first.Open(c.first), c.firstOpen);
    EXPECT_EQ(second.Open(c.second), c.secondOpen);
  }
}

TEST(Converse, GivesItsShareBackWhenItEnds) {
  NoRequests handler;
  HeldBudget budget(1 << 20);
  const ConnectionLimits limits{size_t{1} << 20, &budget};
  {
    Peer quitting(handler, limits);
    EXPECT_TRUE(quitting.Open(Block("STRS", 600)));
  }
  Peer next(handler, limits);
  EXPECT_TRUE(next.Open(Block("STRS", 600)));
}

}  // namespace
}  // namespace server
