// The operators' endpoints of a running server: /metrics after a known sequence of requests, read
// with prometheus_client's parser (tests/parse_metrics.py); /healthz and the agent check as the
// workers fill up.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/os/socket.h"
#include "tests/check_support.h"
#include "tests/e2e_environment.h"
#include "tests/pki/cms.h"

namespace tests {
namespace {

constexpr std::string_view kDocument = "<doc>counted</doc>\r\n";

// Fetch connects to `port`, sends `request` and returns all that comes back until the close.
std::string Fetch(int port, const std::string& request) {
  std::optional<TestClient> client = TestClient::Connect(port);
  if (!client || !client->Send(request)) return "";
  client->WaitClosed(5000);
  return client->Pending();
}

std::string HttpGet(int port, const std::string& path) {
  return Fetch(port, "GET " + path + " HTTP/1.0\r\n\r\n");
}

// ParsedMetrics returns the samples of the page at `port`, one line each, as parse_metrics.py
// prints them under Debian's Python (where python3-prometheus-client installs);
// the parser's error when it refuses the page.
std::string ParsedMetrics(int port) {
  const std::string response = HttpGet(port, "/metrics");
  const size_t body = response.find("\r\n\r\n");
  if (response.find("Content-Type: text/plain; version=0.0.4; charset=utf-8") ==
          std::string::npos ||
      body == std::string::npos) {
    return "bad response: " + response;
  }
  const std::string page = StateRoot() + "/metrics.txt";
  std::ofstream(page, std::ios::binary) << response.substr(body + 4);
  const std::string command =
      "/usr/bin/python3 " QUILMAREND_SOURCE_DIR "/tests/parse_metrics.py < " + page + " 2>&1";
  std::string parsed;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) parsed.append(buffer, n);
    if (pclose(pipe) != 0) parsed = "parser failed: " + parsed;
  }
  return parsed;
}

// ConnectFrom opens a connection to 127.0.0.1:`port` from the loopback address `source`.
platform::UniqueFd ConnectFrom(const char* source, int port) {
  platform::UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, source, &address.sin_addr);
  if (bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return {};
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return {};
  return fd;
}

// PeerClosed is true when the peer of `fd` has closed or reset the connection.
bool PeerClosed(int fd) {
  pollfd ready{fd, POLLIN, 0};
  char byte;
  return poll(&ready, 1, 0) == 1 && recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
}

server::ServerSetup EndpointsSetup() {
  server::ServerSetup setup;
  setup.metricsListen = platform::ListenEndpoint{"127.0.0.1", 0};
  setup.agentListen = platform::ListenEndpoint{"127.0.0.1", 0};
  return setup;
}

TEST(MetricsE2E, CountersFollowTheRequestsServed) {
  const Pki p = MakePki(pki::KeyKind::kEcdsaP256);
  AddToStore(platform::StoreLocation::kLocalMachine, "ROOT", p.root);
  AddToStore(platform::StoreLocation::kCurrentUser, "MY", p.leaf);
  const std::vector<uint8_t> signature = pki::SignDetached(
      std::vector<uint8_t>(kDocument.begin(), kDocument.end()), {{p.leaf, p.leafKey}}, {p.ca});
  const std::unique_ptr<server::TCPServer> server = StartServer(2, EndpointsSetup());
  {
    // One good CHECK, then a FOO and QUIT; one CHECK of a changed document, then the peer goes.
    TestClient good = CheckClient(server->BoundPort(), kDocument, signature, {"CRLOFF"});
    ASSERT_EQ(AnswerLine(RunCheck(good), "CheckSignature"), "OK");
    good.Command("FOO  \x01\"}");
    good.Command("QUIT");
    TestClient changed =
        CheckClient(server->BoundPort(), "<doc>changed</doc>\r\n", signature, {"CRLOFF"});
    ASSERT_EQ(AnswerLine(RunCheck(changed), "CheckSignature"), "FAIL");
  }
  std::string parsed;
  for (int i = 0; i < 100; ++i) {  // until the server has seen the second client go
    parsed = ParsedMetrics(server->MetricsPort());
    if (parsed.find("quilmarend_connections_open{} 0\n") != std::string::npos) break;
    usleep(20000);
  }
  const char* const kExpected[] = {
      "quilmarend_build_info{version=\"3,1,0,10\"} 1",
      "quilmarend_connections_accepted_total{} 2",
      "quilmarend_connections_closed_total{reason=\"quit\"} 1",
      "quilmarend_connections_closed_total{reason=\"peer\"} 1",
      "quilmarend_connections_closed_total{reason=\"idle_timeout\"} 0",
      "quilmarend_requests_total{command=\"B64ON\"} 2",
      "quilmarend_requests_total{command=\"STRS\"} 2",
      "quilmarend_requests_total{command=\"SIGN\"} 2",
      "quilmarend_requests_total{command=\"CRLOFF\"} 2",
      "quilmarend_requests_total{command=\"CHECK\"} 2",
      "quilmarend_requests_total{command=\"QUIT\"} 1",
      "quilmarend_requests_total{command=\"other\"} 1",
      // 0x80091007: CRYPT_E_HASH_VALUE, the changed document's digest.
      "quilmarend_check_verdicts_total{check=\"signature\",outcome=\"ok\",status=\"00000000\"} 1",
      "quilmarend_check_verdicts_total{check=\"signature\",outcome=\"fail\",status=\"80091007\"} 1",
      "quilmarend_check_verdicts_total{check=\"chain\",outcome=\"ok\",status=\"00000000\"} 2",
      "quilmarend_checks_refused_total{} 0",
      "quilmarend_check_duration_seconds_count{} 2",
      "quilmarend_check_duration_seconds_bucket{le=\"+Inf\"} 2",
      "quilmarend_workers_busy{} 0",
      "quilmarend_workers{} 2",
      "quilmarend_request_files{} 0",
      "quilmarend_held_bytes{} 0",
  };
  for (const char* line : kExpected) {
    EXPECT_NE(parsed.find(std::string(line) + "\n"), std::string::npos) << line << "\n" << parsed;
  }
  // The process families hold this process's figures: a start time today (the parser prints six
  // digits), descriptors open below their limit.
  const auto value = [&parsed](const std::string& name) {
    const size_t at = parsed.find(name + "{} ");
    return at == std::string::npos ? -1.0 : std::stod(parsed.substr(at + name.size() + 3));
  };
  EXPECT_GT(value("process_resident_memory_bytes"), 1 << 20);
  EXPECT_GT(value("process_virtual_memory_bytes"), value("process_resident_memory_bytes"));
  EXPECT_GT(value("process_open_fds"), 3);
  EXPECT_GT(value("process_max_fds"), value("process_open_fds"));
  EXPECT_NEAR(value("process_start_time_seconds"), static_cast<double>(time(nullptr)), 86400);
  EXPECT_GE(value("process_cpu_seconds_total"), 0);
  // Prometheus's own linter takes the page (the parser above has written it to metrics.txt).
  if (system("command -v promtool >/dev/null") == 0) {
    EXPECT_EQ(system(("promtool check metrics < " + StateRoot() + "/metrics.txt").c_str()), 0);
  } else {
    std::printf("promtool is missing: the page is not linted\n");
  }
}

