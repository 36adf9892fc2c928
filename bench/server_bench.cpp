// Benchmarks of the connection layer, each against a baseline measured in the same run, since
// absolute rates belong to the machine:
//  - RoundTrips: settings-command round trips per second over kConnections connections to an
//    in-process TCPServer, against a trivial line server (one thread per connection, buffered
//    recv, one fixed answer per line) driven by the same client threads.
//  - StrsIngest: the time to take in a 64 MiB STRS block through Converse (64 KiB receives into a
//    LineReader, lines into a Session), against a reader doing one recv per byte into the same
//    Session, with the same sender over loopback.
// After the usual table it prints the ratios to track:
//   RoundTrips ours/baseline 0.93     (rates: above 1 means our server answers faster)
//   StrsIngest onebyte/buffered 45.1  (times: how many times faster the buffered reader is)
//
// Example:
//   build/bench/server_bench
//   build/bench/server_bench --benchmark_filter=RoundTrips

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <latch>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/base/debug_output.h"
#include "platform/base/log.h"
#include "platform/base/names.h"
#include "platform/base/unique_fd.h"
#include "platform/os/memory.h"
#include "platform/os/socket.h"
#include "server/connection.h"
#include "server/server_texts.h"
#include "server/session.h"
#include "server/tcp_server.h"
#include "verify/base64.h"

namespace bench {
namespace {

constexpr int kConnections = 50;
constexpr std::string_view kCommand = "B64ON\r\n";
constexpr std::string_view kAnswer = "OK: String will decoded\r\n";
// Round trips over 50 connections on a small machine vary by a fifth from run to run; the
// summary takes the median of several runs.
constexpr int kRoundTripRepetitions = 5;
constexpr int kGreetingLines = 2;  // "Quilmarend <version>" and an empty line
constexpr size_t kBlockBytes = size_t{64} << 20;
constexpr size_t kLineBytes = 76 + 2;         // 76 Base64 characters and CR LF
constexpr size_t kBytesPerLine = 76 / 4 * 3;  // what one full line of Base64 encodes
constexpr int kSocketTimeoutMs = 20000;

// ConnectLoopback opens a blocking connection to 127.0.0.1:`port`; none on failure.
platform::UniqueFd ConnectLoopback(int port) {
  bool resolveFailed = false;
  uint32_t resolverCode = 0;
  platform::UniqueFd fd = platform::ConnectTcp("127.0.0.1", static_cast<uint16_t>(port),
                                               kSocketTimeoutMs, &resolveFailed, &resolverCode);
  if (fd) platform::SetSocketTimeouts(fd.get(), kSocketTimeoutMs);
  return fd;
}

// LineClient is one benchmark client: it sends commands and reads answers line by line.
class LineClient {
 public:
  explicit LineClient(int port) : fd(ConnectLoopback(port)) {}

  bool Connected() const { return static_cast<bool>(fd); }
  bool Send(std::string_view bytes) { return platform::SendAll(fd.get(), bytes); }

  // ReadLine returns the next line through its LF; empty when the peer closed, failed or was
  // silent for kSocketTimeoutMs first.
  std::string ReadLine() {
    for (;;) {
      const size_t end = buffer.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer.substr(0, end + 1);
        buffer.erase(0, end + 1);
        return line;
      }
      char chunk[4096];
      const ssize_t received = platform::Receive(fd.get(), chunk);
      if (received <= 0) return {};
      buffer.append(chunk, static_cast<size_t>(received));
    }
  }

 private:
  platform::UniqueFd fd;
  std::string buffer;
};

// FixedAnswerServer is the round-trip baseline, about the least a line server over TCP does: one
// thread per connection receives with a buffered recv and sends kAnswer for every line feed.
class FixedAnswerServer {
 public:
  FixedAnswerServer() {
    platform::ListenResult listening = platform::OpenListenSocket(0, kConnections * 2);
    listen = std::move(listening.fd);
    if (listen) acceptor = std::thread(&FixedAnswerServer::AcceptLoop, this);
  }

