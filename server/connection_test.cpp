#include "server/connection.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/base/unique_fd.h"
#include "platform/os/socket.h"

namespace server {
namespace {

class NoRequests : public RequestHandler {
 public:
  RequestAnswer Check(std::string_view, const ConnectionSettings&, ConnectionData&,
                      const ClientGone&) override {
    return {};
  }
  RequestAnswer AddTimestamp(const ConnectionSettings&, ConnectionData&) override { return {}; }
  std::string GetHash(const std::string&, const std::string&, const ClientGone&) override {
    return {};
  }
};

// Peer is a conversation over a socket pair, served by Converse on a thread of its own.
class Peer {
 public:
  Peer(const Limits& limits, HeldBudget& budget) {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    client = platform::UniqueFd(fds[0]);
    platform::SetSocketTimeouts(fds[0], 20000);
    server = std::thread([limits, &budget, fd = fds[1]] {
      NoRequests handler;
      (void)Converse(fd, "3,1,0,10", handler, limits, budget);
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

  // Stream sends `piece` `count` times, after each reading what the server sends for up to `pause`;
  // false when it closes.
  bool Stream(const std::string& piece, int count, std::chrono::milliseconds pause) {
    for (int i = 0; i < count; ++i) {
      if (!platform::SendAll(client.get(), piece)) return false;
      pollfd waiter{client.get(), POLLIN, 0};
      char answer[256];
      if (poll(&waiter, 1, static_cast<int>(pause.count())) > 0 &&
          recv(client.get(), answer, sizeof answer, 0) <= 0) {
        return false;
      }
    }
    return true;
  }

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

// Block is a whole block of about `kib` KiB in lines of 1 KiB.
std::string Block(const char* command, size_t kib) {
  std::string block = std::string(command) + "\r\n";
  for (size_t i = 0; i < kib; ++i) block += std::string(1022, 'x') + "\r\n";
  return block + ".\r\n";
}

TEST(Converse, EndsConnectionsThatHoldTooMuchAloneOrTogether) {
  // Two connections, each allowed 8 MiB, share a budget; `first` is sent (and answered) before
  // `second`. A budget is given back when its connection ends. Blocks take memory in pieces of
  // 1 MiB, and the reader keeps a buffer of 128 KiB.
  struct Case {
    const char* name;
    uint64_t budgetMib;
    std::string first, second;
    bool firstOpen, secondOpen;
  };
  const Case kCases[] = {
      {"within both limits", 32, Block("STRS", 3 << 10) + Block("SIGN", 3 << 10),
       Block("CERT", 7 << 10), true, true},
      {"finished blocks count", 32, Block("STRS", 5 << 10) + Block("SIGN", 4 << 10), "", false,
       true},
      {"so does the unfinished line", 32, Block("CERT", 5 << 10) + std::string(4 << 20, 'u'), "",
       false, true},
      // 6.5 MiB take 7 MiB, where a string doubling from its first line would take 8 MiB.
      {"a block takes about what it holds", 32, Block("STRS", 6656), "", true, true},
      {"a replaced block counts once", 32, Block("STRS", 5 << 10) + Block("STRS", 5 << 10), "",
       true, true},
      {"passing the shared budget", 8, Block("STRS", 5 << 10), Block("CERT", 5 << 10), true, false},
      {"after the first has ended", 8, Block("STRS", 5 << 10) + "QUIT\r\n", Block("CERT", 5 << 10),
       false, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    HeldBudget budget(c.budgetMib << 20);
    Limits limits;
    limits.maxHeldBytes = size_t{8} << 20;
    Peer first(limits, budget);
    EXPECT_EQ(first.Open(c.first), c.firstOpen);
    Peer second(limits, budget);
    EXPECT_EQ(second.Open(c.second), c.secondOpen);
  }
}

TEST(Converse, EndsALineThatArrivesTooSlowlyAndOnlyThat) {
  // A line may take 100 ms here, and longer at 64 KiB/s or faster. Each piece is followed by a
  // pause of 5 ms, so the piece's size sets the pace: 200 bytes/s for a byte, 12.8 MiB/s for
  // 64 KiB. A trickle that is not ended goes on for 2000 pieces (10 s) and is then answered.
  struct Case {
    const char* name;
    std::string first, piece;
    int count;
    std::string last;
    bool open;
  };
  const Case kCases[] = {
      {"a trickling line ends", "", "x", 2000, "\r\n", false},
      {"so does a trickling block line", "STRS\r\n", "x", 2000, "\r\n.\r\n", false},
      {"a fast long line does not", "", std::string(64 << 10, 'f'), 60, "\r\n", true},
      // Each piece ends a line and begins the next one.
      {"nor does a slow block of short lines", "STRS\r\nli", "ne\r\nli", 60, "ne\r\n.\r\n", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    HeldBudget budget(uint64_t{64} << 20);
    Limits limits;
    limits.maxHeldBytes = size_t{16} << 20;
    limits.slowLineAllowance = std::chrono::milliseconds(100);
    Peer peer(limits, budget);
    const std::chrono::milliseconds pause(5);
    EXPECT_EQ(
        peer.Stream(c.first, 1, pause) && peer.Stream(c.piece, c.count, pause) && peer.Open(c.last),
        c.open);
  }
}

}  // namespace
}  // namespace server
