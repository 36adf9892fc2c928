#pragma once

// The server's own texts: protocol answers, the greeting and log formats. Russian texts are
// Windows-1251 bytes; all are NUL-terminated and reproduced byte for byte.

namespace server::texts {

// The notice after the start line, and the error line of a listener that could not be opened.
extern const char* const kLogListening;
extern const char* const kLogListenFailed;
// The operators' endpoints (metrics, agent check): where one listens, or why it cannot.
extern const char* const kLogEndpointListening;
extern const char* const kLogEndpointFailed;
// The info line of a request: the client, the command, what came of it, the time it took.
extern const char* const kLogRequestFormat;
// What the info line of a CHECK says: the three verdicts with their codes, and the signer.
extern const char* const kLogCheckSummaryFormat;
// The greeting, filled with the program's name and version.
extern const char* const kGreetingFormat;

extern const char* const kStringStored;
extern const char* const kSignatureStored;
extern const char* const kB64On;
extern const char* const kB64Off;
extern const char* const kFindOn;
extern const char* const kFindOff;
extern const char* const kCrlOn;
extern const char* const kCrlOff;
extern const char* const kHtmlOn;
extern const char* const kHtmlOff;
extern const char* const kHashServerEnabled;
extern const char* const kHashServerLocal;
extern const char* const kHashServerDisabled;
extern const char* const kHashFormat;
extern const char* const kHashFailed;
extern const char* const kUploadEnabled;
extern const char* const kUploadDisabled;
extern const char* const kMd5On;
extern const char* const kMd5Off;
extern const char* const kOidFilter;
extern const char* const kKeyLifetimeFormat;
extern const char* const kTimeSetPrefix;
extern const char* const kTimeInvalid;
extern const char* const kBye;
extern const char* const kGettingData;
extern const char* const kGettingSignature;
extern const char* const kCertificateStored;
extern const char* const kGettingCertificate;
extern const char* const kHashedXmlStored;
extern const char* const kGettingHashedXml;
extern const char* const kWhat;
extern const char* const kSignatureBlockStoredFormat;
extern const char* const kCertificateBlockStoredFormat;
extern const char* const kHashedXmlBlockStoredFormat;

extern const char* const kCheckStatusFormat;
extern const char* const kCheckNamesFormat;
extern const char* const kCheckSerialFormat;
extern const char* const kAnswerEnd;

extern const char* const kLogServerStart;
extern const char* const kLogServerStop;
extern const char* const kLogProcessingTime;
extern const char* const kLogWorkersStillBusy;
extern const char* const kLogConnectionOverLimit;
extern const char* const kLogProcessOverLimit;
extern const char* const kLogLineTooSlow;
extern const char* const kLogAddressOverLimit;
// Who may connect: the notice at start, and the refusals of connections without a good PROXY
// header from a listed balancer; the debug line naming the client a balancer relays.
extern const char* const kLogClientRules;
extern const char* const kLogNotABalancer;
extern const char* const kLogBadProxyHeader;
extern const char* const kLogSlowProxyHeader;
extern const char* const kLogProxyHeaderCut;
extern const char* const kLogRelayedClient;
extern const char* const kLogRecv;
extern const char* const kLogCheckStart;
extern const char* const kLogCheckEnd;

// Document retrieval.
extern const char* const kLogFileRequest;
extern const char* const kLogFileHash;
extern const char* const kLogResolved;
extern const char* const kLogDownloadFailed;
extern const char* const kHashServerFailedFormat;
extern const char* const kCouldNotOpenInetFile;
extern const char* const kFileSizeRefusedFormat;

// The upload service.
extern const char* const kLogUploadRequest;
extern const char* const kLogUploadAnswer;
extern const char* const kLogUploadLoaded;
extern const char* const kUploadSignatureOpenFailedFormat;
extern const char* const kUploadLibraryLoadFailedFormat;
extern const char* const kUploadUnexpected;

}  // namespace server::texts
