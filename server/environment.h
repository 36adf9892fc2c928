#pragma once

// Settings the server reads from its environment (the service unit takes them from
// /etc/default/quilmarend).

#include <cstdint>

namespace server {

// WholeNumberFromEnvironment returns the value of the environment variable `name` when it is a
// whole decimal number, digits only; 0 when it is unset, empty, anything else, or too large.
uint64_t WholeNumberFromEnvironment(const char* name);

}  // namespace server
