#include <microhttpd.h>
#include <strings.h>

#include <atomic>
#include <optional>
#include <system_error>
#include <unordered_set>
#include <utility>

#include "platform/base/mutex.h"
#include "platform/os/http_listener.h"
#include "platform/os/socket.h"

namespace platform {

// HttpPendingReply is where an exchange's answer waits for the listener's thread, and how a
// connection that waits for it is woken.
struct HttpPendingReply {
  enum class State {
    kTaking,     // the body is arriving, or Finish runs
    kSuspended,  // the connection waits for Send
    kGone,       // answered, or the listener stops: Send does nothing
  };
  Mutex lock;
  State state GUARDED_BY(lock) = State::kTaking;
  std::optional<HttpAnswer> answer GUARDED_BY(lock);
  MHD_Connection* connection;  // valid while suspended
};

namespace {

// The PostProcessor's buffer: it must hold a part's headers.
constexpr size_t kFormBuffer = 16 * 1024;

HttpAnswer Unavailable() { return {503, "text/plain; charset=utf-8", "stopping\n", {}}; }

// The state of one request whose body an exchange takes; deleted when the request ends.
struct RequestState {
  ~RequestState() {
    if (form != nullptr) MHD_destroy_post_processor(form);
  }
  std::unique_ptr<HttpExchange> exchange;
  std::shared_ptr<HttpPendingReply> pending;
  MHD_PostProcessor* form = nullptr;  // for a multipart/form-data body
  bool formBroken = false;
  bool refused = false;  // the exchange refused a piece: the rest is dropped
  bool finished = false;
  uint64_t bodyBytes = 0;
};

// The service that answers with a plain handler.
class HandlerService : public HttpService {
 public:
  explicit HandlerService(HttpHandler answer) : handler(std::move(answer)) {}
  HttpBegun Begin(const HttpRequest& request) override {
    return handler(request.method, request.path);
  }

 private:
  HttpHandler handler;
};

MHD_Result Queue(MHD_Connection* connection, const HttpAnswer& answer) {
  MHD_Response* response = MHD_create_response_from_buffer(
      answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
  for (const auto& [name, value] : answer.headers) {
    MHD_add_response_header(response, name.c_str(), value.c_str());
  }
  const MHD_Result queued =
      MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result CopyHeader(void* headers, MHD_ValueKind /*kind*/, const char* name, const char* value) {
  static_cast<HttpHeaders*>(headers)->emplace_back(name, value != nullptr ? value : "");
  return MHD_YES;
}

HttpRequest RequestOf(MHD_Connection* connection, const char* method, const char* url) {
  HttpRequest request{method, url, "", {}};
  MHD_get_connection_values(connection, MHD_HEADER_KIND, &CopyHeader, &request.headers);
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  if (info != nullptr) request.peer = PeerEndpoint(info->connect_fd);
  return request;
}

bool IsForm(const HttpRequest& request) {
  const std::string* type = request.Header(MHD_HTTP_HEADER_CONTENT_TYPE);
  constexpr std::string_view kForm = MHD_HTTP_POST_ENCODING_MULTIPART_FORMDATA;
  return type != nullptr && type->size() >= kForm.size() &&
         strncasecmp(type->c_str(), kForm.data(), kForm.size()) == 0;
}

MHD_Result FormPiece(void* context, MHD_ValueKind /*kind*/, const char* key,
                     const char* /*filename*/, const char* /*contentType*/,
                     const char* /*transferEncoding*/, const char* data, uint64_t offset,
                     size_t size) {
  RequestState& state = *static_cast<RequestState*>(context);
  if (state.exchange->Take(key, offset, std::string_view(data, size))) return MHD_YES;
  state.refused = true;
  return MHD_NO;
}

}  // namespace

const std::string* HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) {
      return &value;
    }
  }
  return nullptr;
}

void HttpReply::Send(HttpAnswer answer) const {
  if (pending == nullptr) return;
  const MutexLock guard(pending->lock);
  if (pending->state == HttpPendingReply::State::kGone || pending->answer) return;
  pending->answer = std::move(answer);
  if (pending->state == HttpPendingReply::State::kSuspended) {
    pending->state = HttpPendingReply::State::kGone;
    MHD_resume_connection(pending->connection);
  }
}

struct HttpListener::Daemon {
  std::shared_ptr<HttpService> service;
  uint64_t maxBodyBytes = 0;
  std::unique_ptr<ConnectionDeadlines> deadlines;
  std::atomic<bool> stopping{false};
  Mutex waitingLock;
  // The replies of the requests whose exchange has begun.
  std::unordered_set<std::shared_ptr<HttpPendingReply>> waiting GUARDED_BY(waitingLock);
  MHD_Daemon* daemon = nullptr;

