// The HTTPS server of the recognition service: routes, limits, refusals, the request log.
#pragma once

#include "protocol/ocr_protocol.h"
#include "service/picture.h"
#include "service/worker_pool.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
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
// Open connections at once; each holds a thread and up to one body.
inline constexpr int kDefaultConnectionLimit = 64;

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
  Preparation preparation;
};

// One line of the request log, or a message of the server itself.
using LogSink = std::function<void(std::string_view line)>;

// A status and a JSON body.
struct Reply {
  int status = 200;
  std::string body;
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

  // Stops taking connections, answers waiting requests with 503, lets running ones finish.
  void Stop();

  // The answer to one POST /api/ocr body: parsing, token, Base64, picture checks, recognition.
  Reply HandleRecognition(std::string_view body);
  Reply HandleHealth() const;

  const ServiceConfig& Config() const { return config_; }
  void Log(std::string_view line) const;
  // Counts requests between their first byte and the end of their reply, so Stop can wait for them.
  void RequestStarted();
  void RequestEnded();

private:
  Server(const ServiceConfig& config, LogSink log);
  bool TokenAccepted(std::string_view token) const;

  ServiceConfig config_;
  LogSink log_;
  WorkerPool pool_;
  MHD_Daemon* daemon_ = nullptr;
  std::mutex requestsMutex_;
  std::condition_variable requestsDone_;
  int requests_ = 0;
  int port_ = 0;
};

} // namespace quillore::service
