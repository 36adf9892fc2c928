// MakeShell: the desktop backend when a display is present and its library loads, the headless
// backend otherwise.

#include <cstdlib>
#include <string>

#include "platform/base/log.h"
#include "platform/os/dyn_lib.h"
#include "platform/os/shell.h"

namespace platform {
namespace {

bool DisplayPresent() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<Shell> MakeShell() {
  if (!DisplayPresent()) return MakeHeadlessShell();
  std::string error;
  const std::string path = ProgramDirectory() + "/libquilmarend-desktop.so";
  // The library stays loaded for the life of the process (see dyn_lib.h), beyond this object.
  const std::unique_ptr<DynamicLibrary> library = DynamicLibrary::Load(path, &error);
  using Create = Shell* (*)(ShellLog);
  const auto create = library != nullptr
                          ? reinterpret_cast<Create>(library->Symbol("QuilmarendDesktopShell"))
                          : nullptr;
  if (create == nullptr) {
    LogAt(LogLevel::kNotice, "Desktop shell not loaded, boxes go to standard error: %s",
          error.empty() ? "QuilmarendDesktopShell missing" : error.c_str());
    return MakeHeadlessShell();
  }
  const ShellLog log = [](const char* line) { LogAt(LogLevel::kNotice, "%s", line); };
  if (Shell* shell = create(log)) return std::unique_ptr<Shell>(shell);
  LogAt(LogLevel::kNotice,
        "Desktop shell not loaded, boxes go to standard error: the display cannot be opened");
  return MakeHeadlessShell();
}

}  // namespace platform
