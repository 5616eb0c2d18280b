#include "service/server.h"

#include "service/answer.h"
#include "service/layout.h"
#include "service/recognition.h"

#include <arpa/inet.h>
#include <leptonica/allheaders.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <future>

namespace quillore::service {

struct Server::Connection {
  int fd = -1;
  std::string address;
  std::chrono::steady_clock::time_point headersFrom = std::chrono::steady_clock::now();
  bool awaitingHeaders = true;
};

struct Server::Job {
  MHD_Connection* connection = nullptr;
  int fd = -1;
  std::shared_ptr<Cancellation> cancellation;
  // Set once by Finish, before the connection is resumed; read by the connection's thread after.
  std::atomic<bool> finished = false;
  Reply reply;
  bool clientGone = false;
};

namespace {

using Clock = std::chrono::steady_clock;

// A body over the limit is read and thrown away up to this many times the limit, then cut off.
constexpr std::int64_t kMaxDiscardFactor = 2;
// On stop, the 503s for abandoned work get this long to go out before connections are closed.
constexpr auto kStopGrace = std::chrono::seconds(2);
// Connections handled by each of this many threads; a body is parsed on its connection's thread.
constexpr unsigned kConnectionThreads = 4;
// Connections beyond the limit that are still taken, to be told 503 instead of being reset.
constexpr int kRefusalHeadroom = 64;
// How often deadlines and vanished clients are looked for.
constexpr auto kWatchInterval = std::chrono::milliseconds(100);
constexpr const char* kRequestIdHeader = "X-Request-Id";

// What one request collects between the calls of the access handler.
struct RequestState {
  std::string id; // the client's X-Request-Id when acceptable, else a new one
  std::string method;
  std::string path;
  Route route = Route::Other;
  Clock::time_point start = Clock::now();
  std::unique_ptr<RequestBodyReader> body; // read as it arrives, never held whole
  std::uint64_t received = 0;
  bool isOcr = false;
  bool tooLarge = false;
  int status = 0;
  Refusal refusal = Refusal::None;
  std::size_t sent = 0;
  std::shared_ptr<Server::Job> job; // while a worker has the request
  bool clientGone = false;
  Server* server = nullptr;
  bool logged = false;
};

// The request's line in the log, and its count in the metrics. Written when the reply is queued,
// before it goes out: a client that sends its next request on another connection at once finds the
// lines in the order of the replies.
void LogRequest(RequestState& state, const char* note) {
  const Clock::duration took = Clock::now() - state.start;
  RequestLogEntry entry;
  entry.id = state.id;
  entry.method = state.method;
  entry.path = state.path;
  entry.status = state.status;
  entry.received = state.received;
  entry.sent = state.sent;
  entry.milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
  entry.note = note;
  state.server->RequestAnswered(entry, state.route, state.refusal,
                                std::chrono::duration<double>(took).count());
  state.logged = true;
}

Reply Error(int status, std::string_view message, Refusal refusal = Refusal::None) {
  return {status, WriteError(message), refusal};
}

// `close`: the connection ends after the reply, for a request whose framing cannot be trusted or a
// client that is over a limit.
MHD_Result Send(MHD_Connection* connection, RequestState& state, const Reply& reply, bool close = false) {
  MHD_Response* response = MHD_create_response_from_buffer(
      reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) {
    return MHD_NO;
  }
  MHD_add_response_header(response, "Content-Type",
                          reply.contentType != nullptr ? reply.contentType
                                                       : "application/json; charset=utf-8");
  MHD_add_response_header(response, "Cache-Control", "no-store");
  MHD_add_response_header(response, kRequestIdHeader, state.id.c_str());
  if (reply.status == 405) {
    MHD_add_response_header(response, "Allow", state.isOcr ? "POST" : "GET, HEAD");
  }
  if (reply.status == 503) {
    MHD_add_response_header(response, "Retry-After", "1");
  }
  if (close) {
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  }
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
  MHD_destroy_response(response);
  if (queued == MHD_YES) {
    state.status = reply.status;
    state.refusal = reply.refusal != Refusal::None ? reply.refusal : RefusalOfStatus(reply.status);
    state.sent = reply.body.size();
    LogRequest(state, "");
  }
  return queued;
}

void LogMhdMessage(void* cls, const char* format, va_list args) {
  char buffer[512];
  std::vsnprintf(buffer, sizeof buffer, format, args);
  std::string line = "libmicrohttpd: ";
  line += buffer;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.pop_back();
  }
  static_cast<Server*>(cls)->Log(line);
}

std::string AddressOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  char text[INET6_ADDRSTRLEN] = "";
  if (info != nullptr && info->client_addr != nullptr) {
    if (info->client_addr->sa_family == AF_INET) {
      inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr, text,
                sizeof text);
    } else if (info->client_addr->sa_family == AF_INET6) {
      inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(info->client_addr)->sin6_addr, text,
                sizeof text);
    }
  }
  return text;
}

