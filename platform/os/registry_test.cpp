#include "platform/os/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/base/system_messages.h"
#include "platform/base/win_status.h"

namespace platform {
namespace {

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Registry, KeepsKeysAndStringValuesAsFolderAndFiles) {
  // The key is built on a folder of this test's own, so the process's state root stays unread.
  const std::string home =
      (std::filesystem::temp_directory_path() / ("registry-test-" + std::to_string(getpid())))
          .string();
  std::filesystem::remove_all(home);
  const RegKey root{home + "/HKEY_CLASSES_ROOT"};
  RegKey key, opened, appId;
  std::string text;
  EXPECT_EQ(RegOpenKeyEx(root, "AppID", KEY_READ, &opened), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegCreateKeyEx(root, "AppID\\{1-2}", &key), ERROR_SUCCESS);
  EXPECT_EQ(key.folder, home + "/HKEY_CLASSES_ROOT/AppID/{1-2}");
  EXPECT_EQ(RegQueryValueEx(key, "", &text), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegSetValueEx(key, "", "Quilmarend"), ERROR_SUCCESS);
  EXPECT_EQ(FileText(key.folder + "/@"), "Quilmarend");
  const std::string bytes = "Сервис \"x\"\r\n\t\xff";  // kept as given, even the invalid byte
  ASSERT_EQ(RegSetValueEx(key, "LocalService", bytes), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyEx(root, "AppID\\{1-2}", KEY_WRITE, &opened), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueEx(opened, "LocalService", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, bytes);
  const auto entries = std::filesystem::directory_iterator(key.folder);
  EXPECT_EQ(std::distance(begin(entries), end(entries)), 2);  // no temporary file is left
  EXPECT_EQ(RegDeleteValue(opened, "LocalService"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(opened, "LocalService"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyEx(root, "AppID", KEY_READ, &appId), ERROR_SUCCESS);
  if (geteuid() != 0) {  // root passes every permission check
    chmod(appId.folder.c_str(), 0500);
    EXPECT_EQ(RegSetValueEx(appId, "v", "x"), ERROR_ACCESS_DENIED);
    chmod(appId.folder.c_str(), 0700);
  }
  EXPECT_EQ(RegDeleteTree(appId, "{1-2}"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTree(appId, "{1-2}"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueEx(key, "v", "x"), ERROR_FILE_NOT_FOUND);  // its key is gone
  ASSERT_EQ(RegCreateKeyEx(appId, "a\\b", &key), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTree(appId, ""), ERROR_SUCCESS);  // empties AppID, keeps it
  EXPECT_TRUE(std::filesystem::is_empty(appId.folder));
  // Refused as key and value names; the key names after them are refused as keys only.
  const std::string_view kBad[] = {".",   "..",  "a/b",    std::string_view("a\0b", 3),
                                   "a\\", "\\a", "a\\\\b", "a\\.."};
  for (size_t i = 0; i < std::size(kBad); ++i) {
    SCOPED_TRACE(kBad[i]);
    EXPECT_EQ(RegCreateKeyEx(appId, kBad[i], &key), ERROR_INVALID_PARAMETER);
    if (i < 4) {
      EXPECT_EQ(RegSetValueEx(appId, kBad[i], "x"), ERROR_INVALID_PARAMETER);
    }
  }
  EXPECT_FALSE(SystemMessage(ERROR_INVALID_PARAMETER).empty());
  std::filesystem::remove_all(home);
}

static_assert(HResultFromWin32(ERROR_SUCCESS) == 0);
static_assert(HResultFromWin32(ERROR_FILE_NOT_FOUND) == 0x80070002);
static_assert(HResultFromWin32(ERROR_INVALID_PARAMETER) == 0x80070057);
static_assert(HResultFromWin32(NTE_BAD_SIGNATURE) == NTE_BAD_SIGNATURE);

}  // namespace
}  // namespace platform
