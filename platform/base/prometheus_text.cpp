#include "platform/base/prometheus_text.h"

#include <charconv>
#include <cmath>

namespace platform {
namespace {

// Escape appends `value` with backslash and line feed escaped, and the double quote too when
// `quote` (label values; help texts keep theirs).
void Escape(std::string& out, std::string_view value, bool quote) {
  for (const char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' && quote) {
      out += "\\\"";
    } else {
      out += c;
    }
  }
}

}  // namespace

std::string PrometheusNumber(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char buffer[32];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return error == std::errc() ? std::string(buffer, end) : "NaN";
}

void PrometheusText::Family(std::string_view name, std::string_view type, std::string_view help) {
  text.append("# HELP ").append(name).append(" ");
  Escape(text, help, false);
  text.append("\n# TYPE ").append(name).append(" ").append(type).append("\n");
}

void PrometheusText::Begin(std::string_view name, PrometheusLabels labels) {
  text.append(name);
  if (labels.size() == 0) {
    text += ' ';
    return;
  }
  char separator = '{';
  for (const auto& [label, value] : labels) {
    text.append(1, separator).append(label).append("=\"");
    Escape(text, value, true);
    text += '"';
    separator = ',';
  }
  text.append("} ");
}

void PrometheusText::Sample(std::string_view name, PrometheusLabels labels, uint64_t value) {
  Begin(name, labels);
  text.append(std::to_string(value)).append("\n");
}

void PrometheusText::Sample(std::string_view name, PrometheusLabels labels, double value) {
  Begin(name, labels);
  text.append(PrometheusNumber(value)).append("\n");
}

}  // namespace platform
