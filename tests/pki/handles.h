#pragma once

// The PKI fixture and its tests hold their OpenSSL handles with the platform's owning aliases
// (platform/crypto/detail/handles.h), which this header makes the fixture's own names.
//
// Example:
//   tests::pki::X509Ptr cert(d2i_X509(nullptr, &p, length));
//   if (!cert) return false;

#include "platform/crypto/detail/handles.h"

namespace tests::pki {

using namespace platform::detail;

}  // namespace tests::pki
