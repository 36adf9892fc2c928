#include "bench/load_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <thread>

#include "platform/base/debug_output.h"
#include "platform/base/unique_fd.h"
#include "platform/os/socket.h"
#include "tests/check_support.h"

extern char** environ;

namespace bench {
namespace {

// SpawnActions gives a child's standard input, output and error the descriptors given, each
// /dev/null where none (-1) is given.
class SpawnActions {
 public:
  explicit SpawnActions(int output = -1, int error = -1, int input = -1) {
    posix_spawn_file_actions_init(&actions);
    Give(0, input, O_RDONLY);
    Give(1, output, O_WRONLY);
    Give(2, error, O_WRONLY);
  }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;

  const posix_spawn_file_actions_t* get() const { return &actions; }

 private:
  void Give(int target, int fd, int mode) {
    if (fd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, fd, target);
    } else {
      posix_spawn_file_actions_addopen(&actions, target, "/dev/null", mode, 0);
    }
  }

  posix_spawn_file_actions_t actions;
};

pid_t SpawnWith(const std::vector<std::string>& arguments, char* const* environment,
                const SpawnActions& actions) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], actions.get(), nullptr, argv.data(), environment) != 0) return -1;
  return pid;
}

}  // namespace

bool ReadSeconds(std::string_view argument, std::string_view prefix, Seconds& out) {
  if (!argument.starts_with(prefix)) return false;
  const std::string_view text = argument.substr(prefix.size());
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value <= 0) return false;
  out = Seconds(value);
  return true;
}

StateFolder::StateFolder(std::string_view stem) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) != nullptr) path = pattern;
}

StateFolder::~StateFolder() {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

bool UseAsHome(const StateFolder& folder, const Names& names) {
  if (folder.Path().empty()) {
    std::fprintf(stderr, "%s: cannot make a temporary folder\n", names.program);
    return false;
  }
  setenv("QUILMAREND_HOME", folder.Path().c_str(), 1);
  return true;
}

bool LogIntoDrainedPipe(const Names& names) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "%s: pipe: %s\n", names.program, std::strerror(errno));
    return false;
  }
  platform::UniqueFd readEnd(ends[0]);
  const pid_t reader = fork();
  if (reader < 0) {
    std::fprintf(stderr, "%s: fork: %s\n", names.program, std::strerror(errno));
    close(ends[1]);
    return false;
  }
  if (reader == 0) {
    close(ends[1]);
    static char buffer[1 << 16];
    for (;;) {
      const ssize_t got = read(readEnd.get(), buffer, sizeof buffer);
      if (got == 0 || (got < 0 && errno != EINTR)) break;
    }
    _exit(0);
  }
  // The channel keeps the write end for the life of the process, so the reader sees the end of
  // the pipe only when this process ends.
  platform::UseDebugChannelDescriptor(ends[1]);
  return true;
}

