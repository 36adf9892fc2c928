#pragma once

// The pairs of a batch: lines DOCUMENT<TAB>SIGNATURE, or with -0 names that end in NUL bytes,
// taken in pairs, read from a file or standard input as they come.

#include <optional>
#include <string>

#include "client/check_result.h"
#include "client/failure.h"
#include "platform/base/unique_fd.h"

namespace client {

// BatchRecord is one pair of names, or what keeps its line from being one.
struct BatchRecord {
  PairNames names;
  std::string problem;  // empty when `names` is a pair
};

class BatchInput {
 public:
  // Open opens `path` ("-": standard input); nullopt with an input failure when it cannot.
  static std::optional<BatchInput> Open(const std::string& path, bool nulSeparated,
                                        Failure& failure);

  // Next returns the next record, passing over empty lines; nullopt at the end, or when the input
  // cannot be read (`failure` set then).
  std::optional<BatchRecord> Next(std::optional<Failure>& failure);

 private:
  BatchInput(platform::UniqueFd opened, std::string inputName, bool nul)
      : fd(std::move(opened)), name(std::move(inputName)), nulSeparated(nul) {}
  // NextName returns the next name up to `separator`; nullopt at the end of the input.
  std::optional<std::string> NextName(char separator, std::optional<Failure>& failure);

  platform::UniqueFd fd;
  std::string name;
  bool nulSeparated;
  std::string buffer;
  size_t consumed = 0;
  bool ended = false;
  size_t line = 0;
};

}  // namespace client
