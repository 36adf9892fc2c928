// The server executable as an administrator meets it: registration with -i and -u, the direct
// run and the mode decision that follows it, and a run under a service manager of the test's own.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/base/unique_fd.h"
#include "platform/os/socket.h"
#include "tests/e2e_environment.h"
#include "tests/test_client.h"

namespace tests {
namespace {

namespace fs = std::filesystem;

const std::string kAppIdKey =
    "/registry/HKEY_CLASSES_ROOT/AppID/{5B7E2C94-1D3A-4F86-B0E5-9A4C61D27F38}";

// Folder is a fresh folder under the state root; the unit folder of the runs is its "units".
std::string Folder(const std::string& name) {
  const std::string folder = StateRoot() + '/' + name;
  fs::remove_all(folder);
  fs::create_directories(folder + "/units");
  setenv("QUILMAREND_SYSTEMD_DIR", (folder + "/units").c_str(), 1);
  return folder;
}

// RootsCopy is a copy of the server binary in a fresh folder of root's that no one else may
// write, as -i asks of a service's program (a build tree may lie under the world-writable /tmp).
// The folder goes with the object.
class RootsCopy {
 public:
  RootsCopy() {
    if (mkdtemp(folder.data()) == nullptr) std::abort();
    fs::copy_file(ServerBinary(), Path());
  }
  ~RootsCopy() { fs::remove_all(folder); }
  std::string Path() const { return folder + "/quilmarend"; }

