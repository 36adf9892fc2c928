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
  if (start > 0 && (start == end || start >= capacity / 2)) {
    // Drop returned lines so that the buffer does not grow with the whole stream.
    std::memmove(buffer.get(), buffer.get() + start, end - start);
    end -= start;
    scanFrom -= start;
    start = 0;
  }
  if (capacity - end < size) {
    Reallocate(GrownCapacity(capacity, end - start + size, limit));
  }
  return std::span<char>(buffer.get() + end, capacity - end);
}

void LineReader::Shrink(size_t keep) {
  const size_t target = std::max(keep, 2 * (end - start));
  if (capacity / 2 >= target) Reallocate(target);
}

void LineReader::Reallocate(size_t newCapacity) {
  std::unique_ptr<char[]> fresh = std::make_unique_for_overwrite<char[]>(newCapacity);
  if (end > start) std::memcpy(fresh.get(), buffer.get() + start, end - start);
  buffer = std::move(fresh);
  capacity = newCapacity;
  end -= start;
  scanFrom -= start;
  start = 0;
}

void LineReader::Commit(size_t count) { end += count; }

void LineReader::Append(std::string_view bytes) {
  std::span<char> room = Space(bytes.size());
  if (!bytes.empty()) std::memcpy(room.data(), bytes.data(), bytes.size());
  Commit(bytes.size());
}

std::optional<std::string_view> LineReader::NextLine() {
  const size_t from = std::max(scanFrom, start);
  if (from == end) return std::nullopt;
  const void* found = std::memchr(buffer.get() + from, '\n', end - from);
  if (found == nullptr) {
    scanFrom = end;  // a long unfinished line is scanned once, not once per receive
    return std::nullopt;
  }
  const size_t lineEnd = static_cast<const char*>(found) - buffer.get() + 1;
  std::string_view line(buffer.get() + start, lineEnd - start);
  start = lineEnd;
  scanFrom = lineEnd;
  return line;
}

}  // namespace server
