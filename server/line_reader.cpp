#include "server/line_reader.h"

#include <algorithm>
#include <cstring>

namespace server {
namespace {

// Past this size the buffer grows by this much at a time instead of doubling, so that what a long
// line takes stays close to its size (the connection's limits count the buffer, not the line).
constexpr size_t kMaxGrowthStep = size_t{8} << 20;

// GrownCapacity is the room a buffer of `capacity` bytes gets when it must hold `needed`: twice
// its room while small, then kMaxGrowthStep more at a time; no more than `limit` unless `needed`
// is.
size_t GrownCapacity(size_t capacity, size_t needed, size_t limit) {
  return std::max(needed, std::min(capacity + std::min(capacity, kMaxGrowthStep), limit));
}

}  // namespace

std::span<char> LineReader::Space(size_t size, size_t limit) {
  if (start_ > 0 && (start_ == end_ || start_ >= capacity_ / 2)) {
    // Drop returned lines so that the buffer does not grow with the whole stream.
    std::memmove(buffer_.get(), buffer_.get() + start_, end_ - start_);
    end_ -= start_;
    scanFrom_ -= start_;
    start_ = 0;
  }
  if (capacity_ - end_ < size) {
    Reallocate(GrownCapacity(capacity_, end_ - start_ + size, limit));
  }
  return std::span<char>(buffer_.get() + end_, capacity_ - end_);
}

void LineReader::Shrink(size_t keep) {
  const size_t target = std::max(keep, 2 * (end_ - start_));
  if (capacity_ / 2 >= target) Reallocate(target);
}

void LineReader::Reallocate(size_t capacity) {
  std::unique_ptr<char[]> fresh = std::make_unique_for_overwrite<char[]>(capacity);
  if (end_ > start_) std::memcpy(fresh.get(), buffer_.get() + start_, end_ - start_);
  buffer_ = std::move(fresh);
  capacity_ = capacity;
  end_ -= start_;
  scanFrom_ -= start_;
  start_ = 0;
}

void LineReader::Commit(size_t count) { end_ += count; }

void LineReader::Append(std::string_view bytes) {
  std::span<char> room = Space(bytes.size());
  if (!bytes.empty()) std::memcpy(room.data(), bytes.data(), bytes.size());
  Commit(bytes.size());
}

std::optional<std::string_view> LineReader::NextLine() {
  const size_t from = std::max(scanFrom_, start_);
  if (from == end_) return std::nullopt;
  const void* found = std::memchr(buffer_.get() + from, '\n', end_ - from);
  if (found == nullptr) {
    scanFrom_ = end_;  // a long unfinished line is scanned once, not once per receive
    return std::nullopt;
  }
  const size_t lineEnd = static_cast<const char*>(found) - buffer_.get() + 1;
  std::string_view line(buffer_.get() + start_, lineEnd - start_);
  start_ = lineEnd;
  scanFrom_ = lineEnd;
  return line;
}

}  // namespace server
