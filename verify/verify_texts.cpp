#include "verify/verify_texts.h"

#include "platform/base/cp1251.h"

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

const char* const kLogGetProvByCertFailed = "(%d) GetProvByCert (%08x)";
const char* const kLogEnumAlgsFirstFailed =
    "(%d) IsProvContainsSignAlgorythm CryptGetProvParam(1) (%08x)";
const char* const kLogEnumAlgsNextFailed =
    "(%d) IsProvContainsSignAlgorythm CryptGetProvParam(2) (%08x)";
const char* const kErrorEnumAlgsFirstFailed =
    "IsProvContainsSignAlgorythm CryptGetProvParam (1) (%08x)";
const char* const kErrorEnumAlgsNextFailed =
    "IsProvContainsSignAlgorythm CryptGetProvParam (2) (%08x)";

const char* const kErrorBadXml = "Некорректный xml документ."_cp1251;
const char* const kErrorNoRootElement = "Ошибка CanonicalizeXml - xmlDocGetRootElement."_cp1251;
const char* const kErrorC14nFailed = "Ошибка CanonicalizeXml - xmlC14NDocDumpMemory."_cp1251;
const char* const kErrorNoLibXml = "Не найдена библиотека libxml2.so.2"_cp1251;
const char* const kErrorLibXmlNotInstalled = "Не установлен libxml2.so.2!"_cp1251;
const char* const kErrorLibXmlOutdated =
    "Необходимо обновить libxml2.so.2. Не найдены следующие методы:"_cp1251;
const char* const kErrorHashFailed = "Не удалось вычислить хэш данных."_cp1251;
const char* const kErrorHashMismatch = "Хэш данных не совпадает."_cp1251;
const char* const kErrorNoProvider = "Не найден провайдер."_cp1251;

const char* const kErrorImportCert = "Error import cert";
const char* const kCadesNotSupported = "error: CAdES not supported\r\n";

}  // namespace verify::texts