  // The destructor wakes the acceptor and every open connection, then joins them all.
  ~FixedAnswerServer() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
      if (listen) platform::ShutdownSocket(listen.get());
      for (const auto& connection : connections) platform::ShutdownSocket(connection->fd.get());
    }
    if (acceptor.joinable()) acceptor.join();
    for (const auto& connection : connections) connection->thread.join();
  }

  FixedAnswerServer(const FixedAnswerServer&) = delete;
  FixedAnswerServer& operator=(const FixedAnswerServer&) = delete;

  // Port is the listening port, 0 when the server could not listen.
  int Port() const { return listen ? platform::LocalPort(listen.get()) : 0; }

 private:
  // The connection's descriptor stays open until its thread has been joined, so that a stop never
  // shuts down a number the system has handed out again.
  struct Connection {
    platform::UniqueFd fd;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void AcceptLoop() {
    for (;;) {
      platform::UniqueFd fd = platform::AcceptConnection(listen.get());
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping) return;
      if (!fd) continue;
      // Join the connections that have ended, so that repeated runs do not pile up threads.
      std::erase_if(connections, [](const std::unique_ptr<Connection>& connection) {
        if (!connection->done) return false;
        connection->thread.join();
        return true;
      });
      auto connection = std::make_unique<Connection>();
      connection->fd = std::move(fd);
      connection->thread = std::thread(&FixedAnswerServer::Serve, connection.get());
      connections.push_back(std::move(connection));
    }
  }

  static void Serve(Connection* connection) {
    char chunk[4096];
    for (;;) {
      const ssize_t received = platform::Receive(connection->fd.get(), chunk);
      if (received <= 0) break;
      const std::string_view bytes(chunk, static_cast<size_t>(received));
      bool sent = true;
      for (const char c : bytes) {
        if (c == '\n') sent = sent && platform::SendAll(connection->fd.get(), kAnswer);
      }
      if (!sent) break;
    }
    connection->done = true;
  }

  platform::UniqueFd listen;
  std::thread acceptor;
  std::mutex mutex;  // guards `connections` and `stopping` between the acceptor and the stop
  std::vector<std::unique_ptr<Connection>> connections;
  bool stopping = false;
};

// RunRoundTrips is one client thread of the round-trip benchmark: its own connection, opened and
// greeted before the clock starts, then one command and its answer per iteration.
void RunRoundTrips(benchmark::State& state, int port, int greetingLines) {
  LineClient client(port);
  bool failed = !client.Connected();
  for (int i = 0; i < greetingLines && !failed; ++i) failed = client.ReadLine().empty();
  // After an error the loop runs no iteration; every thread still has to reach it.
  if (failed) state.SkipWithError("cannot connect or no greeting");
  for (auto _ : state) {
    // A failure inside the loop skips the rest of the iterations without leaving the loop, which
    // every thread of a threaded benchmark has to finish together.
    if (failed) continue;
    failed = !client.Send(kCommand) || client.ReadLine() != kAnswer;
    if (failed) state.SkipWithError("wrong or missing answer");
  }
  state.SetItemsProcessed(state.iterations());
}

// SocketSink sends every answer to the socket, as a connection does.
class SocketSink : public server::AnswerSink {
 public:
  explicit SocketSink(int socketFd) : fd(socketFd) {}
  void Send(std::string_view answer) override { (void)platform::SendAll(fd, answer); }

 private:
  int fd;
};

// TakingHandler takes the document out of the connection at CHECK, so that it can be compared
// with what was sent after the clock has stopped.
class TakingHandler : public server::RequestHandler {
 public:
  server::RequestAnswer Check(std::string_view, const server::ConnectionSettings&,
                              server::ConnectionData& data) override {
    document.swap(data.documentText);
    return {"OK: checked\r\n.\r\n", "checked"};
  }
  server::RequestAnswer AddTimestamp(const server::ConnectionSettings&,
                                     server::ConnectionData&) override {
    return {"error: CAdES not supported\r\n", "refused"};
  }
  std::string GetHash(const std::string&, const std::string&) override { return {}; }

