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

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A unit folder of this test's own, named in QUILMAREND_SYSTEMD_DIR while the object lives.
struct UnitFolderForTest {
  UnitFolderForTest() {
    std::filesystem::create_directories(path);
    setenv("QUILMAREND_SYSTEMD_DIR", path.c_str(), 1);
  }
  ~UnitFolderForTest() {
    unsetenv("QUILMAREND_SYSTEMD_DIR");
    std::filesystem::remove_all(path);
  }
  const std::string path =
      (std::filesystem::temp_directory_path() / ("units-" + std::to_string(getpid()))).string();
};

TEST(ServiceUnit, InstallsReplacesAndRemovesTheUnitFile) {
  const UnitFolderForTest folder;
  const std::string file = folder.path + "/quilmarend.service";
  EXPECT_FALSE(IsServiceUnitInstalled());
  EXPECT_EQ(RemoveServiceUnit(), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(InstallServiceUnit("/old/q"), ERROR_SUCCESS);
  ASSERT_EQ(InstallServiceUnit("/opt/q s/quilmarend"), ERROR_SUCCESS);
  EXPECT_TRUE(IsServiceUnitInstalled());
  const std::string text = FileText(file);
  EXPECT_NE(text.find("\nExecStart=\"/opt/q s/quilmarend\" -service\n"), std::string::npos);
  EXPECT_EQ(text.find("/old/q"), std::string::npos);
  EXPECT_EQ(text.find("PrivateTmp"), std::string::npos);  // clients hand over files in /tmp
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path), {}), 1);
  EXPECT_EQ(RemoveServiceUnit(), ERROR_SUCCESS);
  EXPECT_FALSE(IsServiceUnitInstalled());
  std::filesystem::remove_all(folder.path);
  EXPECT_EQ(InstallServiceUnit("/opt/q"), ERROR_FILE_NOT_FOUND);
}

TEST(ServiceUnit, PassesSystemdVerification) {
  if (system("command -v systemd-analyze >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "systemd-analyze is not installed";
  }
  const UnitFolderForTest folder;
  // verify checks that the program exists, so the unit starts this test binary.
  ASSERT_EQ(InstallServiceUnit(std::filesystem::read_symlink("/proc/self/exe").string()),
            ERROR_SUCCESS);
  const std::string file = folder.path + "/quilmarend.service";
  // Warnings about the host's own units may appear in a container; only lines naming ours count.
  FILE* pipe = popen(("systemd-analyze verify --man=no '" + file + "' 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  for (int c; (c = fgetc(pipe)) != EOF;) output += static_cast<char>(c);
  EXPECT_EQ(pclose(pipe), 0) << output;
  EXPECT_EQ(output.find(file), std::string::npos) << output;
}

TEST(ServiceNotify, SendsOneDatagramToPathAndAbstractSockets) {
  const std::string folder =
      (std::filesystem::temp_directory_path() / ("notify-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(folder);
  const std::string names[] = {folder + "/notify",
                               "@quilmarend-notify-" + std::to_string(getpid())};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const UniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    name.copy(address.sun_path, name.size());
    if (name[0] == '@') address.sun_path[0] = '\0';
    const socklen_t length = offsetof(sockaddr_un, sun_path) + name.size();
    ASSERT_EQ(bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), length), 0);
    setenv("NOTIFY_SOCKET", name.c_str(), 1);
    EXPECT_TRUE(RunningUnderServiceManager());
    ASSERT_TRUE(NotifyReady("x"));
    char buffer[64];
    const ssize_t count = recv(fd.get(), buffer, sizeof(buffer), MSG_DONTWAIT);
    EXPECT_EQ(std::string(buffer, count > 0 ? count : 0), "READY=1\nSTATUS=x");
  }
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(RunningUnderServiceManager());
  EXPECT_FALSE(NotifyStopping());
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace platform
