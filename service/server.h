// The HTTPS server of the recognition service: routes, limits, refusals, the request log.
#pragma once

#include "protocol/ocr_protocol.h"
#include "service/cancellation.h"
#include "service/metrics.h"
#include "service/picture.h"
#include "service/request_body.h"
#include "service/request_log.h"
#include "service/worker_pool.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

struct MHD_Daemon;

namespace quillore::service {

// The defaults the client assumes too.
inline constexpr int kDefaultPort = protocol::kDefaultPort;
inline constexpr const char* kDefaultToken = protocol::kDefaultToken;
inline constexpr std::int64_t kDefaultMaxBody = protocol::kDefaultMaxBody;
inline constexpr std::int64_t kDefaultMaxPixels = protocol::kDefaultMaxPixels;
// Requests that may wait for a worker beyond those being served.
inline constexpr int kDefaultQueueLength = 32;
// A client that sends nothing for this long is dropped.
inline constexpr int kDefaultIdleTimeoutSeconds = 20;
// A request body must have arrived within this time, however steadily it trickles in.
inline constexpr int kDefaultBodyDeadlineSeconds = 120;
// Open connections at once. An idle one costs a socket and a few KiB, not a thread; a slow client
// holds one only until the header deadline.
inline constexpr int kDefaultConnectionLimit = 4096;
// Open connections from one address; beyond it the address's next requests are answered 503.
// 0 turns the limit off, for a balancer in front that sends everything from one address.
inline constexpr int kDefaultPerAddressLimit = 256;
// The TLS handshake and the headers of a request must have arrived within this time after the
// connection opened or its previous reply went out, however steadily they trickle in.
inline constexpr int kDefaultHeaderDeadlineSeconds = 10;
// A recognition must be answered within this time after its body arrived, waiting and running
// together; past it the client gets 503 and the worker is free at the engine's next checkpoint.
inline constexpr int kDefaultRequestTimeoutSeconds = 60;
// On stop, running recognitions get this long to finish before their clients get 503.
inline constexpr int kDefaultStopTimeoutSeconds = 10;

struct ServiceConfig {
  std::string address = protocol::kDefaultAddress; // numeric IPv4 or IPv6
  int port = kDefaultPort;                         // 0 picks a free port
  std::string certificatePem;
  std::string keyPem;
  std::vector<std::string> tokens{kDefaultToken};
  std::int64_t maxBody = kDefaultMaxBody;
  std::int64_t maxPixels = kDefaultMaxPixels;
  int workers = 1;
  int queueLength = kDefaultQueueLength;
  int idleTimeoutSeconds = kDefaultIdleTimeoutSeconds;
  int bodyDeadlineSeconds = kDefaultBodyDeadlineSeconds;
  int connectionLimit = kDefaultConnectionLimit;
  int perAddressLimit = kDefaultPerAddressLimit;
  int headerDeadlineSeconds = kDefaultHeaderDeadlineSeconds;
  int requestTimeoutSeconds = kDefaultRequestTimeoutSeconds;
  int stopTimeoutSeconds = kDefaultStopTimeoutSeconds;
  Preparation preparation;
  LogFormat logFormat = LogFormat::Text;
  std::string engineName = "unknown"; // the engine label of the metrics
};

// One line of the request log, or a message of the server itself, in the configured format and
// without the time.
using LogSink = std::function<void(std::string_view line)>;

// A status and a JSON body.
struct Reply {
  int status = 200;
  std::string body;
  Refusal refusal = Refusal::None;   // for a 503, why; other refusals are known by their status
  const char* contentType = nullptr; // nullptr: JSON
};

class Server {
public:
  // Loads the engines, then listens. Returns nothing and fills `error` when either fails.
  static std::unique_ptr<Server> Start(const ServiceConfig& config, const WorkerPool::EngineFactory& factory,
                                       LogSink log, std::string& error);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // The port actually listened on (useful with port 0).
  int Port() const { return port_; }

