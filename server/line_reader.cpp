#include "server/line_reader.h"

#include <algorithm>
#include <cstring>

namespace server {

std::span<char> LineReader::Space(size_t size) {
  if (start_ > 0 && (start_ == end_ || start_ >= buffer_.size() / 2)) {
    // Drop returned lines so that the buffer does not grow with the whole stream.
    std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
    end_ -= start_;
    scanFrom_ -= start_;
    start_ = 0;
  }
  if (buffer_.size() - end_ < size) {
    buffer_.resize(std::max(end_ + size, buffer_.size() * 2));
  }
  return std::span<char>(buffer_.data() + end_, buffer_.size() - end_);
}

void LineReader::Commit(size_t count) { end_ += count; }

void LineReader::Append(std::string_view bytes) {
  std::span<char> room = Space(bytes.size());
  if (!bytes.empty()) std::memcpy(room.data(), bytes.data(), bytes.size());
  Commit(bytes.size());
}

std::optional<std::string_view> LineReader::NextLine() {
  const size_t from = std::max(scanFrom_, start_);
  const void* found = std::memchr(buffer_.data() + from, '\n', end_ - from);
  if (found == nullptr) {
    scanFrom_ = end_;  // a long unfinished line is scanned once, not once per receive
    return std::nullopt;
  }
  const size_t lineEnd = static_cast<const char*>(found) - buffer_.data() + 1;
  std::string_view line(buffer_.data() + start_, lineEnd - start_);
  start_ = lineEnd;
  scanFrom_ = lineEnd;
  return line;
}

}  // namespace server
