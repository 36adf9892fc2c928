#include "bench/http_load.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/os/socket.h"
#include "tests/check_support.h"

namespace bench {
namespace {

constexpr int kTimeoutMs = 20000;

// KeepAlive is one HTTP/1.1 connection that carries request after request.
class KeepAlive {
 public:
  // Connect connects to `port`, retrying for up to 5 s: the server opens its line protocol's port
  // first, so the HTTP front may come a moment after the run sees the server up.
  bool Connect(int port) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (true) {
      bool resolveFailed = false;
      uint32_t code = 0;
      fd = platform::ConnectTcp("127.0.0.1", static_cast<uint16_t>(port), kTimeoutMs,
                                &resolveFailed, &code);
      if (fd || std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return fd && platform::SetSocketTimeouts(fd.get(), kTimeoutMs) &&
           platform::SetNoDelay(fd.get());
  }

  // Exchange sends `request` and returns the body of the answer when its status is 200.
  std::optional<std::string> Exchange(const std::string& request) {
    if (!platform::SendAll(fd.get(), request)) return std::nullopt;
    size_t head = std::string::npos, length = 0;
    while (true) {
      if (head == std::string::npos && (head = buffer.find("\r\n\r\n")) != std::string::npos) {
        const size_t field = buffer.find("Content-Length: ");
        if (field == std::string::npos || field > head) return std::nullopt;
        length = std::stoul(buffer.substr(field + 16));
      }
      if (head != std::string::npos && buffer.size() >= head + 4 + length) break;
      char piece[16384];
      const ssize_t got = platform::Receive(fd.get(), piece);
      if (got <= 0) return std::nullopt;
      buffer.append(piece, static_cast<size_t>(got));
    }
    const bool ok = buffer.starts_with("HTTP/1.1 200 ");
    std::string body = buffer.substr(head + 4, length);
    buffer.erase(0, head + 4 + length);
    if (!ok) return std::nullopt;
    return body;
  }

 private:
  platform::UniqueFd fd;
  std::string buffer;
};

std::string CheckRequest(std::string_view document, const std::vector<uint8_t>& signature) {
  const auto part = [](std::string_view name, std::string_view value) {
    return "--LoadBoundary\r\nContent-Disposition: form-data; name=\"" + std::string(name) +
           "\"; filename=\"" + std::string(name) + "\"\r\n\r\n" + std::string(value) + "\r\n";
  };
  const std::string body =
      part("document", document) +
      part("signature",
           std::string_view(reinterpret_cast<const char*>(signature.data()), signature.size())) +
      part("revocation", "false") + "--LoadBoundary--\r\n";
  return "POST /v1/check HTTP/1.1\r\nHost: load\r\nContent-Type: multipart/form-data; "
         "boundary=LoadBoundary\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Latencies gathers each verification's start and round trip from every client.
class Latencies {
 public:
  void Add(const std::vector<std::pair<Clock::time_point, double>>& samples) {
    const std::lock_guard guard(lock);
    all.insert(all.end(), samples.begin(), samples.end());
  }
  // Print prints p50 and p99 of the round trips that began after `warmup` from the first.
  void Print(const Names& names, const char* part, Seconds warmup) const {
    Clock::time_point first = Clock::time_point::max();
    for (const auto& [start, milliseconds] : all) first = std::min(first, start);
    std::vector<double> counted;
    for (const auto& [start, milliseconds] : all) {
      if (start - first >= warmup) counted.push_back(milliseconds);
    }
    std::printf("%s %s latency: p50 %.1f ms, p99 %.1f ms (%zu verifications)\n", names.label, part,
                Percentile(counted, 0.5), Percentile(counted, 0.99), counted.size());
  }

 private:
  std::mutex lock;
  std::vector<std::pair<Clock::time_point, double>> all;
};

// Measured runs `step` in a loop as a part's client, timing each round trip into `latencies`.
void Measured(LoadRun& run, Latencies& latencies, const std::function<bool()>& step) {
  std::vector<std::pair<Clock::time_point, double>> samples;
  while (run.Running()) {
    const Clock::time_point start = Clock::now();
    if (!step()) return run.Fail("a verification failed");
    samples.emplace_back(start,
                         std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    run.Done();
  }
  latencies.Add(samples);
}

}  // namespace

bool CompareHttpToLine(const Names& names, const ServerLaunch& serverLaunch, int connections,
                       Seconds warmup, Seconds seconds, std::string_view document,
                       const std::vector<uint8_t>& signature) {
  const int httpPort = FreePort();
  ServerLaunch launch = serverLaunch;
  launch.settings.push_back("QUILMAREND_HTTP_LISTEN=127.0.0.1:" + std::to_string(httpPort));
  const std::string strs = tests::Base64Lines({document.begin(), document.end()});
  const std::string sign = tests::Base64Lines(signature);
  Latencies lineLatencies, httpLatencies;
  const std::optional<ServedRate> line =
      RunAgainst(names, "line STRS+SIGN+CHECK", launch, connections, warmup, seconds,
                 [&](LoadRun& run, int port) {
                   std::optional<tests::TestClient> client = tests::TestClient::Connect(port);
                   const bool ready = client && !client->ReadGreeting().empty() &&
                                      client->Command("B64ON").starts_with("OK") &&
                                      client->Command("CRLOFF").starts_with("OK");
                   run.Ready();
                   if (!ready) return run.Fail("the line client could not start");
                   Measured(run, lineLatencies, [&] {
                     client->SendBlock("STRS", strs);
                     client->SendBlock("SIGN", sign);
                     return GoodAnswer(tests::RunCheck(*client));
                   });
                 });
  const std::string request = CheckRequest(document, signature);
  const std::optional<ServedRate> http = RunAgainst(
      names, "http POST /v1/check", launch, connections, warmup, seconds, [&](LoadRun& run, int) {
        KeepAlive client;
        const bool ready = client.Connect(httpPort);
        run.Ready();
        if (!ready) return run.Fail("the HTTP client could not connect");
        Measured(run, httpLatencies, [&] {
          const std::optional<std::string> answer = client.Exchange(request);
          return answer && answer->find("\"valid\":true") != std::string::npos;
        });
      });
  if (!line || !http) return false;
  PrintCpuSplit(names, "line STRS+SIGN+CHECK", line->perStep);
  PrintCpuSplit(names, "http POST /v1/check", http->perStep);
  lineLatencies.Print(names, "line STRS+SIGN+CHECK", warmup);
  httpLatencies.Print(names, "http POST /v1/check", warmup);
  std::printf("%s line %.0f checks/s, http %.0f checks/s over %d connections each\n", names.label,
              line->rate, http->rate, connections);
  std::printf("%s http/line %.3f (target at least 0.80: %s)\n", names.label,
              http->rate / line->rate, Verdict(http->rate / line->rate >= 0.80));
  return true;
}

bool CompareHttpIdleCost(
    const std::function<std::optional<double>(const std::vector<std::string>&)>& measure) {
  // Off, on, on, off, then on, off, off, on: each setting takes every position once, so that
  // neither a drift of the machine nor the first run's warm-up favours one.
  double off = 0, on = 0;
  for (const bool listening : {false, true, true, false, true, false, false, true}) {
    std::vector<std::string> settings;
    if (listening)
      settings.push_back("QUILMAREND_HTTP_LISTEN=127.0.0.1:" + std::to_string(FreePort()));
    const std::optional<double> rate = measure(settings);
    if (!rate) return false;
    (listening ? on : off) += *rate;
  }
  std::printf("CheckLoad http idle: off %.0f CHECKs/s, on %.0f CHECKs/s\n", off / 4, on / 4);
  std::printf("CheckLoad http idle on/off %.3f (target at least 0.98: %s)\n", on / off,
              Verdict(on / off >= 0.98));
  return true;
}

}  // namespace bench
