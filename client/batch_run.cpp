#include "client/batch_run.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <string>

#include "client/batch_input.h"
#include "client/blob_file.h"
#include "client/inputs.h"
#include "client/requests.h"
#include "client/session.h"

namespace client {
namespace {

// At most this many pairs wait to be printed: pairs that fail before they are sent take no room
// in the socket, and would otherwise all be read ahead.
constexpr size_t kMaxPending = 1024;

// Pending is a pair whose result is not printed yet.
struct Pending {
  PairNames names;
  CheckResult result;
  size_t repliesLeft = 0;  // replies still to come for it; 0 once its result is known
};

// Awaited is a reply still to come: whose it is (none for the settings), and to what.
struct Awaited {
  Pending* pair;
  std::string request;
};

class BatchRun {
 public:
  BatchRun(const Options& runOptions, BatchInput& pairs) : options(runOptions), input(pairs) {}

  // Run checks every pair and prints each result in order; returns the worst exit status.
  int Run(const ResultPrinter& print) {
    int worst = kExitValid;
    for (;;) {
      Refill();
      while (!pending.empty() && pending.front().repliesLeft == 0) {
        worst = std::max(worst, pending.front().result.ExitStatus());
        print(pending.front().result, &pending.front().names);
        pending.pop_front();
      }
      if (pending.empty() && inputEnded) {
        if (!inputFailure) return worst;
        print(CheckResult{std::nullopt, inputFailure, false}, nullptr);
        return std::max(worst, ExitStatus(inputFailure->kind));
      }
      if (!pending.empty()) TakeReply();
    }
  }

 private:
  // Refill reads pairs and queues them until the socket has enough to send, the input ends, or
  // enough results wait to be printed.
  void Refill() {
    while (!inputEnded && pending.size() < kMaxPending &&
           (!session || session->Unsent() < Session::kRefillBelow)) {
      std::optional<BatchRecord> record = input.Next(inputFailure);
      if (!record) {
        inputEnded = true;
        return;
      }
      Pending& pair = pending.emplace_back(Pending{std::move(record->names), {}, 0});
      if (!record->problem.empty()) {
        pair.result.failure = Failure{FailureKind::kInput, record->problem};
      } else if (runFailure) {
        pair.result.failure = runFailure;
      } else {
        Queue(pair);
      }
    }
  }

  // Queue reads the files of `pair` and queues its blocks and CHECK, connecting first if need be.
  void Queue(Pending& pair) {
    const std::string& document = pair.names.document;
    const std::string& signature = *pair.names.signature;
    Failure failure;
    if (options.documentIsReference && !IsReference(document)) {
      pair.result.failure = Failure{FailureKind::kInput, document + " is no reference for --ref"};
      return;
    }
    const std::optional<Inputs> inputs = ReadInputs(options, document, signature, failure);
    std::optional<std::vector<uint8_t>> bytes;
    if (inputs && inputs->document) {
      bytes = ReadDocumentPiece(*inputs, 0, inputs->documentSize, document, failure);
    }
    if (!inputs || (inputs->document && !bytes)) {
      pair.result.failure = failure;
      return;
    }
    if (!session && !Connect()) {
      pair.result.failure = runFailure;
      return;
    }
    if (bytes) {
      QueueBlock(*session, "STRS", *bytes);
      Await(&pair, "STRS");
      Await(&pair, "the document's block");
    } else {
      session->Command("STRS " + document);
      Await(&pair, "STRS");
    }
    QueueBlock(*session, "SIGN", inputs->signature);
    Await(&pair, "SIGN");
    Await(&pair, "the signature's block");
    session->Request("CHECK");
    Await(&pair, "CHECK");
  }

  // Connect opens the connection and queues the settings; false with `runFailure` set when the
  // server cannot be reached.
  bool Connect() {
    Failure failure;
    session = Session::Open(options.server, options.timeout, failure);
    if (!session) {
      runFailure = failure;
      return false;
    }
    for (const std::string& line : SettingsCommands(options)) {
      session->Command(line);
      Await(nullptr, line);
    }
    return true;
  }

  void Await(Pending* pair, std::string request) {
    awaited.push_back({pair, std::move(request)});
    if (pair != nullptr) ++pair->repliesLeft;
  }

  // TakeReply reads the next reply and gives it to the pair it belongs to. A failed connection,
  // or refused settings, fail every pair still waiting and every pair after them.
  void TakeReply() {
    Failure failure;
    std::optional<Reply> reply = session->Next(failure, [this] { Refill(); });
    if (reply && awaited.front().pair == nullptr && reply->refused) {
      failure = Refusal(*reply, awaited.front().request);
      reply.reset();
    }
    if (!reply) {
      runFailure = failure;
      for (Pending& pair : pending) {
        if (pair.repliesLeft > 0) pair.result.failure = failure;
        pair.repliesLeft = 0;
      }
      awaited.clear();
      session.reset();
      return;
    }
    const Awaited to = std::move(awaited.front());
    awaited.pop_front();
    if (to.pair == nullptr) return;
    --to.pair->repliesLeft;
    CheckResult& result = to.pair->result;
    if (result.failure) return;  // an earlier reply of the pair refused it
    if (reply->refused) {
      result.failure = Refusal(*reply, to.request);
    } else if (to.request == "CHECK") {
      std::string error;
      result.answer = ParseAnswer(reply->lines, error);
      if (!result.answer) result.failure = Failure{FailureKind::kServer, error};
    }
  }

  const Options& options;
  BatchInput& input;
  std::optional<Session> session;
  std::deque<Pending> pending;  // a deque: pairs keep their place while others come and go
  std::deque<Awaited> awaited;
  bool inputEnded = false;
  std::optional<Failure> inputFailure;
  std::optional<Failure> runFailure;
};

}  // namespace

int RunBatch(const Options& options, const ResultPrinter& print) {
  Failure failure;
  std::optional<BatchInput> input = BatchInput::Open(options.batch, options.nulSeparated, failure);
  if (!input) {
    print(CheckResult{std::nullopt, failure, false}, nullptr);
    return ExitStatus(failure.kind);
  }
  BatchRun run(options, *input);
  return run.Run(print);
}

}  // namespace client
