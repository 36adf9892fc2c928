// Two servers behind HAProxy (deploy/haproxy.cfg): CHECKs through the balancer, one server
// killed, every later CHECK answered by the other. Skipped without haproxy.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/os/socket.h"
#include "tests/check_support.h"
#include "tests/e2e_environment.h"
#include "tests/pki/cms.h"

namespace tests {
namespace {

constexpr std::string_view kDocument = "<doc>balanced</doc>\r\n";

// Stop ends `pid` with `signal` and waits for it.
void Stop(pid_t pid, int signal) {
  kill(pid, signal);
  waitpid(pid, nullptr, 0);
}

// Cluster is two servers sharing the state folder, each with its agent check, and HAProxy in front
// of them (or of the first alone, named twice) on a socket this test holds and hands down as
// descriptor 3; the servers take PROXY headers from it. Its destructor ends all three.
struct Cluster {
  explicit Cluster(bool firstOnly = false) {
    const std::string logNames[] = {StateRoot() + "/server1.txt", StateRoot() + "/server2.txt"};
    // The servers pick their ports and say them in their logs.
    setenv("QUILMAREND_AGENT_LISTEN", "127.0.0.1:0", 1);
    setenv("QUILMAREND_PROXY_PROTOCOL", "on", 1);
    setenv("QUILMAREND_PROXY_FROM", "127.0.0.1", 1);
    for (int n : {0, 1}) {
      logs[n] = logNames[n];
      std::remove(logs[n].c_str());
      servers[n] = RunServerBinary(ServerBinary(), 0, logs[n], StateRoot());
    }
    unsetenv("QUILMAREND_AGENT_LISTEN");
    unsetenv("QUILMAREND_PROXY_PROTOCOL");
    unsetenv("QUILMAREND_PROXY_FROM");
    for (int n : {0, 1}) {
      ports[n] = WaitForListening(logs[n]);
      const std::string log = ReadFile(logs[n]);
      const size_t agent = log.find(kAgentListening);
      agentPorts[n] =
          agent == std::string::npos ? 0 : atoi(log.c_str() + agent + kAgentListening.size());
    }
    platform::ListenResult front = platform::OpenListenSocket("::", 0, 100);  // IPv6 and IPv4
    if (!front.fd) front = platform::OpenListenSocket(0, 100);
    if (ports[0] == 0 || ports[1] == 0 || agentPorts[0] == 0 || agentPorts[1] == 0 || !front.fd) {
      return;
    }
    balancer = fork();
    if (balancer == 0) {
      // dup2 onto itself would keep the descriptor's close-on-exec flag.
      if (front.fd.get() == 3 ? fcntl(3, F_SETFD, 0) != 0 : dup2(front.fd.get(), 3) != 3)
        _exit(126);
      setenv("QUILMAREND_FRONT", "fd@3", 1);
      for (int n : {0, 1}) {
        const std::string suffix = std::to_string(n + 1);
        setenv(("QUILMAREND_SERVER" + suffix).c_str(),
               ("127.0.0.1:" + std::to_string(ports[firstOnly ? 0 : n])).c_str(), 1);
        setenv(("QUILMAREND_AGENT_PORT" + suffix).c_str(),
               std::to_string(agentPorts[firstOnly ? 0 : n]).c_str(), 1);
      }
      execlp("haproxy", "haproxy", "-db", "-q", "-f", QUILMAREND_SOURCE_DIR "/deploy/haproxy.cfg",
             nullptr);
      _exit(127);
    }
    frontPort = platform::LocalPort(front.fd.get());
    // Both servers are in service once each has answered a health check: a connection's end
    // line, "(%d) Время обработки запроса: %d" in CP1251.
    const std::string kConnectionEnd = "\xc2\xf0\xe5\xec\xff \xee\xe1\xf0\xe0\xe1\xee\xf2\xea\xe8";
    for (int n : {0, firstOnly ? 0 : 1}) {
      for (int i = 0; i < 500 && ReadFile(logs[n]).find(kConnectionEnd) == std::string::npos; ++i) {
        usleep(20000);
      }
    }
  }
  ~Cluster() {
    if (balancer > 0) Stop(balancer, SIGTERM);
    for (int n : {0, 1}) {
      if (servers[n] > 0) Stop(servers[n], SIGTERM);
    }
  }
  bool Running() const { return frontPort != 0; }

