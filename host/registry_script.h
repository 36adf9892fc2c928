#pragma once

// File: the AppID keys the host writes under HKEY_CLASSES_ROOT when it registers and removes
// itself, as its registry script describes them:
//
//   HKEY_CLASSES_ROOT\AppID                     kept on removal
//   HKEY_CLASSES_ROOT\AppID\<AppID text>        default value "Quilmarend";
//                                               "LocalService" = service name, while a service
//   HKEY_CLASSES_ROOT\AppID\Quilmarend.EXE      "AppID" = the AppID text
//
// The service manager's part of registration (Uninstall before, Install after) is not here.

#include <cstdint>
#include <string_view>

namespace host {

// RegisterAppIdKeys writes the keys above for `appIdText` (the AppID GUID in braces), then removes
// "LocalService" and, when `asService`, sets it to the program's name again. Returns 0 or the first
// registry failure as an HRESULT (0x80070005 for a refused write); a missing "LocalService" to
// remove is no failure.
uint32_t RegisterAppIdKeys(std::string_view appIdText, bool asService);

// UnregisterAppIdKeys opens AppID and its `appIdText` sub-key for writing (failure: the HRESULT,
// 0x80070002 when either is missing), removes "LocalService", then deletes the two keys below
// AppID; a key already absent is no failure. Returns 0 or the HRESULT of the failure.
uint32_t UnregisterAppIdKeys(std::string_view appIdText);

}  // namespace host
