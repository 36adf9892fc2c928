#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <mutex>

#include "platform/base/last_error.h"
#include "platform/base/pace_window.h"
#include "platform/base/win_status.h"
#include "platform/os/detail/curl_handles.h"
#include "platform/os/inet.h"

namespace platform {
namespace {

// Whether the requester has gone is asked at most this often.
constexpr auto kAbandonedCheckInterval = std::chrono::milliseconds(250);

struct Transfer {
  Transfer(const InternetRequest& transferRequest,
           const std::function<bool(std::span<const uint8_t>)>& consumer)
      : request(&transferRequest),
        consume(&consumer),
        pace(transferRequest.minBytesPerSecond,
             std::chrono::milliseconds(transferRequest.paceWindowMs), PaceWindow::Clock::now()) {}

  const InternetRequest* request;
  const std::function<bool(std::span<const uint8_t>)>* consume;
  size_t received = 0;
  bool stopped = false;  // the consumer refused, or the answer grew too long
  bool failedStatus = false;
  bool tooSlow = false;
  bool abandoned = false;
  long status = 0;
  CURL* curl = nullptr;
  PaceWindow pace;
  PaceWindow::Clock::time_point nextAbandonedCheck{};
};

bool StatusIsFailure(long status) { return status >= 400; }

size_t OnData(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t length = size * count;
  // The status is known once the body starts: a failed request's body is never a document.
  long status = 0;
  curl_easy_getinfo(transfer->curl, CURLINFO_RESPONSE_CODE, &status);
  if (StatusIsFailure(status)) {
    transfer->failedStatus = true;
    transfer->status = status;
    return 0;
  }
  transfer->received += length;
  if (transfer->request->maxBytes != 0 && transfer->received > transfer->request->maxBytes) {
    transfer->stopped = true;
    return 0;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(data);
  const size_t piece = transfer->request->chunkSize == 0 ? length : transfer->request->chunkSize;
  for (size_t offset = 0; offset < length; offset += piece) {
    const size_t take = std::min(piece, length - offset);
    if (!(*transfer->consume)(std::span<const uint8_t>(bytes + offset, take))) {
      transfer->stopped = true;
      return 0;
    }
  }
  return length;
}

// OnProgress runs about once a second while nothing arrives, and more often while bytes do: it
// stops a transfer below its pace floor, or one whose requester has gone.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* transfer = static_cast<Transfer*>(user);
  const PaceWindow::Clock::time_point now = PaceWindow::Clock::now();
  if (!transfer->pace.Note(now, transfer->received)) {
    transfer->tooSlow = true;
    return 1;
  }
  if (transfer->request->abandoned && now >= transfer->nextAbandonedCheck) {
    transfer->nextAbandonedCheck = now + kAbandonedCheckInterval;
    if (transfer->request->abandoned()) {
      transfer->abandoned = true;
      return 1;
    }
  }
  return 0;
}

uint32_t StatusCode(long status) {
  if (status == 404 || status == 410) return ERROR_FILE_NOT_FOUND;
  if (status == 401 || status == 403) return ERROR_ACCESS_DENIED;
  return ERROR_HTTP_INVALID_SERVER_RESPONSE;
}

uint32_t CurlCode(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case CURLE_URL_MALFORMAT:
      return ERROR_INTERNET_INVALID_URL;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_REMOTE_FILE_NOT_FOUND:
      return ERROR_FILE_NOT_FOUND;
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_LOGIN_DENIED:
      return ERROR_ACCESS_DENIED;
    default:
      return ERROR_INTERNET_CONNECTION_ABORTED;
  }
}

// HasKnownScheme: the URL names http, https or ftp (in any case) before "://"; a text without a
// scheme is never guessed into one.
bool HasKnownScheme(const std::string& url) {
  const size_t colon = url.find("://");
  if (colon == std::string::npos) return false;
  std::string scheme = url.substr(0, colon);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme == "http" || scheme == "https" || scheme == "ftp";
}

class CurlInternet : public Internet {
 public:
  bool Stream(const InternetRequest& request,
              const std::function<bool(std::span<const uint8_t>)>& consume) override;
};

}  // namespace

bool CurlInternet::Stream(const InternetRequest& request,
                          const std::function<bool(std::span<const uint8_t>)>& consume) {
  EnsureDownloadLibrary();
  if (!HasKnownScheme(request.url)) {
    SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return false;
  }
  detail::CurlPtr curl(curl_easy_init());
  if (!curl) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  Transfer transfer(request, consume);
  transfer.curl = curl.get();
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
  if (!request.agent.empty()) curl_easy_setopt(c, CURLOPT_USERAGENT, request.agent.c_str());
  if (request.timeoutMs > 0) curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, long{request.timeoutMs});
  if (request.connectTimeoutMs > 0) {
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, long{request.connectTimeoutMs});
  }
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
  // Always from the origin server, never from a cache on the way.
  curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
  headers = curl_slist_append(headers, "Pragma: no-cache");
  std::string contentType;
  if (request.post) {
    contentType = "Content-Type: " + request.contentType;
    headers = curl_slist_append(headers, contentType.c_str());
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  }
  detail::CurlHeadersPtr headerList(headers);
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headerList.get());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnData);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);

  const CURLcode result = curl_easy_perform(c);
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (transfer.failedStatus || (result == CURLE_OK && StatusIsFailure(status))) {
    SetLastError(StatusCode(transfer.failedStatus ? transfer.status : status));
    return false;
  }
  if (transfer.stopped || transfer.tooSlow || transfer.abandoned) {
    SetLastError(transfer.tooSlow     ? ERROR_INTERNET_TIMEOUT
                 : transfer.abandoned ? ERROR_INTERNET_OPERATION_CANCELLED
                                      : ERROR_INTERNET_CONNECTION_ABORTED);
    return false;
  }
  if (result != CURLE_OK) {
    SetLastError(CurlCode(result));
    return false;
  }
  SetLastError(0);
  return true;
}

std::optional<std::vector<uint8_t>> Internet::Fetch(const InternetRequest& request) {
  std::vector<uint8_t> answer;
  const bool ok = Stream(request, [&answer](std::span<const uint8_t> piece) {
    answer.insert(answer.end(), piece.begin(), piece.end());
    return true;
  });
  if (!ok) return std::nullopt;
  return answer;
}

Internet& SystemInternet() {
  static CurlInternet internet;
  return internet;
}

void EnsureDownloadLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace platform
