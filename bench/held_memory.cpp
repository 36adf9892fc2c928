// The held-memory benchmark: whether the memory of large data blocks goes back to the system once
// the connections that held them have ended. The server binary runs as a child process, so that
// the clients' memory stays out of the figures. --connections connections (16) each send one STRS
// block of --mib MiB (119) in lines of --line bytes (76, as Base64 is usually wrapped; a client
// that does not wrap sends long lines) and wait for its answer, so that all the blocks are held at
// once; then every connection sends QUIT and waits for the close. That is one round;
// --rounds (3) run one after the other against the same server, since the C library keeps more
// after a first large release than before it. The server's VmRSS is read when it listens (idle),
// its VmRSS and VmHWM once every block of a round is held (the peak includes the moments when a
// growing block is copied; the mark is reset through /proc/PID/clear_refs before each round), and
// its VmRSS 5 s after the round's last connection closed.
// The lines to track (the target is judged on every round):
//   HeldMemory server VmRSS 14.1 MiB idle
//   HeldMemory round 1: VmRSS 1931.0 MiB (peak 2650.2 MiB) with 16 blocks of 119 MiB in 76-byte
//   lines held, 15.0 MiB 5 s after they left (target within 64 MiB of idle: met)
// The blocks fit the default limits (128 MiB per connection, 2048 MiB for all); a refused block or
// a server that ends makes the exit status 1. The server's log goes to server.log in a temporary
// state folder.
//
// Example:
//   build/bench/held_memory
//   build/bench/held_memory --line=200000                         # long lines
//   build/bench/held_memory --connections=4 --mib=32 --rounds=1  # a quick try

#include <chrono>
#include <cstdio>
#include <fstream>
#include <latch>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/load_support.h"
#include "tests/test_client.h"

namespace bench {
namespace {

const Names kNames{"held_memory", "HeldMemory"};
constexpr long kTargetKib = 64 * 1024;
constexpr std::chrono::seconds kSettle{5};
// Receiving a large block while others arrive may take a while; a silent server still ends the run.
constexpr int kAnswerTimeoutMs = 5 * 60 * 1000;

struct Options {
  int connections = 16;
  int mib = 119;
  int rounds = 3;
  size_t lineBytes = 76;  // without the CR LF
};

// ParseOptions reads --connections=N, --mib=N, --rounds=N and --line=N; nullopt on anything else.
std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!ReadCount(argument, "--connections=", 100, options.connections) &&
        !ReadCount(argument, "--mib=", 1024, options.mib) &&
        !ReadCount(argument, "--rounds=", 100, options.rounds) &&
        !ReadCount(argument, "--line=", size_t{64} << 20, options.lineBytes)) {
      return std::nullopt;
    }
  }
  return options;
}

// BlockBody is `mib` MiB of Base64-like lines of `lineBytes` bytes, each ended by CR LF, without
// the closing ".".
std::string BlockBody(int mib, size_t lineBytes) {
  const size_t bytes = static_cast<size_t>(mib) << 20;
  std::string line;
  for (size_t i = 0; i < lineBytes; ++i) line += static_cast<char>('A' + i % 26);
  line += "\r\n";
  std::string body;
  body.reserve(bytes + line.size());
  while (body.size() + line.size() <= bytes) body += line;
  return body;
}

// Holder is one connection: it sends its block, reports it held, waits for `leave`, then quits.
// `failure` is empty when every step went as expected.
struct Holder {
  std::string failure;

  void Run(int port, const std::string& body, std::latch& held, std::latch& leave) {
    std::optional<tests::TestClient> client = tests::TestClient::Connect(port);
    if (!client || client->ReadGreeting().empty()) {
      failure = "cannot connect";
    } else {
      client->Send("STRS\r\n");
      client->ReadLine();  // "OK: Getting data, ..."
      client->Send(body);
      client->Send(".\r\n");
      const std::string answer = client->ReadLine(kAnswerTimeoutMs);
      if (answer != "OK: String stored\r\n") failure = "block refused: " + answer;
    }
    held.count_down();
    leave.wait();
    if (client && failure.empty()) {
      client->Send("QUIT\r\n");
      if (!client->WaitClosed(kAnswerTimeoutMs)) failure = "not closed after QUIT";
    }
  }
};

