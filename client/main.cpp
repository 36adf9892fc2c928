// quilmarend-check: asks a Quilmarend server whether a signature is valid and prints its answer.
// Exit status: 0 when the three checks pass, 1 when the server answered and one failed, 2 for a
// usage error or a file that cannot be read or is not what its place needs, 3 when the server
// cannot be reached or answers with an error; a batch exits with the worst status of its pairs.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <variant>

#include "client/batch_run.h"
#include "client/check_result.h"
#include "client/check_run.h"
#include "client/options.h"
#include "client/terminal_text.h"
#include "platform/base/log.h"
#include "platform/base/names.h"

namespace client {
namespace {

// CRYPT_E_NOT_FOUND as a certificate status: the signer's certificate is in no store of the
// server.
constexpr uint32_t kCertificateNotFound = 0x80092004;

// Complain writes `message` (UTF-8) on standard error as one line: a file name may hold any byte
// but NUL, and written visibly it cannot break the line.
void Complain(const std::string& message) {
  std::string line;
  platform::AppendVisible(line, message);
  std::fprintf(stderr, "quilmarend-check: %s\n", Utf8ToTerminal(line).c_str());
}

// Printer prints results as they come and remembers whether one calls for the import hint.
struct Printer {
  const Options& options;
  bool certificateMissing = false;

  void operator()(const CheckResult& result, const PairNames* pair) {
    if (result.answer && !result.answer->certificate.ok &&
        result.answer->certificate.status == kCertificateNotFound) {
      certificateMissing = true;
    }
    if (result.failure && pair == nullptr) {
      Complain(result.failure->message);
    }
    if (options.json) {
      std::fputs(JsonLine(result, pair).c_str(), stdout);
    } else if (pair != nullptr) {
      std::fputs(Utf8ToTerminal(BatchTextLine(result, *pair)).c_str(), stdout);
    } else if (result.answer && !result.failure) {
      std::fputs(TextLines(*result.answer, ToTerminal).c_str(), stdout);
    }
  }

  // Hint tells, once, how a missing signer certificate gets into the server's stores.
  void Hint() const {
    if (!certificateMissing) return;
    std::fputs(
        "quilmarend-check: hint: the signer's certificate is in none of the server's "
        "certificate stores (80092004); import it on the server's machine with "
        "'sudo quilmarend -import FILE', or for a server that runs as a user, "
        "'quilmarend -import FILE' as that user\n",
        stderr);
  }
};

int Run(int argc, char** argv) {
  const auto parsed = ParseOptions(argc, argv, getenv("QUILMAREND_SERVER"));
  if (const auto* usage = std::get_if<UsageError>(&parsed)) {
    Complain(usage->reason);
    std::fputs(kUsageHint, stderr);
    if (usage->json) {
      std::fputs(
          JsonLine(CheckResult{std::nullopt, Failure{FailureKind::kUsage, usage->reason}}).c_str(),
          stdout);
    }
    return kExitUsageOrInput;
  }
  const Options& options = std::get<Options>(parsed);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitValid;
  }
  if (options.version) {
    std::printf("quilmarend-check %s\n", platform::kDottedVersion);
    return kExitValid;
  }
  if (!options.getHash.empty()) {
    const std::variant<std::string, Failure> hash = RunGetHash(options);
    if (const auto* failure = std::get_if<Failure>(&hash)) {
      Complain(failure->message);
      return ExitStatus(failure->kind);
    }
    std::printf("%s\n", std::get<std::string>(hash).c_str());
    return kExitValid;
  }
  Printer printer{options};
  int status = kExitValid;
  if (!options.batch.empty()) {
    status = RunBatch(options, std::ref(printer));
  } else {
    const CheckResult result = RunCheck(options);
    printer(result, nullptr);
    status = result.ExitStatus();
  }
  printer.Hint();
  return status;
}

}  // namespace
}  // namespace client

int main(int argc, char** argv) {
  // Failures are values throughout; only the standard library still throws, when memory runs out.
  try {
    return client::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quilmarend-check: %s\n", e.what());
    return client::kExitServerTrouble;
  }
}
