#include "server/server_metrics.h"

#include <algorithm>
#include <cstdio>

#include "platform/base/prometheus_text.h"

namespace server {
namespace {

constexpr const char* kCloseNames[kConnectionCloses] = {
    "quit",      "peer",          "idle_timeout", "held_limit", "held_limit_together",
    "slow_line", "address_limit", "error"};
constexpr const char* kCheckNames[3] = {"signature", "certificate", "chain"};
constexpr const char* kFetchOutcomeNames[platform::kFetchOutcomes] = {"ok", "failed", "invalid"};

uint64_t Read(const std::atomic<uint64_t>& counter) {
  return counter.load(std::memory_order_relaxed);
}

}  // namespace

void ServerMetrics::CountCheck(const std::optional<CheckVerdicts>& verdicts,
                               std::chrono::steady_clock::duration elapsed) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  const auto bucket =
      std::lower_bound(kCheckSecondsBounds.begin(), kCheckSecondsBounds.end(), seconds);
  Add(checkBuckets[static_cast<size_t>(bucket - kCheckSecondsBounds.begin())]);
  Add(checkMicroseconds,
      static_cast<uint64_t>(
          std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
  if (!verdicts) {
    Add(checksRefused);
    return;
  }
  CountVerdict(0, verdicts->signatureOk, verdicts->signatureStatus);
  CountVerdict(1, verdicts->certificateFound, verdicts->certificateStatus);
  CountVerdict(2, verdicts->chainOk, verdicts->chainStatus);
}

void ServerMetrics::CountVerdict(int check, bool ok, uint32_t status) {
  const uint64_t key = ((uint64_t(check) << 33) | (uint64_t(ok) << 32) | uint64_t(status)) + 1;
  // Open addressing without a lock: a free slot is claimed with a compare-and-swap, and a claimed
  // slot keeps its key, so a reader sees each key at most once.
  size_t slot = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 57) % kVerdictSlots;
  for (size_t tried = 0; tried < kVerdictSlots; ++tried, slot = (slot + 1) % kVerdictSlots) {
    uint64_t seen = verdictKeys[slot].load(std::memory_order_acquire);
    if (seen == 0 &&
        verdictKeys[slot].compare_exchange_strong(seen, key, std::memory_order_acq_rel)) {
      seen = key;
    }
    if (seen == key) {
      Add(verdictCounts[slot]);
      return;
    }
  }
  Add(verdictOverflow[static_cast<size_t>(check)]);
}

std::string RenderMetrics(const ServerMetrics& m, const MetricsGauges& g) {
  platform::PrometheusText t;
  t.Family("quilmarend_build_info", "gauge", "The server's version; always 1.");
  t.Sample("quilmarend_build_info", {{"version", g.version}}, uint64_t{1});

  t.Family("quilmarend_connections_accepted_total", "counter", "Connections accepted.");
  t.Sample("quilmarend_connections_accepted_total", {}, Read(m.accepted));
  t.Family("quilmarend_connections_open", "gauge", "Connections being served.");
  t.Sample("quilmarend_connections_open", {}, static_cast<uint64_t>(g.workersBusy));
  t.Family("quilmarend_connections_closed_total", "counter",
           "Connections ended, by why: the client, the peer, or the limit that ended them.");
  for (size_t i = 0; i < kConnectionCloses; ++i) {
    t.Sample("quilmarend_connections_closed_total", {{"reason", kCloseNames[i]}},
             Read(m.closed[i]));
  }

  t.Family("quilmarend_requests_total", "counter", "Command lines by command.");
  for (size_t i = 0; i < kCommandCount; ++i) {
    t.Sample("quilmarend_requests_total", {{"command", kCommandNames[i]}}, Read(m.commands[i]));
  }

  t.Family("quilmarend_checks_refused_total", "counter",
           "CHECKs answered with an error before any verification.");
  t.Sample("quilmarend_checks_refused_total", {}, Read(m.checksRefused));
  t.Family("quilmarend_check_verdicts_total", "counter",
           "Verdicts of verified CHECKs, by check, outcome and status code.");
  for (size_t slot = 0; slot < ServerMetrics::kVerdictSlots; ++slot) {
    const uint64_t key = m.verdictKeys[slot].load(std::memory_order_acquire);
    if (key == 0) continue;
    char status[9];
    std::snprintf(status, sizeof status, "%08X", static_cast<uint32_t>(key - 1));
    t.Sample("quilmarend_check_verdicts_total",
             {{"check", kCheckNames[(key - 1) >> 33]},
              {"outcome", ((key - 1) >> 32) & 1 ? "ok" : "fail"},
              {"status", status}},
             Read(m.verdictCounts[slot]));
  }
  for (size_t check = 0; check < 3; ++check) {
    if (const uint64_t n = Read(m.verdictOverflow[check]); n != 0) {
      t.Sample("quilmarend_check_verdicts_total",
               {{"check", kCheckNames[check]}, {"outcome", "fail"}, {"status", "other"}}, n);
    }
  }

  t.Family("quilmarend_check_duration_seconds", "histogram", "Time from CHECK to its answer.");
  uint64_t cumulative = 0;
  for (size_t i = 0; i <= ServerMetrics::kCheckSecondsBounds.size(); ++i) {
    cumulative += Read(m.checkBuckets[i]);
    const std::string bound =
        i < ServerMetrics::kCheckSecondsBounds.size()
            ? platform::PrometheusNumber(ServerMetrics::kCheckSecondsBounds[i])
            : "+Inf";
    t.Sample("quilmarend_check_duration_seconds_bucket", {{"le", bound}}, cumulative);
  }
  t.Sample("quilmarend_check_duration_seconds_sum", {},
           static_cast<double>(Read(m.checkMicroseconds)) / 1e6);
  t.Sample("quilmarend_check_duration_seconds_count", {}, cumulative);

  t.Family("quilmarend_workers_busy", "gauge", "Workers serving a connection.");
  t.Sample("quilmarend_workers_busy", {}, static_cast<uint64_t>(g.workersBusy));
  t.Family("quilmarend_workers", "gauge", "Workers in the pool.");
  t.Sample("quilmarend_workers", {}, static_cast<uint64_t>(g.workersTotal));

  const auto hitsAndMisses = [&t](const char* name, const char* help, uint64_t hits,
                                  uint64_t misses) {
    t.Family(name, "counter", help);
    t.Sample(name, {{"result", "hit"}}, hits);
    t.Sample(name, {{"result", "miss"}}, misses);
  };
  hitsAndMisses("quilmarend_chain_archive_lookups_total", "Lookups of kept chain verdicts.",
                g.archiveHits, g.archiveMisses);
  hitsAndMisses("quilmarend_cert_cache_lookups_total", "Lookups of decoded certificates.",
                g.certCacheHits, g.certCacheMisses);

  t.Family("quilmarend_revocation_fetches_total", "counter",
           "Downloads of CRLs and OCSP answers, by outcome.");
  for (int i = 0; i < platform::kFetchOutcomes; ++i) {
    t.Sample("quilmarend_revocation_fetches_total",
             {{"kind", "crl"}, {"outcome", kFetchOutcomeNames[i]}}, g.fetches.crl[i]);
    t.Sample("quilmarend_revocation_fetches_total",
             {{"kind", "ocsp"}, {"outcome", kFetchOutcomeNames[i]}}, g.fetches.ocsp[i]);
  }

  t.Family("quilmarend_held_bytes", "gauge",
           "Memory the data blocks and unfinished lines of all connections take.");
  t.Sample("quilmarend_held_bytes", {}, g.heldBytes);
  t.Family("quilmarend_request_files", "gauge", "Temporary files that requests hold.");
  t.Sample("quilmarend_request_files", {}, g.requestFiles);

  // The families every Prometheus client library exports for its process, by the same names.
  if (const std::optional<platform::ProcessStats>& p = g.process) {
    const std::pair<const char*, const char*> kGauges[] = {
        {"process_resident_memory_bytes", "Resident memory size in bytes."},
        {"process_virtual_memory_bytes", "Virtual memory size in bytes."},
        {"process_open_fds", "Number of open file descriptors."},
        {"process_max_fds", "Maximum number of open file descriptors."},
    };
    const uint64_t values[] = {p->residentBytes, p->virtualBytes, p->openFds, p->maxFds};
    for (size_t i = 0; i < std::size(kGauges); ++i) {
      t.Family(kGauges[i].first, "gauge", kGauges[i].second);
      t.Sample(kGauges[i].first, {}, values[i]);
    }
    t.Family("process_start_time_seconds", "gauge",
             "Start time of the process since unix epoch in seconds.");
    t.Sample("process_start_time_seconds", {}, p->startTimeSeconds);
    t.Family("process_cpu_seconds_total", "counter",
             "Total user and system CPU time spent in seconds.");
    t.Sample("process_cpu_seconds_total", {}, p->cpuSeconds);
  }
  return t.Text();
}

}  // namespace server
