#pragma once

// PrometheusText writes metrics in the Prometheus text exposition format, version 0.0.4: for each
// family a # HELP and a # TYPE line, then its samples, one a line, `name{label="value"} number`.
// Label values and help texts are escaped as the format asks (backslash, double quote, line
// feed), so no value can break a line.
//
// Example:
//   PrometheusText text;
//   text.Family("quilmarend_connections_accepted_total", "counter", "Connections accepted.");
//   text.Sample("quilmarend_connections_accepted_total", {}, 12);
//   text.Family("quilmarend_requests_total", "counter", "Requests by command.");
//   text.Sample("quilmarend_requests_total", {{"command", "CHECK"}}, 3);
//   // text.Text(): "# HELP quilmarend_connections_accepted_total Connections accepted.\n..."

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

// The Content-Type of the format.
inline constexpr std::string_view kPrometheusContentType =
    "text/plain; version=0.0.4; charset=utf-8";

using PrometheusLabels = std::initializer_list<std::pair<std::string_view, std::string_view>>;

class PrometheusText {
 public:
  // Family begins the family `name` of `type` ("counter", "gauge", "histogram").
  void Family(std::string_view name, std::string_view type, std::string_view help);
  // Sample writes one sample of a whole number, or of a real number (shortest exact form;
  // infinities as +Inf and -Inf).
  void Sample(std::string_view name, PrometheusLabels labels, uint64_t value);
  void Sample(std::string_view name, PrometheusLabels labels, double value);

  const std::string& Text() const { return text; }

 private:
  void Begin(std::string_view name, PrometheusLabels labels);
  std::string text;
};

// PrometheusNumber is `value` as the format writes it: the shortest text that reads back as the
// same double, "+Inf", "-Inf" or "NaN".
std::string PrometheusNumber(double value);

}  // namespace platform
