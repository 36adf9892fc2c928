#pragma once

// One check, and the hash of a reference, each over a connection of its own.

#include <string>
#include <variant>

#include "client/check_result.h"
#include "client/options.h"

namespace client {

// RunCheck asks the server about `options.document` and `options.signature` and, with --html,
// writes the report page. The files are read and examined first; a file in the wrong place ends
// the check before anything is sent.
CheckResult RunCheck(const Options& options);

// RunGetHash asks the server for the digest of `options.getHash`: the hash text, or the failure.
std::variant<std::string, Failure> RunGetHash(const Options& options);

}  // namespace client