  static constexpr std::string_view kAgentListening =
      "agent check endpoint listens on 127.0.0.1 port ";
  std::string logs[2];
  pid_t servers[2] = {0, 0};
  int ports[2] = {0, 0};
  int agentPorts[2] = {0, 0};
  pid_t balancer = 0;
  int frontPort = 0;
};

TEST(Cluster, ChecksSurviveTheLossOfOneServer) {
  if (system("command -v haproxy >/dev/null") != 0) GTEST_SKIP() << "haproxy is not installed";
  const Pki p = MakePki(pki::KeyKind::kEcdsaP256);
  AddToStore(platform::StoreLocation::kLocalMachine, "ROOT", p.root);
  AddToStore(platform::StoreLocation::kCurrentUser, "MY", p.leaf);
  const std::vector<uint8_t> signature = pki::SignDetached(
      std::vector<uint8_t>(kDocument.begin(), kDocument.end()), {{p.leaf, p.leafKey}}, {p.ca});
  Cluster cluster;
  ASSERT_TRUE(cluster.Running());
  const std::string* logs = cluster.logs;
  const int frontPort = cluster.frontPort;
  auto check = [&] {
    TestClient client = CheckClient(frontPort, kDocument, signature, {"CRLOFF"});
    return AnswerLine(RunCheck(client), "CheckSignature") +
           AnswerLine(RunCheck(client), "CheckChain");
  };
  const size_t started[] = {ReadFile(logs[0]).size(), ReadFile(logs[1]).size()};
  for (int i = 0; i < 10; ++i) ASSERT_EQ(check(), "OKOK") << "before, CHECK " << i;
  // Both servers took part: each log has grown by more than its health checks write.
  for (int n : {0, 1}) EXPECT_GT(ReadFile(logs[n]).size(), started[n] + 2000) << logs[n];

  // Two idle connections: the balancer puts them on different servers (least connections).
  std::vector<TestClient> idle;
  for (int i = 0; i < 2; ++i) {
    idle.push_back(CheckClient(frontPort, kDocument, signature, {"CRLOFF"}));
  }
  // With a connection on every server each agent says less than 100%; the weights still leave
  // both in service, so new clients are served (the agents are asked every second).
  sleep(2);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(check(), "OKOK") << "both servers busy, CHECK " << i;
  Stop(cluster.servers[0], SIGKILL);
  cluster.servers[0] = 0;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(check(), "OKOK") << "after, CHECK " << i;
  // Only the connection that was on the killed server is gone; the other still checks.
  const int closed = idle[0].WaitClosed(2000) + idle[1].WaitClosed(0);
  EXPECT_EQ(closed, 1);
  TestClient& survivor = idle[0].WaitClosed(0) ? idle[1] : idle[0];
  EXPECT_EQ(AnswerLine(RunCheck(survivor), "CheckSignature"), "OK");
}

TEST(Cluster, ServerWithEveryWorkerBusyGetsNoNewConnections) {
  if (system("command -v haproxy >/dev/null") != 0) GTEST_SKIP() << "haproxy is not installed";
  Cluster cluster;
  ASSERT_TRUE(cluster.Running());
  // All 100 workers of the first server serve a connection of this test, past the balancer.
  std::vector<TestClient> held;
  for (int i = 0; i < 100; ++i) {
    held.push_back(*TestClient::Connect(cluster.ports[0]));
    held.back().Send("PROXY TCP4 192.0.2." + std::to_string(i + 1) + " 127.0.0.1 4 4\r\n");  // own
    ASSERT_FALSE(held.back().ReadGreeting().empty()) << "connection " << i;
  }
  // Its agent check says so; the balancer asks every second.
  std::optional<TestClient> agent = TestClient::Connect(cluster.agentPorts[0]);
  ASSERT_TRUE(agent);
  EXPECT_EQ(agent->ReadLine(), "drain 0%\n");
  sleep(3);
  // Every new connection through the balancer is greeted at once: none waits in the first
  // server's backlog.
  for (int i = 0; i < 10; ++i) {
    std::optional<TestClient> client = TestClient::Connect(cluster.frontPort);
    ASSERT_TRUE(client);
    EXPECT_FALSE(client->ReadGreeting(2000).empty()) << "connection " << i;
  }
}

// Behind HAProxy with send-proxy-v2 the server sees each client as it is: the cap counts the
// client's address, not the balancer's, and the log names the client.
TEST(Cluster, CapAndLogSeeTheRealClientThroughTheBalancer) {
  if (system("command -v haproxy >/dev/null") != 0) GTEST_SKIP() << "haproxy is not installed";
  setenv("QUILMAREND_MAX_CONN_PER_ADDR", "3", 1);
  Cluster cluster(true);
  unsetenv("QUILMAREND_MAX_CONN_PER_ADDR");
  ASSERT_TRUE(cluster.Running());
  // Three clients from ::1 fill its cap; a fourth is closed without a greeting...
  std::vector<TestClient> clients;
  for (int i = 0; i <= 3; ++i) {
    std::optional<TestClient> client = TestClient::Connect(cluster.frontPort, "::1");
    if (!client) GTEST_SKIP() << "no IPv6 loopback";
    clients.push_back(std::move(*client));
    ASSERT_EQ(clients.back().ReadGreeting().empty(), i == 3) << i;
  }
  EXPECT_TRUE(clients.back().WaitClosed(0));
  // ... while one from 127.0.0.1, the balancer's address (and its health checks'), is greeted.
  EXPECT_FALSE(TestClient::Connect(cluster.frontPort)->ReadGreeting().empty());
  // The log names the client relayed, and the one over the cap with what it counts as.
  const std::string log = ReadFile(cluster.logs[0]);
  EXPECT_NE(log.find(" [::1]:"), std::string::npos) << log;
  EXPECT_NE(log.find(" ::/64 ", log.find(" ::1 ")), std::string::npos) << log;
}

}  // namespace
}  // namespace tests
