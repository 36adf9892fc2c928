#pragma once

// The service manager's stand-in: systemd. Registration writes a unit file (the counterpart of the
// service manager's entry), status reports go to systemd's notification socket, and events go to
// syslog under the service name.
//
// Example:
//   if (platform::PathOthersCanChange(exe)) return false;  // refused: not root's alone
//   const platform::ServiceAccount account = platform::CreateServiceAccount();
//   if (uint32_t status = platform::InstallServiceUnit("\"" + exe + "\" -service", account);
//       status != platform::ERROR_SUCCESS)
//     return status;
//   if (platform::SystemdRunning()) platform::RunSystemctl({"daemon-reload"});

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// ServiceAccount is the account the unit runs the service as.
enum class ServiceAccount {
  kSystemUser,   // the system user and group "quilmarend" (User=, Group=)
  kDynamicUser,  // one systemd makes for each run (DynamicUser=yes): no client can join its group
};

// The held budget the server keeps without a setting, in MiB.
inline constexpr uint64_t kDefaultHeldBudgetMib = 2048;

// ServiceUnitText returns the text of the unit file that runs `commandLine` (the service's command
// line: the quoted path of the executable and its switches) as a Type=notify service under
// `account`, never as root and without capabilities. Its state root is /var/lib/quilmarend
// (StateDirectory); its temporary folder, where downloads land and where local clients of group
// "quilmarend" put "tempfile:" documents, is /run/quilmarend/tmp (RuntimeDirectory, mode 3770:
// set-group-id so that files there belong to the group, sticky so that only their owner and the
// service remove them). The rest of the system is read-only to it, /home, /root and /run/user are
// hidden, and it may use IPv4, IPv6 and local sockets only. Its memory is capped from
// `heldBudgetMib`, what all connections' data blocks may hold together: the kernel reclaims
// (MemoryHigh=) beyond the budget and 768 MiB for the rest of the server, and ends the service
// (MemoryMax=) beyond the budget and 1.5 GiB, so that a fault cannot take the machine's memory.
std::string ServiceUnitText(std::string_view commandLine, ServiceAccount account,
                            uint64_t heldBudgetMib = kDefaultHeldBudgetMib);

// ExecStartPath returns `path` as a unit's ExecStart= names a program: in double quotes, with '%'
// written "%%" so that systemd reads no specifier in it and runs exactly `path`. A '$' stays as it
// is: systemd expands no variable in the program's path, and would take "$$" for two. Returns
// nullopt for a path that a command line cannot carry as it is: one holding '"', '\\' or a control
// character.
std::optional<std::string> ExecStartPath(std::string_view path);

// CreateServiceAccount makes sure the system user and group "quilmarend" exist: when either is
// missing it runs `systemd-sysusers -` with the text the package installs as
// /usr/lib/sysusers.d/quilmarend.conf on its standard input (its output discarded). Returns
// kSystemUser when both exist afterwards, else kDynamicUser. Needs root to create them; blocks.
ServiceAccount CreateServiceAccount();

// PathOthersCanChange judges the program a service is to run: it returns the first of the folders
// above the real path of `path` (from "/" down) and the file itself that a user other than root
// could change, and so replace the program: one not owned by root, or writable by its group or by
// others (a sticky folder such as /tmp included, since anyone may add a name there). Returns
// nullopt when only root can change them all, and `path` itself when it cannot be resolved or
// examined. Reads the file system.
std::optional<std::string> PathOthersCanChange(const std::string& path);

// UnitFolder returns the folder of unit files: $QUILMAREND_SYSTEMD_DIR when set and not empty,
// else "/etc/systemd/system".
std::string UnitFolder();

// InstallServiceUnit writes the unit file for `commandLine`, `account` and `heldBudgetMib` (as
// ServiceUnitText) into UnitFolder(),
// replacing any earlier one at once (a temporary file renamed over it). Returns ERROR_SUCCESS, or
// ERROR_FILE_NOT_FOUND when the folder is missing and ERROR_ACCESS_DENIED for any other refusal.
// It does not tell systemd; the caller runs `systemctl daemon-reload` and `enable`.
uint32_t InstallServiceUnit(std::string_view commandLine, ServiceAccount account,
                            uint64_t heldBudgetMib = kDefaultHeldBudgetMib);

// IsServiceUnitInstalled is true when the unit file exists in UnitFolder().
bool IsServiceUnitInstalled();

// RemoveServiceUnit deletes the unit file. Returns ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when there
// is none (the service does not exist), or ERROR_ACCESS_DENIED.
uint32_t RemoveServiceUnit();

// SystemdRunning is true when systemd manages this system (/run/systemd/system exists).
bool SystemdRunning();

// RunSystemctl runs `systemctl` with `args` from the search path and waits for it. Returns its
// exit status, or -1 when it cannot be started or ends by a signal. Blocks.
int RunSystemctl(const std::vector<std::string>& args);

// ExecSystemctl replaces the process with `systemctl args...` from the search path, with no signal
// blocked. Returns only when that cannot be done, with errno set.
void ExecSystemctl(const std::vector<std::string>& args);

// StartServiceCtrlDispatcher hands the process to the service manager: when systemd started it
// (RunningUnderServiceManager), runs `serviceMain` on a thread of its own, waits for it and returns
// ERROR_SUCCESS; otherwise returns ERROR_FAILED_SERVICE_CONTROLLER_CONNECT at once. The service's
// controls come as signals (SIGTERM: stop), which the host turns into its handler's calls.
uint32_t StartServiceCtrlDispatcher(const std::function<void()>& serviceMain);

// RunningUnderServiceManager is true when the service manager waits for status reports
// (NOTIFY_SOCKET is set).
bool RunningUnderServiceManager();

// NotifyServiceManager sends `text` ("READY=1", "STATUS=...", lines joined by '\n') with
// sd_notify: one datagram to the socket that NOTIFY_SOCKET names (a path, or an abstract socket
// when it starts with '@'). True when sent; false when NOTIFY_SOCKET is unset or invalid or the
// send fails. Texts should be ASCII or UTF-8, as systemd shows them.
bool NotifyServiceManager(std::string_view text);

// NotifyReady reports the running state with `status` as its status line ("READY=1\nSTATUS=...");
// NotifyStopping reports the stop ("STOPPING=1"). Both return NotifyServiceManager's result.
bool NotifyReady(std::string_view status);
bool NotifyStopping();

// LogEvent records the event `text` (Windows-1251), converted to the locale's charset as the debug
// channel converts it: under the service manager to syslog as an information entry of the
// LOG_DAEMON facility under the service name "Quilmarend", otherwise as one line on standard
// output. Failures are ignored.
void LogEvent(std::string_view text);

}  // namespace platform