  // Stops taking connections, answers waiting requests with 503, lets running ones finish within
  // the stop timeout and answers 503 for those that do not.
  void Stop();

  // The answer to one POST /api/ocr body: parsing, token, Base64, picture checks, recognition.
  // Waits for the answer.
  Reply HandleRecognition(std::string_view body);
  // The same without waiting: returns the refusal at once, or nothing when a worker will call `done`
  // with the answer. A worker calls it only while `cancellation` is not set.
  std::optional<Reply> StartRecognition(RequestBodyReader& reader,
                                        std::shared_ptr<const Cancellation> cancellation,
                                        std::function<void(Reply)> done);
  // A reader for a POST /api/ocr body as it arrives, which checks the token as soon as it is read.
  // `expectedSize`: the announced length, or 0.
  std::unique_ptr<RequestBodyReader> BodyReader(std::size_t expectedSize) const;
  // The same answer for a body given to `reader` whole; takes its picture.
  Reply HandleRecognition(RequestBodyReader& reader);
  Reply HandleHealth() const;
  // 200 while the engines are loaded, the service is not stopping, a new recognition would be taken,
  // and fewer wait than there are workers, so it starts within about one recognition's time. 503
  // otherwise. Both with the load as JSON.
  Reply HandleReady() const;
  // Every metric in the text exposition format.
  Reply HandleMetrics() const;
  const Metrics& Counters() const { return metrics_; }

  const ServiceConfig& Config() const { return config_; }
  // A message of the server itself, in the configured format.
  void Log(std::string_view line) const;
  // Writes the request's log line and counts it; `refusal` None takes the reason from the status.
  void RequestAnswered(const RequestLogEntry& entry, Route route, Refusal refusal, double seconds);
  // Counts requests between their first byte and the end of their reply, so Stop can wait for them.
  void RequestStarted();
  void RequestEnded();
  bool Stopping() const { return stopping_; }

  // What the server knows of one open connection; the connection callbacks keep it.
  struct Connection;
  // A recognition whose connection is suspended until it is answered.
  struct Job;

  Connection* ConnectionOpened(int fd, std::string address);
  void ConnectionClosed(Connection* connection);
  // The headers of the connection's request arrived; true when the connection is within its limits.
  bool HeadersArrived(Connection* connection);
  // The reply went out; the deadline for the next request's headers starts now.
  void ReplySent(Connection* connection);
  // Suspends the connection until its recognition is answered; the job holds the answer then.
  std::shared_ptr<Job> Suspend(void* mhdConnection, Connection* connection, RequestBodyReader& body);
  // Answers the job once (later answers are ignored), cancels its task and resumes its connection.
  // `clientGone`: the connection is closed instead of answered.
  void Finish(const std::shared_ptr<Job>& job, Reply reply, bool clientGone = false);

private:
  Server(const ServiceConfig& config, LogSink log);
  bool TokenAccepted(std::string_view token) const;
  bool Ready() const;
  // Cuts off connections past their header deadline, answers jobs past theirs, and drops jobs whose
  // client went away; runs until Stop.
  void Watch();
  std::vector<std::shared_ptr<Job>> Jobs();

  ServiceConfig config_;
  LogSink log_;
  Metrics metrics_; // before the pool: its workers count pictures until they are joined
  WorkerPool pool_;
  MHD_Daemon* daemon_ = nullptr;
  std::mutex requestsMutex_;
  std::condition_variable requestsDone_;
  int requests_ = 0;
  int port_ = 0;
  std::atomic<bool> stopping_ = false;

  mutable std::mutex mutex_; // guards what follows
  std::condition_variable changed_;
  std::set<Connection*> connections_;
  std::unordered_map<std::string, int> perAddress_;
  std::set<std::shared_ptr<Job>> jobs_;
  bool watching_ = false;
  std::thread watcher_;
};

} // namespace quillore::service
