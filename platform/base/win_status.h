#pragma once

// Windows status codes that the stand-ins produce and that reach clients in answers, reports and
// logs. Each row keeps the Windows value, so a client that knows the Windows code sees the same
// number. Values are never reused; add a row here, a text in system_messages.cpp and a test in the
// same commit.

#include <cstdint>
#include <string_view>

#define QUILMAREND_WIN_STATUS_LIST(M)                                      \
  M(0x00000000, ERROR_SUCCESS)                                             \
  M(0x00000002, ERROR_FILE_NOT_FOUND)                                      \
  M(0x00000005, ERROR_ACCESS_DENIED)                                       \
  M(0x00000008, ERROR_NOT_ENOUGH_MEMORY)                                   \
  M(0x0000001E, ERROR_READ_FAULT)                                          \
  M(0x00000032, ERROR_NOT_SUPPORTED)                                       \
  M(0x00000057, ERROR_INVALID_PARAMETER)                                   \
  M(0x0000007E, ERROR_MOD_NOT_FOUND)                                       \
  M(0x000000DF, ERROR_FILE_TOO_LARGE)                                      \
  M(0x00000103, ERROR_NO_MORE_ITEMS)                                       \
  M(0x00000427, ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)                   \
  M(0x000004C9, ERROR_CONNECTION_REFUSED)                                  \
  M(0x00001721, HASH_SERVER_BAD_REPLY)   /* the reply lacks "OK: Hash=" */ \
  M(0x00001722, HASH_SERVER_SEND_FAILED) /* GETHASH could not be sent */   \
  M(0x00002AF9, WSAHOST_NOT_FOUND)                                         \
  M(0x00002AFA, WSATRY_AGAIN)                                              \
  M(0x00002EE2, ERROR_INTERNET_TIMEOUT)                                    \
  M(0x00002EE5, ERROR_INTERNET_INVALID_URL)                                \
  M(0x00002EE6, ERROR_INTERNET_UNRECOGNIZED_SCHEME)                        \
  M(0x00002EE7, ERROR_INTERNET_NAME_NOT_RESOLVED)                          \
  M(0x00002EF1, ERROR_INTERNET_OPERATION_CANCELLED)                        \
  M(0x00002EFD, ERROR_INTERNET_CANNOT_CONNECT)                             \
  M(0x00002EFE, ERROR_INTERNET_CONNECTION_ABORTED)                         \
  M(0x00002F78, ERROR_HTTP_INVALID_SERVER_RESPONSE)                        \
  M(0x80004005, E_FAIL)                                                    \
  M(0x80090006, NTE_BAD_SIGNATURE)                                         \
  M(0x80090008, NTE_BAD_ALGID)                                             \
  M(0x80090016, NTE_BAD_KEYSET)                                            \
  M(0x80090019, NTE_KEYSET_NOT_DEF)                                        \
  M(0x80090020, NTE_FAIL)                                                  \
  M(0x80090317, SEC_E_CONTEXT_EXPIRED) /* private-key usage period */      \
  M(0x80091004, CRYPT_E_INVALID_MSG_TYPE)                                  \
  M(0x80091007, CRYPT_E_HASH_VALUE)                                        \
  M(0x8009100E, CRYPT_E_SIGNER_NOT_FOUND)                                  \
  M(0x80092004, CRYPT_E_NOT_FOUND)                                         \
  M(0x80092005, CRYPT_E_EXISTS)                                            \
  M(0x80092009, CRYPT_E_NO_MATCH)                                          \
  M(0x8009200A, CRYPT_E_UNEXPECTED_MSG_TYPE)                               \
  M(0x8009200E, CRYPT_E_NO_SIGNER)                                         \
  M(0x80093102, CRYPT_E_ASN1_EOD)                                          \
  M(0x8009310B, CRYPT_E_ASN1_BADTAG)                                       \
  M(0x80340017, KEY_USAGE_NOT_ALLOWED) /* extended key usage filter */     \
  M(0xFFFFFFFF, NO_SIGNER_CERTIFICATE)

namespace platform {

#define QUILMAREND_WIN_STATUS_CONSTANT(code, name) inline constexpr uint32_t name = code;
QUILMAREND_WIN_STATUS_LIST(QUILMAREND_WIN_STATUS_CONSTANT)
#undef QUILMAREND_WIN_STATUS_CONSTANT

// WinStatusName returns the Windows name of `code` ("NTE_BAD_SIGNATURE"), or an empty view for a
// code that is not in the list.
std::string_view WinStatusName(uint32_t code);

}  // namespace platform
