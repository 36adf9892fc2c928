#include "report/html_report.h"

#include "platform/base/log.h"
#include "report/detail_blocks.h"
#include "report/report_texts.h"
#include "report/status_texts.h"

namespace report {
namespace {

void ReplaceAll(std::string& text, std::string_view marker, const std::string& replacement) {
  for (size_t at = text.find(marker); at != std::string::npos;
       at = text.find(marker, at + replacement.size())) {
    text.replace(at, marker.size(), replacement);
  }
}

}  // namespace

std::string RenderReport(const verify::VerifyResult& result) {
  const platform::CertContext* signer = result.signer.get();
  if (signer == nullptr) return {};
  std::string page = texts::kPageTemplate;
  const std::string signerInfo =
      SignerCertificateHtml(signer->Info()) + CertificateSignatureHtml(signer->Encoded());
  ReplaceAll(page, texts::kSignerInfoMarker, signerInfo);
  ReplaceAll(page, texts::kStatusMarker, StatusTableHtml(result));
  return platform::FormatText(texts::kReportLineFormat, page.c_str());
}

std::string StatusTableHtml(const verify::VerifyResult& result) {
  const std::string overall = result.signatureOk && result.chainStatus == 0
                                  ? texts::kSignatureValid
                                  : texts::kSomeChecksFailed;
  const std::string signature =
      result.signatureOk ? texts::kSignatureValid : SignatureStatusText(result);
  const std::string chain =
      result.chainStatus == 0 ? texts::kCertificateValid : ChainStatusText(result);
  return texts::kStatusTableStart +
         platform::FormatText(texts::kStatusRowsFormat, overall.c_str(), signature.c_str(),
                              chain.c_str()) +
         texts::kStatusTableEnd;
}

}  // namespace report
