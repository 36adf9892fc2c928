#pragma once

// What one check ended with, and the forms it is printed in: the JSON object of --json (one line
// of JSON Lines with --batch) and the line of a batch in text.

#include <optional>
#include <string>

#include "client/answer.h"
#include "client/failure.h"

namespace client {

// kSchema names the JSON object's shape; it changes only when a key changes meaning or goes.
inline constexpr char kSchema[] = "quilmarend.check/1";

// CheckResult is a check's answer, or the failure that left it without one.
struct CheckResult {
  std::optional<CheckAnswer> answer;
  std::optional<Failure> failure;
  bool reportAsked = false;  // --html: the report page goes into the JSON object

  // ExitStatus is 0 when the three checks are OK, 1 when one failed, else the failure's.
  int ExitStatus() const {
    if (failure) return client::ExitStatus(failure->kind);
    return answer && answer->Valid() ? kExitValid : kExitInvalid;
  }
};

// PairNames are the names a batch record gave; `document` alone (and no signature) for a record
// that could not be split.
struct PairNames {
  std::string document;
  std::optional<std::string> signature;
};

// JsonLine renders `result` as one JSON object on one line, ending in a line feed, with the keys
// of quilmarend-check.schema.json; `pair`, for a batch, adds the "input" key. Texts of the server
// are converted to UTF-8; bytes of names that are not UTF-8 become U+FFFD.
std::string JsonLine(const CheckResult& result, const PairNames* pair = nullptr);

// BatchTextLine renders `result` as the line a batch prints for `pair`:
// VERDICT TAB DOCUMENT TAB SIGNATURE TAB STATUSES TAB MESSAGE, in UTF-8, where VERDICT is OK,
// FAIL or ERROR, STATUSES the three status codes joined by commas ("-" without an answer), and
// MESSAGE the signer's name, the first failed check's status text, or the failure. Control bytes
// of the names (TAB too) are written as "\t", "\n", "\xNN".
std::string BatchTextLine(const CheckResult& result, const PairNames& pair);

}  // namespace client
