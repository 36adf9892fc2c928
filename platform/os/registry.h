#pragma once

// File: the registry as a folder tree under $QUILMAREND_HOME/registry/ (the stand-ins for
// RegOpenKeyEx, RegCreateKeyEx, RegQueryValueEx, RegSetValueEx, RegDeleteValue and RegDeleteTree,
// string values only). A key is a folder (HKEY_CLASSES_ROOT/AppID/{...}); a value is a file named
// after it, the default value the file "@", holding the string as UTF-8 bytes without a line end.
// Sub-key paths separate their keys with '\', as on Windows. Names match case-sensitively, and a
// value and a sub-key of one key cannot share a name. Every operation returns a Windows status:
// ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a missing key or value, ERROR_ACCESS_DENIED for a
// refused (or otherwise failed) file operation, ERROR_NOT_ENOUGH_MEMORY, and
// ERROR_INVALID_PARAMETER for a name that is empty, ".", "..", or holds '/' or a NUL byte. None
// sets the last error, as on Windows. All of them do file I/O.
//
// Example:
//   platform::RegKey key;
//   if (platform::RegOpenKeyEx(platform::RegKey::ClassesRoot(), "AppID\\{...}", platform::KEY_READ,
//                              &key) == platform::ERROR_SUCCESS) {
//     std::string service;
//     bool asService = platform::RegQueryValueEx(key, "LocalService", &service) == 0;
//   }

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Access rights for RegOpenKeyEx; KEY_WRITE asks for a key whose folder may be written.
inline constexpr uint32_t KEY_READ = 0x00020019;
inline constexpr uint32_t KEY_WRITE = 0x00020006;

// RegKey is an open key: the folder that holds it. Keys need no closing.
struct RegKey {
  std::string folder;

  // ClassesRoot returns HKEY_CLASSES_ROOT, the folder $QUILMAREND_HOME/registry/HKEY_CLASSES_ROOT
  // (which need not exist yet).
  static RegKey ClassesRoot();
};

// RegOpenKeyEx opens the existing key `subKey` of `parent` (an empty `subKey` opens `parent`
// again) into `result`. ERROR_FILE_NOT_FOUND when a key on the way does not exist.
uint32_t RegOpenKeyEx(const RegKey& parent, std::string_view subKey, uint32_t samDesired,
                      RegKey* result);

// RegCreateKeyEx opens `subKey` of `parent` into `result`, first creating every key on the way
// that does not exist.
uint32_t RegCreateKeyEx(const RegKey& parent, std::string_view subKey, RegKey* result);

// RegQueryValueEx reads the string value `valueName` of `key` (empty: the default value) into
// `data`, byte for byte. ERROR_FILE_NOT_FOUND when the key or the value does not exist.
uint32_t RegQueryValueEx(const RegKey& key, std::string_view valueName, std::string* data);

// RegSetValueEx sets the string value `valueName` of `key` (empty: the default value) to `data`.
// The value is replaced atomically: readers see the old or the new text, never a part.
uint32_t RegSetValueEx(const RegKey& key, std::string_view valueName, std::string_view data);

// RegDeleteValue deletes the value `valueName` of `key` (empty: the default value).
uint32_t RegDeleteValue(const RegKey& key, std::string_view valueName);

// RegDeleteTree deletes the key `subKey` of `parent` with all its values and sub-keys; an empty
// `subKey` deletes the values and sub-keys of `parent` and keeps `parent`.
uint32_t RegDeleteTree(const RegKey& parent, std::string_view subKey);

// HResultFromWin32 turns a Win32 status into an HRESULT as HRESULT_FROM_WIN32 does: 0 and values
// with the top bit set stay, others become 0x8007xxxx (2 becomes 0x80070002).
constexpr uint32_t HResultFromWin32(uint32_t status) {
  return (status == 0 || (status & 0x80000000u) != 0) ? status : ((status & 0xFFFFu) | 0x80070000u);
}

}  // namespace platform
