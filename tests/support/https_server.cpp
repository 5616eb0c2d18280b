#include "tests/support/https_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <stdexcept>

namespace quillore::test {

namespace {

struct PkeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Deleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct ExtensionDeleter {
  void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};

std::string BioText(BIO* bio) {
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(length));
}

TestCertificate MakeCertificate() {
  std::unique_ptr<EVP_PKEY, PkeyDeleter> key(EVP_EC_gen("P-256"));
  std::unique_ptr<X509, X509Deleter> certificate(X509_new());
  if (!key || !certificate) {
    throw std::runtime_error("test certificate: cannot make a key");
  }
  X509_set_version(certificate.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 7L * 24 * 3600);
  X509_set_pubkey(certificate.get(), key.get());
  X509_NAME* name = X509_get_subject_name(certificate.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"),
                             -1, -1, 0);
  X509_set_issuer_name(certificate.get(), name);
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate.get(), certificate.get(), nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, ExtensionDeleter> names(
      X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"));
  if (!names || X509_add_ext(certificate.get(), names.get(), -1) != 1 ||
      X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0) {
    throw std::runtime_error("test certificate: cannot sign");
  }
  std::unique_ptr<BIO, BioDeleter> keyBio(BIO_new(BIO_s_mem()));
  std::unique_ptr<BIO, BioDeleter> certificateBio(BIO_new(BIO_s_mem()));
  if (!keyBio || !certificateBio ||
      PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      PEM_write_bio_X509(certificateBio.get(), certificate.get()) != 1) {
    throw std::runtime_error("test certificate: cannot write PEM");
  }
  return TestCertificate{BioText(keyBio.get()), BioText(certificateBio.get())};
}

bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Pieces of an answer body handed to libmicrohttpd.
constexpr std::size_t kBodyBlockBytes = 256 * 1024;

} // namespace

const TestCertificate& LocalTestCertificate() {
  static const TestCertificate certificate = MakeCertificate();
  return certificate;
}

std::string ReceivedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoreCaseAscii(key, name)) {
      return value;
    }
  }
  return {};
}

int ReceivedRequest::HeaderCount(std::string_view name) const {
  return static_cast<int>(std::count_if(headers.begin(), headers.end(), [name](const auto& header) {
    return EqualsIgnoreCaseAscii(header.first, name);
  }));
}

std::string ReceivedRequest::HeaderBlock() const {
  std::string block;
  for (const auto& [key, value] : headers) {
    block += key + ": " + value + "\r\n";
  }
  return block;
}

Reply Reply::Text(int status, std::string body, std::string contentType) {
  Reply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.headers.emplace_back("Content-Type", std::move(contentType));
  return reply;
}

struct LocalHttpsServer::Impl {
  mutable std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::map<std::string, Handler> routes;
  std::vector<ReceivedRequest> requests;
  int connections = 0;
  std::string lastLog;
  MHD_Daemon* daemon = nullptr;

  // Sleeps for `duration` unless the server stops first.
  void Wait(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex);
    wake.wait_for(lock, duration, [this] { return stopping; });
  }
};