// ResetPeak starts `pid`'s VmHWM afresh from its VmRSS; false when it cannot.
bool ResetPeak(pid_t pid) {
  std::ofstream clear("/proc/" + std::to_string(pid) + "/clear_refs");
  clear << "5";
  clear.flush();
  return clear.good();
}

// Round is what one round measured of the server, in KiB.
struct Round {
  long held = -1;     // VmRSS once every block is held
  long peak = -1;     // VmHWM up to then
  long settled = -1;  // VmRSS 5 s after the last connection closed
};

// RunRound holds a block on each of `options.connections` connections to `server` at once, then
// lets them all quit; nullopt (the reason on standard error) when a block is refused, the server
// ends or its memory cannot be read.
std::optional<Round> RunRound(const Options& options, const std::string& body, int port,
                              ServerProcess& server) {
  if (!ResetPeak(server.Pid())) {
    std::fprintf(stderr, "held_memory: cannot reset the peak of %d\n", server.Pid());
    return std::nullopt;
  }
  std::latch held(options.connections);
  std::latch leave(1);
  std::vector<Holder> holders(options.connections);
  std::vector<std::thread> threads;
  for (Holder& holder : holders) {
    threads.emplace_back([&] { holder.Run(port, body, held, leave); });
  }
  held.wait();
  Round round;
  round.held = ResidentKib(server.Pid(), "VmRSS");
  round.peak = ResidentKib(server.Pid(), "VmHWM");
  leave.count_down();
  for (std::thread& thread : threads) thread.join();
  std::this_thread::sleep_for(kSettle);
  round.settled = ResidentKib(server.Pid(), "VmRSS");
  for (const Holder& holder : holders) {
    if (!holder.failure.empty()) {
      std::fprintf(stderr, "held_memory: %s\n", holder.failure.c_str());
      return std::nullopt;
    }
  }
  if (round.held < 0 || round.peak < 0 || round.settled < 0 || server.Exited()) {
    std::fprintf(stderr, "held_memory: the server ended\n");
    return std::nullopt;
  }
  return round;
}

int Run(const Options& options, const std::string& folder) {
  const std::string body = BlockBody(options.mib, options.lineBytes);
  const int port = FreePort();
  ServerProcess server(QUILMAREND_BINARY, port, folder + "/server.log");
  if (!server.WaitListening(port, kNames)) return 1;
  const long idle = ResidentKib(server.Pid(), "VmRSS");
  if (idle < 0) {
    std::fprintf(stderr, "held_memory: cannot read /proc/%d/status\n", server.Pid());
    return 1;
  }
  std::printf("HeldMemory server VmRSS %.1f MiB idle\n", Mib(idle));
  for (int i = 1; i <= options.rounds; ++i) {
    const std::optional<Round> round = RunRound(options, body, port, server);
    if (!round) return 1;
    std::printf(
        "HeldMemory round %d: VmRSS %.1f MiB (peak %.1f MiB) with %d blocks of %d MiB in %zu-byte "
        "lines held, %.1f MiB %lld s after they left (target within 64 MiB of idle: %s)\n",
        i, Mib(round->held), Mib(round->peak), options.connections, options.mib, options.lineBytes,
        Mib(round->settled), static_cast<long long>(kSettle.count()),
        Verdict(round->settled - idle <= kTargetKib));
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  const std::optional<bench::Options> options = bench::ParseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: held_memory [--connections=N] [--mib=N] [--rounds=N] [--line=N]\n");
    return 2;
  }
  const bench::StateFolder folder("quilmarend-held");
  if (!bench::UseAsHome(folder, bench::kNames)) return 1;
  return bench::Run(*options, folder.Path());
}
