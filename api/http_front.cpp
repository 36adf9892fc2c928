#include "api/http_front.h"

#include <strings.h>

#include <atomic>
#include <charconv>
#include <utility>

#include "api/check_answer.h"
#include "api/check_pool.h"
#include "api/http_metrics.h"
#include "api/problem.h"
#include "api/static_files.h"
#include "platform/base/log.h"
#include "server/check_request.h"
#include "server/held_budget.h"
#include "server/server_texts.h"
#include "verify/crypto.h"
#include "verify/tmp_cert_arhive.h"

namespace api {

using Clock = std::chrono::steady_clock;

// FrontState is what the front's service, exchanges, jobs and status share.
struct FrontState {
  FrontSetup setup;
  std::shared_ptr<verify::TmpCertArhive> archive;
  std::shared_ptr<server::HeldBudget> heldBudget;
  std::unique_ptr<CheckPool> pool;
  HttpMetrics metrics;
  std::atomic<bool> stopping{false};

  bool Full() const {
    return pool->Busy() >= pool->Workers() && pool->Waiting() >= pool->MaxWaiting();
  }

  // Counted counts `answer` to a request for `path` and hands it back.
  platform::HttpAnswer Counted(std::string_view path, platform::HttpAnswer answer) {
    metrics.Count(path, answer.status);
    return answer;
  }
};

namespace {

using State = FrontState;

// Done logs the info line of a verification request and sends its answer.
void Done(State& state, const platform::HttpReply& reply, const std::string& peer,
          Clock::time_point started, const std::string& summary, platform::HttpAnswer answer) {
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  platform::LogAt(platform::LogLevel::kInfo, server::texts::kLogRequestFormat, peer.c_str(),
                  "POST /v1/check", summary.c_str(), static_cast<long long>(elapsed.count()));
  reply.Send(state.Counted(kEndpointsCheck, std::move(answer)));
}

// Summary is what the info line says of a refusal: "413 too-large".
std::string Summary(const Problem& problem) {
  return std::to_string(ProblemStatus(problem.type)) + " " + std::string(ProblemSlug(problem.type));
}

void Refuse(State& state, const platform::HttpReply& reply, const std::string& peer,
            Clock::time_point started, const Problem& problem) {
  Done(state, reply, peer, started, Summary(problem), ProblemAnswer(problem, kEndpointsCheck));
}

const Problem kStopping{ProblemType::kStopping, "the server stops"};
const Problem kBusy{ProblemType::kBusy, "every worker is busy"};

Problem TooLarge(uint64_t limit, bool json) {
  return {ProblemType::kTooLarge, json ? "a JSON body may hold " + std::to_string(limit) +
                                             " bytes; send larger documents as multipart/form-data"
                                       : "a body may hold " + std::to_string(limit) + " bytes"};
}

// Job is one verification on its way through the pool: the body as it arrived, the reply.
struct Job {
  std::shared_ptr<State> state;
  platform::HttpReply reply;
  std::string peer;
  Clock::time_point started;
  bool json = false;
  std::string jsonBody;
  std::optional<FormCollector> form;

  void Run() {
    std::variant<CheckInput, Problem> input = json ? ReadJsonBody(jsonBody) : form->Finish();
    jsonBody = {};
    if (const Problem* bad = std::get_if<Problem>(&input)) {
      return Refuse(*state, reply, peer, started, *bad);
    }
    CheckInput& given = std::get<CheckInput>(input);
    const uint64_t maxXmlBytes = state->setup.body.maxXmlDocumentBytes;
    if (given.hashedXml && given.documentSize > maxXmlBytes) {
      return Refuse(*state, reply, peer, started,
                    {ProblemType::kTooLarge, "a document canonicalized as XML may hold " +
                                                 std::to_string(maxXmlBytes) + " bytes"});
    }
    const bool htmlReport = given.options.htmlReport;
    std::variant<verify::CheckRequest, Problem> request = MakeCheckRequest(std::move(given));
    if (const Problem* bad = std::get_if<Problem>(&request)) {
      return Refuse(*state, reply, peer, started, *bad);
    }
    // What the engine decodes counts with what the line protocol's connections hold.
    server::HeldAllowance allowance(*state->heldBudget, state->setup.maxHeldBytes);
    verify::CheckRequest& checked = std::get<verify::CheckRequest>(request);
    checked.allowance = &allowance;
    const verify::VerifyResult result =
        verify::CCrypto(std::move(checked), *state->archive, state->setup.engine).Verify();
    Done(*state, reply, peer, started, server::CheckSummary(result),
         {200, "application/json", CheckAnswerJson(result, htmlReport), {}});
  }
};

class CheckExchange : public platform::HttpExchange {
 public:
  CheckExchange(std::shared_ptr<State> frontState, bool jsonBody, std::string peer)
      : job(std::make_shared<Job>()) {
    job->state = std::move(frontState);
    job->json = jsonBody;
    job->peer = std::move(peer);
    job->started = Clock::now();
    if (!jsonBody) job->form.emplace(job->state->setup.body);
  }

