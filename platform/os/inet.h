#pragma once

// Downloads, the stand-in for the Windows Internet functions (over libcurl): http, https and ftp,
// redirects followed, no cache (every request goes to the origin server), proxies as the
// environment configures them. An HTTP status of 400 or above is a failed download, never a
// document. Failures set the last error to a WinINet code:
//   ERROR_INTERNET_NAME_NOT_RESOLVED, ERROR_INTERNET_CANNOT_CONNECT, ERROR_INTERNET_TIMEOUT (any
//   of the request's limits: connect, whole transfer, or a peer slower than the pace floor),
//   ERROR_INTERNET_OPERATION_CANCELLED (whoever wanted the answer has gone),
//   ERROR_INTERNET_INVALID_URL, ERROR_INTERNET_UNRECOGNIZED_SCHEME, ERROR_FILE_NOT_FOUND (404,
//   410), ERROR_ACCESS_DENIED (401, 403), ERROR_HTTP_INVALID_SERVER_RESPONSE (other statuses),
//   ERROR_INTERNET_CONNECTION_ABORTED (anything else, including a chunk consumer that stopped).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

struct InternetRequest {
  std::string url;
  std::string agent;         // User-Agent
  int timeoutMs = 0;         // limit on the whole transfer; 0 for none
  int connectTimeoutMs = 0;  // limit on connecting; 0 for curl's default
  // The transfer fails once the body bytes of a stretch of `paceWindowMs` (from its start on)
  // average fewer than `minBytesPerSecond` a second: a peer that trickles, stalls or sends bursts
  // between long pauses cannot hold a download, while a large steady one takes what it takes
  // (PaceWindow). Either 0 for no such floor.
  uint64_t minBytesPerSecond = 0;
  int paceWindowMs = 0;
  // `abandoned`, when set, is asked a few times a second while the transfer runs; true stops it:
  // whoever wanted the answer has gone.
  std::function<bool()> abandoned;
  bool post = false;        // POST `body` instead of GET
  std::string contentType;  // of the POST body
  std::vector<uint8_t> body;
  size_t maxBytes = 0;   // refuse answers longer than this; 0 for no limit
  size_t chunkSize = 0;  // hand the consumer pieces of at most this size; 0 as received
};

// Internet makes the downloads. The code that downloads is handed one; the host hands down the
// real one (SystemInternet), tests a fake that answers without sockets.
//
// Example:
//   InternetRequest request;
//   request.url = "http://ca.example/root.crl";
//   request.timeoutMs = 5000;
//   const std::optional<std::vector<uint8_t>> crl = internet.Fetch(request);
class Internet {
 public:
  virtual ~Internet() = default;

  // Stream fetches `request.url` and hands the answer to `consume` piece by piece; a consumer
  // that returns false stops the transfer. Returns false with the last error set on failure.
  // Blocks for the transfer, within the request's limits. Safe to call from several threads.
  virtual bool Stream(const InternetRequest& request,
                      const std::function<bool(std::span<const uint8_t>)>& consume) = 0;

  // Fetch returns the whole answer, or nullopt with the last error set.
  std::optional<std::vector<uint8_t>> Fetch(const InternetRequest& request);
};

// SystemInternet returns the process-wide downloader over libcurl.
Internet& SystemInternet();

// EnsureDownloadLibrary runs the download library's process-wide set-up once; the downloader
// calls it before its first transfer, and the cryptographic set-up at start-up, before other
// threads run.
void EnsureDownloadLibrary();

}  // namespace platform
