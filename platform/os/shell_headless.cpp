// The headless backend of the Shell: boxes go to standard error and the server log, and every
// question is answered No.

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/base/debug_output.h"
#include "platform/base/log.h"
#include "platform/os/shell.h"

namespace platform {
namespace {

class HeadlessShell final : public Shell {
 public:
  MessageBoxAnswer MessageBox(std::string_view title, std::string_view text, MessageBoxIcon icon,
                              MessageBoxButtons buttons) override {
    std::string box;
    box.reserve(title.size() + text.size() + 3);
    box.append(title).append(": ").append(text).append("\n");
    WriteStandardError(ChannelText(std::move(box)));
    if (!DebugChannelIsStandardError()) {
      LogAt(icon == MB_ICONERROR ? LogLevel::kError : LogLevel::kNotice, "%.*s: %.*s",
            static_cast<int>(title.size()), title.data(), static_cast<int>(text.size()),
            text.data());
    }
    return buttons == MB_YESNO ? IDNO : IDOK;
  }

  bool Shell_NotifyIcon(NotifyIconMessage, const NotifyIconData&) override { return false; }

  std::vector<std::string> GetOpenFileName(const std::vector<FileFilter>&) override { return {}; }

  // Nothing here ever waits for a person.
  void CloseDialogs() override {}
};

}  // namespace

std::unique_ptr<Shell> MakeHeadlessShell() { return std::make_unique<HeadlessShell>(); }

}  // namespace platform
