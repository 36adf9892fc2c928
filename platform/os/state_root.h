#pragma once

// StateRoot returns the folder that holds the program's state: $QUILMAREND_HOME when set; else
// /var/lib/quilmarend for root, $XDG_STATE_HOME/quilmarend or ~/.local/state/quilmarend for
// others. Read once per process. Sub-folders are created by their users on first use.

#include <string>

namespace platform {

const std::string& StateRoot();

}  // namespace platform
