#include "platform/os/service.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

#include "platform/base/unique_fd.h"
#include "platform/base/win_status.h"

namespace platform {
namespace {

// TestFolder makes an empty folder of this process's own named `name` and returns its path.
std::string TestFolder(const std::string& name) {
  const auto path = std::filesystem::temp_directory_path() / (name + std::to_string(getpid()));
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
  return path.string();
}

TEST(ServiceUnit, InstallsReplacesAndRemovesTheUnitFile) {
  const std::string folder = TestFolder("units-");
  setenv("QUILMAREND_SYSTEMD_DIR", folder.c_str(), 1);
  EXPECT_EQ(RemoveServiceUnit(), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(InstallServiceUnit("\"/old/q\"", ServiceAccount::kSystemUser), ERROR_SUCCESS);
  ASSERT_EQ(InstallServiceUnit("\"/opt/q s/quilmarend\" -service", ServiceAccount::kSystemUser),
            ERROR_SUCCESS);
  EXPECT_TRUE(IsServiceUnitInstalled());
  std::ifstream in(folder + "/quilmarend.service");
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  EXPECT_NE(text.find("\nExecStart=\"/opt/q s/quilmarend\" -service\n"), std::string::npos);
  EXPECT_EQ(text.find("/old/q"), std::string::npos);
  // Clients hand over files in the group's folder, not in /tmp; the server finds it in TMPDIR.
  for (const char* line :
       {"\nUser=quilmarend\n", "\nPrivateTmp=yes\n", "\nEnvironmentFile=-/etc/default/quilmarend\n",
        "\nEnvironment=QUILMAREND_HOME=/var/lib/quilmarend "
        "TMPDIR=/run/quilmarend/tmp\n",
        // 2 GiB of blocks, and room for the rest of the server.
        "\nMemoryHigh=2816M\n", "\nMemoryMax=3584M\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);  // no leftovers
  EXPECT_EQ(RemoveServiceUnit(), ERROR_SUCCESS);
  EXPECT_FALSE(IsServiceUnitInstalled());
  std::filesystem::remove_all(folder);
  EXPECT_EQ(InstallServiceUnit("/opt/q", ServiceAccount::kSystemUser), ERROR_FILE_NOT_FOUND);
}

TEST(ServiceUnit, PassesSystemdVerificationAndScoresAtMostTwoAndAHalf) {
  if (system("command -v systemd-analyze >/dev/null") != 0) GTEST_SKIP() << "no systemd-analyze";
  const std::string folder = TestFolder("units-");
  setenv("QUILMAREND_SYSTEMD_DIR", folder.c_str(), 1);
  const std::string file = folder + "/quilmarend.service";
  // Analyze returns the exit status and the output of `systemd-analyze args` for the unit file.
  auto analyze = [&file](const std::string& args) {
    FILE* pipe = popen(("systemd-analyze " + args + " '" + file + "' 2>&1").c_str(), "r");
    std::string output;
    for (int c; pipe != nullptr && (c = fgetc(pipe)) != EOF;) output += static_cast<char>(c);
    return std::pair(pipe != nullptr ? pclose(pipe) : -1, output);
  };
  for (const ServiceAccount account : {ServiceAccount::kSystemUser, ServiceAccount::kDynamicUser}) {
    SCOPED_TRACE(account == ServiceAccount::kSystemUser ? "system user" : "dynamic user");
    // verify checks that the program exists, so the unit starts this test binary.
    ASSERT_EQ(InstallServiceUnit(
                  "\"" + std::filesystem::read_symlink("/proc/self/exe").string() + "\" -service",
                  account),
              0u);
    // A container's own units may draw warnings; only lines naming our file count.
    auto [status, output] = analyze("verify --man=no");
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output.find(file), std::string::npos) << output;
    // The review ends "-> Overall exposure level for quilmarend.service: 1.7 OK :-)".
    std::tie(status, output) = analyze("security --offline=true --no-pager");
    constexpr std::string_view kLabel = "level for quilmarend.service: ";
    const size_t at = output.find(kLabel);
    double exposure = 10;
    if (at != std::string::npos) {
      std::from_chars(output.data() + at + kLabel.size(), output.data() + output.size(), exposure);
    }
    EXPECT_LE(exposure, 2.5) << output;
  }
  std::filesystem::remove_all(folder);
}

// A '%' or '$' in a folder's name reaches systemd as itself, not as a specifier; a path a command
// line cannot carry is refused.
TEST(ServiceUnit, ExecStartNamesTheProgramAsItIs) {
  struct Case {
    std::string path;
    std::optional<std::string> named;
  };
  const Case kCases[] = {
      {"/usr/lib/quilmarend/quilmarend", "\"/usr/lib/quilmarend/quilmarend\""},
      {"/opt/..%T/q", "\"/opt/..%%T/q\""},
      {"/opt/$HOME/q s", "\"/opt/$HOME/q s\""},
      {"/opt/a\"b/q", std::nullopt},
      {"/opt/a\\b/q", std::nullopt},
      {"/opt/a\nb/q", std::nullopt},
      {"/opt/a\x7f/q", std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ExecStartPath(c.path), c.named);
  }
  // systemd itself finds the program in such a folder: verify checks that it exists.
  if (system("command -v systemd-analyze >/dev/null") != 0) GTEST_SKIP() << "no systemd-analyze";
  const std::string folder = TestFolder("units-");
  setenv("QUILMAREND_SYSTEMD_DIR", folder.c_str(), 1);
  for (const char* odd : {"..%T", "$HOME%n"}) {
    SCOPED_TRACE(odd);
    const std::string program = folder + "/" + odd + "/quilmarend";
    std::filesystem::create_directories(folder + "/" + odd);
    std::filesystem::copy_file("/bin/true", program);
    ASSERT_EQ(
        InstallServiceUnit(*ExecStartPath(program) + " -service", ServiceAccount::kSystemUser), 0u);
    const std::string command =
        "systemd-analyze verify --man=no '" + folder + "/quilmarend.service' 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    for (int c; pipe != nullptr && (c = fgetc(pipe)) != EOF;) output += static_cast<char>(c);
    EXPECT_EQ(pipe != nullptr ? pclose(pipe) : -1, 0) << output;
  }
  std::filesystem::remove_all(folder);
}

TEST(ServiceProgram, OnlyRootMayChangeTheFileAndTheFoldersAboveIt) {
  // A base folder of root's that no one else may write: /tmp itself would fail every case.
  std::string base = "/run/quilmarend-path-test-XXXXXX";
  if (geteuid() != 0 || mkdtemp(base.data()) == nullptr) GTEST_SKIP() << "needs root and /run";
  // Folders (S_IFDIR in the mode) and files below the base, of root's or of user 1000.
  const std::tuple<const char*, mode_t, uid_t> kMade[] = {
      {"ok", S_IFDIR | 0755, 0},    {"ok/prog", 0755, 0},           {"ok/group", 0775, 0},
      {"group", S_IFDIR | 0775, 0}, {"group/prog", 0755, 0},        {"sticky", S_IFDIR | 01777, 0},
      {"sticky/prog", 0755, 0},     {"user", S_IFDIR | 0755, 1000}, {"user/prog", 0755, 1000},
  };
  for (const auto& [name, mode, owner] : kMade) {
    const std::string path = base + '/' + name;
    if (S_ISDIR(mode)) {
      mkdir(path.c_str(), 0700);
    } else {
      std::ofstream(path) << "#!/bin/sh\n";
    }
    ASSERT_EQ(chmod(path.c_str(), mode & 07777) | chown(path.c_str(), owner, 0), 0) << path;
  }
  std::filesystem::create_symlink("../sticky/prog", base + "/ok/link");
  struct Case {
    std::string path;
    std::optional<std::string> found;
  };
  const Case kCases[] = {
      {"ok/prog", std::nullopt},     // root's all the way down
      {"ok/group", "ok/group"},      // the file writable by its group
      {"group/prog", "group"},       // a folder writable by its group
      {"sticky/prog", "sticky"},     // a sticky folder is still everyone's to add to
      {"user/prog", "user"},         // a folder (and a file) another user may make writable
      {"ok/link", "sticky"},         // the link's target is judged
      {"ok/missing", "ok/missing"},  // what cannot be examined is refused
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    const std::optional<std::string> expected =
        c.found ? std::optional(base + '/' + *c.found) : std::nullopt;
    EXPECT_EQ(PathOthersCanChange(base + '/' + c.path), expected);
  }
  std::filesystem::remove_all(base);
}

TEST(ServiceNotify, SendsOneDatagramToPathAndAbstractSockets) {
  const std::string folder = TestFolder("notify-");
  for (const std::string& name :
       {folder + "/notify", "@quilmarend-notify-" + std::to_string(getpid())}) {
    SCOPED_TRACE(name);
    const UniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    name.copy(address.sun_path, name.size());
    if (name[0] == '@') address.sun_path[0] = '\0';
    const socklen_t length = offsetof(sockaddr_un, sun_path) + name.size();
    ASSERT_EQ(bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), length), 0);
    setenv("NOTIFY_SOCKET", name.c_str(), 1);
    ASSERT_TRUE(NotifyReady("x"));
    char buffer[64];
    const ssize_t count = recv(fd.get(), buffer, sizeof(buffer), MSG_DONTWAIT);
    EXPECT_EQ(std::string(buffer, count > 0 ? count : 0), "READY=1\nSTATUS=x");
  }
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(NotifyStopping());
  std::filesystem::remove_all(folder);
}

TEST(ServiceEvents, GoToStandardOutputOutsideTheServiceManager) {
  testing::internal::CaptureStdout();
  LogEvent("Service stopped");
  LogEvent("Bad service request");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Service stopped\nBad service request\n");
}

}  // namespace
}  // namespace platform
