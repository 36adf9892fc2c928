#include "verify/texts.h"

#include "platform/cp1251.h"

namespace verify::texts {

using namespace platform::literals;

const char* const kLogVerifySignatureStart = "(%d) VerifySignature start";
const char* const kLogVerifySignatureEnd = "(%d) VerifySignature end";
const char* const kLogVerifyCertificateStart = "(%d) VerifyCertificate start";
const char* const kLogVerifyCertificateEnd = "(%d) VerifyCertificate end";
const char* const kLogVerifyChainStart = "(%d) VerifyChain start";
const char* const kLogVerifyChainEnd = "(%d) VerifyChain end";
const char* const kLogVerifyCadesStart = "(%d) VerifyCades start";
const char* const kLogVerifyCadesEnd = "(%d) VerifyCades end";
const char* const kLogSizes = "(%d) TextSize=%d, SignSize=%d";
const char* const kLogImportCertFailed = "CertCreateCertificateContext (%08x)";
const char* const kLogChainEngineStart = "(%d) VerifyChain CertCreateCertificateChainEngine st";
const char* const kLogChainEngineEnd = "(%d) VerifyChain CertCreateCertificateChainEngine end";
const char* const kLogGetChainStart = "(%d) VerifyChain CertGetCertificateChain st";
const char* const kLogGetChainEnd = "(%d) VerifyChain CertGetCertificateChain end";
const char* const kLogOidStart = "(%d) VerifyChain OID st";
const char* const kLogOidEnd = "(%d) VerifyChain OID end";
const char* const kLogChainStored = "(%d) VerifyChain %08x";

const char* const kErrorImportCert = "Error import cert";
const char* const kCadesNotSupported = "error: CAdES not supported\r\n";

}  // namespace verify::texts
