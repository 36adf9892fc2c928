#pragma once

// The protocol's side of a check: the settings commands the options ask for, the data blocks,
// and what a refused request says.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/failure.h"
#include "client/options.h"
#include "client/session.h"

namespace client {

// SettingsCommands are the commands sent before the data, in the order the options list them.
std::vector<std::string> SettingsCommands(const Options& options);

// QueueBlock queues the block command `command` ("SIGN"), `bytes` in Base64 lines and the "."
// line: two replies.
void QueueBlock(Session& session, std::string_view command, std::span<const uint8_t> bytes);

// Refusal is the server failure of a reply that refused `request`, quoting the reply.
Failure Refusal(const Reply& reply, std::string_view request);

}  // namespace client