Server::Connection* ConnectionOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info != nullptr ? static_cast<Server::Connection*>(info->socket_context) : nullptr;
}

void OnConnection(void* cls, MHD_Connection* connection, void** socketContext,
                  MHD_ConnectionNotificationCode code) {
  auto* server = static_cast<Server*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
    server->ConnectionClosed(static_cast<Server::Connection*>(*socketContext));
    *socketContext = nullptr;
    return;
  }
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  if (info == nullptr) {
    return;
  }
  // Replies go out in one write; without this, a small answer waits for the client's delayed ACK.
  int on = 1;
  setsockopt(info->connect_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  *socketContext = server->ConnectionOpened(info->connect_fd, AddressOf(connection));
}

// While stopping, new clients are closed as soon as they are accepted, so that they (or a balancer in
// front) learn at once to go elsewhere. The daemon's own quiesce call races with its threads: one of
// them may take the listening socket out of its epoll set first, and the library then aborts.
MHD_Result AcceptUnlessStopping(void* cls, const sockaddr*, socklen_t) {
  return static_cast<Server*>(cls)->Stopping() ? MHD_NO : MHD_YES;
}

void OnCompleted(void* cls, MHD_Connection* connection, void** context, MHD_RequestTerminationCode code) {
  auto* state = static_cast<RequestState*>(*context);
  if (state == nullptr) {
    return;
  }
  *context = nullptr;
  if (Server::Connection* open = ConnectionOf(connection)) {
    static_cast<Server*>(cls)->ReplySent(open);
  }
  const char* note = code == MHD_REQUEST_TERMINATED_COMPLETED_OK      ? ""
                     : code == MHD_REQUEST_TERMINATED_TIMEOUT_REACHED ? "timed out"
                     : code == MHD_REQUEST_TERMINATED_CLIENT_ABORT    ? "client went away"
                     : code == MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN ? "shutting down"
                     : code == MHD_REQUEST_TERMINATED_READ_ERROR      ? "read error"
                     : state->clientGone                              ? "client went away"
                     : state->status == 0                             ? "closed"
                                                                      : "";
  if (!state->logged) {
    LogRequest(*state, note);
  }
  delete state;
  static_cast<Server*>(cls)->RequestEnded();
}

// How a request says where its body ends.
struct Framing {
  int lengths = 0;     // Content-Length headers
  bool differ = false; // ... with different values
  bool transferEncoding = false;
  std::string firstLength;
};

MHD_Result CountFraming(void* cls, MHD_ValueKind, const char* key, const char* value) {
  auto* framing = static_cast<Framing*>(cls);
  if (strcasecmp(key, MHD_HTTP_HEADER_CONTENT_LENGTH) == 0) {
    const std::string text = value != nullptr ? value : "";
    if (framing->lengths++ == 0) {
      framing->firstLength = text;
    } else if (text != framing->firstLength) {
      framing->differ = true;
    }
  } else if (strcasecmp(key, MHD_HTTP_HEADER_TRANSFER_ENCODING) == 0) {
    framing->transferEncoding = true;
  }
  return MHD_YES;
}

// Two lengths, or a length beside a transfer coding, leave it open where the body ends; a proxy in
// front may have read it otherwise, and the rest would run as a request of its own.
bool AmbiguousFraming(MHD_Connection* connection) {
  Framing framing;
  MHD_get_connection_values(connection, MHD_HEADER_KIND, &CountFraming, &framing);
  return framing.differ || (framing.lengths > 0 && framing.transferEncoding);
}

std::int64_t ContentLength(MHD_Connection* connection) {
  const char* value =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  if (value == nullptr) {
    return -1;
  }
  char* end = nullptr;
  const unsigned long long length = std::strtoull(value, &end, 10);
  return end == value ? -1 : static_cast<std::int64_t>(std::min<unsigned long long>(length, INT64_MAX));
}

