#include "platform/service.h"

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

#include "platform/unique_fd.h"
#include "platform/win_status.h"

namespace platform {
namespace {

// TestFolder makes an empty folder of this process's own named `name` and returns its path.
std::string TestFolder(const std::string& name) {
  const auto path = std::filesystem::temp_directory_path() / (name + std::to_string(getpid()));
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
  return path.string();
}

// Analyze runs `systemd-analyze args` and returns its exit status and its output, both streams.
std::pair<int, std::string> Analyze(const std::string& args) {
  FILE* pipe = popen(("systemd-analyze " + args + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {-1, ""};
  std::string output;
  for (int c; (c = fgetc(pipe)) != EOF;) output += static_cast<char>(c);
  return {pclose(pipe), output};
}

// WriteUnitForThisBinary writes the unit for `account` into a fresh folder and returns the unit
// file's path. It starts this test binary, since systemd-analyze checks that the program exists.
std::string WriteUnitForThisBinary(ServiceAccount account) {
  const std::string folder = TestFolder("units-");
  setenv("QUILMAREND_SYSTEMD_DIR", folder.c_str(), 1);
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(InstallServiceUnit("\"" + exe + "\" -service", account), ERROR_SUCCESS);
  return folder + "/quilmarend.service";
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
  for (const char* line : {"\nUser=quilmarend\n", "\nPrivateTmp=yes\n",
                           " TMPDIR=/run/quilmarend/tmp\n", "\nRuntimeDirectory=quilmarend/tmp\n",
                           "\nEnvironment=QUILMAREND_HOME=/var/lib/quilmarend "}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(text.find("DynamicUser"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);  // no leftovers
  EXPECT_EQ(RemoveServiceUnit(), ERROR_SUCCESS);
  EXPECT_FALSE(IsServiceUnitInstalled());
  std::filesystem::remove_all(folder);
  EXPECT_EQ(InstallServiceUnit("/opt/q", ServiceAccount::kSystemUser), ERROR_FILE_NOT_FOUND);
}

TEST(ServiceUnit, PassesSystemdVerification) {
  if (system("command -v systemd-analyze >/dev/null") != 0) GTEST_SKIP() << "no systemd-analyze";
  const std::string file = WriteUnitForThisBinary(ServiceAccount::kSystemUser);
  // A container's own units may draw warnings; only lines naming our file count.
  const auto [status, output] = Analyze("verify --man=no '" + file + "'");
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output.find(file), std::string::npos) << output;
  std::filesystem::remove_all(std::filesystem::path(file).parent_path());
}

TEST(ServiceUnit, ExposureIsAtMostTwoAndAHalfUnderEitherAccount) {
  if (system("command -v systemd-analyze >/dev/null") != 0) GTEST_SKIP() << "no systemd-analyze";
  for (const ServiceAccount account : {ServiceAccount::kSystemUser, ServiceAccount::kDynamicUser}) {
    SCOPED_TRACE(account == ServiceAccount::kSystemUser ? "system user" : "dynamic user");
    const std::string file = WriteUnitForThisBinary(account);
    // The last line reads "-> Overall exposure level for quilmarend.service: 1.7 OK :-)".
    const auto [status, output] = Analyze("security --offline=true --no-pager '" + file + "'");
    EXPECT_EQ(status, 0) << output;
    constexpr std::string_view kLabel = "exposure level for quilmarend.service: ";
    const size_t at = output.find(kLabel);
    ASSERT_NE(at, std::string::npos) << output;
    double exposure = 10;
    const char* start = output.data() + at + kLabel.size();
    std::from_chars(start, output.data() + output.size(), exposure);
    EXPECT_LE(exposure, 2.5) << output;
    std::filesystem::remove_all(std::filesystem::path(file).parent_path());
  }
}

TEST(ServiceProgram, OnlyRootMayChangeTheFileAndTheFoldersAboveIt) {
  // A base folder of root's that no one else may write: /tmp itself would fail every case.
  std::string base = "/run/quilmarend-path-test-XXXXXX";
  if (geteuid() != 0 || mkdtemp(base.data()) == nullptr) GTEST_SKIP() << "needs root and /run";
  constexpr uid_t kUser = 1000;
  struct Entry {
    std::string name;
    mode_t mode;  // with S_IFDIR for a folder
    uid_t owner;
  };
  const Entry kEntries[] = {
      {"ok", S_IFDIR | 0755, 0},      {"ok/prog", 0755, 0},         {"ok/group", 0775, 0},
      {"ok/user", 0755, kUser},       {"group", S_IFDIR | 0775, 0}, {"group/prog", 0755, 0},
      {"sticky", S_IFDIR | 01777, 0}, {"sticky/prog", 0755, 0},     {"user", S_IFDIR | 0755, kUser},
      {"user/prog", 0755, 0},
  };
  for (const Entry& entry : kEntries) {
    const std::string path = base + '/' + entry.name;
    if (S_ISDIR(entry.mode)) {
      ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path;
    } else {
      std::ofstream(path) << "#!/bin/sh\n";
    }
    ASSERT_EQ(chmod(path.c_str(), entry.mode & 07777), 0) << path;
    ASSERT_EQ(chown(path.c_str(), entry.owner, 0), 0) << path;
  }
  std::filesystem::create_symlink("../sticky/prog", base + "/ok/link");
  struct Case {
    std::string path;
    std::optional<std::string> found;
  };
  const Case kCases[] = {
      {"ok/prog", std::nullopt},    {"ok/../ok/prog", std::nullopt},
      {"ok/group", "ok/group"},      // the file writable by its group
      {"ok/user", "ok/user"},        // the file another user's
      {"group/prog", "group"},       // a folder writable by its group
      {"sticky/prog", "sticky"},     // a sticky folder is still everyone's to add to
      {"user/prog", "user"},         // a folder another user may make writable
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