  // Stop stops the daemon and joins its thread. Returns false when the daemon closed the
  // listening socket itself; quiescing first hands it back, so that normally the listener's
  // UniqueFd alone closes it.
  bool Stop();
  MHD_Result Dispatch(MHD_Connection* connection, const char* url, const char* method,
                      const char* data, size_t* size, void** context);
  // Answer queues what the exchange of `state` answered, or suspends the connection until it
  // does.
  MHD_Result Answer(MHD_Connection* connection, RequestState& state);

  // libmicrohttpd's callbacks, with the daemon as their context.
  static MHD_Result OnRequest(void* daemon, MHD_Connection* connection, const char* url,
                              const char* method, const char* version, const char* data,
                              size_t* size, void** context);
  static void OnRequestEnded(void* daemon, MHD_Connection* connection, void** context,
                             MHD_RequestTerminationCode code);
  static void OnConnection(void* daemon, MHD_Connection* connection, void** socketContext,
                           MHD_ConnectionNotificationCode change);
};

bool HttpListener::Daemon::Stop() {
  stopping.store(true);
  const MHD_socket returned = MHD_quiesce_daemon(daemon);
  std::vector<std::shared_ptr<HttpPendingReply>> replies;
  {
    const MutexLock guard(waitingLock);
    replies.assign(waiting.begin(), waiting.end());
  }
  // libmicrohttpd must not be stopped with a connection suspended: each waiting one is woken
  // with a plain 503, and its exchange's later reply goes nowhere.
  for (const std::shared_ptr<HttpPendingReply>& reply : replies) {
    const MutexLock guard(reply->lock);
    if (reply->state == HttpPendingReply::State::kSuspended) {
      reply->answer = Unavailable();
      MHD_resume_connection(reply->connection);
    }
    reply->state = HttpPendingReply::State::kGone;
  }
  MHD_stop_daemon(daemon);
  return returned != MHD_INVALID_SOCKET;
}

MHD_Result HttpListener::Daemon::Dispatch(MHD_Connection* connection, const char* url,
                                          const char* method, const char* data, size_t* size,
                                          void** context) {
  auto* state = static_cast<RequestState*>(*context);
  if (state == nullptr) {
    // The head is complete: from here the idle time-out alone bounds the connection.
    deadlines->Disarm(connection);
    const HttpRequest request = RequestOf(connection, method, url);
    HttpBegun begun = service->Begin(request);
    if (const HttpAnswer* answer = std::get_if<HttpAnswer>(&begun))
      return Queue(connection, *answer);
    auto owned = std::make_unique<RequestState>();
    state = owned.get();
    *context = owned.release();  // libmicrohttpd keeps it; OnRequestEnded deletes it
    state->exchange = std::move(std::get<1>(begun));
    state->pending = std::make_shared<HttpPendingReply>();
    state->pending->connection = connection;
    if (IsForm(request)) {
      state->form = MHD_create_post_processor(connection, kFormBuffer, &FormPiece, state);
      state->formBroken = state->form == nullptr;  // no boundary, say
    }
    const MutexLock guard(waitingLock);
    waiting.insert(state->pending);
    return MHD_YES;
  }
  if (*size != 0) {
    const uint64_t offset = state->bodyBytes;
    state->bodyBytes += *size;
    if (maxBodyBytes != 0 && state->bodyBytes > maxBodyBytes) return MHD_NO;
    if (!state->refused && !state->formBroken) {
      if (state->form != nullptr) {
        if (MHD_post_process(state->form, data, *size) != MHD_YES && !state->refused) {
          state->formBroken = true;
        }
      } else if (!state->exchange->Take({}, offset, std::string_view(data, *size))) {
        state->refused = true;
      }
    }
    *size = 0;
    return MHD_YES;
  }
  if (!state->finished) {
    state->finished = true;
    if (state->form != nullptr) {
      // A body cut off before its last boundary leaves the processor unfinished.
      if (MHD_destroy_post_processor(state->form) != MHD_YES && !state->refused) {
        state->formBroken = true;
      }
      state->form = nullptr;
    }
    const HttpBodyEnd end = state->formBroken ? HttpBodyEnd::kMalformed
                            : state->refused  ? HttpBodyEnd::kSkipped
                                              : HttpBodyEnd::kComplete;
    state->exchange->Finish(end, HttpReply(state->pending));
  }
  return Answer(connection, *state);
}