MHD_Result Access(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char* upload, size_t* uploadSize, void** context) {
  auto* server = static_cast<Server*>(cls);
  const ServiceConfig& config = server->Config();
  auto* state = static_cast<RequestState*>(*context);
  if (state == nullptr) {
    state = new RequestState;
    state->server = server;
    server->RequestStarted();
    state->method = method;
    state->path = url;
    state->route = RouteOf(state->path);
    state->isOcr = state->route == Route::Ocr;
    const char* givenId = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, kRequestIdHeader);
    state->id = givenId != nullptr && AcceptableRequestId(givenId) ? givenId : NewRequestId();
    *context = state;
    Server::Connection* open = ConnectionOf(connection);
    if (open != nullptr && !server->HeadersArrived(open)) {
      return Send(connection, *state,
                  Error(503, "too many connections; try again shortly", Refusal::ConnectionLimit), true);
    }
    if (server->Stopping()) {
      return Send(connection, *state, Error(503, "the service is stopping", Refusal::Stopping), true);
    }
    if (AmbiguousFraming(connection)) {
      return Send(connection, *state, Error(400, "conflicting Content-Length or Transfer-Encoding headers"),
                  true);
    }
    // A body announced larger than the limit is refused. A refusal sent before the body is read
    // races the client, which is still sending: the connection closes over the unread rest, and the
    // reset that follows can throw the refusal away before the client reads it. So a body within
    // kMaxDiscardFactor times the limit is read and thrown away first, like one without a length;
    // only a larger one is refused at once.
    const std::int64_t length = ContentLength(connection);
    if (length > config.maxBody) {
      if (length / kMaxDiscardFactor > config.maxBody) {
        return Send(connection, *state, Error(413, "the body is larger than the limit"));
      }
      state->tooLarge = true;
    }
    if (state->isOcr && state->method == "POST" && !state->tooLarge) {
      state->body = server->BodyReader(length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    return MHD_YES;
  }

  if (*uploadSize > 0) {
    state->received += *uploadSize;
    const bool collecting = state->isOcr && state->method == "POST";
    if (static_cast<std::int64_t>(state->received) > config.maxBody) {
      // A body without a length, or longer than it said. The reply can only go out once the body
      // has been read, so the rest is thrown away as it comes, up to kMaxDiscardFactor times the
      // limit; a client that keeps sending beyond that is cut off.
      state->body.reset();
      state->tooLarge = true;
      if (static_cast<std::int64_t>(state->received) / kMaxDiscardFactor > config.maxBody) {
        return MHD_NO;
      }
    }
    if (Clock::now() - state->start > std::chrono::seconds(config.bodyDeadlineSeconds)) {
      return MHD_NO; // a client this slow ties up a connection; drop it
    }
    if (collecting && !state->tooLarge) {
      // A refused body is read no further; the rest is thrown away as it comes, and the refusal goes
      // out once it has all arrived.
      state->body->Feed(std::string_view(upload, *uploadSize));
    }
    *uploadSize = 0;
    return MHD_YES;
  }

  if (state->status != 0) {
    return MHD_YES; // already answered (the announced length was too large)
  }
  if (state->tooLarge) {
    return Send(connection, *state, Error(413, "the body is larger than the limit"));
  }
  if (state->job) {
    // Called again once the recognition was answered and the connection resumed.
    const std::shared_ptr<Server::Job> job = std::move(state->job);
    if (job->clientGone) {
      state->clientGone = true;
      return MHD_NO;
    }
    return Send(connection, *state, job->reply);
  }
  if (state->isOcr) {
    if (state->method != "POST") {
      return Send(connection, *state, Error(405, "use POST for /api/ocr"));
    }
    // The connection's thread serves many connections: it waits for no worker.
    state->job = server->Suspend(connection, ConnectionOf(connection), *state->body);
    state->body.reset();
    return MHD_YES;
  }
  if (state->route != Route::Other) {
    if (state->method != "GET" && state->method != "HEAD") {
      return Send(connection, *state, Error(405, "use GET for " + state->path));
    }
    switch (state->route) {
    case Route::Ready:
      return Send(connection, *state, server->HandleReady());
    case Route::Metrics:
      return Send(connection, *state, server->HandleMetrics());
    default:
      return Send(connection, *state, server->HandleHealth());
    }
  }
  return Send(connection, *state, Error(404, "no such path; recognition is POST /api/ocr"));
}

// Names from the body are quoted in refusals up to this length.
constexpr std::size_t kQuotedNameLimit = 64;
constexpr std::string_view kLayoutValues = "\"layout\" must be \"lines\" or \"raw\"";

// The refusal for a body that is not a valid request, from the first thing wrong with it; a token
// that is missing, wrong or not a string is a 401 wherever it was found.
std::optional<Reply> BodyRefusal(RequestBodyReader& reader) {
  const bool complete = reader.Finish();
  const std::string& member = reader.FaultMember();
  const std::string quoted = "\"" + member.substr(0, kQuotedNameLimit) + "\"";
  const std::string at = " (at byte " + std::to_string(reader.FaultOffset()) + ")";
  const std::string picture = std::string("\"") + protocol::kPictureField + "\"";
  switch (reader.Fault()) {
  case BodyFault::None:
    break;
  case BodyFault::Syntax:
    return Error(400, "the body is not a JSON object of string members" + at);
  case BodyFault::NotAString:
    if (member == protocol::kTokenField) {
      return Error(401, "wrong token");
    }
    if (member == protocol::kLayoutField) {
      return Error(400, kLayoutValues);
    }
    return Error(
        400, quoted +
                 (member == protocol::kPictureField ? " is missing or not a string" : " is not a string") +
                 at);
  case BodyFault::TooLong:
    return Error(400,
                 "a member name or value is longer than " + std::to_string(kMaxShortString) + " bytes" + at);
  case BodyFault::Duplicate:
    return Error(400, quoted + " appears twice" + at);
  case BodyFault::PictureBase64:
    return Error(400, picture + " is not valid Base64" + at);
  case BodyFault::Refused:
    return member == protocol::kLayoutField ? Error(400, kLayoutValues) : Error(401, "wrong token");
  }
  if (!complete) {
    return Error(400, "the body is not a JSON object of string members");
  }
  if (!reader.Member(protocol::kTokenField)) {
    return Error(401, "wrong token");
  }
  if (!reader.HasPicture()) {
    return Error(400, picture + " is missing or not a string");
  }
  return std::nullopt;
}

// Compares without an early exit, so the time taken says nothing about how much of a token matched.
bool SameToken(std::string_view given, std::string_view expected) {
  if (given.size() != expected.size()) {
    return false;
  }
  unsigned diff = 0;
  for (std::size_t i = 0; i < given.size(); ++i) {
    diff |= static_cast<unsigned char>(given[i]) ^ static_cast<unsigned char>(expected[i]);
  }
  return diff == 0;
}

} // namespace

