#include "server/connection.h"

#include <algorithm>

#include "platform/base/log.h"
#include "platform/base/names.h"
#include "platform/base/thread_id.h"
#include "platform/os/memory.h"
#include "platform/os/socket.h"
#include "platform/os/socket_wait.h"
#include "server/line_reader.h"
#include "server/server_texts.h"

namespace server {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Receive size: big enough that a large block takes few system calls, small enough per thread.
constexpr size_t kReceiveChunk = 64 * 1024;
// The reader's buffer is cut back to this once a long line has been handled.
constexpr size_t kReaderKeptBytes = 2 * kReceiveChunk;
// A connection that held this much at some point gives the heap's free pages back when it ends.
constexpr size_t kReleaseAfterBytes = size_t{16} << 20;

// SlowLineDeadline is when an unfinished line of `bytes` whose first byte came at `start` is too
// slow: the allowance after its start, or later when its bytes came at the minimum pace or faster.
SteadyClock::time_point SlowLineDeadline(SteadyClock::time_point start, size_t bytes,
                                         const Limits& limits) {
  if (limits.minLineRate == 0) return SteadyClock::time_point::max();
  const std::chrono::duration<double> earned(static_cast<double>(bytes) /
                                             static_cast<double>(limits.minLineRate));
  return start +
         std::max(std::chrono::duration_cast<SteadyClock::duration>(earned),
                  std::chrono::duration_cast<SteadyClock::duration>(limits.slowLineAllowance));
}

// MemoryRelease gives the heap's free pages back to the system when it goes, if the connection
// held at least kReleaseAfterBytes at some point: the C library would keep them for reuse, and
// few connections hold that much. Declared before the connection's blocks and buffers, it goes
// after them.
class MemoryRelease {
 public:
  MemoryRelease() = default;
  MemoryRelease(const MemoryRelease&) = delete;
  MemoryRelease& operator=(const MemoryRelease&) = delete;
  ~MemoryRelease() {
    if (peak >= kReleaseAfterBytes) platform::ReleaseFreeMemory();
  }

  void Note(size_t held) { peak = std::max(peak, held); }

 private:
  size_t peak = 0;
};

class SocketSink : public AnswerSink {
 public:
  SocketSink(int peerFd, platform::LogBatch& batch) : fd(peerFd), logBatch(batch) {}
  // The request's log lines go out before its answer. A failed send is ignored; the conversation
  // ends at the next failed receive.
  void Send(std::string_view answer) override {
    logBatch.Flush();
    (void)platform::SendAll(fd, answer);
  }

 private:
  int fd;
  platform::LogBatch& logBatch;
};

}  // namespace

ConnectionEnd Converse(int fd, const std::string& version, RequestHandler& handler,
                       const Limits& limits, HeldBudget& budget, ServerMetrics* metrics,
                       const std::string& clientName) {
  platform::LogBatch logBatch;
  SocketSink sink(fd, logBatch);
  HeldShare share(budget);
  MemoryRelease release;
  platform::SetSocketTimeouts(fd, static_cast<int>(limits.connectionTimeout.count()));
  sink.Send(platform::FormatText(texts::kGreetingFormat, platform::kProgramName, version.c_str()));

  Session session(handler, sink, clientName.empty() ? platform::PeerEndpoint(fd) : clientName,
                  metrics, [fd] { return platform::PeerHasLeft(fd); });
  LineReader reader;
  bool lineOpen = false;              // an unfinished line is arriving
  SteadyClock::time_point lineStart;  // when it began to
  for (;;) {
    bool lineEnded = false;
    while (const std::optional<std::string_view> line = reader.NextLine()) {
      lineEnded = true;
      if (!session.HandleLine(*line)) return ConnectionEnd::kQuit;
    }
    if (lineEnded || reader.PendingBytes() == 0) lineOpen = false;
    if (reader.PendingBytes() > 0 && !lineOpen) {
      // A line that came with the ones before it is timed from when they have been answered, so
      // that a long request does not count against the client's next line.
      lineOpen = true;
      lineStart = SteadyClock::now();
    }
    // What counts is the memory taken, the reader's buffer included; a buffer grown for a long
    // line that has been handled is cut back first.
    reader.Shrink(kReaderKeptBytes);
    const size_t held = reader.AllocatedBytes() + session.HeldBytes();
    release.Note(held);
    if (held > limits.maxHeldBytes) {
      platform::LogAt(platform::LogLevel::kError, texts::kLogConnectionOverLimit,
                      platform::GetCurrentThreadId(), limits.maxHeldBytes);
      return ConnectionEnd::kOverLimit;
    }
    if (!share.Set(held)) {
      platform::LogAt(platform::LogLevel::kError, texts::kLogProcessOverLimit,
                      platform::GetCurrentThreadId(), static_cast<size_t>(budget.Limit()));
      return ConnectionEnd::kOverLimitTogether;
    }
    if (lineOpen) {
      // The wait for the rest of the line ends at its deadline or at the receive time-out,
      // whichever comes first.
      const SteadyClock::time_point deadline =
          SlowLineDeadline(lineStart, reader.PendingBytes(), limits);
      const SteadyClock::time_point idle = SteadyClock::now() + limits.connectionTimeout;
      const platform::WaitResult wait = platform::WaitReadable(fd, std::min(deadline, idle));
      if (wait == platform::WaitResult::kTimedOut && SteadyClock::now() >= deadline) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - lineStart);
        platform::LogAt(platform::LogLevel::kError, texts::kLogLineTooSlow,
                        platform::GetCurrentThreadId(), reader.PendingBytes(),
                        static_cast<long long>(elapsed.count()), limits.minLineRate);
        return ConnectionEnd::kTooSlow;
      }
      if (wait == platform::WaitResult::kTimedOut) return ConnectionEnd::kTimedOut;
      if (wait != platform::WaitResult::kReady) return ConnectionEnd::kClosed;
    }
    // The reader's buffer grows no further than the blocks leave room for.
    const size_t room = limits.maxHeldBytes - session.HeldBytes();
    bool timedOut = false;
    const ssize_t received = platform::Receive(fd, reader.Space(kReceiveChunk, room), &timedOut);
    // An unfinished last line is dropped.
    if (received <= 0) return timedOut ? ConnectionEnd::kTimedOut : ConnectionEnd::kClosed;
    reader.Commit(static_cast<size_t>(received));
  }
}

}  // namespace server
