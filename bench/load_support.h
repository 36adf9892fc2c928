#pragma once

// What the load drivers (check_load, xml_load, url_check) share: a temporary state folder, a
// measured run of worker threads that repeat one step, child processes started with their output
// discarded or captured, the server binary run as a child and its resident memory, and the verdict
// word of a target.
//
// Example:
//   const bench::Names names{"xml_load", "XmlLoad"};
//   std::optional<double> rate = bench::RunThreads(names, "baseline", 2, warmup, seconds,
//                                                  [&](bench::LoadRun& run) {
//                                                    run.Ready();
//                                                    while (run.Running()) {
//                                                      if (!Step()) return run.Fail("refused");
//                                                      run.Done();
//                                                    }
//                                                  });

#include <sys/types.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <functional>
#include <latch>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/test_client.h"

namespace bench {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// Names are how a driver signs its lines: `program` prefixes failures on standard error
// ("check_load: ..."), `label` the measured lines on standard output ("CheckLoad ...").
struct Names {
  const char* program;
  const char* label;
};

// ReadSeconds is true when `argument` is `prefix` followed by a positive number, which it writes
// to `out`; false (and `out` untouched) otherwise.
bool ReadSeconds(std::string_view argument, std::string_view prefix, Seconds& out);

// StateFolder is a fresh temporary folder named after `stem`, removed with everything in it on
// destruction.
class StateFolder {
 public:
  explicit StateFolder(std::string_view stem);
  ~StateFolder();
  StateFolder(const StateFolder&) = delete;
  StateFolder& operator=(const StateFolder&) = delete;

  // Path is the folder; empty when it could not be made.
  const std::string& Path() const { return path; }

 private:
  std::string path;
};

// UseAsHome makes `folder` the state root (QUILMAREND_HOME) of this process and of the children
// it starts; false (the reason on standard error, after `names.program`) when the folder could
// not be made.
bool UseAsHome(const StateFolder& folder, const Names& names);

// LogIntoDrainedPipe points the log channel of the in-process server into a pipe that a child
// process reads and throws away, as a service manager's journal reads a daemon's standard error:
// every write then costs what it costs a daemon under systemd. Call it before the first log line
// and before any thread starts; false (the reason on standard error) when the pipe or the reader
// cannot be made. The reader ends when this process does.
bool LogIntoDrainedPipe(const Names& names);

// WriteFile writes `bytes` to `path`, replacing it; false when it cannot.
bool WriteFile(const std::string& path, std::span<const uint8_t> bytes);

// LoadRun is shared by the threads of one measured part. Each thread does its set-up, calls
// Ready, then repeats its step while Running, calling Done after each success and Fail (and
// leaving) on a wrong result.
class LoadRun {
 public:
  explicit LoadRun(int threads) : ready(threads) {}

  void Ready() { ready.count_down(); }
  bool Running() const { return !stop.load(std::memory_order_relaxed); }
  void Done() { done.fetch_add(1, std::memory_order_relaxed); }
  void Fail(std::string what);

  // Measure waits until every thread is ready, lets them run for `warmup`, counts the steps
  // completed in the next `seconds` and then tells the threads to stop. Returns steps per second.
  // `atStart` and `atEnd`, when given, run as the counted window opens and closes.
  double Measure(Seconds warmup, Seconds seconds, const std::function<void()>& atStart = {},
                 const std::function<void()>& atEnd = {});

  uint64_t Counted() const { return counted; }
  // Failed is true after any failure; FirstFailure says what went wrong first.
  bool Failed();
  std::string FirstFailure();