bool WriteFile(const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

void LoadRun::Fail(std::string what) {
  std::lock_guard<std::mutex> guard(failureLock);
  ++failures;
  if (firstFailure.empty()) firstFailure = std::move(what);
}

double LoadRun::Measure(Seconds warmup, Seconds seconds, const std::function<void()>& atStart,
                        const std::function<void()>& atEnd) {
  ready.wait();
  std::this_thread::sleep_for(warmup);
  if (atStart) atStart();
  const uint64_t before = done.load();
  const Clock::time_point start = Clock::now();
  std::this_thread::sleep_for(seconds);
  const uint64_t after = done.load();
  const Seconds elapsed = Clock::now() - start;
  if (atEnd) atEnd();
  stop = true;
  counted = after - before;
  return static_cast<double>(counted) / elapsed.count();
}

bool LoadRun::Failed() {
  std::lock_guard<std::mutex> guard(failureLock);
  return failures > 0;
}

std::string LoadRun::FirstFailure() {
  std::lock_guard<std::mutex> guard(failureLock);
  return firstFailure;
}

std::optional<double> RunThreads(const Names& names, const char* part, int threads, Seconds warmup,
                                 Seconds seconds, const std::function<void(LoadRun&)>& worker,
                                 const std::function<void()>& atStart,
                                 const std::function<void()>& atEnd) {
  LoadRun run(threads);
  double rate = 0;
  {
    std::vector<std::jthread> workers;
    for (int i = 0; i < threads; ++i) workers.emplace_back([&] { worker(run); });
    rate = run.Measure(warmup, seconds, atStart, atEnd);
  }
  if (run.Failed()) {
    std::fprintf(stderr, "%s: %s: %s\n", names.program, part, run.FirstFailure().c_str());
    return std::nullopt;
  }
  std::printf("%s %s: %llu in %.1f s\n", names.label, part,
              static_cast<unsigned long long>(run.Counted()), seconds.count());
  return rate;
}

pid_t Spawn(const std::vector<std::string>& arguments, char* const* environment) {
  const SpawnActions actions;
  return SpawnWith(arguments, environment, actions);
}

int WaitExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<std::string> RunCapturing(const std::vector<std::string>& arguments) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  platform::UniqueFd readEnd(ends[0]);
  platform::UniqueFd writeEnd(ends[1]);
  pid_t pid = -1;
  {
    const SpawnActions actions(writeEnd.get());
    pid = SpawnWith(arguments, environ, actions);
  }
  writeEnd.reset();  // the child holds the only writer now, so its exit ends the reads
  if (pid <= 0) return std::nullopt;
  std::string output;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(readEnd.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    output.append(chunk, static_cast<size_t>(got));
  }
  if (WaitExit(pid) != 0) return std::nullopt;
  return output;
}

bool GoodAnswer(const std::string& answer) {
  return answer.ends_with("\r\n.\r\n") && tests::AnswerLine(answer, "CheckSignature") == "OK" &&
         tests::AnswerLine(answer, "CheckChain") == "OK";
}

void CheckUntilStopped(LoadRun& run, std::optional<tests::TestClient>& client) {
  run.Ready();
  while (client && run.Running()) {
    const std::string answer = tests::RunCheck(*client);
    if (!GoodAnswer(answer)) {
      run.Fail("unexpected answer:\n" + answer);
      return;
    }
    run.Done();
  }
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

ServerProcess::ServerProcess(const ServerLaunch& serverLaunch, int port) {
  std::vector<std::string> variables;
  auto replaced = [&](std::string_view text) {
    const std::string_view name = text.substr(0, text.find('=') + 1);
    if (name == "QUILMAREND_PORT=" || name == "QUILMAREND_LOG=") return true;
    return std::any_of(serverLaunch.settings.begin(), serverLaunch.settings.end(),
                       [&](const std::string& setting) { return setting.starts_with(name); });
  };
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (!replaced(*variable)) variables.emplace_back(*variable);
  }
  variables.insert(variables.end(), serverLaunch.settings.begin(), serverLaunch.settings.end());
  // The drivers' clients all come from loopback, one client address to the server: no cap, unless
  // the driver or its caller sets one.
  if (!replaced("QUILMAREND_MAX_CONN_PER_ADDR=") &&
      std::getenv("QUILMAREND_MAX_CONN_PER_ADDR") == nullptr) {
    variables.push_back("QUILMAREND_MAX_CONN_PER_ADDR=0");
  }
  variables.push_back("QUILMAREND_PORT=" + std::to_string(port));
  if (!serverLaunch.logPath.empty()) variables.push_back("QUILMAREND_LOG=" + serverLaunch.logPath);
  std::vector<char*> environment;
  for (std::string& variable : variables) environment.push_back(variable.data());
  environment.push_back(nullptr);
  if (!serverLaunch.logPath.empty()) {
    pid = Spawn({serverLaunch.binary}, environment.data());
    return;
  }
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return;
  platform::UniqueFd readEnd(ends[0]);
  platform::UniqueFd writeEnd(ends[1]);
  {
    const SpawnActions actions(-1, -1, readEnd.get());
    readerPid = SpawnWith({"cat"}, environ, actions);
  }
  if (readerPid <= 0) return;
  const SpawnActions actions(-1, writeEnd.get());
  pid = SpawnWith({serverLaunch.binary}, environment.data(), actions);
  // The server holds the only writer now, so the reader ends when the server does.
}

