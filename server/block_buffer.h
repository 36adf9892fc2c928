#pragma once

// BlockBuffer gathers the text of an open data block in pieces of at most kBlockPieceBytes. A
// string that grows must be copied into a bigger one, and a large block then takes its old and
// new copies at once (with sixteen 120 MiB blocks arriving together, gigabytes); pieces are never
// copied while the block grows, and what they take stays within a piece of the block's size.
// Take joins them into one string of exactly that size, giving each piece back as soon as it has
// been copied.
//
// Example:
//   BlockBuffer block;
//   block.Append("first line");
//   block.Append("\r\n");
//   data.documentText = block.Take();

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace server {

inline constexpr size_t kBlockPieceBytes = size_t{1} << 20;

class BlockBuffer {
 public:
  // Append adds `bytes` at the end.
  void Append(std::string_view bytes);
  // Size is the number of bytes gathered.
  size_t Size() const { return size; }
  // AllocatedBytes is the memory the pieces take.
  size_t AllocatedBytes() const;
  // Take returns the gathered text and leaves the buffer empty.
  std::string Take();

 private:
  std::vector<std::string> pieces;  // each full but the last
  size_t size = 0;
};

}  // namespace server
