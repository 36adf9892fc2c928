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
  explicit SocketSink(int fd) : fd_(fd) {}
  // A failed send is ignored; the conversation ends at the next failed receive.
  void Send(std::string_view answer) override { (void)platform::SendAll(fd_, answer); }

 private:
  int fd_;
};

}  // namespace

ConnectionEnd Converse(int fd, const std::string& version, RequestHandler& handler) {
  SocketSink sink(fd);
  platform::SetSocketTimeouts(fd, kConnectionTimeoutMs);
  sink.Send(platform::FormatText(texts::kGreetingFormat, version.c_str()));

  Session session(handler, sink);
  LineReader reader;
  for (;;) {
    while (const std::optional<std::string_view> line = reader.NextLine()) {
      if (!session.HandleLine(*line)) return ConnectionEnd::kQuit;
    }
    if (reader.PendingBytes() + session.OpenBlockBytes() > kMaxPendingBytes) {
      platform::Log(texts::kLogConnectionOverLimit, platform::GetCurrentThreadId(),
                    kMaxPendingBytes);
      return ConnectionEnd::kOverLimit;
    }
    const ssize_t received = platform::Receive(fd, reader.Space(kReceiveChunk));
    if (received <= 0) return ConnectionEnd::kClosed;  // an unfinished last line is dropped
    reader.Commit(static_cast<size_t>(received));
  }
}

}  // namespace server
