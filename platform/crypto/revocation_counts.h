#pragma once

// RevocationFetches counts the downloads that revocation checking makes, CRLs and OCSP answers
// alike, by what came of them, for the operators' metrics. Process-wide, as the CRL cache is;
// relaxed atomics, so counting costs a request nothing measurable.

#include <cstdint>

namespace platform {

enum class FetchOutcome {
  kOk,       // downloaded and usable
  kFailed,   // the download failed (no answer, an HTTP error, too slow, too large)
  kInvalid,  // an answer came but was not usable (not parseable, wrong signer, out of date)
};
inline constexpr int kFetchOutcomes = 3;

struct RevocationFetchCounts {
  uint64_t crl[kFetchOutcomes] = {};
  uint64_t ocsp[kFetchOutcomes] = {};
};

// RevocationFetches returns the counts since the process started, indexed by FetchOutcome.
RevocationFetchCounts RevocationFetches();

}  // namespace platform