  bool Take(std::string_view field, uint64_t offset, std::string_view piece) override {
    if (!job->json) {
      problem = job->form->Take(field, offset, piece);
      return !problem;
    }
    if (job->jsonBody.size() + piece.size() > job->state->setup.maxJsonBytes) {
      problem = TooLarge(job->state->setup.maxJsonBytes, true);
      return false;
    }
    job->jsonBody.append(piece);
    return true;
  }

  void Finish(platform::HttpBodyEnd end, platform::HttpReply reply) override {
    State& state = *job->state;
    if (!problem && end == platform::HttpBodyEnd::kMalformed) {
      problem = Problem{ProblemType::kMalformedBody,
                        "the multipart/form-data body does not parse or ends early"};
    }
    if (problem) return Refuse(state, reply, job->peer, job->started, *problem);
    job->reply = reply;
    PoolTask task{
        [job = job] { job->Run(); },
        [job = job] { Refuse(*job->state, job->reply, job->peer, job->started, kStopping); }};
    if (!state.pool->Submit(task)) {
      Refuse(state, reply, job->peer, job->started, state.stopping.load() ? kStopping : kBusy);
    }
  }

 private:
  std::shared_ptr<Job> job;
  std::optional<Problem> problem;
};

bool HasPrefix(const std::string* value, std::string_view prefix) {
  return value != nullptr && value->size() >= prefix.size() &&
         strncasecmp(value->c_str(), prefix.data(), prefix.size()) == 0;
}

class CheckService : public platform::HttpService {
 public:
  explicit CheckService(std::shared_ptr<State> frontState) : state(std::move(frontState)) {}

  platform::HttpBegun Begin(const platform::HttpRequest& request) override {
    if (request.path != kEndpointsCheck) return state->Counted(request.path, Other(request));
    if (request.method != "POST") {
      return state->Counted(
          request.path,
          ProblemAnswer({ProblemType::kMethodNotAllowed, "use POST"}, request.path, "POST"));
    }
    const bool json = HasPrefix(request.Header("Content-Type"), "application/json");
    if (const std::optional<Problem> refused = RefusalOf(request, json)) {
      platform::LogAt(platform::LogLevel::kInfo, server::texts::kLogRequestFormat,
                      request.peer.c_str(), "POST /v1/check", Summary(*refused).c_str(), 0LL);
      return state->Counted(request.path, ProblemAnswer(*refused, request.path));
    }
    return std::make_unique<CheckExchange>(state, json, request.peer);
  }

 private:
  // RefusalOf is why a verification request is refused before its body is read: the front
  // stops or is full, the body is of no type it reads, has no length, or is too large.
  std::optional<Problem> RefusalOf(const platform::HttpRequest& request, bool json) const {
    const std::string* length = request.Header("Content-Length");
    const uint64_t limit = json ? state->setup.maxJsonBytes : state->setup.http.maxBodyBytes;
    uint64_t bytes = 0;
    if (state->stopping.load()) return kStopping;
    if (state->Full()) return kBusy;
    if (!json && !HasPrefix(request.Header("Content-Type"), "multipart/form-data")) {
      return Problem{ProblemType::kUnsupportedMediaType,
                     "send multipart/form-data or application/json"};
    }
    if (length == nullptr) {
      if (HasPrefix(request.Header("Transfer-Encoding"), "chunked")) return std::nullopt;
      return Problem{ProblemType::kLengthRequired, "give Content-Length or send chunked"};
    }
    const auto [end, error] =
        std::from_chars(length->data(), length->data() + length->size(), bytes);
    if (error != std::errc() || bytes > limit) return TooLarge(limit, json);
    return std::nullopt;
  }

