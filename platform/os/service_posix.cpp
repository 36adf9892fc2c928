#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>

#include "platform/base/debug_output.h"
#include "platform/base/names.h"
#include "platform/base/unique_fd.h"
#include "platform/base/win_status.h"
#include "platform/os/detail/atomic_file.h"
#include "platform/os/detail/errno_status.h"
#include "platform/os/detail/sysusers_conf.h"
#include "platform/os/service.h"

extern char** environ;

namespace platform {
namespace {

using detail::StatusFromErrno;

std::string UnitPath() { return UnitFolder() + '/' + kServiceUnitName; }

constexpr const char* kAccountName = kProgramFileName;

// ProgramArguments is the argument vector of `program args...` for the spawn and exec calls,
// which take non-const strings.
struct ProgramArguments {
  ProgramArguments(const char* program, const std::vector<std::string>& args) : texts(args) {
    texts.insert(texts.begin(), program);
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
  }
  std::vector<std::string> texts;
  std::vector<char*> argv;
};

// SpawnSetup owns the file actions and the attributes of one posix_spawn call.
struct SpawnSetup {
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
};

// RunProgram runs `program` with `args` from the search path and waits for it. With `input` the
// program reads it on its standard input (it must fit a pipe's buffer) and its output goes to
// /dev/null. Returns its exit status, or -1 when it cannot be started or ends by a signal.
int RunProgram(const char* program, const std::vector<std::string>& args,
               std::optional<std::string_view> input = std::nullopt) {
  ProgramArguments arguments(program, args);
  SpawnSetup setup;
  UniqueFd readEnd;
  if (input) {
    // The whole input is in the pipe before the program starts, so writing can neither block
    // nor meet a reader that has gone.
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -1;
    readEnd.reset(ends[0]);
    const UniqueFd writeEnd(ends[1]);
    if (write(writeEnd.get(), input->data(), input->size()) !=
        static_cast<ssize_t>(input->size())) {
      return -1;
    }
    posix_spawn_file_actions_adddup2(&setup.actions, readEnd.get(), STDIN_FILENO);
    posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);
  }
  // The host blocks its stop signals in every thread; the program gets the default mask back.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  if (posix_spawnp(&pid, program, &setup.actions, &setup.attributes, arguments.argv.data(),
                   environ) != 0) {
    return -1;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ServiceAccountExists() {
  return getpwnam(kAccountName) != nullptr && getgrnam(kAccountName) != nullptr;
}

// OthersCanChange is true when a user other than root may change the file system object `info`
// describes.
bool OthersCanChange(const struct stat& info) {
  return info.st_uid != 0 || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

}  // namespace

std::optional<std::string> ExecStartPath(std::string_view path) {
  std::string quoted = "\"";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\' || byte < 0x20 || byte == 0x7f) return std::nullopt;
    if (c == '%') quoted += c;  // "%%" stands for '%'; '$' is no variable in the program's path
    quoted += c;
  }
  return quoted + '"';
}

std::string ServiceUnitText(std::string_view commandLine, ServiceAccount account,
                            uint64_t heldBudgetMib) {
  std::string text =
      "[Unit]\n"
      "Description=Quilmarend signature verification server\n"
      "Documentation=man:quilmarend(8)\n"
      "After=network.target\n"
      "\n"
      "[Service]\n"
      "Type=notify\n"
      "ExecStart=";
  text += commandLine;
  text +=
      "\n"
      "Restart=on-failure\n"
      "User=quilmarend\n"
      "Group=quilmarend\n";
  if (account == ServiceAccount::kDynamicUser) text += "DynamicUser=yes\n";
  text +=
      // The administrator's settings (a missing file is no error); systemd lets them override
      // the Environment= lines. LANG makes the log's Russian lines UTF-8, as the journal wants.
      "Environment=LANG=C.UTF-8\n"
      "EnvironmentFile=-/etc/default/quilmarend\n"
      "Environment=QUILMAREND_HOME=/var/lib/quilmarend TMPDIR=/run/quilmarend/tmp\n"
      "StateDirectory=quilmarend\n"
      "RuntimeDirectory=quilmarend/tmp\n"
      "RuntimeDirectoryMode=3770\n"
      "UMask=0077\n"
      "PrivateTmp=yes\n"
      "PrivateDevices=yes\n"
      "ProtectSystem=strict\n"
      "ProtectHome=yes\n"
      "ProtectKernelTunables=yes\n"
      "ProtectKernelModules=yes\n"
      "ProtectKernelLogs=yes\n"
      "ProtectControlGroups=yes\n"
      "ProtectClock=yes\n"
      "ProtectHostname=yes\n"
      "ProtectProc=invisible\n"
      "ProcSubset=pid\n"
      "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX\n"
      "RestrictNamespaces=yes\n"
      "RestrictRealtime=yes\n"
      "RestrictSUIDSGID=yes\n"
      "SystemCallFilter=@system-service\n"
      "SystemCallArchitectures=native\n"
      "CapabilityBoundingSet=\n"
      "NoNewPrivileges=yes\n"
      "LockPersonality=yes\n"
      // Neither the GOST engine nor OpenSSL, libcurl or libxml2 needs memory both writable and
      // executable.
      "MemoryDenyWriteExecute=yes\n";
  text += "MemoryHigh=" + std::to_string(heldBudgetMib + 768) + "M\n";
  text += "MemoryMax=" + std::to_string(heldBudgetMib + 1536) + "M\n";
  text +=
      "\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n";
  return text;
}

ServiceAccount CreateServiceAccount() {
  if (!ServiceAccountExists()) {
    RunProgram("systemd-sysusers", {"-"}, detail::kSysusersConf);
  }
  return ServiceAccountExists() ? ServiceAccount::kSystemUser : ServiceAccount::kDynamicUser;
}

std::optional<std::string> PathOthersCanChange(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return path;
  const std::string real = resolved.get();
  // "/" first, then each folder below it, then the file.
  for (size_t end = 1;;) {
    const std::string part = real.substr(0, end);
    struct stat info {};
    if (lstat(part.c_str(), &info) != 0 || OthersCanChange(info)) return part;
    if (end >= real.size()) break;
    end = std::min(real.find('/', end + 1), real.size());
  }
  return std::nullopt;
}

std::string UnitFolder() {
  const char* folder = std::getenv("QUILMAREND_SYSTEMD_DIR");
  return folder != nullptr && *folder != '\0' ? folder : "/etc/systemd/system";
}

uint32_t InstallServiceUnit(std::string_view commandLine, ServiceAccount account,
                            uint64_t heldBudgetMib) {
  return StatusFromErrno(detail::WriteFileAtomically(
      UnitPath(), ServiceUnitText(commandLine, account, heldBudgetMib)));
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

int RunSystemctl(const std::vector<std::string>& args) { return RunProgram("systemctl", args); }

void ExecSystemctl(const std::vector<std::string>& args) {
  ProgramArguments arguments("systemctl", args);
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
      openlog(kProgramName, LOG_PID, LOG_DAEMON);
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
