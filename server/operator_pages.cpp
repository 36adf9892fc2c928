#include "server/operator_pages.h"

#include "platform/base/prometheus_text.h"

namespace server {

std::string AgentAnswer(const PoolState& pool) {
  const int free = pool.total - pool.busy;
  if (!pool.accepting || free <= 0 || pool.total <= 0) return "drain 0%\n";
  const int percent = (free * 100 + pool.total - 1) / pool.total;
  return "up ready " + std::to_string(percent) + "%\n";
}

platform::HttpAnswer OperatorPage(std::string_view method, std::string_view path,
                                  const PoolState& pool,
                                  const std::function<std::string()>& metricsPage) {
  if (method != "GET" && method != "HEAD") return {405, "text/plain; charset=utf-8", "GET only\n"};
  if (path == "/metrics") {
    return {200, std::string(platform::kPrometheusContentType), metricsPage()};
  }
  if (path == "/healthz") {
    if (!pool.accepting) return {503, "text/plain; charset=utf-8", "stopping\n"};
    if (pool.busy >= pool.total) {
      return {503, "text/plain; charset=utf-8",
              "all " + std::to_string(pool.total) + " workers busy\n"};
    }
    return {200, "text/plain; charset=utf-8", "ok\n"};
  }
  return {404, "text/plain; charset=utf-8", "not found\n"};
}

}  // namespace server