  std::string document;
};

// OneByteConverse holds the conversation the way a reader doing one recv per byte would: the
// greeting, then each line built byte by byte and handed to a Session, until QUIT or the close.
void OneByteConverse(int fd, const std::string& version, server::RequestHandler& handler) {
  SocketSink sink(fd);
  sink.Send(platform::FormatText(server::texts::kGreetingFormat, platform::kProgramName,
                                 version.c_str()));
  server::Session session(handler, sink);
  std::string line;
  char byte = 0;
  while (platform::Receive(fd, std::span<char>(&byte, 1)) == 1) {
    line += byte;
    if (byte != '\n') continue;
    if (!session.HandleLine(line)) return;
    line.clear();
  }
}

// IngestFixture is the STRS block and the socket it is sent to, made once before any timing.
struct IngestFixture {
  platform::UniqueFd listen;
  int port = 0;
  std::string document;  // the block as the session stores it: 76-character lines joined by CR LF
  std::string payload;   // what the client sends: the block command, the block, CHECK and QUIT
};

IngestFixture MakeIngestFixture() {
  IngestFixture fixture;
  fixture.listen = platform::OpenListenSocket(0, 4).fd;
  if (fixture.listen) fixture.port = platform::LocalPort(fixture.listen.get());
  const size_t lines = (kBlockBytes + kLineBytes - 1) / kLineBytes;
  std::vector<uint8_t> bytes(lines * kBytesPerLine);
  std::mt19937 generator(3847);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(generator());
  fixture.document = verify::Base64Encode(bytes);
  fixture.payload = "STRS\r\n" + fixture.document + "\r\n.\r\nCHECK\r\nQUIT\r\n";
  return fixture;
}

enum class Reader { kBuffered, kOneByte };

