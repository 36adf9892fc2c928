#include "tests/e2e_environment.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/base/debug_output.h"
#include "platform/os/socket.h"
#include "tests/test_client.h"

namespace tests {
namespace {

std::string MakeStateRoot() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quilmarend-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

// Removes the state folder when the test process ends.
class StateCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(StateRoot(), ignored);
  }
};

}  // namespace

const std::string& StateRoot() {
  static const std::string root = MakeStateRoot();
  return root;
}

std::string LogText() {
  std::ifstream log(StateRoot() + "/server.log", std::ios::binary);
  std::stringstream text;
  text << log.rdbuf();
  return text.str();
}

const char* ServerBinary() { return QUILMAREND_BINARY; }

std::unique_ptr<server::TCPServer> StartServer(int workers, const server::ServerSetup& setup) {
  server::ServerStart started = server::TCPServer::Start(0, workers, setup);
  if (const std::string* failure = std::get_if<std::string>(&started)) {
    throw std::runtime_error(*failure);
  }
  return std::move(std::get<0>(started));
}

int CountThreads() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
    closedir(tasks);
  }
  return count;
}

platform::UniqueFd RefusingSocket() {
  platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::abort();
  }
  return fd;
}

int RunServerBinary(const std::string& binary, int port, const std::string& errorFile,
                    const std::string& home, const char* locale,
                    const std::vector<std::string>& arguments) {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("LC_ALL", locale, 1);
    setenv("QUILMAREND_PORT", std::to_string(port).c_str(), 1);
    setenv("QUILMAREND_HOME", home.c_str(), 1);
    if (freopen(errorFile.c_str(), "w", stderr) == nullptr) _exit(126);
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

int WaitForListening(const std::string& errorFile, int nth) {
  constexpr std::string_view kListening = "\tListening on ";
  for (int attempt = 0; attempt < 500; ++attempt) {
    const std::string log = ReadFile(errorFile);
    size_t line = log.find(kListening);
    for (int seen = 1; seen < nth && line != std::string::npos; ++seen) {
      line = log.find(kListening, line + 1);
    }
    const size_t port = line == std::string::npos ? line : log.find(" port ", line);
    const size_t end = port == std::string::npos ? port : log.find(';', port);
    int number = 0;
    if (end != std::string::npos) {
      std::from_chars(log.data() + port + 6, log.data() + end, number);
      return number;
    }
    usleep(20000);
  }
  return 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace tests

int main(int argc, char** argv) {
  // The log channel, its charset and the state root are chosen before the first log line is
  // written. The tests compare the log's Windows-1251 bytes, which a C locale keeps.
  setenv("LC_ALL", "C", 1);
  setenv("QUILMAREND_HOME", tests::StateRoot().c_str(), 1);
  if (!platform::OpenDebugChannelFile(tests::StateRoot() + "/server.log").empty()) return 1;
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new tests::StateCleanup);
  const int result = RUN_ALL_TESTS();
  // Listing the tests runs no environment, so nothing else removes the folder then.
  std::error_code ignored;
  std::filesystem::remove_all(tests::StateRoot(), ignored);
  return result;
}
