#pragma once

// The engine's own texts: log formats and failure texts (Windows-1251).

namespace verify::texts {

extern const char* const kLogVerifySignatureStart;
extern const char* const kLogVerifySignatureEnd;
extern const char* const kLogVerifyCertificateStart;
extern const char* const kLogVerifyCertificateEnd;
extern const char* const kLogVerifyChainStart;
extern const char* const kLogVerifyChainEnd;
extern const char* const kLogVerifyCadesStart;
extern const char* const kLogVerifyCadesEnd;
extern const char* const kLogSizes;
extern const char* const kLogImportCertFailed;
extern const char* const kLogChainEngineStart;
extern const char* const kLogChainEngineEnd;
extern const char* const kLogGetChainStart;
extern const char* const kLogGetChainEnd;
extern const char* const kLogOidStart;
extern const char* const kLogOidEnd;
extern const char* const kLogChainStored;

extern const char* const kLogGetProvByCertFailed;
extern const char* const kLogEnumAlgsFirstFailed;
extern const char* const kLogEnumAlgsNextFailed;
extern const char* const kErrorEnumAlgsFirstFailed;
extern const char* const kErrorEnumAlgsNextFailed;

extern const char* const kErrorBadXml;
extern const char* const kErrorNoRootElement;
extern const char* const kErrorC14nFailed;
extern const char* const kErrorNoLibXml;
extern const char* const kErrorLibXmlNotInstalled;
extern const char* const kErrorLibXmlOutdated;
extern const char* const kErrorHashFailed;
extern const char* const kErrorHashMismatch;
extern const char* const kErrorNoProvider;

extern const char* const kErrorImportCert;
extern const char* const kCadesNotSupported;

}  // namespace verify::texts