// RunStrsIngest times, per iteration, one connection taking in the whole payload: from the
// sender's start until the reader has seen QUIT. Connecting and checking stay outside the clock.
void RunStrsIngest(benchmark::State& state, const IngestFixture& fixture, Reader reader) {
  for (auto _ : state) {
    platform::UniqueFd client = ConnectLoopback(fixture.port);
    platform::UniqueFd accepted;
    if (client) accepted = platform::AcceptConnection(fixture.listen.get());
    if (!accepted) {
      state.SkipWithError("cannot connect");
      break;
    }
    TakingHandler handler;
    const server::Limits limits;
    server::HeldBudget budget(limits.maxHeldBytesTogether);
    std::latch go(1);
    std::jthread sender([&] {
      go.wait();
      (void)platform::SendAll(client.get(), fixture.payload);
      char answers[4096];
      while (platform::Receive(client.get(), answers) > 0) {
      }
    });
    const auto start = std::chrono::steady_clock::now();
    go.count_down();
    if (reader == Reader::kBuffered) {
      server::Converse(accepted.get(), platform::kVersion, handler, limits, budget);
    } else {
      OneByteConverse(accepted.get(), platform::kVersion, handler);
    }
    const auto stop = std::chrono::steady_clock::now();
    accepted.reset();  // the sender sees the close and returns
    sender.join();
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    if (handler.document != fixture.document) {
      state.SkipWithError("the block arrived changed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fixture.payload.size()));
}

// SummaryReporter prints the usual table and keeps, per benchmark, the seconds per iteration and
// the items per second for the ratio lines: the median of the repetitions when there are several.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  struct Result {
    double secondsPerIteration = 0;
    double itemsPerSecond = 0;
    bool median = false;
  };

  // Colours only on a terminal: a reporter passed in does not follow --benchmark_color.
  SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if ((run.run_type != Run::RT_Iteration && !median) || run.error_occurred) continue;
      Result& result = results[run.run_name.function_name];
      if (result.median && !median) continue;
      result.median = median;
      result.secondsPerIteration =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      const auto items = run.counters.find("items_per_second");
      if (items != run.counters.end()) result.itemsPerSecond = items->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  const Result* Find(const std::string& name) const {
    const auto found = results.find(name);
    return found == results.end() ? nullptr : &found->second;
  }

 private:
  std::map<std::string, Result> results;
};

void PrintSummary(const SummaryReporter& reporter) {
  const SummaryReporter::Result* ours = reporter.Find("BM_RoundTrips_Ours");
  const SummaryReporter::Result* baseline = reporter.Find("BM_RoundTrips_Baseline");
  if (ours != nullptr && baseline != nullptr && baseline->itemsPerSecond > 0) {
    std::printf("RoundTrips ours %.0f/s baseline %.0f/s over %d connections\n",
                ours->itemsPerSecond, baseline->itemsPerSecond, kConnections);
    std::printf("RoundTrips ours/baseline %.2f\n", ours->itemsPerSecond / baseline->itemsPerSecond);
  }
  const SummaryReporter::Result* buffered = reporter.Find("BM_StrsIngest_Buffered");
  const SummaryReporter::Result* oneByte = reporter.Find("BM_StrsIngest_OneByte");
  if (buffered != nullptr && oneByte != nullptr && buffered->secondsPerIteration > 0) {
    std::printf("StrsIngest buffered %.1f ms onebyte %.1f ms for %zu MiB\n",
                buffered->secondsPerIteration * 1e3, oneByte->secondsPerIteration * 1e3,
                kBlockBytes >> 20);
    std::printf("StrsIngest onebyte/buffered %.1f\n",
                oneByte->secondsPerIteration / buffered->secondsPerIteration);
  }
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  // The server logs every connection; its lines would bury the table.
  platform::UseDebugChannelDescriptor(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  platform::MapLargeAllocations();  // as the server binary does, so that blocks cost what they do
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  // More workers than connections: a slot is briefly empty while it hands over to a new thread.
  server::ServerStart started = server::TCPServer::Start(0, bench::kConnections + 14);
  if (const std::string* failure = std::get_if<std::string>(&started)) {
    std::fprintf(stderr, "server_bench: %s\n", failure->c_str());
    return 1;
  }
  const std::unique_ptr<server::TCPServer> ours = std::move(std::get<0>(started));
  const int oursPort = ours->BoundPort();
  bench::FixedAnswerServer baseline;
  const int baselinePort = baseline.Port();
  const bench::IngestFixture ingest = bench::MakeIngestFixture();
  if (baselinePort == 0 || ingest.port == 0) {
    std::fprintf(stderr, "server_bench: cannot listen on loopback\n");
    return 1;
  }

  benchmark::RegisterBenchmark("BM_RoundTrips_Ours",
                               [oursPort](benchmark::State& state) {
                                 bench::RunRoundTrips(state, oursPort, bench::kGreetingLines);
                               })
      ->Threads(bench::kConnections)
      ->UseRealTime()
      ->Repetitions(bench::kRoundTripRepetitions)
      ->DisplayAggregatesOnly();
  benchmark::RegisterBenchmark(
      "BM_RoundTrips_Baseline",
      [baselinePort](benchmark::State& state) { bench::RunRoundTrips(state, baselinePort, 0); })
      ->Threads(bench::kConnections)
      ->UseRealTime()
      ->Repetitions(bench::kRoundTripRepetitions)
      ->DisplayAggregatesOnly();
  benchmark::RegisterBenchmark("BM_StrsIngest_Buffered",
                               [&ingest](benchmark::State& state) {
                                 bench::RunStrsIngest(state, ingest, bench::Reader::kBuffered);
                               })
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->MinTime(2.0);
  // One iteration: a receive per byte takes tens of seconds for the whole block.
  benchmark::RegisterBenchmark("BM_StrsIngest_OneByte",
                               [&ingest](benchmark::State& state) {
                                 bench::RunStrsIngest(state, ingest, bench::Reader::kOneByte);
                               })
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1);

  bench::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  bench::PrintSummary(reporter);
  benchmark::Shutdown();
  return 0;
}
