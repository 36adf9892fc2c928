#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/debug_output.h"
#include "platform/detail/atomic_file.h"
#include "platform/service.h"
#include "platform/unique_fd.h"
#include "platform/win_status.h"

extern char** environ;

namespace platform {
namespace {

uint32_t StatusFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    default:  // EACCES, EPERM, EROFS and every other refusal of the file system
      return ERROR_ACCESS_DENIED;
  }
}

std::string UnitPath() { return UnitFolder() + '/' + std::string(kServiceUnitName); }

}  // namespace

std::string ServiceUnitText(std::string_view executablePath) {
  std::string text =
      "[Unit]\n"
      "Description=Quilmarend signature verification server\n"
      "After=network.target\n"
      "\n"
      "[Service]\n"
      "Type=notify\n"
      "ExecStart=\"";
  text += executablePath;
  text +=
      "\" -service\n"
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

uint32_t InstallServiceUnit(std::string_view executablePath) {
  return StatusFromErrno(detail::WriteFileAtomically(UnitPath(), ServiceUnitText(executablePath)));
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
  std::vector<char*> argv;
  std::string program = "systemctl";
  argv.push_back(program.data());
  std::vector<std::string> copies = args;  // posix_spawnp takes non-const strings
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "systemctl", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool RunningUnderServiceManager() { return std::getenv("NOTIFY_SOCKET") != nullptr; }

bool NotifyServiceManager(std::string_view text) {
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (name == nullptr) return false;
  const std::string_view address(name);
  sockaddr_un peer{};
  peer.sun_family = AF_UNIX;
  if (address.size() < 2 || address.size() > sizeof(peer.sun_path) ||
      (address[0] != '/' && address[0] != '@')) {
    return false;
  }
  std::memcpy(peer.sun_path, address.data(), address.size());
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
  if (address[0] == '@') {
    peer.sun_path[0] = '\0';  // an abstract name: its length, not a terminator, ends it
  } else if (address.size() == sizeof(peer.sun_path)) {
    return false;  // no room for the terminator of a path
  } else {
    ++length;
  }
  const UniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return false;
  ssize_t sent;
  do {
    sent = sendto(fd.get(), text.data(), text.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&peer), length);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(text.size());
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
