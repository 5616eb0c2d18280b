#include "service/server.h"

#include "service/answer.h"
#include "service/layout.h"
#include "service/recognition.h"
#include "util/base64.h"

#include <arpa/inet.h>
#include <leptonica/allheaders.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <future>
#include <nlohmann/json.hpp>

namespace quillore::service {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kOcrPath = protocol::kOcrPath;
constexpr std::string_view kHealthPath = "/healthz";
// A body over the limit is read and thrown away up to this many times the limit, then cut off.
constexpr std::int64_t kMaxDiscardFactor = 2;
// On stop, requests already taken get this long to be answered before connections are closed.
constexpr auto kStopGrace = std::chrono::seconds(10);
// Paths are logged up to this length, so a client cannot flood the log through its URL.
constexpr std::size_t kLoggedPathLimit = 200;

// What one request collects between the calls of the access handler.
struct RequestState {
  std::string method;
  std::string path;
  Clock::time_point start = Clock::now();
  std::string body;
  std::uint64_t received = 0;
  bool isOcr = false;
  bool tooLarge = false;
  int status = 0;
  std::size_t sent = 0;
};

Reply Error(int status, std::string_view message) {
  return {status, WriteError(message)};
}

MHD_Result Send(MHD_Connection* connection, RequestState& state, const Reply& reply) {
  MHD_Response* response = MHD_create_response_from_buffer(
      reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) {
    return MHD_NO;
  }
  MHD_add_response_header(response, "Content-Type", "application/json; charset=utf-8");
  MHD_add_response_header(response, "Cache-Control", "no-store");
  if (reply.status == 405) {
    MHD_add_response_header(response, "Allow", state.isOcr ? "POST" : "GET, HEAD");
  }
  if (reply.status == 503) {
    MHD_add_response_header(response, "Retry-After", "1");
  }
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
  MHD_destroy_response(response);
  if (queued == MHD_YES) {
    state.status = reply.status;
    state.sent = reply.body.size();
  }
  return queued;
}

std::string SafeForLog(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, kLoggedPathLimit)) {
    const auto byte = static_cast<unsigned char>(c);
    out += byte > 0x20 && byte < 0x7F ? c : '?';
  }
  if (text.size() > kLoggedPathLimit) {
    out += "...";
  }
  return out;
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