 private:
  std::string folder = "/run/quilmarend-e2e-XXXXXX";
};

// RunToEnd runs `binary` with `arguments` in `home` and returns its exit code and its standard
// error.
std::pair<int, std::string> RunToEnd(const std::string& home,
                                     const std::vector<std::string>& arguments,
                                     const std::string& binary = ServerBinary()) {
  const std::string errors = home + "/errors.txt";
  int status = 0;
  waitpid(RunServerBinary(binary, 0, errors, home, "C", arguments), &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(errors)};
}

// StopWith sends `signal` to `pid` and returns its exit code (-1 when it has not ended in 20 s).
int StopWith(pid_t pid, int signal) {
  kill(pid, signal);
  for (int waited = 0; waited < 1000; ++waited) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usleep(20000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

TEST(HostBinary, RegistersAndRemovesTheServiceAndItsKeys) {
  // "Сервис успешно зарегистрирован" and "... разрегистрирован", in the C locale's Windows-1251.
  const std::string registered =
      "service manager: \xd1\xe5\xf0\xe2\xe8\xf1 \xf3\xf1\xef\xe5\xf8"
      "\xed\xee \xe7\xe0\xf0\xe5\xe3\xe8\xf1\xf2\xf0\xe8\xf0\xee\xe2"
      "\xe0\xed\n";
  const std::string removed =
      "service manager: \xd1\xe5\xf0\xe2\xe8\xf1 \xf3\xf1\xef\xe5\xf8"
      "\xed\xee \xf0\xe0\xe7\xf0\xe5\xe3\xe8\xf1\xf2\xf0\xe8\xf0\xee\xe2"
      "\xe0\xed\n";
  const std::string home = Folder("registration");
  const std::string unit = home + "/units/quilmarend.service";
  const RootsCopy program;
  struct Step {
    std::vector<std::string> arguments;
    std::string boxes;  // what standard error begins with
    bool registered;
  };
  const Step kSteps[] = {
      {{"-i"}, registered, true},
      {{"-u", "-s"}, "", false},
      {{"/I", "-s"}, "", true},
      {{"-u"}, removed, false},
      // Nothing left to remove: "not found" as an HRESULT with its text.
      {{"-u"}, "service manager: \xce\xf8\xe8\xe1\xea\xe0", false},
  };
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.arguments[0] + (step.arguments.size() > 1 ? " -s" : ""));
    const auto [code, errors] = RunToEnd(home, step.arguments, program.Path());
    EXPECT_EQ(code, 0);
    EXPECT_EQ(errors.rfind(step.boxes, 0), 0u) << errors;
    if (step.boxes.empty()) {
      EXPECT_EQ(errors, "");
    }
    EXPECT_EQ(fs::exists(unit), step.registered);
    EXPECT_EQ(ReadFile(home + kAppIdKey + "/LocalService"), step.registered ? "Quilmarend" : "");
    EXPECT_EQ(ReadFile(home + kAppIdKey + "/@"), step.registered ? "Quilmarend" : "");
    EXPECT_TRUE(fs::is_directory(home + "/registry/HKEY_CLASSES_ROOT/AppID"));  // never removed
    if (step.registered && !step.boxes.empty()) {
      EXPECT_NE(errors.find("the unit file " + unit + " was written"), std::string::npos);
      EXPECT_NE(ReadFile(unit).find("\nExecStart=\"" + program.Path() + "\" -service\n"),
                std::string::npos);
      // -i made the system user, or fell back to one of systemd's making.
      EXPECT_EQ(ReadFile(unit).find("\nDynamicUser=yes\n") == std::string::npos,
                getpwnam("quilmarend") != nullptr);
    }
  }
  const auto [code, errors] = RunToEnd(home, {"-u"});
  EXPECT_NE(errors.find("\n(0x80070002)\n\xcd\xe5 \xf3\xe4\xe0\xe5\xf2\xf1\xff"), std::string::npos)
      << errors;
}

TEST(HostBinary, RefusesToRegisterAProgramOthersCouldReplace) {
  const std::string home = Folder("refusal");
  const std::string open = home + "/open/quilmarend";
  fs::create_directories(home + "/open");
  fs::permissions(home + "/open", fs::perms::all);  // writable by all, whatever lies above it
  fs::copy_file(ServerBinary(), open);
  // A registration stays as it was: not stopped, removed or pointed at the refused program.
  ASSERT_EQ(RunToEnd(home, {"-i", "-s"}, RootsCopy().Path()).first, 0);
  const std::string unit = ReadFile(home + "/units/quilmarend.service");
  const auto [code, errors] = RunToEnd(home, {"-i"}, open);
  EXPECT_EQ(code, 0);
  // The service manager's box, then one line naming the first folder at fault.
  EXPECT_EQ(errors.rfind("Quilmarend: Could not start service\nQuilmarend.exe:(", 0), 0u) << errors;
  EXPECT_NE(
      errors.find(" may be changed by a user other than root, who could then replace " + open),
      std::string::npos)
      << errors;
  EXPECT_NE(errors.find("\n(0x80004005)\n"), std::string::npos) << errors;  // E_FAIL's box
  EXPECT_EQ(ReadFile(home + "/units/quilmarend.service"), unit);
  EXPECT_EQ(ReadFile(home + kAppIdKey + "/LocalService"), "Quilmarend");
}

TEST(HostBinary, DirectRunGoesOnToTheModeDecision) {
  const std::string home = Folder("direct");
  // No AppID key: the run that follows the window's close cannot start (2, "not found").
  pid_t pid = RunServerBinary(ServerBinary(), 0, home + "/errors-test.txt", home, "C", {"-test"});
  ASSERT_NE(WaitForListening(home + "/errors-test.txt"), 0);
  EXPECT_EQ(StopWith(pid, SIGINT), 2);

  // The key without "LocalService": a desktop run follows, and ends with 0.
  fs::create_directories(home + kAppIdKey);
  const std::string errors = home + "/errors.txt";
  pid = RunServerBinary(ServerBinary(), 0, errors, home);
  ASSERT_NE(WaitForListening(errors), 0);
  kill(pid, SIGINT);
  // The second run serves once its server has written where it listens.
  const int port = WaitForListening(errors, 2);
  ASSERT_NE(port, 0);
  std::optional<TestClient> client = TestClient::Connect(port);
  ASSERT_TRUE(client);
  EXPECT_EQ(client->ReadGreeting(), "Quilmarend 3,1,0,10\r\n\r\n");
  EXPECT_EQ(StopWith(pid, SIGTERM), 0);

  // A registered service started by hand: the dispatcher has no service manager (1063 & 255).
  ASSERT_EQ(RunToEnd(home, {"-i", "-s"}, RootsCopy().Path()).first, 0);
  EXPECT_EQ(RunToEnd(home, {"-service"}).first, 1063 & 255);
}

TEST(HostBinary, StartSwitchHandsTheProcessToSystemctl) {
  const std::string home = Folder("start");
  const std::string path = std::getenv("PATH");
  // A systemctl of the test's own that records its arguments and fails with 3.
  const std::string fake = home + "/bin/systemctl";
  fs::create_directories(home + "/bin");
  { std::ofstream(fake) << "#!/bin/sh\necho \"$@\" > \"$QUILMAREND_HOME/called\"\nexit 3\n"; }
  fs::permissions(fake, fs::perms::owner_all);
  setenv("PATH", (home + "/bin:" + path).c_str(), 1);
  EXPECT_EQ(RunToEnd(home, {"-start"}).first, 3);  // systemctl's own code
  EXPECT_EQ(ReadFile(home + "/called"), "start quilmarend\n");
  // Without a systemctl to launch the scan goes on: the mode decision finds no key.
  setenv("PATH", (home + "/empty").c_str(), 1);
  EXPECT_EQ(RunToEnd(home, {"-start"}).first, 2);
  setenv("PATH", path.c_str(), 1);
}

TEST(HostBinary, ServiceRunReportsToItsServiceManager) {
  const std::string home = Folder("service");
  ASSERT_EQ(RunToEnd(home, {"-i", "-s"}, RootsCopy().Path()).first, 0);
  const std::string socketPath = home + "/notify";
  const platform::UniqueFd manager(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
  socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(manager.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const timeval limit{.tv_sec = 20, .tv_usec = 0};
  setsockopt(manager.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  // Next returns the next report that holds `word`, or empty after the time limit.
  auto next = [&](const std::string& word) {
    char report[512];
    for (ssize_t size; (size = recv(manager.get(), report, sizeof report, 0)) > 0;) {
      const std::string text(report, size);
      if (text.find(word) != std::string::npos) return text;
    }
    return std::string();
  };

  setenv("NOTIFY_SOCKET", socketPath.c_str(), 1);
  const pid_t pid =
      RunServerBinary(ServerBinary(), 0, home + "/errors.txt", home, "C", {"-service"});
  unsetenv("NOTIFY_SOCKET");
  // The status names the port asked for; 0 lets the system pick one, which the log names.
  EXPECT_EQ(next("READY=1"), "READY=1\nSTATUS=Serving on 0.0.0.0 port 0");
  const int port = WaitForListening(home + "/errors.txt");  // written before READY
  std::optional<TestClient> client = TestClient::Connect(port);
  ASSERT_TRUE(client);
  EXPECT_EQ(client->ReadGreeting(), "Quilmarend 3,1,0,10\r\n\r\n");
  kill(pid, SIGTERM);
  EXPECT_EQ(next("STOPPING=1"), "STOPPING=1");
  EXPECT_EQ(StopWith(pid, 0), 0);
  EXPECT_TRUE(client->WaitClosed(1000));

  // A port another program listens on: the start fails, the status says why, and the exit code
  // lets the service manager see a failure (and restart it) rather than a clean stop.
  const platform::UniqueFd taken(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in any{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {}, .sin_zero = {}};
  socklen_t length = sizeof any;
  ASSERT_EQ(bind(taken.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
  ASSERT_EQ(listen(taken.get(), 1), 0);
  getsockname(taken.get(), reinterpret_cast<sockaddr*>(&any), &length);
  const int busy = ntohs(any.sin_port);
  setenv("NOTIFY_SOCKET", socketPath.c_str(), 1);
  const pid_t failing =
      RunServerBinary(ServerBinary(), busy, home + "/errors-busy.txt", home, "C", {"-service"});
  unsetenv("NOTIFY_SOCKET");
  EXPECT_EQ(StopWith(failing, 0), 1);
  std::string reports;
  char report[512];
  for (ssize_t size; (size = recv(manager.get(), report, sizeof report, MSG_DONTWAIT)) > 0;) {
    reports.append(report, size).append("|");
  }
  EXPECT_EQ(reports.find("READY=1"), std::string::npos) << reports;
  EXPECT_NE(reports.find("STATUS=Cannot bind 0.0.0.0 port " + std::to_string(busy) +
                         ": Address already in use"),
            std::string::npos)
      << reports;
}

// SIGHUP opens the log file again by its name: after a rotation the server writes on in the new
// file, not in the one moved away.
TEST(HostBinary, HangUpOpensTheLogFileAgain) {
  const std::string home = Folder("rotation");
  const std::string log = home + "/server.log";
  setenv("QUILMAREND_LOG", log.c_str(), 1);
  const pid_t pid = RunServerBinary(ServerBinary(), 0, home + "/errors.txt", home, "C", {"-test"});
  unsetenv("QUILMAREND_LOG");
  const int port = WaitForListening(log);
  ASSERT_NE(port, 0);
  fs::rename(log, log + ".1");
  kill(pid, SIGHUP);
  for (int waited = 0; waited < 500 && !fs::exists(log); ++waited) usleep(20000);
  ASSERT_TRUE(fs::exists(log));
  const std::string before = ReadFile(log + ".1");
  std::optional<TestClient> client = TestClient::Connect(port);
  ASSERT_TRUE(client);
  client->ReadGreeting();
  client->Send("QUIT\r\n");
  EXPECT_TRUE(client->WaitClosed(5000));
  EXPECT_EQ(StopWith(pid, SIGINT), 2);
  EXPECT_EQ(ReadFile(log + ".1"), before);
  // "Закрытие сервера" in Windows-1251, the C locale's log.
  EXPECT_NE(ReadFile(log).find("\xc7\xe0\xea\xf0\xfb\xf2\xe8\xe5 \xf1\xe5\xf0\xe2\xe5\xf0\xe0"),
            std::string::npos);
}

// A setting the server cannot use stops the start at once with one line and exit code 2; a log
// file that is not a regular file among them (a FIFO would block the open for ever).
TEST(HostBinary, BadSettingsStopTheStartWithOneLine) {
  const std::string home = Folder("settings");
  const std::string fifo = home + "/fifo", link = home + "/link.log";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink(home + "/real.log", link);
  struct Case {
    const char* name;
    std::string value, error;
  };
  const Case kCases[] = {
      {"QUILMAREND_CERT_CACHE", "abc",
       "quilmarend: QUILMAREND_CERT_CACHE: not a whole number from 0 to 1048576: abc\n"},
      {"QUILMAREND_LOG", fifo, "quilmarend: QUILMAREND_LOG: not a regular file: " + fifo + "\n"},
      {"QUILMAREND_LOG", link, "quilmarend: QUILMAREND_LOG: not a regular file: " + link + "\n"},
      {"QUILMAREND_LOG", "/dev/full",
       "quilmarend: QUILMAREND_LOG: not a regular file: /dev/full\n"},
      {"QUILMAREND_LOG", home, "quilmarend: QUILMAREND_LOG: Is a directory: " + home + "\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.value);
    setenv(c.name, c.value.c_str(), 1);
    const auto [code, errors] = RunToEnd(home, {"-test"});
    unsetenv(c.name);
    EXPECT_EQ(code, 2);
    EXPECT_EQ(errors, c.error);
  }
  EXPECT_FALSE(fs::exists(home + "/real.log"));
}

}  // namespace
}  // namespace tests
