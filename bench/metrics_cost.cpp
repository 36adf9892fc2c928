#include "bench/metrics_cost.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/load_support.h"
#include "tests/test_client.h"

namespace bench {
namespace {

constexpr std::chrono::seconds kScrapeInterval{1};

// Scraper fetches /metrics from `port` every second on a thread of its own until it goes, and
// counts the pages that came back whole.
class Scraper {
 public:
  explicit Scraper(int metricsPort) : port(metricsPort), thread([this] { Run(); }) {}
  ~Scraper() {
    {
      const std::lock_guard lock(mutex);
      stopping = true;
    }
    wake.notify_all();
    thread.join();
  }
  int Pages() const { return pages.load(); }
  int Failures() const { return failures.load(); }

 private:
  void Run() {
    std::unique_lock lock(mutex);
    while (!wake.wait_for(lock, kScrapeInterval, [this] { return stopping; })) {
      // A refused connection is a server not yet or no longer running, before or after the load.
      std::optional<tests::TestClient> client = tests::TestClient::Connect(port);
      if (!client) continue;
      const bool sent = client->Send("GET /metrics HTTP/1.0\r\n\r\n");
      if (sent) client->WaitClosed(5000);
      const bool whole =
          sent &&
          client->Pending().find("quilmarend_check_duration_seconds_count") != std::string::npos;
      (whole ? pages : failures).fetch_add(1);
    }
  }

  const int port;
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::atomic<int> pages{0}, failures{0};
  std::thread thread;  // last: it starts once the rest is ready
};

}  // namespace

bool CompareMetricsCost(
    const std::function<std::optional<double>(const std::vector<std::string>&)>& measure) {
  double off = 0, on = 0;
  int pages = 0, failures = 0;
  for (const bool listening : {false, true, true, false}) {
    std::optional<double> rate;
    if (listening) {
      const int port = FreePort();
      const Scraper scraper(port);
      rate = measure({"QUILMAREND_METRICS_LISTEN=127.0.0.1:" + std::to_string(port)});
      pages += scraper.Pages();
      failures += scraper.Failures();
    } else {
      rate = measure({});
    }
    if (!rate) return false;
    (listening ? on : off) += *rate;
  }
  std::printf(
      "CheckLoad metrics off %.0f CHECKs/s, on %.0f CHECKs/s (%d pages scraped, %d failed)\n",
      off / 2, on / 2, pages, failures);
  const double ratio = on / off;
  std::printf("CheckLoad metrics on/off %.3f (target at least 0.98: %s)\n", ratio,
              Verdict(ratio >= 0.98));
  return failures == 0 && pages > 0;
}

}  // namespace bench
