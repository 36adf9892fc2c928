#include "platform/os/inet.h"

#include <gtest/gtest.h>

#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/os/socket.h"
#include "tests/pki/http_server.h"

namespace platform {
namespace {

// The limits reach curl: a peer slower than the pace floor (a high one here, over a short window)
// and a connect that is never answered fail with a time-out, a transfer whose requester has gone
// is cancelled; redirects are followed, and a failed status is no document.
TEST(InternetStream, SlowOrSilentPeersFailWithTimeout) {
  tests::pki::HttpServer http;
  ASSERT_NE(http.Port(), 0);
  http.Serve("/steady", std::vector<uint8_t>(5000, 'x'), "application/octet-stream");
  http.ServeRedirect("/moved", http.Url("/steady"));
  http.ServeStatus("/missing", 404);
  http.Serve("/stalled", std::vector<uint8_t>(5000, 'x'), "application/octet-stream");
  http.SetStall("/stalled", 2);
  // A listener whose one-place accept queue is taken: the kernel drops further connection
  // requests, so a connect there never completes.
  const ListenResult full = OpenListenSocket(0, 0);
  ASSERT_TRUE(full.fd);
  const uint16_t fullPort = LocalPort(full.fd.get());
  bool resolveFailed = false;
  uint32_t resolverCode = 0;
  const UniqueFd queued = ConnectTcp("127.0.0.1", fullPort, 2000, &resolveFailed, &resolverCode);
  ASSERT_TRUE(queued);

  struct Case {
    const char* why;
    std::string url;
    int connectTimeoutMs;
    uint32_t error;  // 0 for a download that completes
    size_t received;
    bool abandoned = false;  // the requester has gone
  };
  const Case kCases[] = {
      {"a steady answer passes the slow-peer limit", http.Url("/steady"), 2000, 0, 5000},
      {"a redirect is followed", http.Url("/moved"), 2000, 0, 5000},
      {"a failed status is no document", http.Url("/missing"), 2000, ERROR_FILE_NOT_FOUND, 0},
      {"header and two bytes, then silence", http.Url("/stalled"), 2000, ERROR_INTERNET_TIMEOUT, 2},
      {"requester gone", http.Url("/stalled"), 2000, ERROR_INTERNET_OPERATION_CANCELLED, 2, true},
      {"connect never answered", "http://127.0.0.1:" + std::to_string(fullPort) + "/", 50,
       ERROR_INTERNET_TIMEOUT, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    size_t received = 0;
    InternetRequest request;
    request.url = c.url;
    request.connectTimeoutMs = c.connectTimeoutMs;
    request.minBytesPerSecond = 1 << 20;
    request.paceWindowMs = c.abandoned ? 60000 : 1000;
    // Gone once the first bytes have come, so that the transfer is under way.
    if (c.abandoned) request.abandoned = [&received] { return received > 0; };
    const bool ok = SystemInternet().Stream(request, [&received](std::span<const uint8_t> piece) {
      received += piece.size();
      return true;
    });
    EXPECT_EQ(ok, c.error == 0);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(received, c.received);
  }
}

}  // namespace
}  // namespace platform
