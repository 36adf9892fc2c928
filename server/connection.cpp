#include "server/connection.h"

#include "platform/log.h"
#include "platform/socket.h"
#include "platform/thread_id.h"
#include "server/line_reader.h"
#include "server/texts.h"

namespace server {
namespace {

// Receive size: big enough that a large block takes few system calls, small enough per thread.
constexpr size_t kReceiveChunk = 64 * 1024;

class SocketSink : public AnswerSink {
 public:
  SocketSink(int fd, platform::LogBatch& logBatch) : fd_(fd), logBatch_(logBatch) {}
  // The request's log lines go out before its answer. A failed send is ignored; the conversation
  // ends at the next failed receive.
  void Send(std::string_view answer) override {
    logBatch_.Flush();
    (void)platform::SendAll(fd_, answer);
  }

 private:
  int fd_;
  platform::LogBatch& logBatch_;
};

}  // namespace

ConnectionEnd Converse(int fd, const std::string& version, RequestHandler& handler,
                       const ConnectionLimits& limits) {
  platform::LogBatch logBatch;
  SocketSink sink(fd, logBatch);
  HeldBudget& budget = limits.budget != nullptr ? *limits.budget : HeldBudget::Process();
  HeldShare share(budget);
  platform::SetSocketTimeouts(fd, kConnectionTimeoutMs);
  sink.Send(platform::FormatText(texts::kGreetingFormat, version.c_str()));

  Session session(handler, sink);
  LineReader reader;
  for (;;) {
    while (const std::optional<std::string_view> line = reader.NextLine()) {
      if (!session.HandleLine(*line)) return ConnectionEnd::kQuit;
    }
    const size_t held = reader.PendingBytes() + session.HeldBytes();
    if (held > limits.maxHeldBytes) {
      platform::LogAt(platform::LogLevel::kError, texts::kLogConnectionOverLimit,
                      platform::GetCurrentThreadId(), limits.maxHeldBytes);
      return ConnectionEnd::kOverLimit;
    }
    if (!share.Set(held)) {
      platform::LogAt(platform::LogLevel::kError, texts::kLogProcessOverLimit,
                      platform::GetCurrentThreadId(), static_cast<size_t>(budget.Limit()));
      return ConnectionEnd::kOverLimit;
    }
    const ssize_t received = platform::Receive(fd, reader.Space(kReceiveChunk));
    if (received <= 0) return ConnectionEnd::kClosed;  // an unfinished last line is dropped
    reader.Commit(static_cast<size_t>(received));
  }
}

}  // namespace server
