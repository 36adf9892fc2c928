#pragma once

// The HTTP/JSON front under the CHECK load, against the line protocol on the same server binary:
//  - http: 100 keep-alive clients each POST a 1 KiB document and its signature
//    (multipart/form-data) over and over, against 100 line-protocol clients that send STRS, SIGN
//    and CHECK for every check (what an integrator without a client library does); the rate of
//    each, p50 and p99 of one verification's round trip, and HTTP/line (target at least 0.80);
//  - http-idle: the line protocol's CHECK rate with the HTTP listener off and on but idle, in the
//    order off, on, on, off, so that a drift over the run falls on both sides alike (target at
//    least 0.98).
//
// Example:
//   CompareHttpToLine(names, launch, 100, warmup, seconds, document, signature);
//   // CheckLoad http/line 0.93 (target at least 0.80: met)

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/load_support.h"

namespace bench {

// CompareHttpToLine runs both parts against the server as `serverLaunch` says, with the HTTP
// listener on, each with `connections` clients checking `document` and its detached `signature`
// (every answer must verify), and prints their rates, latencies and ratio. False when a part
// failed.
bool CompareHttpToLine(const Names& names, const ServerLaunch& serverLaunch, int connections,
                       Seconds warmup, Seconds seconds, std::string_view document,
                       const std::vector<uint8_t>& signature);

// CompareHttpIdleCost runs `measure` (CHECKs per second of a server started with the settings it
// is given) four times, the HTTP listener off, on, on and off, and prints both rates and their
// ratio. False when a run failed.
bool CompareHttpIdleCost(
    const std::function<std::optional<double>(const std::vector<std::string>&)>& measure);

}  // namespace bench
