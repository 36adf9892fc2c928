#include "platform/base/win_status.h"

namespace platform {

std::string_view WinStatusName(uint32_t code) {
  switch (code) {
#define QUILMAREND_WIN_STATUS_CASE(value, name) \
  case value:                                   \
    return #name;
    QUILMAREND_WIN_STATUS_LIST(QUILMAREND_WIN_STATUS_CASE)
#undef QUILMAREND_WIN_STATUS_CASE
  }
  return {};
}

}  // namespace platform
