#include "platform/os/client_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace platform {
namespace {

namespace fs = std::filesystem;

// A folder with a file, a nested file, and a link, FIFO, socket and folder of every other kind.
class ClientFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("client_file_test." + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "in/deeper");
    fs::create_directories(outside);
    std::ofstream(root / "in/doc") << "doc";
    std::ofstream(root / "in/deeper/doc") << "deeper";
    std::ofstream(outside / "doc") << "outside";
    fs::create_symlink(outside, root / "in/linked");
    fs::create_symlink(outside / "doc", root / "in/link");
    ASSERT_EQ(mkfifo((root / "in/fifo").c_str(), 0600), 0);
    socketFd = UniqueFd(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (root / "in/socket").string();
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(socketFd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  void TearDown() override {
    fs::remove_all(root);
    fs::remove_all(outside);
  }

  fs::path root;
  fs::path outside =
      fs::temp_directory_path() / ("client_file_outside." + std::to_string(getpid()));
  UniqueFd socketFd;
};

TEST_F(ClientFileTest, OnlyRegularFilesOpenAndNothingBlocks) {
  struct Case {
    std::string path;
    int error;  // 0: opens
  };
  const Case kCases[] = {
      {(root / "in/doc").string(), 0},
      {(root / "in/link").string(), 0},
      {(root / "in/fifo").string(), EACCES},
      {(root / "in/socket").string(), ENXIO},
      {(root / "in").string(), EACCES},
      {"/dev/zero", EACCES},
      {"/dev/urandom", EACCES},
      {(root / "absent").string(), ENOENT},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    errno = 0;
    const UniqueFd fd = OpenClientFile(c.path);
    EXPECT_EQ(static_cast<bool>(fd), c.error == 0);
    if (c.error != 0) {
      EXPECT_EQ(errno, c.error);
    }
  }
}

TEST_F(ClientFileTest, OpensBeneathItsFolderWithoutLinksOrEscapes) {
  struct Case {
    std::string relative;
    bool opens;
  };
  const Case kCases[] = {
      {"in/doc", true},
      {"./in//deeper/doc", true},
      {"in/link", false},
      {"in/linked/doc", false},
      {"in/../in/doc", true},
      {"", false},
      {"in/fifo", false},
      {"in/deeper", false},
      {"in/absent", false},
      {"in/deeper/../doc", true},
      {"in/..", false},
      {"in/../../x/doc", false},
      {"../" + outside.filename().string() + "/doc", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.relative);
    EXPECT_EQ(OpenBeneath(root.string(), c.relative).has_value(), c.opens);
  }
  EXPECT_TRUE(fs::exists(outside / "doc"));
}

// The walk for kernels without openat2 keeps the kernel's rules and says what it refused.
TEST_F(ClientFileTest, WalkBeneathKeepsInsideAndNamesLinks) {
  const UniqueFd rootFd(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct Case {
    std::vector<std::string> components;
    int error;  // 0: opens
  };
  const Case kCases[] = {
      {{}, 0},
      {{"in", "deeper"}, 0},
      {{"in", "..", "in", "deeper", ".."}, 0},
      {{".."}, EXDEV},
      {{"in", "..", ".."}, EXDEV},
      {{"in", "linked"}, ELOOP},
      {{"in", "doc"}, ENOTDIR},
      {{"in", "absent"}, ENOENT},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.components.empty() ? "" : c.components.back());
    errno = 0;
    const UniqueFd folder = WalkBeneath(rootFd.get(), c.components);
    EXPECT_EQ(static_cast<bool>(folder), c.error == 0);
    EXPECT_EQ(errno, c.error);
  }
}

TEST_F(ClientFileTest, UnlinksOnlyTheEntryThatWasOpened) {
  std::optional<FileBeneath> opened = OpenBeneath(root.string(), "in/doc");
  ASSERT_TRUE(opened);
  // Another file renamed over the name after the open is left alone.
  std::ofstream(root / "in/other") << "other";
  fs::rename(root / "in/other", root / "in/doc");
  EXPECT_FALSE(UnlinkIfUnchanged(*opened));
  EXPECT_EQ(errno, ESTALE);
  EXPECT_TRUE(fs::exists(root / "in/doc"));

  opened = OpenBeneath(root.string(), "in/deeper/doc");
  ASSERT_TRUE(opened);
  EXPECT_TRUE(UnlinkIfUnchanged(*opened));
  EXPECT_FALSE(fs::exists(root / "in/deeper/doc"));
}

}  // namespace
}  // namespace platform