namespace {

using Impl = LocalHttpsServer::Impl;

struct RequestState {
  ReceivedRequest request;
  bool headersRead = false;
  bool tooLarge = false;
};

struct BodyState {
  Impl* impl = nullptr;
  Reply reply;
  bool stalled = false;
  std::string_view Data() const {
    return reply.sharedBody ? std::string_view(*reply.sharedBody) : reply.body;
  }
};

void* OnUri(void*, const char* uri, MHD_Connection*) {
  auto* state = new RequestState;
  state->request.target = uri;
  return state;
}

void OnCompleted(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
  delete static_cast<RequestState*>(*context);
  *context = nullptr;
}

void OnConnection(void* cls, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
  if (code != MHD_CONNECTION_NOTIFY_STARTED) {
    return;
  }
  auto* impl = static_cast<Impl*>(cls);
  {
    std::lock_guard lock(impl->mutex);
    ++impl->connections;
  }
  // Without it every answer waits for the client's delayed acknowledgement.
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  if (info != nullptr) {
    int one = 1;
    setsockopt(info->connect_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
}

void OnLog(void* cls, const char* format, va_list arguments) {
  auto* impl = static_cast<Impl*>(cls);
  char text[512];
  std::vsnprintf(text, sizeof text, format, arguments);
  std::lock_guard lock(impl->mutex);
  impl->lastLog = text;
}

MHD_Result CollectHeader(void* cls, MHD_ValueKind, const char* key, const char* value) {
  static_cast<HeaderList*>(cls)->emplace_back(key, value != nullptr ? value : "");
  return MHD_YES;
}

ssize_t ReadBody(void* cls, std::uint64_t position, char* buffer, std::size_t max) {
  auto* state = static_cast<BodyState*>(cls);
  const Reply& reply = state->reply;
  std::string_view data = state->Data();
  long long at = static_cast<long long>(position);
  if (reply.closeAfterBytes >= 0 && at >= reply.closeAfterBytes) {
    return MHD_CONTENT_READER_END_WITH_ERROR;
  }
  if (reply.stallAfterBytes >= 0 && at >= reply.stallAfterBytes && !state->stalled) {
    state->stalled = true;
    state->impl->Wait(reply.stall);
  }
  long long count =
      std::min<long long>(static_cast<long long>(max), static_cast<long long>(data.size()) - at);
  if (reply.closeAfterBytes >= 0) {
    count = std::min(count, reply.closeAfterBytes - at);
  }
  if (reply.stallAfterBytes > at && !state->stalled) {
    count = std::min(count, reply.stallAfterBytes - at);
  }
  if (count <= 0) {
    return MHD_CONTENT_READER_END_OF_STREAM;
  }
  std::memcpy(buffer, data.data() + at, static_cast<std::size_t>(count));
  return static_cast<ssize_t>(count);
}

void FreeBody(void* cls) {
  delete static_cast<BodyState*>(cls);
}

MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                     const char* version, const char* upload, std::size_t* uploadSize, void** context) {
  auto* impl = static_cast<Impl*>(cls);
  auto* state = static_cast<RequestState*>(*context);
  if (state == nullptr) {
    state = new RequestState;
    *context = state;
  }
  if (!state->headersRead) {
    state->headersRead = true;
    ReceivedRequest& request = state->request;
    request.method = method;
    request.path = url;
    request.version = version;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &CollectHeader, &request.headers);
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    if (state->request.body.size() + *uploadSize > LocalHttpsServer::kMaxRequestBodyBytes) {
      state->tooLarge = true;
    } else {
      state->request.body.append(upload, *uploadSize);
    }
    *uploadSize = 0;
    return MHD_YES;
  }

  Handler handler;
  {
    std::lock_guard lock(impl->mutex);
    impl->requests.push_back(state->request);
    auto it = impl->routes.find(state->request.path);
    if (it != impl->routes.end()) {
      handler = it->second;
    }
  }
  auto body = std::make_unique<BodyState>();
  body->impl = impl;
  if (state->tooLarge) {
    body->reply = Reply::Text(413, "request body too large");
  } else if (handler) {
    body->reply = handler(state->request);
  } else {
    body->reply = Reply::Text(404, "not found");
  }
  if (body->reply.delay.count() > 0) {
    impl->Wait(body->reply.delay);
  }
  int status = body->reply.status;
  HeaderList headers = body->reply.headers;
  std::uint64_t size = body->Data().size();
  MHD_Response* response =
      MHD_create_response_from_callback(size, kBodyBlockBytes, &ReadBody, body.get(), &FreeBody);
  if (response == nullptr) {
    return MHD_NO;
  }
  body.release();
  for (const auto& [name, value] : headers) {
    MHD_add_response_header(response, name.c_str(), value.c_str());
  }
  MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(status), response);
  MHD_destroy_response(response);
  return queued;
}

} // namespace

LocalHttpsServer::LocalHttpsServer(bool tls) : impl_(std::make_unique<Impl>()), tls_(tls) {}

LocalHttpsServer::~LocalHttpsServer() {
  Stop();
}

void LocalHttpsServer::Route(const std::string& path, Handler handler) {
  std::lock_guard lock(impl_->mutex);
  impl_->routes[path] = std::move(handler);
}

bool LocalHttpsServer::Start() {
  if (impl_->daemon != nullptr) {
    return true;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  unsigned flags =
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL | MHD_USE_ERROR_LOG;
  const char* key = nullptr;
  const char* certificate = nullptr;
  if (tls_) {
    flags |= MHD_USE_TLS;
    key = LocalTestCertificate().keyPem.c_str();
    certificate = LocalTestCertificate().certificatePem.c_str();
  }
  impl_->stopping = false;
  // The TLS options come last so that a plain server can end the list before them.
  impl_->daemon = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &OnRequest, impl_.get(), MHD_OPTION_SOCK_ADDR, &address,
      MHD_OPTION_URI_LOG_CALLBACK, &OnUri, nullptr, MHD_OPTION_NOTIFY_COMPLETED, &OnCompleted, nullptr,
      MHD_OPTION_NOTIFY_CONNECTION, &OnConnection, impl_.get(), MHD_OPTION_EXTERNAL_LOGGER, &OnLog,
      impl_.get(), tls_ ? MHD_OPTION_HTTPS_MEM_KEY : MHD_OPTION_END, key, MHD_OPTION_HTTPS_MEM_CERT,
      certificate, MHD_OPTION_END);
  if (impl_->daemon == nullptr) {
    std::lock_guard lock(impl_->mutex);
    error_ = "libmicrohttpd did not start: " + impl_->lastLog;
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(impl_->daemon, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info != nullptr ? info->port : 0;
  if (port_ == 0) {
    error_ = "libmicrohttpd did not say its port";
    Stop();
    return false;
  }
  return true;
}

void LocalHttpsServer::Stop() {
  if (impl_->daemon == nullptr) {
    return;
  }
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->wake.notify_all();
  MHD_stop_daemon(impl_->daemon);
  impl_->daemon = nullptr;
}

std::string LocalHttpsServer::Url(std::string_view path) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<ReceivedRequest> LocalHttpsServer::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

ReceivedRequest LocalHttpsServer::LastRequest(std::string_view path) const {
  std::lock_guard lock(impl_->mutex);
  for (auto it = impl_->requests.rbegin(); it != impl_->requests.rend(); ++it) {
    if (it->path == path) {
      return *it;
    }
  }
  return {};
}

int LocalHttpsServer::RequestCount(std::string_view path) const {
  std::lock_guard lock(impl_->mutex);
  return static_cast<int>(
      std::count_if(impl_->requests.begin(), impl_->requests.end(),
                    [path](const ReceivedRequest& request) { return request.path == path; }));
}

int LocalHttpsServer::ConnectionCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->connections;
}

} // namespace quillore::test
