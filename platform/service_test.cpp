#include "platform/service.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

TEST(ServiceUnit, InstallsReplacesAndRemovesTheUnitFile) {
  const std::string folder = TestFolder("units-");
  setenv("QUILMAREND_SYSTEMD_DIR", folder.c_str(), 1);
  EXPECT_EQ(RemoveServiceUnit(), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(InstallServiceUnit("\"/old/q\""), ERROR_SUCCESS);
  ASSERT_EQ(InstallServiceUnit("\"/opt/q s/quilmarend\" -service"), ERROR_SUCCESS);
  EXPECT_TRUE(IsServiceUnitInstalled());
  std::ifstream in(folder + "/quilmarend.service");
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  EXPECT_NE(text.find("\nExecStart=\"/opt/q s/quilmarend\" -service\n"), std::string::npos);
  EXPECT_EQ(text.find("/old/q"), std::string::npos);
  EXPECT_EQ(text.find("PrivateTmp"), std::string::npos);  // clients hand over files in /tmp
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);  // no leftovers
  EXPECT_EQ(RemoveServiceUnit(), ERROR_SUCCESS);
  EXPECT_FALSE(IsServiceUnitInstalled());
  std::filesystem::remove_all(folder);
  EXPECT_EQ(InstallServiceUnit("/opt/q"), ERROR_FILE_NOT_FOUND);
}

TEST(ServiceUnit, PassesSystemdVerification) {
  if (system("command -v systemd-analyze >/dev/null") != 0) GTEST_SKIP() << "no systemd-analyze";
  const std::string folder = TestFolder("units-");
  setenv("QUILMAREND_SYSTEMD_DIR", folder.c_str(), 1);
  // verify checks that the program exists, so the unit starts this test binary.
  ASSERT_EQ(InstallServiceUnit(
                "\"" + std::filesystem::read_symlink("/proc/self/exe").string() + "\" -service"),
            0u);
  // A container's own units may draw warnings; only lines naming our file count.
  const std::string file = folder + "/quilmarend.service";
  FILE* pipe = popen(("systemd-analyze verify --man=no '" + file + "' 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  for (int c; (c = fgetc(pipe)) != EOF;) output += static_cast<char>(c);
  EXPECT_EQ(pclose(pipe), 0) << output;
  EXPECT_EQ(output.find(file), std::string::npos) << output;
  std::filesystem::remove_all(folder);
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
