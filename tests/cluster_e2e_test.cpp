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

#include "platform/socket.h"
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

TEST(Cluster, ChecksSurviveTheLossOfOneServer) {
  if (system("command -v haproxy >/dev/null") != 0) GTEST_SKIP() << "haproxy is not installed";
  const Pki p = MakePki(pki::KeyKind::kEcdsaP256);
  AddToStore(platform::StoreLocation::kLocalMachine, "ROOT", p.root);
  AddToStore(platform::StoreLocation::kCurrentUser, "MY", p.leaf);
  const std::vector<uint8_t> signature = pki::SignDetached(
      std::vector<uint8_t>(kDocument.begin(), kDocument.end()), {{p.leaf, p.leafKey}}, {p.ca});
  // Both servers share the state folder, and with it the stores. Each listens on a port the
  // system picks; the balancer listens on a socket this test holds and hands down as descriptor 3.
  const std::string logs[] = {StateRoot() + "/server1.txt", StateRoot() + "/server2.txt"};
  const pid_t servers[] = {RunServerBinary(ServerBinary(), 0, logs[0], StateRoot()),
                           RunServerBinary(ServerBinary(), 0, logs[1], StateRoot())};
  const int ports[] = {WaitForListening(logs[0]), WaitForListening(logs[1])};
  ASSERT_TRUE(ports[0] != 0 && ports[1] != 0);
  const platform::ListenResult front = platform::OpenListenSocket(0, 100);
  ASSERT_TRUE(front.fd);
  const pid_t balancer = fork();
  if (balancer == 0) {
    // dup2 onto itself would keep the descriptor's close-on-exec flag.
    if (front.fd.get() == 3 ? fcntl(3, F_SETFD, 0) != 0 : dup2(front.fd.get(), 3) != 3) _exit(126);
    setenv("QUILMAREND_FRONT", "fd@3", 1);
    for (int n : {0, 1}) {
      const char* names[] = {"QUILMAREND_SERVER1", "QUILMAREND_SERVER2"};
      setenv(names[n], ("127.0.0.1:" + std::to_string(ports[n])).c_str(), 1);
    }
    execlp("haproxy", "haproxy", "-db", "-q", "-f", QUILMAREND_SOURCE_DIR "/deploy/haproxy.cfg",
           nullptr);
    _exit(127);
  }
  const int frontPort = platform::LocalPort(front.fd.get());
  // Both servers are in service once each has answered a health check: a connection's end line,
  // "(%d) Время обработки запроса: %d" in CP1251.
  const std::string kConnectionEnd = "\xc2\xf0\xe5\xec\xff \xee\xe1\xf0\xe0\xe1\xee\xf2\xea\xe8";
  for (int n : {0, 1}) {
    for (int i = 0; i < 500 && ReadFile(logs[n]).find(kConnectionEnd) == std::string::npos; ++i) {
      usleep(20000);
    }
  }
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
  Stop(servers[0], SIGKILL);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(check(), "OKOK") << "after, CHECK " << i;
  // Only the connection that was on the killed server is gone; the other still checks.
  const int closed = idle[0].WaitClosed(2000) + idle[1].WaitClosed(0);
  EXPECT_EQ(closed, 1);
  TestClient& survivor = idle[0].WaitClosed(0) ? idle[1] : idle[0];
  EXPECT_EQ(AnswerLine(RunCheck(survivor), "CheckSignature"), "OK");
  Stop(balancer, SIGTERM);
  Stop(servers[1], SIGTERM);
}

}  // namespace
}  // namespace tests
