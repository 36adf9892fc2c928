#pragma once

// HttpMetrics counts the HTTP front's answers by endpoint and status class, in relaxed atomics
// that a scrape reads while they change, and writes them with the check pool's gauges in the
// Prometheus text format.
//
// Example:
//   metrics.Count("/v1/check", 200);
//   metrics.Append(page, {.busy = 2, .workers = 2, .waiting = 7});

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/base/prometheus_text.h"

namespace api {

struct PoolGauges {
  int busy = 0;
  int workers = 0;
  size_t waiting = 0;
};

class HttpMetrics {
 public:
  // The endpoints counted by name; any other path counts as "other". "/" stands for the page
  // and its files.
  static constexpr std::array<std::string_view, 4> kEndpoints = {"/v1/check", "/v1/openapi.json",
                                                                 "/", "other"};

  // Count counts an answer with `status` to a request for `path`.
  void Count(std::string_view path, int status);
  // Append writes the counts and `pool` to `page`.
  void Append(platform::PrometheusText& page, const PoolGauges& pool) const;

 private:
  // Status classes 2xx, 4xx and 5xx, in that order; others are not answered.
  static constexpr std::array<std::string_view, 3> kClasses = {"2xx", "4xx", "5xx"};
  std::array<std::array<std::atomic<uint64_t>, kClasses.size()>, kEndpoints.size()> counts{};
};

// EndpointOf is the endpoint `path` counts under.
std::string_view EndpointOf(std::string_view path);

}  // namespace api
