#pragma once

// LineReader cuts a received byte stream into lines, each ending with its line feed. Bytes arrive
// in pieces of any size (a CR LF may be split between two receives); lines come out exactly as they
// were sent. It replaces a receive of one byte per call: the caller receives large pieces straight
// into the reader's buffer.
//
// Example:
//   LineReader reader;
//   std::span<char> room = reader.Space(65536);
//   reader.Commit(platform::Receive(fd, room));
//   while (auto line = reader.NextLine()) Handle(*line);

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace server {

class LineReader {
 public:
  // Space returns room for at least `size` more bytes at the end of the buffer. A buffer that
  // must grow doubles while small and then grows 8 MiB at a time, to no more than `limit` bytes
  // unless the unfinished line and `size` need more.
  std::span<char> Space(size_t size, size_t limit = SIZE_MAX);
  // Commit makes `count` bytes written into the last Space available to NextLine.
  void Commit(size_t count);
  // Append copies `bytes` in (Space and Commit in one).
  void Append(std::string_view bytes);

  // NextLine returns the next complete line, its line feed included, or nullopt when the buffered
  // bytes hold no line feed. The view stays valid until the next call of any method.
  std::optional<std::string_view> NextLine();

  // PendingBytes is the size of the unfinished line: bytes received after the last line feed.
  size_t PendingBytes() const { return end - start; }
  // AllocatedBytes is the size of the buffer, which is what the reader takes of memory.
  size_t AllocatedBytes() const { return capacity; }

  // Shrink gives back a buffer grown for lines that have since been returned: when it is twice
  // as large as room for `keep` bytes or for twice the unfinished line would be, whichever is
  // more, it is cut down to that.
  void Shrink(size_t keep);

 private:
  // Reallocate moves the unfinished line to the start of a new buffer of `newCapacity` bytes.
  void Reallocate(size_t newCapacity);

  std::unique_ptr<char[]> buffer;  // not zeroed: receives write straight into it
  size_t capacity = 0;
  size_t start = 0;     // first byte not yet returned
  size_t end = 0;       // end of received bytes
  size_t scanFrom = 0;  // bytes before this offset hold no line feed
};

}  // namespace server
