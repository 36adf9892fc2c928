#pragma once

// The fixed pieces of the HTML report (Windows-1251), reproduced byte for byte.

namespace report::texts {

extern const char* const kPageTemplate;
extern const char* const kStatusMarker;
extern const char* const kSignerInfoMarker;
extern const char* const kReportLineFormat;

extern const char* const kStatusTableStart;
extern const char* const kStatusRowsFormat;
extern const char* const kStatusTableEnd;
extern const char* const kSignatureValid;
extern const char* const kSomeChecksFailed;
extern const char* const kCertificateValid;

extern const char* const kSignerCertificateStart;
extern const char* const kSignerCertificateEnd;
extern const char* const kCertificateInfoStart;
extern const char* const kVersionFormat;
extern const char* const kSerialNumberFormat;
extern const char* const kIssuerFormat;
extern const char* const kValidityFormat;
extern const char* const kSubjectFormat;
extern const char* const kPublicKeyFormat;
extern const char* const kExtensionsStart;
extern const char* const kExtensionStart;
extern const char* const kExtensionNameFormat;
extern const char* const kExtensionCritical;
extern const char* const kExtensionValueFormat;
extern const char* const kExtensionEnd;
extern const char* const kExtensionsEnd;
extern const char* const kCertificateInfoEnd;
extern const char* const kSignatureInnerFormat;
extern const char* const kSignatureBlockFormat;

}  // namespace report::texts
