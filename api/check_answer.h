#pragma once

// File: the JSON answer of a verification over HTTP. One fixed set of members, absent values as
// null, every text in UTF-8:
//   {"schema": "quilmarend.check/1", "valid": true,
//    "signature":   {"ok": true, "status": "00000000", "text": "00000000"},
//    "certificate": {"ok": true, "status": "00000000", "text": "00000000"},
//    "chain":       {"ok": false, "status": "00000020", "text": "...", "reasons":
//                    ["CERT_TRUST_IS_UNTRUSTED_ROOT"]},
//    "signer": {"subjectName", "subject", "subjectX500", "issuer", "issuerX500", "serial",
//               "notBefore", "notAfter", "keyAlgorithm"} or null,
//    "report": "<html ...>" or null}
// The verdicts, codes and texts are those of the CHECK answer's lines, the texts converted from
// Windows-1251.

#include <string>
#include <string_view>

#include "verify/result.h"

namespace api {

// kAnswerSchema names the answer's shape; a change that removes or retypes a member changes it.
inline constexpr std::string_view kAnswerSchema = "quilmarend.check/1";

// CheckAnswerJson is the answer for `result`; with `withReport` the HTML report (the page alone,
// without the answer line around it) when there is a signer.
std::string CheckAnswerJson(const verify::VerifyResult& result, bool withReport);

// Rfc3339Utc writes a FILETIME as "2026-01-31T12:00:00Z".
std::string Rfc3339Utc(uint64_t fileTime);

}  // namespace api
