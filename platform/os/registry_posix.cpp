#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/base/unique_fd.h"
#include "platform/base/win_status.h"
#include "platform/os/detail/atomic_file.h"
#include "platform/os/detail/errno_status.h"
#include "platform/os/registry.h"
#include "platform/os/state_root.h"

namespace platform {
namespace {

using detail::StatusFromErrno;

constexpr std::string_view kDefaultValueFile = "@";

bool IsValidName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// KeyFolder returns the folder of `subKey` below `parent`, or nullopt when a name is invalid.
std::optional<std::string> KeyFolder(const RegKey& parent, std::string_view subKey) {
  std::string folder = parent.folder;
  while (!subKey.empty()) {
    const size_t end = subKey.find('\\');
    const std::string_view name = subKey.substr(0, end);
    if (!IsValidName(name)) return std::nullopt;
    folder += '/';
    folder += name;
    if (end == std::string_view::npos) break;
    subKey.remove_prefix(end + 1);
    if (subKey.empty()) return std::nullopt;  // a trailing '\' names an empty key
  }
  return folder;
}

std::optional<std::string> ValueFile(const RegKey& key, std::string_view valueName) {
  if (valueName.empty()) valueName = kDefaultValueFile;
  if (!IsValidName(valueName)) return std::nullopt;
  return key.folder + '/' + std::string(valueName);
}

uint32_t CheckKeyFolder(const std::string& folder) {
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0) return StatusFromErrno(errno);
  return S_ISDIR(info.st_mode) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

}  // namespace

RegKey RegKey::ClassesRoot() { return RegKey{StateRoot() + "/registry/HKEY_CLASSES_ROOT"}; }

uint32_t RegOpenKeyEx(const RegKey& parent, std::string_view subKey, uint32_t samDesired,
                      RegKey* result) {
  const std::optional<std::string> folder = KeyFolder(parent, subKey);
  if (!folder) return ERROR_INVALID_PARAMETER;
  if (const uint32_t status = CheckKeyFolder(*folder); status != ERROR_SUCCESS) return status;
  const int mode = (samDesired & KEY_WRITE & ~KEY_READ) != 0 ? W_OK | X_OK : R_OK | X_OK;
  if (access(folder->c_str(), mode) != 0) return StatusFromErrno(errno);
  result->folder = *folder;
  return ERROR_SUCCESS;
}

uint32_t RegCreateKeyEx(const RegKey& parent, std::string_view subKey, RegKey* result) {
  const std::optional<std::string> folder = KeyFolder(parent, subKey);
  if (!folder) return ERROR_INVALID_PARAMETER;
  std::error_code error;
  std::filesystem::create_directories(*folder, error);
  if (error) return StatusFromErrno(error.value());
  if (const uint32_t status = CheckKeyFolder(*folder); status != ERROR_SUCCESS) return status;
  result->folder = *folder;
  return ERROR_SUCCESS;
}

uint32_t RegQueryValueEx(const RegKey& key, std::string_view valueName, std::string* data) {
  const std::optional<std::string> file = ValueFile(key, valueName);
  if (!file) return ERROR_INVALID_PARAMETER;
  const UniqueFd fd(open(file->c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return StatusFromErrno(errno);
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) return StatusFromErrno(errno);
  if (!S_ISREG(info.st_mode)) return ERROR_FILE_NOT_FOUND;
  std::string text;
  char buffer[4096];
  while (true) {
    const ssize_t count = read(fd.get(), buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) continue;
      return StatusFromErrno(errno);
    }
    if (count == 0) break;
    text.append(buffer, static_cast<size_t>(count));
  }
  *data = std::move(text);
  return ERROR_SUCCESS;
}

uint32_t RegSetValueEx(const RegKey& key, std::string_view valueName, std::string_view data) {
  const std::optional<std::string> file = ValueFile(key, valueName);
  if (!file) return ERROR_INVALID_PARAMETER;
  if (const uint32_t status = CheckKeyFolder(key.folder); status != ERROR_SUCCESS) return status;
  return StatusFromErrno(detail::WriteFileAtomically(*file, data));
}

uint32_t RegDeleteValue(const RegKey& key, std::string_view valueName) {
  const std::optional<std::string> file = ValueFile(key, valueName);
  if (!file) return ERROR_INVALID_PARAMETER;
  return unlink(file->c_str()) == 0 ? ERROR_SUCCESS : StatusFromErrno(errno);
}

uint32_t RegDeleteTree(const RegKey& parent, std::string_view subKey) {
  const std::optional<std::string> folder = KeyFolder(parent, subKey);
  if (!folder) return ERROR_INVALID_PARAMETER;
  if (const uint32_t status = CheckKeyFolder(*folder); status != ERROR_SUCCESS) return status;
  std::error_code error;
  if (!subKey.empty()) {
    std::filesystem::remove_all(*folder, error);
    return StatusFromErrno(error.value());
  }
  for (std::filesystem::directory_iterator entry(*folder, error), end; !error && entry != end;
       entry.increment(error)) {
    std::filesystem::remove_all(entry->path(), error);
  }
  return StatusFromErrno(error.value());
}

}  // namespace platform
