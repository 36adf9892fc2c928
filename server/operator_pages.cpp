#include "server/operator_pages.h"

#include "platform/base/prometheus_text.h"

namespace server {
namespace {

platform::HttpAnswer Text(int status, std::string body,
                          std::string_view type = "text/plain; charset=utf-8") {
  return {status, std::string(type), std::move(body), {}};
}

}  // namespace

std::string AgentAnswer(const PoolState& pool) {
  const int free = pool.total - pool.busy;
  if (!pool.accepting || free <= 0 || pool.total <= 0) return "drain 0%\n";
  const int percent = (free * 100 + pool.total - 1) / pool.total;
  return "up ready " + std::to_string(percent) + "%\n";
}

platform::HttpAnswer OperatorPage(std::string_view method, std::string_view path,
                                  const PoolState& pool,
                                  const std::function<std::string()>& metricsPage,
                                  const std::function<std::string()>& frontUnavailable) {
  if (method != "GET" && method != "HEAD") return Text(405, "GET only\n");
  if (path == "/metrics") {
    return Text(200, metricsPage(), platform::kPrometheusContentType);
  }
  if (path == "/healthz") {
    if (!pool.accepting) return Text(503, "stopping\n");
    std::string reasons;
    if (pool.busy >= pool.total) reasons = "all " + std::to_string(pool.total) + " workers busy\n";
    if (const std::string front = frontUnavailable(); !front.empty()) reasons += front + "\n";
    if (!reasons.empty()) return Text(503, reasons);
    return Text(200, "ok\n");
  }
  return Text(404, "not found\n");
}

}  // namespace server
