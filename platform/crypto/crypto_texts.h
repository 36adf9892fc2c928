#pragma once

// The platform layer's own texts (Windows-1251).

#include <cstddef>

namespace platform::texts {

extern const char* const kLogGostUnavailable;

}  // namespace platform::texts

namespace platform::texts {

struct RdnKey {
  const char* oid;
  const char* key;  // Windows-1251
};
// kRdnKeys are the X.500 keys of the attributes that names are written with.
extern const RdnKey kRdnKeys[];
extern const size_t kRdnKeyCount;

}  // namespace platform::texts

namespace platform::texts {

// Labels of the four parts of the issuer's signing tools extension, in order.
extern const char* const kIssuerSignToolLabels[];
extern const size_t kIssuerSignToolLabelCount;
// The ways an applicant can be identified, by their number.
extern const char* const kIdentificationKinds[];
extern const size_t kIdentificationKindCount;

}  // namespace platform::texts