TEST(MetricsE2E, HealthAndAgentCheckFollowTheFreeWorkers) {
  const std::unique_ptr<server::TCPServer> server = StartServer(2, EndpointsSetup());
  const int metrics = server->MetricsPort();
  const int agent = server->AgentPort();
  EXPECT_EQ(Fetch(agent, ""), "up ready 100%\n");
  std::vector<TestClient> held;
  for (int busy = 1; busy <= 2; ++busy) {
    held.push_back(*TestClient::Connect(server->BoundPort()));
    ASSERT_FALSE(held.back().ReadGreeting().empty());
    EXPECT_EQ(Fetch(agent, ""), busy == 1 ? "up ready 50%\n" : "drain 0%\n");
  }
  const std::string health = HttpGet(metrics, "/healthz");
  EXPECT_EQ(health.substr(0, health.find("\r\n")), "HTTP/1.1 503 Service Unavailable");
  EXPECT_TRUE(health.ends_with("\r\n\r\nall 2 workers busy\n")) << health;
  held.clear();  // the workers free again
  std::string healthy;
  for (int i = 0; i < 100 && !healthy.ends_with("\r\n\r\nok\n"); ++i) {
    healthy = HttpGet(metrics, "/healthz");
    usleep(20000);
  }
  EXPECT_EQ(healthy.substr(0, healthy.find("\r\n")), "HTTP/1.1 200 OK");
  const std::string other = HttpGet(metrics, "/metrics/../etc");
  EXPECT_EQ(other.substr(0, other.find("\r\n")), "HTTP/1.1 404 Not Found");
}

TEST(MetricsE2E, ConnectionsHeldFromOneAddressLeaveThePagesToOthers) {
  server::ServerSetup setup = EndpointsSetup();
  setup.limits.operatorPages.headDeadline = std::chrono::seconds(60);
  const std::unique_ptr<server::TCPServer> server = StartServer(2, setup);
  const int port = server->MetricsPort();
  // More half-sent heads from 127.0.0.2 than the listener takes connections in all.
  std::vector<platform::UniqueFd> held;
  for (int i = 0; i < 40; ++i) {
    held.push_back(ConnectFrom("127.0.0.2", port));
    ASSERT_TRUE(held.back());
    send(held.back().get(), "G", 1, MSG_NOSIGNAL);
  }
  const std::string health = HttpGet(port, "/healthz");
  EXPECT_EQ(health.substr(0, health.find("\r\n")), "HTTP/1.1 200 OK");
}

TEST(MetricsE2E, HeadTricklingInIsCutAtItsDeadline) {
  server::ServerSetup setup = EndpointsSetup();
  setup.limits.operatorPages.headDeadline = std::chrono::seconds(1);
  setup.limits.operatorPages.idleTimeout = std::chrono::seconds(60);
  const std::unique_ptr<server::TCPServer> server = StartServer(2, setup);
  // One byte every 50 ms keeps the idle time-out from ever firing; the head would take 30 s.
  const std::string head = "GET /metrics HTTP/1.1\r\nX-Slow: " + std::string(600, 'x') + "\r\n\r\n";
  const platform::UniqueFd slow = ConnectFrom("127.0.0.1", server->MetricsPort());
  size_t sent = 0;
  while (sent < head.size() && !PeerClosed(slow.get()) &&
         send(slow.get(), &head[sent], 1, MSG_NOSIGNAL) == 1) {
    ++sent;
    usleep(50000);
  }
  EXPECT_LT(sent, head.size());
}

}  // namespace
}  // namespace tests
