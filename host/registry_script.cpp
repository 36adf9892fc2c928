#include "host/registry_script.h"

#include <string>

#include "platform/base/names.h"
#include "platform/base/win_status.h"
#include "platform/os/registry.h"

namespace host {
namespace {

using platform::ERROR_FILE_NOT_FOUND;
using platform::ERROR_SUCCESS;
using platform::HResultFromWin32;
using platform::RegKey;

constexpr std::string_view kAppIdKey = "AppID";
constexpr std::string_view kExeKey = "Quilmarend.EXE";
constexpr std::string_view kLocalService = "LocalService";

// RunScript writes (`install`) or deletes the keys the registry script names; a Win32 status.
uint32_t RunScript(std::string_view appIdText, bool install) {
  RegKey appIds, key;
  uint32_t status = platform::RegCreateKeyEx(RegKey::ClassesRoot(), kAppIdKey, &appIds);
  if (status != ERROR_SUCCESS) return status;
  if (!install) {
    for (const std::string_view name : {appIdText, kExeKey}) {
      status = platform::RegDeleteTree(appIds, name);
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
    }
    return ERROR_SUCCESS;
  }
  status = platform::RegCreateKeyEx(appIds, appIdText, &key);
  if (status == ERROR_SUCCESS) status = platform::RegSetValueEx(key, "", platform::kProgramName);
  if (status == ERROR_SUCCESS) status = platform::RegCreateKeyEx(appIds, kExeKey, &key);
  if (status == ERROR_SUCCESS) status = platform::RegSetValueEx(key, "AppID", appIdText);
  return status;
}

}  // namespace

uint32_t RegisterAppIdKeys(std::string_view appIdText, bool asService) {
  uint32_t status = RunScript(appIdText, true);
  RegKey appIds, key;
  if (status == ERROR_SUCCESS) {
    status = platform::RegOpenKeyEx(RegKey::ClassesRoot(), kAppIdKey, platform::KEY_WRITE, &appIds);
  }
  if (status == ERROR_SUCCESS) status = platform::RegCreateKeyEx(appIds, appIdText, &key);
  if (status != ERROR_SUCCESS) return HResultFromWin32(status);
  platform::RegDeleteValue(key, kLocalService);  // absent on a first registration
  if (asService) status = platform::RegSetValueEx(key, kLocalService, platform::kProgramName);
  return HResultFromWin32(status);
}

uint32_t UnregisterAppIdKeys(std::string_view appIdText) {
  RegKey appIds, key;
  uint32_t status =
      platform::RegOpenKeyEx(RegKey::ClassesRoot(), kAppIdKey, platform::KEY_WRITE, &appIds);
  if (status == ERROR_SUCCESS) {
    status = platform::RegOpenKeyEx(appIds, appIdText, platform::KEY_WRITE, &key);
  }
  if (status != ERROR_SUCCESS) return HResultFromWin32(status);
  platform::RegDeleteValue(key, kLocalService);
  return HResultFromWin32(RunScript(appIdText, false));
}

}  // namespace host
