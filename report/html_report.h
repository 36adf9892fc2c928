#pragma once

// The HTML verification report: a page in Russian (Windows-1251) that describes the signature's
// status and the signer's certificate, carried on one answer line "HTML: " + page + CR LF. It is
// rendered once, from the verification's record.

#include <string>

#include "verify/result.h"

namespace report {

// RenderReport returns the report line of `result`: "HTML: " + page + "\r\n", the page holding
// the signer certificate's blocks and the status rows; empty without a signer certificate.
std::string RenderReport(const verify::VerifyResult& result);

// StatusTableHtml returns the status rows of `result`.
std::string StatusTableHtml(const verify::VerifyResult& result);

}  // namespace report
