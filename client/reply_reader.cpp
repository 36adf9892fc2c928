#include "client/reply_reader.h"

#include <algorithm>
#include <utility>

#include "platform/base/names.h"

namespace client {
namespace {

std::string GreetingStart() { return std::string(platform::kProgramName) + ' '; }

}  // namespace

bool IsErrorLine(std::string_view line) {
  return line.starts_with("error:") || line.starts_with("Error:");
}

void ReplyReader::Take(std::string_view bytes) {
  // Lines already cut are dropped once they are most of the buffer.
  if (consumed > pending.size() / 2) {
    pending.erase(0, consumed);
    consumed = 0;
  }
  pending.append(bytes);
}

std::optional<std::string> ReplyReader::NextLine() {
  const size_t end = pending.find('\n', consumed);
  if (end == std::string::npos) return std::nullopt;
  size_t stop = end;
  while (stop > consumed && (pending[stop - 1] == '\r' || pending[stop - 1] == '\n')) --stop;
  std::string line = pending.substr(consumed, stop - consumed);
  consumed = end + 1;
  return line;
}

bool ReplyReader::EndUnfinishedError() {
  if (!IsErrorLine(Unread()) || Unread().find('\n') != std::string_view::npos) return false;
  pending += '\n';
  return true;
}

bool ReplyReader::IsNotTheServer() const {
  if (expected.empty() || expected.front() != ReplyShape::kGreeting || !lines.empty()) {
    return false;
  }
  const std::string start = GreetingStart();
  const std::string_view unread = Unread();
  const size_t compared = std::min(unread.size(), start.size());
  return unread.substr(0, compared) != std::string_view(start).substr(0, compared);
}

std::optional<Reply> ReplyReader::Next() {
  while (!expected.empty()) {
    std::optional<std::string> line = NextLine();
    if (!line) return std::nullopt;
    if (std::exchange(dotMayFollow, false) && *line == ".") continue;
    Reply reply;
    switch (expected.front()) {
      case ReplyShape::kGreeting:
        if (lines.empty() && line->starts_with(GreetingStart())) {
          lines.push_back(std::move(*line));
          continue;  // the empty line that follows ends the greeting
        }
        reply.refused = lines.empty();
        if (lines.empty()) lines.push_back(std::move(*line));
        break;
      case ReplyShape::kLine:
        reply.refused = !line->starts_with("OK:");
        dotMayFollow = IsErrorLine(*line);
        lines.push_back(std::move(*line));
        break;
      case ReplyShape::kAnswer:
        if (lines.empty() && IsErrorLine(*line)) {
          reply.refused = dotMayFollow = true;
          lines.push_back(std::move(*line));
          break;
        }
        if (*line != ".") {
          lines.push_back(std::move(*line));
          continue;
        }
        break;
    }
    reply.lines = std::move(lines);
    lines.clear();
    expected.pop_front();
    return reply;
  }
  return std::nullopt;
}

}  // namespace client