// Replies go out in one write; without this, a small answer waits for the client's delayed ACK.
void OnConnection(void*, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
  if (code != MHD_CONNECTION_NOTIFY_STARTED) {
    return;
  }
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  if (info != nullptr) {
    int on = 1;
    setsockopt(info->connect_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
}

void OnCompleted(void* cls, MHD_Connection*, void** context, MHD_RequestTerminationCode code) {
  auto* state = static_cast<RequestState*>(*context);
  if (state == nullptr) {
    return;
  }
  *context = nullptr;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - state->start).count();
  char line[512];
  const char* ending = code == MHD_REQUEST_TERMINATED_COMPLETED_OK      ? ""
                       : code == MHD_REQUEST_TERMINATED_TIMEOUT_REACHED ? " (timed out)"
                       : code == MHD_REQUEST_TERMINATED_CLIENT_ABORT    ? " (client went away)"
                       : code == MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN ? " (shutting down)"
                       : code == MHD_REQUEST_TERMINATED_READ_ERROR      ? " (read error)"
                       : state->status == 0                             ? " (closed)"
                                                                        : "";
  std::snprintf(line, sizeof line, "%s %s %d %llu %zu %lldms%s", SafeForLog(state->method).c_str(),
                SafeForLog(state->path).c_str(), state->status,
                static_cast<unsigned long long>(state->received), state->sent, static_cast<long long>(ms),
                ending);
  static_cast<Server*>(cls)->Log(line);
  delete state;
  static_cast<Server*>(cls)->RequestEnded();
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
    server->RequestStarted();
    state->method = method;
    state->path = url;
    state->isOcr = state->path == kOcrPath;
    *context = state;
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
    if (state->isOcr && state->method == "POST" && length > 0 && !state->tooLarge) {
      state->body.reserve(static_cast<std::size_t>(length));
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
      std::string().swap(state->body);
      state->tooLarge = true;
      if (static_cast<std::int64_t>(state->received) / kMaxDiscardFactor > config.maxBody) {
        return MHD_NO;
      }
    }
    if (Clock::now() - state->start > std::chrono::seconds(config.bodyDeadlineSeconds)) {
      return MHD_NO; // a client this slow ties up a connection; drop it
    }
    if (collecting && !state->tooLarge) {
      state->body.append(upload, *uploadSize);
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
  if (state->isOcr) {
    if (state->method != "POST") {
      return Send(connection, *state, Error(405, "use POST for /api/ocr"));
    }
    const Reply reply = server->HandleRecognition(state->body);
    std::string().swap(state->body);
    return Send(connection, *state, reply);
  }
  if (state->path == kHealthPath) {
    if (state->method != "GET" && state->method != "HEAD") {
      return Send(connection, *state, Error(405, "use GET for /healthz"));
    }
    return Send(connection, *state, server->HandleHealth());
  }
  return Send(connection, *state, Error(404, "no such path; recognition is POST /api/ocr"));
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

void Server::Log(std::string_view line) const {
  if (log_) {
    log_(line);
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
  unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL |
                   MHD_USE_TLS | MHD_USE_ITC | MHD_USE_ERROR_LOG;
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

  server->daemon_ = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &Access, server.get(), MHD_OPTION_EXTERNAL_LOGGER, &LogMhdMessage,
      server.get(), MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_HTTPS_MEM_CERT, config.certificatePem.c_str(),
      MHD_OPTION_HTTPS_MEM_KEY, config.keyPem.c_str(), MHD_OPTION_CONNECTION_TIMEOUT,
      static_cast<unsigned>(config.idleTimeoutSeconds), MHD_OPTION_CONNECTION_LIMIT,
      static_cast<unsigned>(config.connectionLimit), MHD_OPTION_NOTIFY_COMPLETED, &OnCompleted, server.get(),
      MHD_OPTION_NOTIFY_CONNECTION, &OnConnection, nullptr, MHD_OPTION_END);
  if (server->daemon_ == nullptr) {
    error = "cannot listen on " + config.address + " port " + std::to_string(config.port) +
            " (in use, not an address of this machine, or the certificate and key do not fit)";
    return nullptr;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(server->daemon_, MHD_DAEMON_INFO_BIND_PORT);
  server->port_ = info != nullptr ? info->port : config.port;
  return server;
}

void Server::Stop() {
  if (daemon_ == nullptr) {
    pool_.Stop();
    return;
  }
  const MHD_socket listening = MHD_quiesce_daemon(daemon_);
  pool_.Stop();
  {
    // Closing the connections now could cut off replies that are ready but not yet sent.
    std::unique_lock lock(requestsMutex_);
    requestsDone_.wait_for(lock, kStopGrace, [this] { return requests_ == 0; });
  }
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  if (listening != MHD_INVALID_SOCKET) {
    close(listening);
  }
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

Reply Server::HandleRecognition(std::string_view body) {
  const nlohmann::json request = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (request.is_discarded() || !request.is_object()) {
    return Error(400, "the body is not a JSON object");
  }
  const auto token = request.find(protocol::kTokenField);
  if (token == request.end() || !token->is_string() || !TokenAccepted(token->get_ref<const std::string&>())) {
    return Error(401, "wrong token");
  }
  const auto field = request.find(protocol::kPictureField);
  if (field == request.end() || !field->is_string()) {
    return Error(400, std::string("\"") + protocol::kPictureField + "\" is missing or not a string");
  }
  std::optional<std::string> picture = DecodeBase64Strict(field->get_ref<const std::string&>());
  if (!picture) {
    return Error(400, std::string("\"") + protocol::kPictureField + "\" is not valid Base64");
  }
  // "layout": "raw" asks for the engine's fragments as they come, as answers were before the layout
  // stage; "lines" (the default) for visual lines in reading order with their structure.
  bool raw = false;
  if (const auto layout = request.find(protocol::kLayoutField); layout != request.end()) {
    if (!layout->is_string() || (*layout != protocol::kLayoutLines && *layout != protocol::kLayoutRaw)) {
      return Error(400, "\"layout\" must be \"lines\" or \"raw\"");
    }
    raw = *layout == protocol::kLayoutRaw;
  }
  const PictureError checked = CheckPicture(*picture, config_.maxPixels);
  if (checked != PictureError::None) {
    return Error(422, PictureErrorMessage(checked));
  }

  auto shared = std::make_shared<std::string>(std::move(*picture));
  auto done = std::make_shared<std::promise<Reply>>();
  std::future<Reply> result = done->get_future();
  const std::int64_t maxPixels = config_.maxPixels;
  const Preparation preparation = config_.preparation;
  const bool submitted = pool_.Submit([shared, done, maxPixels, preparation, raw](Engine* engine) {
    if (engine == nullptr) {
      done->set_value(Error(503, "the service is stopping"));
      return;
    }
    try {
      RecognitionResult recognized = RecognizePictureBytes(*engine, *shared, maxPixels, preparation);
      shared->clear();
      if (recognized.error != PictureError::None) {
        done->set_value(Error(422, PictureErrorMessage(recognized.error)));
      } else {
        done->set_value(
            {200, raw ? WriteAnswer(recognized.lines)
                      : WriteLayoutAnswer(ArrangeFragments(FragmentsOf(recognized.lines), 0, 0))});
      }
    } catch (const std::exception& e) {
      done->set_value(Error(500, std::string("recognition failed: ") + e.what()));
    } catch (...) {
      done->set_value(Error(500, "recognition failed"));
    }
  });
  if (!submitted) {
    return Error(503, "every worker is busy; try again shortly");
  }
  return result.get();
}

Reply Server::HandleHealth() const {
  return {200, "{\"status\": \"ok\", \"workers\": " + std::to_string(pool_.Workers()) + ", \"busy\": " +
                   std::to_string(pool_.Busy()) + ", \"queued\": " + std::to_string(pool_.Queued()) + "}"};
}

} // namespace quillore::service
