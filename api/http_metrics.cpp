#include "api/http_metrics.h"

#include <algorithm>

#include "api/static_files.h"

namespace api {

std::string_view EndpointOf(std::string_view path) {
  if (path == kEndpointsCheck) return HttpMetrics::kEndpoints[0];
  if (path == kOpenApiPath) return HttpMetrics::kEndpoints[1];
  if (IsPagePath(path)) return HttpMetrics::kEndpoints[2];
  return HttpMetrics::kEndpoints[3];
}

void HttpMetrics::Count(std::string_view path, int status) {
  const std::string_view endpoint = EndpointOf(path);
  const size_t row = static_cast<size_t>(std::find(kEndpoints.begin(), kEndpoints.end(), endpoint) -
                                         kEndpoints.begin());
  const size_t column = status >= 500 ? 2 : status >= 400 ? 1 : 0;
  counts[row][column].fetch_add(1, std::memory_order_relaxed);
}

void HttpMetrics::Append(platform::PrometheusText& page, const PoolGauges& pool) const {
  page.Family("quilmarend_http_requests_total", "counter",
              "Requests to the HTTP front answered, by endpoint and status class.");
  for (size_t row = 0; row < kEndpoints.size(); ++row) {
    for (size_t column = 0; column < kClasses.size(); ++column) {
      page.Sample("quilmarend_http_requests_total",
                  {{"endpoint", kEndpoints[row]}, {"code", kClasses[column]}},
                  counts[row][column].load(std::memory_order_relaxed));
    }
  }
  page.Family("quilmarend_http_workers_busy", "gauge", "HTTP front workers verifying.");
  page.Sample("quilmarend_http_workers_busy", {}, static_cast<uint64_t>(pool.busy));
  page.Family("quilmarend_http_workers", "gauge", "HTTP front workers in the pool.");
  page.Sample("quilmarend_http_workers", {}, static_cast<uint64_t>(pool.workers));
  page.Family("quilmarend_http_requests_waiting", "gauge",
              "HTTP verification requests waiting for a worker.");
  page.Sample("quilmarend_http_requests_waiting", {}, static_cast<uint64_t>(pool.waiting));
}

}  // namespace api
