#include "client/check_run.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>

#include "client/blob_file.h"
#include "client/inputs.h"
#include "client/progress_bar.h"
#include "client/requests.h"
#include "client/session.h"
#include "platform/base/cp1251.h"

namespace client {
namespace {

constexpr uint64_t kProgressThreshold = uint64_t{8} << 20;
// The document goes out in pieces of whole Base64 lines, read as the socket takes them.
constexpr uint64_t kDocumentPiece = kBase64LineBytes * 16384;

// WritePage writes `page` to `path` through a temporary file beside it, so that a failed write
// leaves neither a part of a page nor a stray file.
bool WritePage(const std::string& path, const std::string& page, std::string& error) {
  std::string temporary = path + ".XXXXXX";
  const platform::UniqueFd fd(mkstemp(temporary.data()));
  bool written = fd.get() >= 0 && fchmod(fd.get(), 0644) == 0;
  for (size_t at = 0; written && at < page.size();) {
    const ssize_t count = ::write(fd.get(), page.data() + at, page.size() - at);
    written = count > 0;
    if (written) at += static_cast<size_t>(count);
  }
  written = written && fsync(fd.get()) == 0 && rename(temporary.c_str(), path.c_str()) == 0;
  if (!written) {
    error = path + ": " + std::strerror(errno);
    if (fd.get() >= 0) unlink(temporary.c_str());
  }
  return written;
}

// CheckPlan queues a check's requests as the socket takes them: the settings, the document piece
// by piece, then the signature, the certificate and fragment, CHECK and (without an upload
// service) QUIT. It keeps the name of each request whose reply is awaited, in order.
class CheckPlan {
 public:
  CheckPlan(const Options& checkOptions, const Inputs& files, Session& connection)
      : options(checkOptions),
        inputs(files),
        session(connection),
        bar(files.documentSize, kProgressThreshold) {
    for (const std::string& line : SettingsCommands(options)) Command(line);
    Command(inputs.document ? std::string("STRS") : "STRS " + options.document);
  }

  // Refill queues the next piece of the document, or once it is sent, everything after it.
  void Refill() {
    if (restQueued || readFailure) return;
    if (inputs.document && queuedBytes < inputs.documentSize) {
      Failure failure;
      const uint64_t count = std::min(kDocumentPiece, inputs.documentSize - queuedBytes);
      const std::optional<std::vector<uint8_t>> piece =
          ReadDocumentPiece(inputs, queuedBytes, count, options.document, failure);
      if (!piece) {
        readFailure = failure;
        return;
      }
      session.Data(Base64Lines(*piece));
      queuedBytes += count;
      bar.Show(queuedBytes);
      if (queuedBytes == inputs.documentSize) EndBlock("the document's block");
      return;
    }
    if (inputs.document && inputs.documentSize == 0) EndBlock("the document's block");
    if (inputs.signatureIsName) {
      Command("SIGN " + options.signature);
    } else {
      Block("SIGN", inputs.signature, "the signature's block");
    }
    if (inputs.certificate) Block("CERT", *inputs.certificate, "the certificate's block");
    if (inputs.hashedXml) Block("HASHEDXML", *inputs.hashedXml, "the fragment's block");
    session.Request("CHECK");
    awaited.push_back("CHECK");
    // An upload service's failure may end without a line end; a QUIT sent behind it would run
    // into its text. The connection is closed without one then.
    if (options.uploadService.empty()) Command("QUIT");
    restQueued = true;
  }

  // Done is true once every reply has been taken.
  bool Done() const { return restQueued && awaited.empty(); }

  // Pop returns the name of the request whose reply comes next.
  std::string Pop() {
    std::string name = std::move(awaited.front());
    awaited.pop_front();
    return name;
  }
  const std::optional<Failure>& ReadFailure() const { return readFailure; }

 private:
  void Command(const std::string& line) {
    session.Command(line);
    awaited.push_back(line);
  }
  void EndBlock(const char* name) {
    session.EndBlock();
    awaited.push_back(name);
  }
  void Block(const char* command, const std::vector<uint8_t>& bytes, const char* name) {
    QueueBlock(session, command, bytes);
    awaited.push_back(command);
    awaited.push_back(name);
  }

  const Options& options;
  const Inputs& inputs;
  Session& session;
  ProgressBar bar;
  std::deque<std::string> awaited;
  uint64_t queuedBytes = 0;
  bool restQueued = false;
  std::optional<Failure> readFailure;
};

// Ask sends the check of `inputs` and reads its answer into `result`.
void Ask(const Options& options, const Inputs& inputs, CheckResult& result) {
  Failure failure;
  std::optional<Session> session = Session::Open(options.server, options.timeout, failure);
  if (!session) {
    result.failure = failure;
    return;
  }
  CheckPlan plan(options, inputs, *session);
  const auto refill = [&plan] { plan.Refill(); };
  for (;;) {
    std::optional<Reply> reply = session->Next(failure, refill);
    if (plan.ReadFailure()) {
      result.failure = plan.ReadFailure();
      return;
    }
    if (!reply) {
      // A connection that ends after the answer has done its work.
      if (!result.answer) result.failure = failure;
      return;
    }
    const std::string request = plan.Pop();
    if (request == "QUIT") return;
    if (reply->refused) {
      result.failure = Refusal(*reply, request);
      return;
    }
    if (request == "CHECK") {
      std::string error;
      result.answer = ParseAnswer(reply->lines, error);
      if (!result.answer) {
        result.failure = Failure{FailureKind::kServer, error};
        return;
      }
    }
    if (plan.Done()) return;
  }
}

}  // namespace

CheckResult RunCheck(const Options& options) {
  CheckResult result;
  result.reportAsked = !options.htmlFile.empty();
  Failure failure;
  const std::optional<Inputs> inputs =
      ReadInputs(options, options.document, options.signature, failure);
  if (!inputs) {
    result.failure = failure;
    return result;
  }
  Ask(options, *inputs, result);
  if (result.failure || !result.reportAsked) return result;
  std::string error;
  if (!result.answer->page) {
    std::fprintf(stderr, "quilmarend-check: the server sent no report (no signer certificate)\n");
  } else if (!WritePage(options.htmlFile, ReportPage(*result.answer->page), error)) {
    result.failure = Failure{FailureKind::kInput, error};
  }
  return result;
}

std::variant<std::string, Failure> RunGetHash(const Options& options) {
  Failure failure;
  std::optional<Session> session = Session::Open(options.server, options.timeout, failure);
  if (!session) return failure;
  std::vector<std::string> requests;
  if (!options.hashServer.empty()) requests.push_back("HASHSERVER " + options.hashServer);
  requests.push_back("GETHASH " + options.getHash);
  for (const std::string& request : requests) session->Command(request);
  session->Command("QUIT");
  std::string hash;
  for (const std::string& request : requests) {
    const std::optional<Reply> reply = session->Next(failure);
    if (!reply) return failure;
    if (reply->refused) return Refusal(*reply, request);
    hash = reply->lines.front();
  }
  (void)session->Next(failure);  // QUIT's reply; the work is done whatever it says
  constexpr std::string_view kHash = "OK: Hash=";
  if (!hash.starts_with(kHash)) {
    return Failure{FailureKind::kServer,
                   "unexpected reply to GETHASH: " + platform::Cp1251ToUtf8(hash)};
  }
  return hash.substr(kHash.size());
}

}  // namespace client
