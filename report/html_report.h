#pragma once

// The HTML verification report: a page in Russian (Windows-1251) that describes the signature's
// status and the signer's certificate, carried on one answer line "HTML: " + page + CR LF. The
// engine builds the page with the marker "<!--Status-->" still in it; the answer replaces the
// marker with the status rows of its result.

#include <string>

#include "platform/cert_context.h"
#include "verify/result.h"

namespace report {

// BuildReport returns the report line for `signer`: "HTML: " + page + "\r\n"; empty without a
// signer certificate.
std::string BuildReport(const platform::CertContext* signer);

// StatusTableHtml returns the status rows of `result`.
std::string StatusTableHtml(const verify::VerifyResult& result);

// WithStatusRows returns `report` with every "<!--Status-->" replaced by `rows`.
std::string WithStatusRows(std::string report, const std::string& rows);

}  // namespace report