Server::Server(const ServiceConfig& config, LogSink log) : config_(config), log_(std::move(log)) {}

Server::~Server() {
  Stop();
}

Server::Connection* Server::ConnectionOpened(int fd, std::string address) {
  auto* connection = new Connection;
  connection->fd = fd;
  connection->address = std::move(address);
  std::lock_guard lock(mutex_);
  connections_.insert(connection);
  ++perAddress_[connection->address];
  return connection;
}

void Server::ConnectionClosed(Connection* connection) {
  if (connection == nullptr) {
    return;
  }
  {
    // Called before the socket is closed: while the watcher holds the lock, the descriptor it may
    // shut down is still this connection's.
    std::lock_guard lock(mutex_);
    connections_.erase(connection);
    if (--perAddress_[connection->address] <= 0) {
      perAddress_.erase(connection->address);
    }
  }
  delete connection;
}

bool Server::HeadersArrived(Connection* connection) {
  std::lock_guard lock(mutex_);
  connection->awaitingHeaders = false;
  if (static_cast<int>(connections_.size()) > config_.connectionLimit) {
    return false;
  }
  return config_.perAddressLimit <= 0 || perAddress_[connection->address] <= config_.perAddressLimit;
}

void Server::ReplySent(Connection* connection) {
  std::lock_guard lock(mutex_);
  connection->awaitingHeaders = true;
  connection->headersFrom = Clock::now();
}

