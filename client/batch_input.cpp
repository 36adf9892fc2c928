#include "client/batch_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace client {
namespace {

constexpr size_t kReadPiece = size_t{64} << 10;

}  // namespace

std::optional<BatchInput> BatchInput::Open(const std::string& path, bool nulSeparated,
                                           Failure& failure) {
  platform::UniqueFd fd(path == "-" ? ::dup(STDIN_FILENO)
                                    : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    failure = {FailureKind::kInput, path + ": " + std::strerror(errno)};
    return std::nullopt;
  }
  return BatchInput(std::move(fd), path == "-" ? "standard input" : path, nulSeparated);
}

std::optional<std::string> BatchInput::NextName(char separator, std::optional<Failure>& failure) {
  for (;;) {
    const size_t end = buffer.find(separator, consumed);
    if (end != std::string::npos || (ended && consumed < buffer.size())) {
      const size_t stop = end == std::string::npos ? buffer.size() : end;
      std::string found = buffer.substr(consumed, stop - consumed);
      consumed = stop + 1;
      return found;
    }
    if (ended) return std::nullopt;
    buffer.erase(0, consumed);
    consumed = 0;
    const size_t at = buffer.size();
    buffer.resize(at + kReadPiece);
    const ssize_t got = ::read(fd.get(), buffer.data() + at, kReadPiece);
    buffer.resize(at + static_cast<size_t>(std::max<ssize_t>(got, 0)));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      failure = Failure{FailureKind::kInput, name + ": " + std::strerror(errno)};
      return std::nullopt;
    }
    ended = got == 0;
  }
}

std::optional<BatchRecord> BatchInput::Next(std::optional<Failure>& failure) {
  BatchRecord record;
  if (nulSeparated) {
    std::optional<std::string> document = NextName('\0', failure);
    if (!document) return std::nullopt;
    record.names.document = std::move(*document);
    record.names.signature = NextName('\0', failure);
    if (!record.names.signature && !failure)
      record.problem = "no SIGNATURE after the last DOCUMENT";
    return record;
  }
  std::optional<std::string> text;
  do {
    text = NextName('\n', failure);
    if (!text) return std::nullopt;
    ++line;
    if (text->ends_with('\r')) text->pop_back();  // a list written on Windows
  } while (text->empty());
  const size_t tab = text->find('\t');
  if (tab == std::string::npos || text->find('\t', tab + 1) != std::string::npos) {
    record.names.document = std::move(*text);
    record.problem = "line " + std::to_string(line) + " of " + name +
                     (tab == std::string::npos ? " has no TAB between DOCUMENT and SIGNATURE"
                                               : " has more than one TAB (use -0 for such names)");
    return record;
  }
  record.names.document = text->substr(0, tab);
  record.names.signature = text->substr(tab + 1);
  return record;
}

}  // namespace client
