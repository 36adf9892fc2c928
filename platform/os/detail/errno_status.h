#pragma once

// StatusFromErrno turns the errno of a failed file operation into the Windows status the file
// stand-ins (the registry folders, the unit file) answer with.

#include <cerrno>
#include <cstdint>

#include "platform/base/win_status.h"

namespace platform::detail {

inline uint32_t StatusFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR:
    case EISDIR:  // a folder (a registry sub-key) where a file was asked for
      return ERROR_FILE_NOT_FOUND;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:  // EACCES, EPERM, EROFS and every other refusal of the file system
      return ERROR_ACCESS_DENIED;
  }
}

}  // namespace platform::detail