std::shared_ptr<Server::Job> Server::Suspend(void* mhdConnection, Connection* connection,
                                             RequestBodyReader& body) {
  auto job = std::make_shared<Job>();
  job->connection = static_cast<MHD_Connection*>(mhdConnection);
  job->fd = connection != nullptr ? connection->fd : -1;
  job->cancellation =
      std::make_shared<Cancellation>(Clock::now() + std::chrono::seconds(config_.requestTimeoutSeconds));
  {
    std::lock_guard lock(mutex_);
    jobs_.insert(job);
  }
  // Suspended before a worker can answer, so the resume never comes first.
  MHD_suspend_connection(job->connection);
  std::optional<Reply> refusal =
      StartRecognition(body, job->cancellation, [this, job](Reply reply) { Finish(job, std::move(reply)); });
  if (refusal) {
    Finish(job, std::move(*refusal));
  }
  return job;
}

void Server::Finish(const std::shared_ptr<Job>& job, Reply reply, bool clientGone) {
  if (job->finished.exchange(true)) {
    return; // answered already: by the worker, or past the deadline, or on stop
  }
  job->reply = std::move(reply);
  job->clientGone = clientGone;
  job->cancellation->Cancel();
  pool_.Prune();
  MHD_resume_connection(job->connection);
  {
    std::lock_guard lock(mutex_);
    jobs_.erase(job);
  }
  changed_.notify_all();
}

std::vector<std::shared_ptr<Server::Job>> Server::Jobs() {
  std::lock_guard lock(mutex_);
  return {jobs_.begin(), jobs_.end()};
}

