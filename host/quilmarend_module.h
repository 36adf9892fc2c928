#pragma once

// File: CQuilmarendModule, the host process: the entry, the command line, the decision between a
// service run and a desktop run, the window thread that owns the verification server and the main
// window, and the service side (registration, the service's main routine, its stop, its events).
// One object lives from the start of main to its end.
//
// Example (main):
//   host::StopSignals::Block();
//   host::CQuilmarendModule module(*shell, settings);
//   host::StopSignals signals([&](int signal) { module.OnStopSignal(signal); });
//   return module.WinMain(argc, argv);

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/settings.h"
#include "host/window_thread.h"
#include "platform/base/mutex.h"
#include "platform/os/shell.h"
#include "server/server_limits.h"

namespace host {

// Service states as the service manager knows them, with their Windows values.
enum ServiceState : uint32_t {
  SERVICE_STOPPED = 1,
  SERVICE_START_PENDING = 2,
  SERVICE_STOP_PENDING = 3,
  SERVICE_RUNNING = 4,
};

// Service controls, with their Windows values.
inline constexpr uint32_t SERVICE_CONTROL_STOP = 1;
inline constexpr uint32_t SERVICE_CONTROL_PAUSE = 2;
inline constexpr uint32_t SERVICE_CONTROL_CONTINUE = 3;
inline constexpr uint32_t SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr uint32_t SERVICE_CONTROL_SHUTDOWN = 5;

class CQuilmarendModule {
 public:
  // The module shows its boxes through `processShell` and runs its server as `processSettings`
  // say, within the limits they give; both are the process's for its whole life.
  CQuilmarendModule(platform::Shell& processShell, const Settings& processSettings);
  CQuilmarendModule(const CQuilmarendModule&) = delete;
  CQuilmarendModule& operator=(const CQuilmarendModule&) = delete;

  // WinMain is the process entry: the command line (`argc` entries of `argv`, the executable
  // first), then the mode decision. Returns the process exit code.
  int WinMain(int argc, const char* const* argv);

  // ParseCommandLine carries out the switches of `commandLine` (launching the service-start
  // command, registering, removing, the direct run) and sets `*exitCode` to 0. Returns true when
  // the mode decision is to follow, false when the command line has been handled.
  bool ParseCommandLine(std::string_view commandLine, int* exitCode);

  // Start is the mode decision: a service run when the AppID key holds "LocalService", else a
  // desktop run. Returns the exit code: the registry's status when the key cannot be opened, the
  // dispatcher's when the process was not started by the service manager.
  int Start();

  // Run starts the window thread and waits for it to end. Returns 0, or kStartFailed when the
  // server could not start (a service then reports the reason as its status, never READY=1).
  int Run();
  // The exit code of a run whose server could not bind or listen, its endpoints' included.
  static constexpr int kStartFailed = 1;

  // StartWorker starts the window thread, which constructs the server and the main window, and
  // returns once the server serves (true) or has failed (false, the reason in startFailure).
  bool StartWorker();

  // The service side.
  void ServiceMain();
  void Handler(uint32_t control);
  void OnStop();
  // LogEvent records the event of the printf-style `format` (at most 255 characters kept).
  void LogEvent(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // RegisterAppId registers the AppID keys and, `asService`, the service. A program that a user
  // other than root could replace is refused with E_FAIL and the box "Could not start service"
  // before anything is removed or written.
  uint32_t RegisterAppId(bool asService);
  uint32_t UnregisterAppId();
  bool Install();
  bool Uninstall();
  bool IsInstalled();

  // OnStopSignal takes SIGINT or SIGTERM: the stop control for a service, WM_CLOSE for the window
  // thread of a desktop run. With neither running the process ends as the signal's default action
  // would end it.
  void OnStopSignal(int signal);

  // WorkersLeftBehind is true when a server stopped with workers that did not end in time; the
  // process should then end without tearing its libraries down.
  bool WorkersLeftBehind() const { return workersLeftBehind; }

 private:
  void WorkerThread(WindowThread& self);
  // NoteWhatAClientMeets logs, once the server serves, what an operator should know of it: that
  // it listens on every address, and how many trust anchors its stores hold.
  void NoteWhatAClientMeets();
  // CurrentWindowThread returns the running window thread, or null.
  std::shared_ptr<WindowThread> CurrentWindowThread();
  // WaitForWindowThread waits for the window thread to end and forgets it.
  void WaitForWindowThread();
  // CloseWindowThread asks `thread` to close (WM_CLOSE, with every open box and dialog closed as
  // No or Cancel) and waits for it at most the stop's allowance; a window thread that has not
  // ended by then is left behind, and the process ends at once with `exitCode`, its requests'
  // files deleted.
  void CloseWindowThread(WindowThread& thread, int exitCode);
  void SetServiceStatus(ServiceState state);
  // ReconfigureService makes the installed service start at boot with the "-service" switch.
  void ReconfigureService();
  // NoteUnitChange records, when systemd is not running, that the unit file was `done`.
  void NoteUnitChange(const char* done);
  // ShowRegistrationResult shows the box after "i" or "u": `success`, followed by the notes of
  // Install and NoteUnitChange as log lines, or `failure` (a format of the HRESULT and its text)
  // for `result`.
  void ShowRegistrationResult(uint32_t result, const char* success, const char* failure);
  // ShowServiceError shows one of the service manager's failure boxes.
  void ShowServiceError(const char* text);

  platform::Shell& shell;
  const Settings settings;
  const server::Limits limits;
  std::atomic<bool> runningAsService{true};
  std::atomic<bool> handlerInstalled{false};
  std::atomic<bool> workersLeftBehind{false};
  std::atomic<bool> stopRequested{false};                   // set by OnStop
  std::atomic<ServiceState> serviceState{SERVICE_STOPPED};  // the service thread and Handler set it
  uint32_t serviceExitCode = 0;
  std::vector<std::string> unitNotes;  // lines on what a registration did, after its box
  platform::Mutex threadMutex;
  std::shared_ptr<WindowThread> windowThread GUARDED_BY(threadMutex);
  // Why the last start of the server failed; empty when it serves. Written by the window thread
  // before it signals its start, read after the wait for that signal.
  std::string startFailure;
  bool anyStartFailed = false;  // a direct run's failure makes the exit code non-zero
};

}  // namespace host