  // Other answers every path but the verification's.
  platform::HttpAnswer Other(const platform::HttpRequest& request) const {
    std::optional<platform::HttpAnswer> file = StaticFile(request.path);
    if (!file) return ProblemAnswer({ProblemType::kNotFound, "no such resource"}, request.path);
    if (request.method != "GET" && request.method != "HEAD") {
      return ProblemAnswer({ProblemType::kMethodNotAllowed, "use GET"}, request.path, "GET, HEAD");
    }
    return *file;
  }

  std::shared_ptr<State> state;
};

class FrontStatusOf : public server::FrontStatus {
 public:
  explicit FrontStatusOf(std::shared_ptr<State> frontState) : state(std::move(frontState)) {}

  void AppendMetrics(platform::PrometheusText& page) const override {
    const CheckPool& pool = *state->pool;
    state->metrics.Append(page, {pool.Busy(), pool.Workers(), pool.Waiting()});
  }

  std::string Unavailable() const override {
    if (state->stopping.load()) return "HTTP: stopping";
    if (!state->Full()) return {};
    return "HTTP: all " + std::to_string(state->pool->Workers()) + " workers busy and " +
           std::to_string(state->pool->Waiting()) + " requests waiting";
  }

 private:
  std::shared_ptr<State> state;
};

}  // namespace

FrontStart HttpFront::Start(const FrontSetup& setup,
                            std::shared_ptr<verify::TmpCertArhive> archive,
                            std::shared_ptr<server::HeldBudget> heldBudget) {
  auto state = std::make_shared<State>();
  state->setup = setup;
  state->archive = std::move(archive);
  state->heldBudget = std::move(heldBudget);
  CheckPoolStart pool = CheckPool::Start(setup.workers, setup.maxWaiting);
  std::string failure;
  if (std::string* why = std::get_if<std::string>(&pool)) {
    failure = *why;
  } else {
    state->pool = std::move(std::get<0>(pool));
  }
  std::unique_ptr<HttpFront> front(new HttpFront(state));
  if (failure.empty()) {
    platform::HttpListenerStart listening = platform::HttpListener::Start(
        setup.listen.address, setup.listen.port, setup.http, std::make_shared<CheckService>(state));
    if (std::string* why = std::get_if<std::string>(&listening)) {
      failure = *why;
    } else {
      front->listener = std::move(std::get<0>(listening));
    }
  }
  if (!failure.empty()) {
    const std::string detail = platform::FormatText(
        server::texts::kLogEndpointFailed, "HTTP API", setup.listen.address.c_str(),
        static_cast<int>(setup.listen.port), failure.c_str());
    platform::LogAt(platform::LogLevel::kError, "%s", detail.c_str());
    return detail;
  }
  platform::LogAt(platform::LogLevel::kNotice, server::texts::kLogEndpointListening, "HTTP API",
                  setup.listen.address.c_str(), static_cast<int>(front->BoundPort()));
  return front;
}

HttpFront::HttpFront(std::shared_ptr<FrontState> frontState) : state(std::move(frontState)) {}

HttpFront::~HttpFront() { Stop(); }

int HttpFront::Stop() {
  if (stuck >= 0) return stuck;
  state->stopping.store(true);
  stuck = state->pool != nullptr ? state->pool->Stop(state->setup.stopAllowance) : 0;
  listener.reset();
  return stuck;
}

uint16_t HttpFront::BoundPort() const { return listener ? listener->BoundPort() : 0; }

std::shared_ptr<const server::FrontStatus> HttpFront::Status() const {
  return std::make_shared<FrontStatusOf>(state);
}

}  // namespace api
