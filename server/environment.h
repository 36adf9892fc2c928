#pragma once

// Settings the server reads from its environment (the service unit takes them from
// /etc/default/quilmarend).

#include <cstdint>
#include <optional>

namespace server {

// WholeNumberFromEnvironment returns the value of the environment variable `name` when it is a
// whole decimal number, digits only; nullopt when it is unset, empty, anything else, or too large.
std::optional<uint64_t> WholeNumberFromEnvironment(const char* name);

}  // namespace server
