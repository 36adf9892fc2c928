// Renders hostile certificates and names as the HTML report does, and checks what the answer
// line relies on: no block holds a CR or LF byte (the report travels as one "HTML: " line), and
// text from the certificate never opens markup of its own. The input is read as a DER
// certificate; the same bytes are also rendered as a bare name and as the value of each
// extension the report formats itself.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fuzz/require.h"
#include "platform/crypto/cert_context.h"
#include "report/detail_blocks.h"

namespace fuzz {
namespace {

void RequireOneLine(const std::string& html, const char* what) {
  Require(html.find_first_of("\r\n") == std::string::npos, what);
}

void RequireInert(const std::string& text) {
  const std::string escaped = report::HtmlEscaped(text);
  RequireOneLine(escaped, "escaped text holds no line break");
  Require(escaped.find_first_of("<>\"") == std::string::npos, "escaped text opens no markup");
}

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  fuzz::RequireInert(report::NameText(bytes));
  for (const char* oid : {"2.5.29.15", "2.5.29.17", "2.5.29.32", "2.5.29.37", "1.2.643.100.111",
                          "1.2.643.100.112", "1.2.643.100.114"}) {
    fuzz::RequireInert(report::ExtensionValueText(oid, bytes));
  }
  fuzz::RequireOneLine(report::CertificateSignatureHtml(bytes), "the signature block is one line");
  if (const platform::CertContextPtr cert = platform::CertContext::Create(bytes)) {
    fuzz::RequireOneLine(report::SignerCertificateHtml(cert->Info()),
                         "the signer block is one line");
  }
  return 0;
}
