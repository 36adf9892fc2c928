#include "platform/inet.h"

#include <gtest/gtest.h>

#include "platform/last_error.h"
#include "platform/socket.h"
#include "platform/win_status.h"
#include "tests/pki/http_server.h"

namespace platform {
namespace {

TEST(InternetStream, SlowOrSilentPeersFailWithTimeout) {
  tests::pki::HttpServer http;
  ASSERT_NE(http.Port(), 0);
  http.Serve("/steady", std::vector<uint8_t>(5000, 'x'), "application/octet-stream");
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
  };
  const Case kCases[] = {
      {"a steady answer passes the slow-peer limit", http.Url("/steady"), 2000, 0, 5000},
      {"header and two bytes, then silence", http.Url("/stalled"), 2000, ERROR_INTERNET_TIMEOUT, 2},
      {"connect never answered", "http://127.0.0.1:" + std::to_string(fullPort) + "/", 300,
       ERROR_INTERNET_TIMEOUT, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    InternetRequest request;
    request.url = c.url;
    request.connectTimeoutMs = c.connectTimeoutMs;
    request.lowSpeedBytesPerSecond = 1;
    request.lowSpeedTimeSeconds = 1;
    size_t received = 0;
    const bool ok = InternetStream(request, [&received](std::span<const uint8_t> piece) {
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
