#include "server/server_texts.h"

#include "platform/base/cp1251.h"

namespace server::texts {

using namespace platform::literals;

const char* const kLogListening = "Listening on %s port %d; state root %s; log level %s";
const char* const kLogListenFailed = "Cannot %s %s port %d: %s";
const char* const kLogEndpointListening = "The %s endpoint listens on %s port %d";
const char* const kLogEndpointFailed = "The %s endpoint cannot listen on %s port %d: %s";
const char* const kLogRequestFormat = "%s %s: %s (%lld ms)";
const char* const kLogCheckSummaryFormat =
    "signature %s %08x, certificate %s %08x, chain %s %08x, signer %s";
const char* const kGreetingFormat = "%s %s\r\n\r\n";

const char* const kStringStored = "OK: String stored\r\n";
const char* const kSignatureStored = "OK: Signature stored\r\n";
const char* const kB64On = "OK: String will decoded\r\n";
const char* const kB64Off = "OK: String will not decoded\r\n";
const char* const kFindOn = "OK: Find certificate ON\r\n";
const char* const kFindOff = "OK: Find certificate OFF\r\n";
const char* const kCrlOn = "OK: Check revocation on\r\n";
const char* const kCrlOff = "OK: Check revocation off\r\n";
const char* const kHtmlOn = "OK: HTML Report ON\r\n";
const char* const kHtmlOff = "OK: HTML Report OFF\r\n";
const char* const kHashServerEnabled = "OK: Hashserver enabled\r\n";
const char* const kHashServerLocal = "OK: Hashserver local enabled\r\n";
const char* const kHashServerDisabled = "OK: Hashserver disabled\r\n";
const char* const kHashFormat = "OK: Hash=%s\r\n";
const char* const kHashFailed = "error: couldn't calculate hash\r\n";
const char* const kUploadEnabled = "OK: Upload service enabled\r\n";
const char* const kUploadDisabled = "OK: Upload service disabled\r\n";
const char* const kMd5On = "OK: File hash on\r\n";
const char* const kMd5Off = "OK: File hash off\r\n";
const char* const kOidFilter = "OK: Filter OID enabled\r\n";
const char* const kKeyLifetimeFormat = "OK: SecretKey Lifetime set to %d\r\n";
const char* const kTimeSetPrefix = "OK: Time set - ";
const char* const kTimeInvalid = "error: Invalid time format\r\n";
const char* const kBye = "OK: Bye.\r\n";
const char* const kGettingData = "OK: Getting data, end with <CRLF>.<CRLF>\r\n";
const char* const kGettingSignature = "OK: Getting signature, end with <CRLF>.<CRLF>\r\n";
const char* const kCertificateStored = "OK: Certificate stored\r\n";
const char* const kGettingCertificate = "OK: Getting certificate, end with <CRLF>.<CRLF>\r\n";
const char* const kHashedXmlStored = "OK: HashedXml stored\r\n";
const char* const kGettingHashedXml = "OK: Getting HashedXml, end with <CRLF>.<CRLF>\r\n";
const char* const kWhat = "error: What?\r\n.\r\n";
const char* const kSignatureBlockStoredFormat = "OK: Signature stored. Length=%d\r\n";
const char* const kCertificateBlockStoredFormat = "OK: Certificate stored. Length=%d\r\n";
const char* const kHashedXmlBlockStoredFormat = "OK: HashedXml stored. Length=%d\r\n";

const char* const kCheckStatusFormat =
    "CheckSignature: %s\r\nCheckSignatureStatus: %s\r\nFindCertificate: %s\r\n"
    "FindCertificateStatus: %s\r\nCheckChain: %s\r\nCheckChainStatus: %s\r\n";
const char* const kCheckNamesFormat =
    "SubjectName: %s\r\nSubject: %s\r\nSubjectX500: %s\r\nIssuer: %s\r\nIssuerX500: %s\r\n";
const char* const kCheckSerialFormat = "SubjectSN: %s\r\n";
const char* const kAnswerEnd = ".\r\n";

const char* const kLogServerStart = "Запуск сервера %s"_cp1251;
const char* const kLogServerStop = "Закрытие сервера"_cp1251;
const char* const kLogWorkersStillBusy =
    "Сервер закрывается без потоков, не завершившихся за отведённое время: %d (%d мс)"_cp1251;
const char* const kLogProcessingTime = "(%d) Время обработки запроса: %d"_cp1251;
const char* const kLogConnectionOverLimit =
    "(%d) Соединение закрыто: блоки и незавершённая строка соединения длиннее %zu байт"_cp1251;
const char* const kLogProcessOverLimit =
    "(%d) Соединение закрыто: блоки всех соединений длиннее %zu байт"_cp1251;
const char* const kLogLineTooSlow =
    "(%d) Соединение закрыто: незавершённая строка из %zu байт приходит %lld мс, медленнее %zu "
    "байт/с"_cp1251;
const char* const kLogAddressOverLimit =
    "(%d) Соединение с адреса %s закрыто без приветствия: с адресов %s уже открыто соединений: "
    "%d"_cp1251;
const char* const kLogClientRules =
    "Connections per client address: at most %d (0: no cap); PROXY protocol: %s";
const char* const kLogNotABalancer =
    "(%d) Соединение с адреса %s закрыто без приветствия: адреса нет в QUILMAREND_PROXY_FROM"_cp1251;
const char* const kLogBadProxyHeader =
    "(%d) Соединение с адреса %s закрыто без приветствия: оно начато не заголовком PROXY или "
    "заголовок неверен"_cp1251;
const char* const kLogSlowProxyHeader =
    "(%d) Соединение с адреса %s закрыто без приветствия: заголовок PROXY не пришёл за %lld "
    "мс"_cp1251;
const char* const kLogProxyHeaderCut =
    "(%d) Соединение с адреса %s закрыто до конца заголовка PROXY"_cp1251;
const char* const kLogRelayedClient = "(%d) Клиент %s, соединение через %s"_cp1251;
const char* const kLogRecv = "(%d) recv %s";
const char* const kLogCheckStart = "(%d) Начало проверки"_cp1251;
const char* const kLogCheckEnd = "(%d) Окончание проверки"_cp1251;

// Document retrieval.
const char* const kLogFileRequest = "(%d) Запрос файла\t%s"_cp1251;
const char* const kLogFileHash = "(%d) Хеш файла\t%s"_cp1251;
const char* const kLogResolved = "(%d) Text=%s, IsUrl=%d";
const char* const kLogDownloadFailed = "(%d) Файл не загружен (%08x)"_cp1251;
const char* const kHashServerFailedFormat =
    "error: Неопознанная ошибка при работе с удаленным файлом (%08x)\r\n.\r\n"_cp1251;
const char* const kCouldNotOpenInetFile = "Error: Could not open inet file.\r\n.\r\n";
const char* const kFileSizeRefusedFormat =
    "Error: Ошибка при работе с удаленным файлом (%08x)\r\n.\r\n"_cp1251;

// The upload service.
const char* const kLogUploadRequest = "(%d) Загрузка из сервиса %s файла %s"_cp1251;
const char* const kLogUploadAnswer = "(%d) Файл %s"_cp1251;
const char* const kLogUploadLoaded = "(%d) Загружен файл %s"_cp1251;
const char* const kUploadSignatureOpenFailedFormat =
    "error: не удалось открыть файл сигнатуры (%08x)\r\n.\r\n"_cp1251;
const char* const kUploadLibraryLoadFailedFormat =
    "Error: Не удалось загрузить библиотеку для работы с сервисом (%08x)\r\n"_cp1251;
const char* const kUploadUnexpected = "Error: Непредвиденная ошибка"_cp1251;

}  // namespace server::texts
