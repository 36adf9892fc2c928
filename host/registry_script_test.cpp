#include "host/registry_script.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/os/state_root.h"

namespace host {
namespace {

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(RegisterAppIdKeys, WritesAndRemovesTheAppIdKeys) {
  const std::string home =
      (std::filesystem::temp_directory_path() / ("appid-test-" + std::to_string(getpid())))
          .string();
  setenv("QUILMAREND_HOME", home.c_str(), 1);
  ASSERT_EQ(platform::StateRoot(), home);
  const std::string appIds = home + "/registry/HKEY_CLASSES_ROOT/AppID/";
  const std::string id = "{6A1F0C52-3B1E-4C8D-9F21-5E0D7A4B1C33}";
  ASSERT_EQ(RegisterAppIdKeys(id, true), 0u);
  EXPECT_EQ(FileText(appIds + id + "/@"), "Quilmarend");
  EXPECT_EQ(FileText(appIds + id + "/LocalService"), "Quilmarend");
  EXPECT_EQ(FileText(appIds + "Quilmarend.EXE/AppID"), id);
  ASSERT_EQ(RegisterAppIdKeys(id, false), 0u);  // a desktop registration drops LocalService
  EXPECT_FALSE(std::filesystem::exists(appIds + id + "/LocalService"));
  EXPECT_EQ(UnregisterAppIdKeys(id), 0u);
  EXPECT_TRUE(std::filesystem::is_empty(appIds));  // AppID itself stays
  EXPECT_EQ(UnregisterAppIdKeys(id), 0x80070002u);
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace host
