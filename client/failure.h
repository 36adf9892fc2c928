#pragma once

// Why a check has no verdict, and the exit status each reason gives.

#include <string>

namespace client {

// The exit statuses, from best to worst: a run of many checks exits with the worst of theirs.
inline constexpr int kExitValid = 0;
inline constexpr int kExitInvalid = 1;        // the server answered and a check failed
inline constexpr int kExitUsageOrInput = 2;   // nothing was asked: the command line or a file
inline constexpr int kExitServerTrouble = 3;  // the server could not be reached or refused

enum class FailureKind {
  kUsage,       // the command line cannot be run
  kInput,       // a file cannot be read or is not what its place needs, told before connecting
  kConnection,  // the server could not be reached, or the connection broke or went silent
  kServer,      // the server answered with an error, or with something that is no answer
};

// Failure is a kind and a sentence in UTF-8 that names the file or server and the reason.
struct Failure {
  FailureKind kind = FailureKind::kInput;
  std::string message;
};

// ExitStatus is the exit status of a run that ended with `kind`.
constexpr int ExitStatus(FailureKind kind) {
  return kind == FailureKind::kUsage || kind == FailureKind::kInput ? kExitUsageOrInput
                                                                    : kExitServerTrouble;
}

// KindName is the word --json writes for `kind`.
constexpr const char* KindName(FailureKind kind) {
  switch (kind) {
    case FailureKind::kUsage:
      return "usage";
    case FailureKind::kInput:
      return "input";
    case FailureKind::kConnection:
      return "connection";
    case FailureKind::kServer:
      return "server";
  }
  return "input";
}

}  // namespace client
