#pragma once

// The cost of the metrics listener under the CHECK load: the same load run with the listener off
// and on (scraped every second, as Prometheus would at its fastest usual interval), in one
// process, in the order off, on, on, off so that a drift over the run falls on both sides alike.
//
// Example:
//   CompareMetricsCost([&](const std::vector<std::string>& settings) { return Rate(settings); });
//   // CheckLoad metrics on/off 0.99 (target at least 0.98)

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// CompareMetricsCost runs `measure` (CHECKs per second of a server started with the settings it
// is given, "NAME=value") four times and prints both rates and their ratio against the 0.98
// target. Returns false when a run or a scrape failed.
bool CompareMetricsCost(
    const std::function<std::optional<double>(const std::vector<std::string>&)>& measure);

}  // namespace bench