 private:
  std::latch ready;
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> done{0};
  uint64_t counted = 0;
  std::mutex failureLock;  // guards `failures` and `firstFailure`
  int failures = 0;
  std::string firstFailure;
};

// RunThreads starts `threads` threads running `worker(run)`, measures and joins them, and prints
// "<label> <part>: <count> in <seconds> s". Returns the rate, or nullopt (the first failure on
// standard error) when any step failed.
std::optional<double> RunThreads(const Names& names, const char* part, int threads, Seconds warmup,
                                 Seconds seconds, const std::function<void(LoadRun&)>& worker,
                                 const std::function<void()>& atStart = {},
                                 const std::function<void()>& atEnd = {});

// Spawn starts `arguments` (the program looked up on PATH) with `environment`, its standard
// streams on /dev/null; -1 when it cannot be started.
pid_t Spawn(const std::vector<std::string>& arguments, char* const* environment);

// WaitExit waits for `pid` and returns its exit status; -1 when it died of a signal.
int WaitExit(pid_t pid);

// RunCapturing runs `arguments` (looked up on PATH) with this process's environment, its
// standard input and error on /dev/null, and returns what it wrote to standard output. Nullopt
// when it cannot be started or does not exit with status 0. Blocks until the child ends.
std::optional<std::string> RunCapturing(const std::vector<std::string>& arguments);

// Median returns the middle value of `values` (the mean of the middle two for an even count);
// 0 for none.
double Median(std::vector<double> values);

// GoodAnswer is true for a whole CHECK answer with a verified signature and chain.
bool GoodAnswer(const std::string& answer);

// CheckUntilStopped sends CHECK on `client` and counts each good answer in `run` until the run
// stops; a bad answer fails the run. An empty `client` only marks the thread ready.
void CheckUntilStopped(LoadRun& run, std::optional<tests::TestClient>& client);

// ServerLaunch is how a driver runs the server binary as a child.
struct ServerLaunch {
  std::string binary;
  std::vector<std::string> settings;  // "NAME=value", added to (or replacing) the environment
  // The file the log is appended to; empty: the server's standard error goes into a pipe that a
  // reader process drains, as a service manager's journal reads a daemon's.
  std::string logPath;
};

// ServerProcess is the server binary run as a child on `port` (QUILMAREND_PORT, and
// QUILMAREND_LOG for a log file, replace any inherited values; the rest of this process's
// environment is passed on, with QUILMAREND_MAX_CONN_PER_ADDR=0 when neither it nor the launch
// sets one, as all the drivers' clients come from loopback); the destructor stops it (SIGTERM)
// and waits for it and its log reader.
class ServerProcess {
 public:
  ServerProcess(const ServerLaunch& serverLaunch, int port);
  ServerProcess(const std::string& binary, int port, const std::string& logPath)
      : ServerProcess(ServerLaunch{binary, {}, logPath}, port) {}
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  pid_t Pid() const { return pid; }
  // ReaderPid is the process draining the log pipe; -1 when the log goes to a file.
  pid_t ReaderPid() const { return readerPid; }
  // Exited is true once the child has ended (it is reaped then).
  bool Exited();
  // WaitListening waits up to 10 s for the child to accept connections on `port`; false (the
  // reason on standard error, after `names.program`) when it does not.
  bool WaitListening(int port, const Names& names);

 private:
  pid_t pid = -1;
  pid_t readerPid = -1;
};

// CpuSeconds is the user and system time process `pid` has used (all its threads); -1 when
// /proc/`pid`/stat cannot be read. OwnCpuSeconds is this process's.
double CpuSeconds(pid_t pid);
double OwnCpuSeconds();

// CpuSplit is the CPU microseconds one step cost in the server, in its log reader and in the
// driver's clients, over a measured window.
struct CpuSplit {
  double server = 0;
  double reader = 0;
  double client = 0;
};

// ServedRate is a measured run against a server process: steps per second and their CPU split.
struct ServedRate {
  double rate = 0;
  CpuSplit perStep;
  long serverRssKib = -1;  // the server's VmRSS as the window closed
};

// RunAgainst starts the server as `serverLaunch` says, runs `threads` threads of
// `worker(run, port)` against it as RunThreads does, and returns the rate with the CPU each step
// cost in the three processes during the measured window; nullopt (the reason on standard error)
// when the server did not start or a step failed. `check`, when given, runs first against the fresh
// server and must return true (a server that accepts what it must refuse is not measured).
std::optional<ServedRate> RunAgainst(const Names& names, const char* part,
                                     const ServerLaunch& serverLaunch, int threads, Seconds warmup,
                                     Seconds seconds,
                                     const std::function<void(LoadRun&, int)>& worker,
                                     const std::function<bool(int)>& check = {});

// PrintCpuSplit prints "<label> <part>: CPU per CHECK: server N us, log reader N us, clients N us".
void PrintCpuSplit(const Names& names, const std::string& part, const CpuSplit& split);

// Percentile returns the value below which `share` (0..1) of `values` lie; 0 for none.
double Percentile(std::vector<double> values, double share);

// ReadCount is true when `argument` is `prefix` followed by a positive whole number no greater
// than `limit`, which it writes to `out`; false (and `out` untouched) otherwise.
template <typename Number>
bool ReadCount(std::string_view argument, std::string_view prefix, Number limit, Number& out) {
  if (!argument.starts_with(prefix)) return false;
  const std::string_view text = argument.substr(prefix.size());
  Number value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > limit) {
    return false;
  }
  out = value;
  return true;
}

// FreePort returns a loopback port nobody listened on a moment ago; 0 when none could be had.
int FreePort();

// ResidentKib returns the field `name` ("VmRSS", "VmHWM") of /proc/`pid`/status in KiB; -1 when
// it cannot be read.
long ResidentKib(pid_t pid, std::string_view name);

// PeakSampler reads the VmRSS of `pid` every 20 ms on a thread of its own until Stop, which
// returns the largest value seen in KiB (-1 when none could be read).
class PeakSampler {
 public:
  explicit PeakSampler(pid_t pid);
  long Stop();

 private:
  long peak = -1;  // written by the thread only, read after the join
  std::jthread thread;
};

// Mib converts KiB to MiB.
double Mib(long kib);

// Verdict is the word a target line ends with.
const char* Verdict(bool met);

}  // namespace bench
