#pragma once

// Whole-file replacement for the platform's file-backed stores (registry values, the service
// unit). Only platform/*.cpp include this.

#include <string>
#include <string_view>

namespace platform::detail {

// WriteFileAtomically makes `path` hold exactly `bytes` (mode 0644): they go to a hidden
// temporary file beside it, are synced, and the temporary file is renamed over `path`, so a
// reader sees the old content or the new, never a part. Returns 0, or the errno of the step that
// failed (the temporary file is removed then).
int WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace platform::detail
