#pragma once

// What the server tells operators and the balancer about its worker pool: the HTTP pages of the
// metrics listener (/metrics, /healthz) and the line of the load balancer's agent check.
//
// Example:
//   PoolState pool{.busy = 63, .total = 100, .accepting = true};
//   AgentAnswer(pool);  // "up ready 37%\n"

#include <functional>
#include <string>
#include <string_view>

#include "platform/os/http_listener.h"

namespace server {

struct PoolState {
  int busy = 0;            // workers serving a connection
  int total = 0;           // workers in the pool
  bool accepting = false;  // false once the server stops
};

// AgentAnswer is the agent check's line: "up ready N%\n" with N the share of free workers,
// rounded up so that one free worker still draws connections; "drain 0%\n" when none is free or
// the server stops, so that the balancer sends new connections elsewhere until a worker frees.
std::string AgentAnswer(const PoolState& pool);

// OperatorPage answers an HTTP request: GET /metrics with `metricsPage()` in the Prometheus text
// format; GET /healthz with 200 "ok" while the server accepts, a worker is free and the other
// front can take a request (`frontUnavailable()` empty), else 503 and the reasons, one a line;
// anything else 404.
platform::HttpAnswer OperatorPage(std::string_view method, std::string_view path,
                                  const PoolState& pool,
                                  const std::function<std::string()>& metricsPage,
                                  const std::function<std::string()>& frontUnavailable);

}  // namespace server
