#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/debug_output.h"
#include "platform/detail/atomic_file.h"
#include "platform/detail/errno_status.h"
#include "platform/service.h"
#include "platform/win_status.h"

extern char** environ;

namespace platform {
namespace {

using detail::StatusFromErrno;

std::string UnitPath() { return UnitFolder() + '/' + std::string(kServiceUnitName); }

// SystemctlArguments is the argument vector of `systemctl args...` for the exec calls, which take
// non-const strings.
struct SystemctlArguments {
  explicit SystemctlArguments(const std::vector<std::string>& args) : texts(args) {
    texts.insert(texts.begin(), "systemctl");
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
  }
  std::vector<std::string> texts;
  std::vector<char*> argv;
};

}  // namespace

std::string ServiceUnitText(std::string_view commandLine) {
  std::string text =
      "[Unit]\n"
      "Description=Quilmarend signature verification server\n"
      "After=network.target\n"
      "\n"
      "[Service]\n"
      "Type=notify\n"
      "ExecStart=";
  text += commandLine;
  text +=
      "\n"
      "Restart=on-failure\n"
      "StateDirectory=quilmarend\n"
      "NoNewPrivileges=yes\n"
      "ProtectSystem=full\n"
      "ProtectHome=yes\n"
      "ProtectKernelTunables=yes\n"
      "ProtectControlGroups=yes\n"
      "RestrictSUIDSGID=yes\n"
      "LockPersonality=yes\n"
      "\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n";
  return text;
}

std::string UnitFolder() {
  const char* folder = std::getenv("QUILMAREND_SYSTEMD_DIR");
  return folder != nullptr && *folder != '\0' ? folder : "/etc/systemd/system";
}

uint32_t InstallServiceUnit(std::string_view commandLine) {
  return StatusFromErrno(detail::WriteFileAtomically(UnitPath(), ServiceUnitText(commandLine)));
}

bool IsServiceUnitInstalled() {
  struct stat info {};
  return stat(UnitPath().c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

uint32_t RemoveServiceUnit() {
  return unlink(UnitPath().c_str()) == 0 ? ERROR_SUCCESS : StatusFromErrno(errno);
}

bool SystemdRunning() {
  struct stat info {};
  return lstat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

int RunSystemctl(const std::vector<std::string>& args) {
  SystemctlArguments arguments(args);
  // The host blocks its stop signals in every thread; systemctl gets the default mask back.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  const int spawned =
      posix_spawnp(&pid, "systemctl", nullptr, &attributes, arguments.argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ExecSystemctl(const std::vector<std::string>& args) {
  SystemctlArguments arguments(args);
  sigset_t none, previous;
  sigemptyset(&none);
  pthread_sigmask(SIG_SETMASK, &none, &previous);
  execvp("systemctl", arguments.argv.data());
  const int error = errno;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = error;
}

bool RunningUnderServiceManager() { return std::getenv("NOTIFY_SOCKET") != nullptr; }

uint32_t StartServiceCtrlDispatcher(const std::function<void()>& serviceMain) {
  if (!RunningUnderServiceManager()) return ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;
  std::thread serviceThread(serviceMain);
  serviceThread.join();
  return ERROR_SUCCESS;
}

bool NotifyServiceManager(std::string_view text) {
  // sd_notify answers 0 when NOTIFY_SOCKET is unset and a negative errno when it cannot send.
  return sd_notify(0, std::string(text).c_str()) > 0;
}

bool NotifyReady(std::string_view status) {
  return NotifyServiceManager("READY=1\nSTATUS=" + std::string(status));
}

bool NotifyStopping() { return NotifyServiceManager("STOPPING=1"); }

void LogEvent(std::string_view text) {
  const std::string converted = ChannelText(std::string(text));
  if (RunningUnderServiceManager()) {
    static const bool opened = [] {
      openlog("Quilmarend", LOG_PID, LOG_DAEMON);
      return true;
    }();
    (void)opened;
    syslog(LOG_INFO, "%s", converted.c_str());
    return;
  }
  const std::string line = converted + '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace platform