ServerProcess::~ServerProcess() {
  if (pid > 0) {
    kill(pid, SIGTERM);
    WaitExit(pid);
  }
  if (readerPid > 0) WaitExit(readerPid);
}

bool ServerProcess::Exited() {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, WNOHANG) != pid) return pid <= 0;
  pid = -1;
  return true;
}

bool ServerProcess::WaitListening(int port, const Names& names) {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  bool listening = false;
  while (!listening && !Exited() && Clock::now() < deadline) {
    listening = tests::TestClient::Connect(port).has_value();
    if (!listening) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (port == 0 || !listening) {
    std::fprintf(stderr, "%s: the server did not listen on port %d\n", names.program, port);
  }
  return port != 0 && listening;
}

int FreePort() {
  platform::ListenResult listening = platform::OpenListenSocket(0, 1);
  return listening.fd ? platform::LocalPort(listening.fd.get()) : 0;
}

PeakSampler::PeakSampler(pid_t pid)
    : thread([this, pid](std::stop_token stop) {
        while (!stop.stop_requested()) {
          peak = std::max(peak, ResidentKib(pid, "VmRSS"));
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        peak = std::max(peak, ResidentKib(pid, "VmRSS"));
      }) {}

long PeakSampler::Stop() {
  thread.request_stop();
  thread.join();
  return peak;
}

long ResidentKib(pid_t pid, std::string_view name) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (!line.starts_with(name) || line.size() <= name.size() || line[name.size()] != ':') continue;
    const size_t digits = line.find_first_of("0123456789");
    long kib = -1;
    if (digits != std::string::npos) {
      std::from_chars(line.data() + digits, line.data() + line.size(), kib);
    }
    return kib;
  }
  return -1;
}

double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The fields after the command's closing parenthesis: state is the 3rd field of the line, utime
  // and stime the 14th and 15th.
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14) utime = std::stoull(field);
    if (index == 15) stime = std::stoull(field);
  }
  if (!fields) return -1;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::optional<ServedRate> RunAgainst(const Names& names, const char* part,
                                     const ServerLaunch& serverLaunch, int threads, Seconds warmup,
                                     Seconds seconds,
                                     const std::function<void(LoadRun&, int)>& worker,
                                     const std::function<bool(int)>& check) {
  const int port = FreePort();
  ServerProcess server(serverLaunch, port);
  if (!server.WaitListening(port, names)) return std::nullopt;
  if (check && !check(port)) return std::nullopt;
  struct Sample {
    double server, reader, client;
  };
  auto sample = [&] {
    return Sample{CpuSeconds(server.Pid()),
                  server.ReaderPid() > 0 ? CpuSeconds(server.ReaderPid()) : 0, OwnCpuSeconds()};
  };
  Sample start{}, end{};
  ServedRate served;
  const std::optional<double> rate = RunThreads(
      names, part, threads, warmup, seconds, [&](LoadRun& run) { worker(run, port); },
      [&] { start = sample(); },
      [&] {
        end = sample();
        served.serverRssKib = ResidentKib(server.Pid(), "VmRSS");
      });
  if (!rate) return std::nullopt;
  served.rate = *rate;
  const double steps = std::max(*rate * seconds.count(), 1.0);
  served.perStep.server = (end.server - start.server) / steps * 1e6;
  served.perStep.reader = (end.reader - start.reader) / steps * 1e6;
  served.perStep.client = (end.client - start.client) / steps * 1e6;
  return served;
}

void PrintCpuSplit(const Names& names, const std::string& part, const CpuSplit& split) {
  std::printf("%s %s: CPU per CHECK: server %.0f us, log reader %.1f us, clients %.0f us\n",
              names.label, part.c_str(), split.server, split.reader, split.client);
}

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(share * values.size()));
  return values[index];
}

double Mib(long kib) { return static_cast<double>(kib) / 1024; }

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

}  // namespace bench
