#pragma once

// ServerMetrics counts what operators watch of one server: connections and how they ended,
// requests by command, CHECK verdicts by code, CHECK times. Every count is a relaxed atomic, so
// the workers never wait on each other or on a scrape; a scrape reads them while they change,
// which is what counters allow. RenderMetrics writes them, with the gauges the server reads at
// scrape time, in the Prometheus text format.
//
// Example:
//   metrics.CountCommand(Command::kCheck);
//   metrics.CountCheck(verdicts, elapsed);
//   std::string page = RenderMetrics(metrics, gauges);

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/crypto/revocation_counts.h"
#include "platform/os/process_stats.h"
#include "server/commands.h"

namespace server {

// ConnectionClose is why a served connection ended, or why an accepted one was not served.
enum class ConnectionClose {
  kQuit,               // the client said QUIT or EXIT
  kPeer,               // the peer closed, or a receive failed
  kIdleTimeout,        // no byte within the connection time-out
  kHeldLimit,          // the connection's own held limit
  kHeldLimitTogether,  // the limit of all connections together
  kSlowLine,           // an unfinished line arrived too slowly
  kAddressLimit,       // over the cap of connections per address; never served
  kError,              // an unexpected failure inside the server
};
inline constexpr size_t kConnectionCloses = 8;

// CheckVerdicts are a verified CHECK's three verdicts with the codes of its info line.
struct CheckVerdicts {
  bool signatureOk = false;
  bool certificateFound = false;
  bool chainOk = false;
  uint32_t signatureStatus = 0;
  uint32_t certificateStatus = 0;
  uint32_t chainStatus = 0;
};

// MetricsGauges are the values a scrape reads from elsewhere: the worker pool, the caches, the
// request files, the blocks held.
struct MetricsGauges {
  std::string version;
  int workersBusy = 0;
  int workersTotal = 0;
  uint64_t archiveHits = 0, archiveMisses = 0;
  uint64_t certCacheHits = 0, certCacheMisses = 0;
  platform::RevocationFetchCounts fetches;
  uint64_t heldBytes = 0;
  uint64_t requestFiles = 0;
  std::optional<platform::ProcessStats> process;  // the standard process families
};

class ServerMetrics {
 public:
  // The upper bounds of the CHECK time buckets, in seconds.
  static constexpr std::array<double, 12> kCheckSecondsBounds = {
      0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};
  // Distinct (verdict, code) pairs kept; rarer ones beyond count under the code "other".
  static constexpr size_t kVerdictSlots = 128;

  void CountAccepted() { Add(accepted); }
  void CountClosed(ConnectionClose why) { Add(closed[static_cast<size_t>(why)]); }
  // CountCommand counts one command line as the command table matched it.
  void CountCommand(Command command) { Add(commands[static_cast<size_t>(command)]); }
  // CountCheck counts a CHECK that took `elapsed`: its verdicts, or a refusal when there are none.
  void CountCheck(const std::optional<CheckVerdicts>& verdicts,
                  std::chrono::steady_clock::duration elapsed);

 private:
  friend std::string RenderMetrics(const ServerMetrics&, const MetricsGauges&);
  static void Add(std::atomic<uint64_t>& counter, uint64_t n = 1) {
    counter.fetch_add(n, std::memory_order_relaxed);
  }
  void CountVerdict(int check, bool ok, uint32_t status);

  std::atomic<uint64_t> accepted{0};
  std::array<std::atomic<uint64_t>, kConnectionCloses> closed{};
  std::array<std::atomic<uint64_t>, kCommandCount> commands{};
  std::atomic<uint64_t> checksRefused{0};
  // Verdict counts by key: check (0 signature, 1 certificate, 2 chain), ok and code packed, plus
  // one so that 0 marks a free slot. A slot's key is set once and never changes.
  std::array<std::atomic<uint64_t>, kVerdictSlots> verdictKeys{};
  std::array<std::atomic<uint64_t>, kVerdictSlots> verdictCounts{};
  std::array<std::atomic<uint64_t>, 3> verdictOverflow{};
  std::array<std::atomic<uint64_t>, kCheckSecondsBounds.size() + 1> checkBuckets{};  // not summed
  std::atomic<uint64_t> checkMicroseconds{0};
};

// RenderMetrics is the metrics page: `metrics` and `gauges` in the Prometheus text format.
std::string RenderMetrics(const ServerMetrics& metrics, const MetricsGauges& gauges);

}  // namespace server
