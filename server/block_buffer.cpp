#include "server/block_buffer.h"

#include <algorithm>

namespace server {

void BlockBuffer::Append(std::string_view bytes) {
  size += bytes.size();
  while (!bytes.empty()) {
    if (pieces.empty() || pieces.back().size() == kBlockPieceBytes) pieces.emplace_back();
    std::string& piece = pieces.back();
    const size_t taken = std::min(bytes.size(), kBlockPieceBytes - piece.size());
    if (piece.size() + taken > piece.capacity()) {
      // A small block's only piece doubles, up to a whole piece. Reserving in a fresh string
      // gets exactly the room asked for.
      std::string grown;
      grown.reserve(
          std::min(kBlockPieceBytes, std::max(piece.size() + taken, 2 * piece.capacity())));
      grown.append(piece);
      piece.swap(grown);
    }
    piece.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
  }
}

size_t BlockBuffer::AllocatedBytes() const {
  size_t allocated = 0;
  for (const std::string& piece : pieces) allocated += piece.capacity();
  return allocated;
}

std::string BlockBuffer::Take() {
  std::string text;
  if (pieces.size() == 1) {
    text.swap(pieces.front());
  } else if (pieces.size() > 1) {
    text.reserve(size);
    for (std::string& piece : pieces) {
      text += piece;
      std::string().swap(piece);
    }
  }
  std::vector<std::string>().swap(pieces);
  size = 0;
  return text;
}

}  // namespace server