MHD_Result HttpListener::Daemon::Answer(MHD_Connection* connection, RequestState& state) {
  HttpPendingReply& reply = *state.pending;
  HttpAnswer answer;
  {
    const MutexLock guard(reply.lock);
    if (reply.answer) {
      answer = std::move(*reply.answer);
      reply.answer.reset();
    } else if (reply.state == HttpPendingReply::State::kGone || stopping.load()) {
      answer = Unavailable();
    } else {
      reply.state = HttpPendingReply::State::kSuspended;
      MHD_suspend_connection(connection);
      return MHD_YES;
    }
    reply.state = HttpPendingReply::State::kGone;
  }
  return Queue(connection, answer);
}

MHD_Result HttpListener::Daemon::OnRequest(void* daemon, MHD_Connection* connection,
                                           const char* url, const char* method,
                                           const char* /*version*/, const char* data, size_t* size,
                                           void** context) {
  return static_cast<Daemon*>(daemon)->Dispatch(connection, url, method, data, size, context);
}

void HttpListener::Daemon::OnRequestEnded(void* daemon, MHD_Connection* connection, void** context,
                                          MHD_RequestTerminationCode /*code*/) {
  Daemon& self = *static_cast<Daemon*>(daemon);
  // The next request's head is due within the allowance from now.
  self.deadlines->Arm(connection);
  const std::unique_ptr<RequestState> state(static_cast<RequestState*>(*context));
  *context = nullptr;
  if (state == nullptr) return;
  const MutexLock guard(self.waitingLock);
  self.waiting.erase(state->pending);
}

void HttpListener::Daemon::OnConnection(void* daemon, MHD_Connection* connection,
                                        void** /*socketContext*/,
                                        MHD_ConnectionNotificationCode change) {
  ConnectionDeadlines& deadlines = *static_cast<Daemon*>(daemon)->deadlines;
  if (change == MHD_CONNECTION_NOTIFY_CLOSED) {
    // libmicrohttpd closes the socket only after this call.
    deadlines.Closed(connection);
    return;
  }
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  if (info != nullptr) deadlines.Opened(connection, info->connect_fd);
}

HttpListenerStart HttpListener::Start(const std::string& address, uint16_t port,
                                      const HttpLimits& limits, HttpHandler handler) {
  return Start(address, port, limits, std::make_shared<HandlerService>(std::move(handler)));
}

HttpListenerStart HttpListener::Start(const std::string& address, uint16_t port,
                                      const HttpLimits& limits,
                                      std::shared_ptr<HttpService> service) {
  ListenResult listening = OpenListenSocket(address, port, static_cast<int>(limits.maxConnections));
  if (listening.failedAt != ListenStep::kDone) {
    const char* step = listening.failedAt == ListenStep::kListen ? "listen" : "bind";
    return std::string(step) + ": " + listening.reason;
  }
  std::unique_ptr<HttpListener> listener(new HttpListener(std::move(listening.fd)));
  auto daemon = std::make_unique<Daemon>();
  daemon->service = std::move(service);
  daemon->maxBodyBytes = limits.maxBodyBytes;
  try {
    daemon->deadlines = std::make_unique<ConnectionDeadlines>(limits.headDeadline);
  } catch (const std::system_error& error) {
    return std::string("thread: ") + error.what();
  }
  void* callbacks = daemon.get();
  daemon->daemon = MHD_start_daemon(
      MHD_USE_AUTO_INTERNAL_THREAD | MHD_USE_ITC | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr,
      &Daemon::OnRequest, callbacks, MHD_OPTION_LISTEN_SOCKET,
      static_cast<MHD_socket>(listener->listenSocket.get()), MHD_OPTION_CONNECTION_LIMIT,
      limits.maxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits.maxConnectionsPerAddress,
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(limits.idleTimeout.count()),
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.connectionMemory, MHD_OPTION_NOTIFY_COMPLETED,
      &Daemon::OnRequestEnded, callbacks, MHD_OPTION_NOTIFY_CONNECTION, &Daemon::OnConnection,
      callbacks, MHD_OPTION_END);
  if (daemon->daemon == nullptr) return std::string("the HTTP daemon did not start");
  listener->daemon = std::move(daemon);
  return listener;
}

HttpListener::HttpListener(UniqueFd socket) : listenSocket(std::move(socket)) {}

HttpListener::~HttpListener() {
  if (daemon != nullptr && !daemon->Stop()) (void)listenSocket.release();
}

uint16_t HttpListener::BoundPort() const { return LocalPort(listenSocket.get()); }

}  // namespace platform
