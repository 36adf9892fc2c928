#pragma once

// FrontStatus is what another front of the server (the HTTP/JSON front, which lives above this
// folder) tells the operators' pages: its metrics families and whether it can take a request.
// The server reads it on the metrics listener's thread; its implementation must be safe to call
// from there while the front serves.

#include <string>

#include "platform/base/prometheus_text.h"

namespace server {

class FrontStatus {
 public:
  virtual ~FrontStatus() = default;
  // AppendMetrics writes the front's families to `page`.
  virtual void AppendMetrics(platform::PrometheusText& page) const = 0;
  // Unavailable returns, in one line, why the front would turn a request away now ("HTTP: all 2
  // workers busy and 100 requests waiting"); empty when it can take one.
  virtual std::string Unavailable() const = 0;
};

}  // namespace server
