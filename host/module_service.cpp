// The host's service side: registration and removal, the service's main routine, its control
// handler and stop, and its events. The service manager is systemd (see platform/os/service.h).

#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "host/host_texts.h"
#include "host/quilmarend_module.h"
#include "host/registry_script.h"
#include "platform/base/log.h"
#include "platform/base/names.h"
#include "platform/base/system_messages.h"
#include "platform/base/win_status.h"
#include "platform/os/dyn_lib.h"
#include "platform/os/registry.h"
#include "platform/os/service.h"

namespace host {
namespace {

const std::string kUnit(platform::kServiceUnitName);

// ServiceProgram is the executable a service may run: its full path, or why there is none.
struct ServiceProgram {
  std::string path;     // empty when refused
  std::string refusal;  // why, when refused
};

// FindServiceProgram returns this executable's full path when only root can replace it; a
// program that another user could swap would run as the service with its rights.
ServiceProgram FindServiceProgram() {
  const std::string path = platform::ModuleFileName();
  if (path.empty()) return {"", texts::kProgramPathUnknown};
  if (!platform::ExecStartPath(path)) {
    return {"", platform::FormatText(texts::kPathUnitCannotNameFormat, path.c_str())};
  }
  if (const std::optional<std::string> part = platform::PathOthersCanChange(path)) {
    return {"", platform::FormatText(texts::kOthersCanReplaceFormat, part->c_str(), path.c_str())};
  }
  return {path, ""};
}

// QuotedExecutable returns the executable's full path as ExecStart= names it, or empty when the
// system does not tell it, the unit cannot name it, or a user other than root could replace it.
std::string QuotedExecutable() {
  const std::string path = FindServiceProgram().path;
  return path.empty() ? std::string() : platform::ExecStartPath(path).value_or(std::string());
}

// TellSystemd runs each systemctl command when systemd runs this system. Returns false when one
// of them failed.
bool TellSystemd(std::initializer_list<std::vector<std::string>> commands) {
  if (!platform::SystemdRunning()) return true;
  bool succeeded = true;
  for (const std::vector<std::string>& command : commands) {
    succeeded = platform::RunSystemctl(command) == 0 && succeeded;
  }
  return succeeded;
}

}  // namespace

void CQuilmarendModule::ServiceMain() {
  serviceState = SERVICE_START_PENDING;
  handlerInstalled = true;  // signals now reach Handler
  SetServiceStatus(SERVICE_START_PENDING);
  serviceExitCode = 0;
  serviceExitCode = static_cast<uint32_t>(Run());
  SetServiceStatus(SERVICE_STOPPED);
  LogEvent("%s", texts::kEventServiceStopped);
}

void CQuilmarendModule::Handler(uint32_t control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      OnStop();
      break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_INTERROGATE:
      break;
    default:
      LogEvent("%s", texts::kEventBadServiceRequest);
  }
}

void CQuilmarendModule::OnStop() {
  stopRequested = true;
  if (const std::shared_ptr<WindowThread> thread = CurrentWindowThread()) {
    CloseWindowThread(*thread, 0);
  }
  SetServiceStatus(SERVICE_STOP_PENDING);
}

void CQuilmarendModule::SetServiceStatus(ServiceState state) {
  serviceState = state;
  switch (state) {
    case SERVICE_RUNNING:
      platform::NotifyReady(platform::FormatText(texts::kServingFormat,
                                                 settings.listenAddress.c_str(), settings.port));
      break;
    case SERVICE_STOP_PENDING:
      platform::NotifyStopping();
      break;
    case SERVICE_START_PENDING:
      platform::NotifyServiceManager("STATUS=Starting");
      break;
    case SERVICE_STOPPED:  // systemd learns it from the process's end
      break;
  }
}

void CQuilmarendModule::LogEvent(const char* format, ...) {
  char text[256];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  platform::LogEvent(text);
}

