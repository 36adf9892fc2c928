// Drives the file-backed registry with arbitrary key paths and value names (the input, split at
// its first NUL byte into a sub-key path and a value name) and checks that no name reaches
// outside the registry's folder: an opened key is a folder below HKEY_CLASSES_ROOT's own, and
// every answer is one of the registry's statuses. Keys are only opened and read, never created.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz/require.h"
#include "platform/base/win_status.h"
#include "platform/os/registry.h"

namespace {

// Root makes a private state folder with one key holding one value, once; the folder goes when
// the process ends.
const std::string& Root() {
  static const std::string root = [] {
    std::string home =
        (std::filesystem::temp_directory_path() / "quilmarend-registry-fuzz-").string() +
        std::to_string(getpid());
    setenv("QUILMAREND_HOME", home.c_str(), 1);
    platform::RegKey key;
    platform::RegCreateKeyEx(platform::RegKey::ClassesRoot(), "AppID\\{A}", &key);
    platform::RegSetValueEx(key, "LocalService", "Quilmarend");
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(getenv("QUILMAREND_HOME"), ignored);
    });
    return platform::RegKey::ClassesRoot().folder;
  }();
  return root;
}

bool Known(uint32_t status) {
  return status == platform::ERROR_SUCCESS || status == platform::ERROR_FILE_NOT_FOUND ||
         status == platform::ERROR_INVALID_PARAMETER || status == platform::ERROR_ACCESS_DENIED;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = Root();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string_view subKey = input.substr(0, split);
  const std::string_view valueName = split == std::string_view::npos ? "" : input.substr(split + 1);
  platform::RegKey key;
  const uint32_t opened =
      platform::RegOpenKeyEx(platform::RegKey::ClassesRoot(), subKey, platform::KEY_READ, &key);
  fuzz::Require(Known(opened), "opening answers a registry status");
  if (opened != platform::ERROR_SUCCESS) return 0;
  const std::filesystem::path folder = std::filesystem::weakly_canonical(key.folder);
  const std::string inside = folder.string() + '/';
  fuzz::Require(inside.starts_with(std::filesystem::weakly_canonical(root).string() + '/'),
                "an opened key lies below HKEY_CLASSES_ROOT");
  std::string value;
  fuzz::Require(Known(platform::RegQueryValueEx(key, valueName, &value)),
                "reading answers a registry status");
  return 0;
}
