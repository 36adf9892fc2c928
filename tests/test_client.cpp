#include "tests/test_client.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include "platform/os/socket.h"

namespace tests {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

std::optional<TestClient> TestClient::Connect(int port, const std::string& to,
                                              const std::string& from) {
  using AddressList = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(to.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return {};
  const AddressList target(found, ::freeaddrinfo);
  found = nullptr;
  if (!from.empty() && ::getaddrinfo(from.c_str(), "0", &hints, &found) != 0) return {};
  const AddressList source(found, ::freeaddrinfo);
  platform::UniqueFd fd(::socket(target->ai_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!fd || (source && ::bind(fd.get(), source->ai_addr, source->ai_addrlen) != 0) ||
      ::connect(fd.get(), target->ai_addr, target->ai_addrlen) != 0) {
    return std::nullopt;
  }
  return TestClient(std::move(fd));
}

bool TestClient::Send(std::string_view bytes) { return platform::SendAll(fd.get(), bytes); }

bool TestClient::Fill(int timeoutMs) {
  pollfd waiter{fd.get(), POLLIN, 0};
  if (::poll(&waiter, 1, timeoutMs) <= 0) return false;
  char chunk[65536];
  const ssize_t received = ::recv(fd.get(), chunk, sizeof chunk, 0);
  if (received <= 0) return false;
  buffer.append(chunk, static_cast<size_t>(received));
  return true;
}

std::string TestClient::ReadLine(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t end = buffer.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer.substr(0, end + 1);
      buffer.erase(0, end + 1);
      return line;
    }
    if (!Fill(MillisecondsLeft(deadline))) {
      std::string rest;
      rest.swap(buffer);
      return rest;
    }
  }
}

std::string TestClient::ReadUntilDot(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string answer;
  for (;;) {
    const std::string line = ReadLine(MillisecondsLeft(deadline));
    answer += line;
    if (line == ".\r\n" || line.empty() || line.back() != '\n') return answer;
  }
}

std::string TestClient::ReadGreeting(int timeoutMs) {
  std::string greeting = ReadLine(timeoutMs);
  greeting += ReadLine(timeoutMs);
  return greeting;
}

std::string TestClient::Command(std::string_view line) {
  Send(std::string(line) + "\r\n");
  return ReadLine();
}

std::string TestClient::SendBlock(std::string_view command, std::string_view body) {
  Send(std::string(command) + "\r\n");
  ReadLine();  // "OK: Getting ..."
  Send(std::string(body) + ".\r\n");
  return ReadLine();
}

bool TestClient::HasDataWithin(int timeoutMs) {
  if (!buffer.empty()) return true;
  pollfd waiter{fd.get(), POLLIN, 0};
  return ::poll(&waiter, 1, timeoutMs) > 0;
}

bool TestClient::WaitClosed(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd waiter{fd.get(), POLLIN, 0};
    if (::poll(&waiter, 1, MillisecondsLeft(deadline)) <= 0) return false;
    char chunk[65536];
    const ssize_t received = ::recv(fd.get(), chunk, sizeof chunk, 0);
    if (received <= 0) return true;
    buffer.append(chunk, static_cast<size_t>(received));
  }
}

}  // namespace tests
