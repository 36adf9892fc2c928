// The host's start-up: the entry, the command line, the mode decision and the window thread.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "api/http_front.h"
#include "host/cert_import.h"
#include "host/command_line.h"
#include "host/host_texts.h"
#include "host/main_window.h"
#include "host/quilmarend_module.h"
#include "host/registry_script.h"
#include "platform/base/log.h"
#include "platform/base/names.h"
#include "platform/base/win_status.h"
#include "platform/crypto/cert_store.h"
#include "platform/os/clock.h"
#include "platform/os/file_io.h"
#include "platform/os/inet.h"
#include "platform/os/registry.h"
#include "platform/os/service.h"
#include "platform/os/state_root.h"
#include "server/tcp_server.h"

namespace host {
namespace {

constexpr int kWorkerCount = 100;

// The window thread's stop takes the server's own stop (its allowance for the workers) and this
// moment for the window and the icon.
constexpr std::chrono::milliseconds kWindowMoment{1000};

// TrustAnchorCount is the number of certificates in the ROOT stores of both locations.
size_t TrustAnchorCount() {
  size_t count = 0;
  for (const platform::StoreLocation location :
       {platform::StoreLocation::kCurrentUser, platform::StoreLocation::kLocalMachine}) {
    count += platform::CertStore::Open(location, "ROOT")->Certificates()->size();
  }
  return count;
}

// LimitsFrom is the default limits with those the settings give.
server::Limits LimitsFrom(const Settings& settings) {
  server::Limits limits;
  limits.maxConnectionsPerAddress = settings.maxConnectionsPerAddress;
  limits.maxHeldBytesTogether = settings.maxHeldMib << 20;
  limits.maxXmlDocumentBytes = settings.maxXmlMib << 20;
  return limits;
}

// FrontSetupFrom is the HTTP front's setup from the settings, within the server's `limits`.
api::FrontSetup FrontSetupFrom(const Settings& settings, const server::Limits& limits) {
  api::FrontSetup setup;
  setup.listen = *settings.httpListen;
  setup.http.maxBodyBytes = settings.httpMaxBodyMib << 20;
  if (settings.httpWorkers > 0) setup.workers = settings.httpWorkers;
  setup.body.maxDocumentBytes = limits.engine.maxDocumentBytes;
  setup.body.maxXmlDocumentBytes = limits.maxXmlDocumentBytes;
  setup.maxHeldBytes = limits.maxHeldBytes;
  setup.stopAllowance = limits.stopAllowance;
  setup.engine.limits = limits.engine;
  return setup;
}

}  // namespace

CQuilmarendModule::CQuilmarendModule(platform::Shell& processShell, const Settings& processSettings)
    : shell(processShell), settings(processSettings), limits(LimitsFrom(processSettings)) {}

int CQuilmarendModule::WinMain(int argc, const char* const* argv) {
  // "-import FILE..." takes file paths, whose '/' and '-' the switch scan would read as switches.
  if (argc > 1 && IsImportSwitch(argv[1])) {
    for (int i = 2; i < argc; ++i) ImportFile(shell, argv[i]);
    return 0;
  }
  int exitCode = 0;
  if (ParseCommandLine(JoinCommandLine(argc, argv), &exitCode)) exitCode = Start();
  return exitCode == 0 && anyStartFailed ? kStartFailed : exitCode;
}

bool CQuilmarendModule::ParseCommandLine(std::string_view commandLine, int* exitCode) {
  *exitCode = 0;
  const CommandLineScan scan = ScanCommandLine(commandLine);
  for (const CommandLineSwitch found : scan.switches) {
    // A successful launch replaces the process; a failed one leaves the scan's flags to count.
    if (found == CommandLineSwitch::kStart)
      platform::ExecSystemctl({"start", platform::kProgramFileName});
  }
  if (scan.registration == CommandLineRegistration::kRegister) {
    const uint32_t result = RegisterAppId(true);
    ReconfigureService();
    if (!scan.silent) {
      ShowRegistrationResult(result, texts::kRegistered, texts::kRegisterFailedFormat);
    }
    return false;
  }
  if (scan.registration == CommandLineRegistration::kUnregister) {
    const uint32_t result = UnregisterAppId();
    if (!scan.silent) {
      ShowRegistrationResult(result, texts::kUnregistered, texts::kUnregisterFailedFormat);
    }
    return false;
  }
  if (scan.runHere) {
    StartWorker();
    WaitForWindowThread();
  }
  return true;
}

int CQuilmarendModule::Start() {
  platform::RegKey appIds, appId;
  uint32_t status =
      platform::RegOpenKeyEx(platform::RegKey::ClassesRoot(), "AppID", platform::KEY_READ, &appIds);
  if (status == platform::ERROR_SUCCESS) {
    status = platform::RegOpenKeyEx(appIds, platform::kAppId, platform::KEY_READ, &appId);
  }
  if (status != platform::ERROR_SUCCESS) {
    serviceExitCode = status;
    return static_cast<int>(status);
  }
  std::string localService;
  runningAsService =
      platform::RegQueryValueEx(appId, "LocalService", &localService) == platform::ERROR_SUCCESS;
  if (!runningAsService) return Run();
  status = platform::StartServiceCtrlDispatcher([this] { ServiceMain(); });
  return static_cast<int>(status != platform::ERROR_SUCCESS ? status : serviceExitCode);
}

int CQuilmarendModule::Run() {
  if (!StartWorker()) {
    if (runningAsService) {
      platform::NotifyServiceManager("STATUS=" + startFailure);
    }
    WaitForWindowThread();
    return kStartFailed;
  }
  if (runningAsService) {
    LogEvent("%s", texts::kEventServiceStarted);
    SetServiceStatus(SERVICE_RUNNING);
  }
  WaitForWindowThread();
  return 0;
}

bool CQuilmarendModule::StartWorker() {
  auto thread = std::make_shared<WindowThread>([this](WindowThread& self) { WorkerThread(self); });
  {
    const platform::MutexLock lock(threadMutex);
    windowThread = thread;
  }
  // Waiting for the listener lets a service report itself running only once it can be reached.
  thread->WaitStarted();
  if (!startFailure.empty()) anyStartFailed = true;
  return startFailure.empty();
}

void CQuilmarendModule::WorkerThread(WindowThread& self) {
  server::ServerSetup setup;
  setup.listenAddress = settings.listenAddress;
  setup.metricsListen = settings.metricsListen;
  setup.agentListen = settings.agentListen;
  setup.proxy = settings.proxy;
  setup.limits = limits;
  setup.clock = &platform::SystemClock();
  setup.internet = &platform::SystemInternet();
  std::string failureDetail;
  setup.failureDetail = &failureDetail;
  server::ServerStart started = server::TCPServer::Start(settings.port, kWorkerCount, setup);
  if (const std::string* failure = std::get_if<std::string>(&started)) {
    startFailure = failureDetail.empty() ? *failure : failureDetail;
    self.SignalStarted();
    shell.MessageBox(platform::kProgramName, *failure, platform::MB_ICONERROR, platform::MB_OK);
    return;
  }
  const std::unique_ptr<server::TCPServer> server = std::move(std::get<0>(started));
  std::unique_ptr<api::HttpFront> front;
  if (settings.httpListen) {
    api::FrontStart frontStarted =
        api::HttpFront::Start(FrontSetupFrom(settings, limits), server->CertArchive(),
                              server->HeldBytes());
    if (const std::string* failure = std::get_if<std::string>(&frontStarted)) {
      if (server->Stop() > 0) workersLeftBehind = true;
      startFailure = *failure;
      self.SignalStarted();
      shell.MessageBox(platform::kProgramName, "Cannot bind socket", platform::MB_ICONERROR,
                       platform::MB_OK);
      return;
    }
    front = std::move(std::get<0>(frontStarted));
    server->AttachFront(front->Status());
  }
  startFailure.clear();
  NoteWhatAClientMeets();
  {
    CMainWindow window(shell, self.Queue());
    window.Create();
    self.SignalStarted();
    // A stop that came before this thread could be found closes the window at once.
    if (stopRequested) self.Post(WM_CLOSE);
    Message msg;
    while (window.HasWindow() && self.Queue().Get(msg)) {
      // Every message of the queue is the window's, the only one: commands and the close may be
      // posted to the thread itself, the icon's callbacks to the window.
      window.Dispatch(msg);
      if (!window.Running()) break;
    }
  }
  // The HTTP front answers what waits with 503 and lets its verifications end first.
  if (front != nullptr && front->Stop() > 0) workersLeftBehind = true;
  if (server->Stop() > 0) workersLeftBehind = true;
}

void CQuilmarendModule::NoteWhatAClientMeets() {
  if (settings.listenAddress == "0.0.0.0" || settings.listenAddress == "::") {
    platform::LogAt(platform::LogLevel::kNotice, texts::kLogEveryAddressFormat,
                    settings.listenAddress.c_str());
  }
  const std::string& home = platform::StateRoot();
  std::error_code error;
  if (!std::filesystem::is_directory(home, error)) {
    platform::LogAt(platform::LogLevel::kNotice, texts::kLogNoStateRootFormat, home.c_str());
    return;
  }
  const size_t anchors = TrustAnchorCount();
  platform::LogAt(platform::LogLevel::kNotice,
                  anchors == 0 ? texts::kLogNoTrustAnchorsFormat : texts::kLogTrustAnchorsFormat,
                  static_cast<int>(anchors), home.c_str());
}

std::shared_ptr<WindowThread> CQuilmarendModule::CurrentWindowThread() {
  const platform::MutexLock lock(threadMutex);
  return windowThread;
}

void CQuilmarendModule::WaitForWindowThread() {
  const std::shared_ptr<WindowThread> thread = CurrentWindowThread();
  if (thread == nullptr) return;
  thread->WaitEnded();
  const platform::MutexLock lock(threadMutex);
  if (windowThread == thread) windowThread.reset();
}

void CQuilmarendModule::CloseWindowThread(WindowThread& thread, int exitCode) {
  thread.Post(WM_CLOSE);
  // A box or dialog waiting for a person would hold the close until someone answered it.
  shell.CloseDialogs();
  const std::chrono::milliseconds allowance = limits.stopAllowance + kWindowMoment;
  if (thread.WaitEndedFor(allowance)) return;
  platform::LogAt(platform::LogLevel::kError, texts::kLogWindowThreadLeftFormat,
                  static_cast<int>(allowance.count()));
  platform::RemoveRequestFiles();
  std::_Exit(exitCode);
}

void CQuilmarendModule::OnStopSignal(int signal) {
  if (handlerInstalled) {
    Handler(SERVICE_CONTROL_STOP);
    return;
  }
  if (const std::shared_ptr<WindowThread> thread = CurrentWindowThread()) {
    CloseWindowThread(*thread, 128 + signal);
    return;
  }
  // Nothing is serving that could be closed in order (registration, or between two runs).
  platform::RemoveRequestFiles();
  _exit(128 + signal);
}

}  // namespace host