void Server::Watch() {
  const auto headerDeadline = std::chrono::seconds(config_.headerDeadlineSeconds);
  std::unique_lock lock(mutex_);
  while (watching_) {
    changed_.wait_for(lock, kWatchInterval);
    const Clock::time_point now = Clock::now();
    int cutOff = 0;
    for (Connection* connection : connections_) {
      if (connection->awaitingHeaders && now - connection->headersFrom > headerDeadline) {
        // The connection's thread sees the end of the stream and closes it.
        shutdown(connection->fd, SHUT_RDWR);
        connection->awaitingHeaders = false;
        ++cutOff;
      }
    }
    std::vector<std::shared_ptr<Job>> jobs(jobs_.begin(), jobs_.end());
    lock.unlock();
    if (cutOff > 0) {
      Log("closed " + std::to_string(cutOff) + " connection(s) without a request after " +
          std::to_string(config_.headerDeadlineSeconds) + " s");
    }
    for (const std::shared_ptr<Job>& job : jobs) {
      // A suspended connection is not read, so a client that closed is only seen by looking.
      pollfd watch{job->fd, POLLRDHUP, 0};
      if (job->fd >= 0 && poll(&watch, 1, 0) == 1 && (watch.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
        Finish(job, {}, true);
      } else if (now >= job->cancellation->Deadline()) {
        Finish(job, Error(503,
                          "no answer within " + std::to_string(config_.requestTimeoutSeconds) +
                              " s; try again later or with a smaller picture",
                          Refusal::Timeout));
      }
    }
    lock.lock();
  }
}

void Server::Log(std::string_view line) const {
  if (log_) {
    log_(FormatMessage(line, config_.logFormat));
  }
}

void Server::RequestAnswered(const RequestLogEntry& entry, Route route, Refusal refusal, double seconds) {
  if (entry.status != 0) {
    metrics_.CountRequest(route, entry.status, refusal, seconds);
  }
  if (log_) {
    log_(FormatRequestLine(entry, config_.logFormat));
  }
}

std::unique_ptr<Server> Server::Start(const ServiceConfig& config, const WorkerPool::EngineFactory& factory,
                                      LogSink log, std::string& error) {
  // Leptonica reports every undecodable picture on stderr; refusals already say it, once.
  setMsgSeverity(L_SEVERITY_NONE);
  std::unique_ptr<Server> server(new Server(config, std::move(log)));
  if (!server->pool_.Start(factory, config.workers, config.queueLength, error)) {
    return nullptr;
  }

  sockaddr_storage address{};
  // A few threads watch every connection; recognition waits on the worker pool with its connection
  // suspended, so slow clients cost sockets, not threads.
  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_TLS | MHD_USE_ERROR_LOG;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (inet_pton(AF_INET, config.address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<std::uint16_t>(config.port));
  } else if (inet_pton(AF_INET6, config.address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<std::uint16_t>(config.port));
    flags |= MHD_USE_IPv6;
  } else {
    error = "not a numeric IP address: " + config.address;
    return nullptr;
  }

  // The connection limit is enforced after the headers, with a 503; the daemon's own limit, which
  // resets connections, lies a little beyond it.
  server->daemon_ = MHD_start_daemon(
      flags, 0, &AcceptUnlessStopping, server.get(), &Access, server.get(), MHD_OPTION_EXTERNAL_LOGGER,
      &LogMhdMessage, server.get(), MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_HTTPS_MEM_CERT,
      config.certificatePem.c_str(), MHD_OPTION_HTTPS_MEM_KEY, config.keyPem.c_str(),
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(config.idleTimeoutSeconds),
      MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(config.connectionLimit + kRefusalHeadroom),
      MHD_OPTION_THREAD_POOL_SIZE, kConnectionThreads, MHD_OPTION_NOTIFY_COMPLETED, &OnCompleted,
      server.get(), MHD_OPTION_NOTIFY_CONNECTION, &OnConnection, server.get(), MHD_OPTION_END);
  if (server->daemon_ == nullptr) {
    error = "cannot listen on " + config.address + " port " + std::to_string(config.port) +
            " (in use, not an address of this machine, or the certificate and key do not fit)";
    return nullptr;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(server->daemon_, MHD_DAEMON_INFO_BIND_PORT);
  server->port_ = info != nullptr ? info->port : config.port;
  server->watching_ = true;
  server->watcher_ = std::thread([raw = server.get()] { raw->Watch(); });
  return server;
}

void Server::Stop() {
  if (daemon_ == nullptr) {
    pool_.Stop();
    return;
  }
  stopping_ = true;
  pool_.StopTaking(); // queued requests are answered 503 now
  {
    // Running work gets the stop timeout to be answered; closing the connections earlier could cut
    // off replies that are ready but not yet sent.
    std::unique_lock lock(requestsMutex_);
    requestsDone_.wait_for(lock, std::chrono::seconds(config_.stopTimeoutSeconds),
                           [this] { return requests_ == 0; });
  }
  for (const std::shared_ptr<Job>& job : Jobs()) {
    Finish(job, Error(503, "the service is stopping", Refusal::Stopping));
  }
  {
    std::unique_lock lock(requestsMutex_);
    requestsDone_.wait_for(lock, kStopGrace, [this] { return requests_ == 0; });
  }
  {
    std::unique_lock lock(mutex_);
    // A worker may be between answering its job and resuming the connection.
    changed_.wait(lock, [this] { return jobs_.empty(); });
    watching_ = false;
  }
  changed_.notify_all();
  watcher_.join();
  MHD_stop_daemon(daemon_);
  pool_.Stop(); // abandoned work ends at its engine's next checkpoint
  daemon_ = nullptr;
}

void Server::RequestStarted() {
  std::lock_guard lock(requestsMutex_);
  ++requests_;
}

void Server::RequestEnded() {
  {
    std::lock_guard lock(requestsMutex_);
    --requests_;
  }
  requestsDone_.notify_all();
}

bool Server::TokenAccepted(std::string_view token) const {
  bool accepted = false;
  for (const std::string& one : config_.tokens) {
    accepted |= SameToken(token, one);
  }
  return accepted;
}

std::unique_ptr<RequestBodyReader> Server::BodyReader(std::size_t expectedSize) const {
  return std::make_unique<RequestBodyReader>(
      protocol::kPictureField, std::vector<std::string>{protocol::kTokenField, protocol::kLayoutField},
      [this](std::string_view name, std::string_view value) {
        if (name == protocol::kLayoutField) {
          return value == protocol::kLayoutLines || value == protocol::kLayoutRaw;
        }
        return name != protocol::kTokenField || TokenAccepted(value);
      },
      expectedSize);
}

Reply Server::HandleRecognition(std::string_view body) {
  const std::unique_ptr<RequestBodyReader> reader = BodyReader(body.size());
  reader->Feed(body);
  return HandleRecognition(*reader);
}

Reply Server::HandleRecognition(RequestBodyReader& reader) {
  auto done = std::make_shared<std::promise<Reply>>();
  std::future<Reply> result = done->get_future();
  std::optional<Reply> refusal =
      StartRecognition(reader, nullptr, [done](Reply reply) { done->set_value(std::move(reply)); });
  return refusal ? std::move(*refusal) : result.get();
}

std::optional<Reply> Server::StartRecognition(RequestBodyReader& reader,
                                              std::shared_ptr<const Cancellation> cancellation,
                                              std::function<void(Reply)> done) {
  if (std::optional<Reply> refusal = BodyRefusal(reader)) {
    return refusal;
  }
  std::optional<std::string> picture = std::move(reader.Picture());
  // "layout": "raw" asks for the engine's fragments as they come, as answers were before the layout
  // stage; "lines" (the default) for visual lines in reading order with their structure.
  const bool raw = reader.Member(protocol::kLayoutField) == protocol::kLayoutRaw;
  const PictureError checked = CheckPicture(*picture, config_.maxPixels);
  if (checked != PictureError::None) {
    return Error(422, PictureErrorMessage(checked));
  }

  if (stopping_) {
    return Error(503, "the service is stopping", Refusal::Stopping);
  }
  auto shared = std::make_shared<std::string>(std::move(*picture));
  const std::int64_t maxPixels = config_.maxPixels;
  const Preparation preparation = config_.preparation;
  Metrics* metrics = &metrics_;
  const auto task = [shared, done, maxPixels, preparation, raw, metrics](Engine* engine) {
    if (engine == nullptr) {
      done(Error(503, "the service is stopping", Refusal::Stopping));
      return;
    }
    try {
      RecognitionResult recognized = RecognizePictureBytes(*engine, *shared, maxPixels, preparation);
      shared->clear();
      if (Abandoned()) {
        return; // nobody reads it; what the engine left out on the way would not be an answer
      }
      if (recognized.error != PictureError::None) {
        done(Error(422, PictureErrorMessage(recognized.error)));
      } else {
        metrics->CountPicture(recognized.pixels);
        done({200, raw ? WriteAnswer(recognized.lines)
                       : WriteLayoutAnswer(ArrangeFragments(FragmentsOf(recognized.lines), 0, 0))});
      }
    } catch (const std::exception& e) {
      done(Error(500, std::string("recognition failed: ") + e.what()));
    } catch (...) {
      done(Error(500, "recognition failed"));
    }
  };
  if (!pool_.Submit(task, std::move(cancellation))) {
    return stopping_ ? Error(503, "the service is stopping", Refusal::Stopping)
                     : Error(503, "every worker is busy; try again shortly", Refusal::QueueFull);
  }
  return std::nullopt;
}

bool Server::Ready() const {
  const WorkerPool::Load load = pool_.CurrentLoad();
  // A new picture must be taken (a free worker, or room in the queue), and start soon: fewer wait
  // than there are workers, so it starts by the time each worker finishes what it has.
  return !stopping_ && !load.stopping && load.workers > 0 && load.queued < load.idle + load.queueLength &&
         load.queued < load.workers;
}

Reply Server::HandleReady() const {
  const WorkerPool::Load load = pool_.CurrentLoad();
  const bool ready = Ready();
  const char* status = ready ? "ready" : stopping_ || load.stopping ? "stopping" : "busy";
  return {ready ? 200 : 503, std::string("{\"status\": \"") + status + "\", \"workers\": " +
                                 std::to_string(load.workers) + ", \"busy\": " + std::to_string(load.busy) +
                                 ", \"queued\": " + std::to_string(load.queued) + "}"};
}

Reply Server::HandleMetrics() const {
  const WorkerPool::Load load = pool_.CurrentLoad();
  MetricsSnapshot snapshot;
  snapshot.version = QUILLORE_VERSION;
  snapshot.engine = config_.engineName;
  snapshot.workers = load.workers;
  snapshot.busy = load.busy;
  snapshot.queued = load.queued;
  snapshot.queueCapacity = load.queueLength;
  snapshot.ready = Ready();
  {
    std::lock_guard lock(mutex_);
    snapshot.connections = static_cast<int>(connections_.size());
  }
  Reply reply{200, metrics_.Write(snapshot)};
  reply.contentType = kMetricsContentType;
  return reply;
}

Reply Server::HandleHealth() const {
  return {200, "{\"status\": \"ok\", \"workers\": " + std::to_string(pool_.Workers()) + ", \"busy\": " +
                   std::to_string(pool_.Busy()) + ", \"queued\": " + std::to_string(pool_.Queued()) + "}"};
}

} // namespace quillore::service
