#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/os/state_root.h"

namespace platform {
namespace {

std::string FindStateRoot() {
  if (const char* home = std::getenv("QUILMAREND_HOME"); home != nullptr && *home != '\0') {
    return home;
  }
  if (geteuid() == 0) return "/var/lib/quilmarend";
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
    return std::string(state) + "/quilmarend";
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    const passwd* entry = getpwuid(geteuid());
    home = entry != nullptr ? entry->pw_dir : "/tmp";
  }
  return std::string(home) + "/.local/state/quilmarend";
}

}  // namespace

const std::string& StateRoot() {
  static const std::string root = FindStateRoot();
  return root;
}

}  // namespace platform
