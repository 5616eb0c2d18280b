// A small local HTTPS (or plain HTTP) server for tests: routes to handlers, records what it received,
// and can stall or break off an answer on purpose.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct MHD_Daemon;

namespace quillore::test {

// A self-signed certificate for 127.0.0.1 and localhost, made once per process (EC P-256).
struct TestCertificate {
  std::string keyPem;
  std::string certificatePem;
};
const TestCertificate& LocalTestCertificate();

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// What the server received for one request.
struct ReceivedRequest {
  std::string method;
  std::string target;  // the request target as sent, query included
  std::string path;    // the target without its query
  std::string version; // "HTTP/1.1"
  HeaderList headers;  // in the order received, names as sent
  std::string body;    // exact bytes

  // The first header of that name (letter case ignored); empty when there is none.
  std::string Header(std::string_view name) const;
  int HeaderCount(std::string_view name) const;
  bool HasHeader(std::string_view name) const { return HeaderCount(name) > 0; }
  // "Name: value" CR LF for every header, in order.
  std::string HeaderBlock() const;
};

// What a handler answers.
struct Reply {
  int status = 200;
  HeaderList headers;
  std::string body;
  // Served instead of `body` when set: large answers shared between requests without a copy.
  std::shared_ptr<const std::string> sharedBody;
  // Wait this long before answering at all (the client sees nothing).
  std::chrono::milliseconds delay{0};
  // After `stallAfterBytes` body bytes, wait `stall` before sending the rest.
  long long stallAfterBytes = -1;
  std::chrono::milliseconds stall{0};
  // Drop the connection after this many body bytes, though the length announced is the whole.
  long long closeAfterBytes = -1;

  static Reply Text(int status, std::string body, std::string contentType = "text/plain");
};

using Handler = std::function<Reply(const ReceivedRequest&)>;

class LocalHttpsServer {
public:
  // Request bodies larger than this are refused with 413.
  static constexpr std::size_t kMaxRequestBodyBytes = 512u * 1024 * 1024;

  explicit LocalHttpsServer(bool tls = true);
  ~LocalHttpsServer();
  LocalHttpsServer(const LocalHttpsServer&) = delete;
  LocalHttpsServer& operator=(const LocalHttpsServer&) = delete;

  // Exact path match (query ignored); later routes for the same path replace earlier ones. May be
  // called while the server runs. Unrouted paths get 404.
  void Route(const std::string& path, Handler handler);
  // Listens on 127.0.0.1 and a free port. False (see Error()) when it cannot.
  bool Start();
  // Ends waits in handlers and stops; also done by the destructor.
  void Stop();

  const std::string& Error() const { return error_; }
  int Port() const { return port_; }
  // "https://127.0.0.1:<port>" followed by `path`.
  std::string Url(std::string_view path = "/") const;
  // Every request received so far, and the last one for a path.
  std::vector<ReceivedRequest> Requests() const;
  ReceivedRequest LastRequest(std::string_view path) const;
  int RequestCount(std::string_view path) const;
  // Connections accepted so far.
  int ConnectionCount() const;

  struct Impl;

private:
  std::unique_ptr<Impl> impl_;
  std::string error_;
  int port_ = 0;
  bool tls_;
};

} // namespace quillore::test