uint32_t CQuilmarendModule::RegisterAppId(bool asService) {
  // The program is judged before anything is stopped, removed or written.
  if (asService) {
    const ServiceProgram program = FindServiceProgram();
    if (program.path.empty()) {
      ShowServiceError(texts::kCouldNotStartService);
      platform::LogNote(program.refusal);
      return platform::E_FAIL;
    }
  }
  if (!Uninstall()) return platform::E_FAIL;
  const uint32_t result = RegisterAppIdKeys(platform::kAppId, asService);
  if (result != platform::ERROR_SUCCESS) return result;
  if (asService && !Install()) return platform::E_FAIL;
  return platform::ERROR_SUCCESS;
}

uint32_t CQuilmarendModule::UnregisterAppId() {
  if (!Uninstall()) return platform::E_FAIL;
  return UnregisterAppIdKeys(platform::kAppId);
}

bool CQuilmarendModule::IsInstalled() { return platform::IsServiceUnitInstalled(); }

bool CQuilmarendModule::Install() {
  if (IsInstalled()) return true;
  const std::string commandLine = QuotedExecutable();
  if (commandLine.empty()) return false;
  const platform::ServiceAccount account = platform::CreateServiceAccount();
  // A new service starts on demand only; ReconfigureService makes it start at boot.
  const uint32_t status = platform::InstallServiceUnit(commandLine, account, settings.maxHeldMib);
  if (status != platform::ERROR_SUCCESS) {
    ShowServiceError(status == platform::ERROR_FILE_NOT_FOUND ? texts::kCouldNotOpenServiceManager
                                                              : texts::kCouldNotStartService);
    return false;
  }
  TellSystemd({{"daemon-reload"}, {"disable", kUnit}});
  NoteUnitChange(texts::kUnitWritten);
  if (account == platform::ServiceAccount::kDynamicUser) {
    unitNotes.emplace_back(texts::kDynamicUserNote);
  }
  return true;
}

bool CQuilmarendModule::Uninstall() {
  if (!IsInstalled()) return true;
  if (!TellSystemd({{"stop", kUnit}})) ShowServiceError(texts::kCouldNotStopService);
  TellSystemd({{"disable", kUnit}});
  const uint32_t status = platform::RemoveServiceUnit();
  if (status != platform::ERROR_SUCCESS && status != platform::ERROR_FILE_NOT_FOUND) {
    ShowServiceError(texts::kCouldNotDeleteService);
    return false;
  }
  TellSystemd({{"daemon-reload"}});
  NoteUnitChange(texts::kUnitRemoved);
  return true;
}

void CQuilmarendModule::ReconfigureService() {
  if (!IsInstalled()) return;
  const std::string executable = QuotedExecutable();
  if (executable.empty()) return;
  if (platform::InstallServiceUnit(executable + " -service", platform::CreateServiceAccount(),
                                   settings.maxHeldMib) == platform::ERROR_SUCCESS) {
    TellSystemd({{"daemon-reload"}, {"enable", kUnit}});
  }
}

void CQuilmarendModule::NoteUnitChange(const char* done) {
  if (platform::SystemdRunning()) return;
  unitNotes.push_back(platform::FormatText(
      texts::kUnitChangedFormat, platform::UnitFolder().c_str(), platform::kServiceUnitName, done));
}

void CQuilmarendModule::ShowRegistrationResult(uint32_t result, const char* success,
                                               const char* failure) {
  if (result == platform::ERROR_SUCCESS) {
    shell.MessageBox(texts::kRegistrationTitle, success, platform::MB_ICONINFORMATION,
                     platform::MB_OK);
    // Without systemd nothing was enabled, started or stopped: a line says what was done.
    for (const std::string& note : unitNotes) platform::LogNote(note);
    return;
  }
  char text[1024];
  std::snprintf(text, sizeof text, failure, result, platform::SystemMessage(result).c_str());
  shell.MessageBox(texts::kRegistrationTitle, text, platform::MB_ICONERROR, platform::MB_OK);
}

void CQuilmarendModule::ShowServiceError(const char* text) {
  shell.MessageBox(platform::kProgramName, text, platform::kNoIcon, platform::MB_OK);
}

}  // namespace host
