// Load driver for the recognition service: a fixed number of POST /api/ocr requests over a fixed number
// of concurrent connections (libcurl multi), mixing small valid pictures, bodies over the service's
// limit and malformed requests. Counts the answers by kind and status; any request left without an
// answer, or answered with a status its kind cannot have, makes the run fail.
//   load_driver --url URL [--requests N] [--connections N] [--max-body BYTES] [--timeout SECONDS]
//               [--expect-text]
// --expect-text: a picture answered 200 must hold the line of text drawn on it, word for word.
// The service must be local (127.0.0.1 or ::1): nothing else is ever sent to.
#include "util/base64.h"

#include <curl/curl.h>

#include <QBuffer>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A run is bounded in count and time whatever the arguments say.
constexpr long kMaxRequests = 1'000'000;
constexpr int kMaxConnections = 256;
constexpr long kDefaultTimeoutSeconds = 120;
constexpr std::size_t kMaxKeptReplyBytes = 64 * 1024;

enum class Kind { Picture, Oversize, OversizeChunked, Malformed, Count };
constexpr std::array<const char*, static_cast<int>(Kind::Count)> kKindNames = {
    "valid picture", "oversize (announced)", "oversize (chunked)", "malformed"};

// Out of every 20 requests: 2 pictures, 5 bodies over the limit with their length announced, 4 sent
// chunked without a length, and 9 malformed ones.
Kind KindOf(long index) {
  switch (index % 20) {
  case 0:
  case 10:
    return Kind::Picture;
  case 1:
  case 5:
  case 9:
  case 13:
  case 17:
    return Kind::Oversize;
  case 3:
  case 7:
  case 11:
  case 15:
    return Kind::OversizeChunked;
  default:
    return Kind::Malformed;
  }
}

// Whether a status is a proper answer for the kind (503: every worker busy, which the service may say
// to anything that reaches the recognition).
bool Expected(Kind kind, long status) {
  switch (kind) {
  case Kind::Picture:
    return status == 200 || status == 503;
  case Kind::Oversize:
  case Kind::OversizeChunked:
    return status == 413;
  case Kind::Malformed:
    return status == 400 || status == 401 || status == 422;
  case Kind::Count:
    break;
  }
  return false;
}

std::string Body(const std::string& token, const std::string& base64) {
  return "{\"token\":\"" + token + "\",\"upfile_b64\":\"" + base64 + "\"}";
}

// A small picture of one line of English text, as PNG.
std::string RenderPicture(const QString& text) {
  QImage image(360, 48, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  QFont font("DejaVu Sans");
  font.setPixelSize(22);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(image.rect().adjusted(8, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, text);
  painter.end();
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return png.toStdString();
}

// The lines drawn on the pictures, in the order of Bodies::pictures.
constexpr std::array<const char*, 2> kPictureTexts = {"Quillore load test 1234", "The quick brown fox jumps"};

struct Bodies {
  std::vector<std::string> pictures;
  std::string oversize;
  std::string oversizeChunked;
  std::vector<std::string> malformed;
};

Bodies MakeBodies(long maxBody) {
  Bodies bodies;
  for (const char* text : kPictureTexts) {
    bodies.pictures.push_back(Body("qwe.480.zx", quillore::EncodeBase64(RenderPicture(text))));
  }
  // Announced as longer than the limit: refused before a byte of it is read.
  bodies.oversize = Body("qwe.480.zx", std::string(static_cast<std::size_t>(maxBody) + 4096, 'A'));
  // Without a length: read and thrown away up to the limit's double, then refused.
  bodies.oversizeChunked = Body("qwe.480.zx", std::string(static_cast<std::size_t>(maxBody) * 3 / 2, 'A'));
  bodies.malformed = {
      "{oops",                                                 // not JSON
      Body("qwe.480.zx", "iVBORw0KGgo").substr(0, 30),         // cut short
      Body("wrong-token", "AAAA"),                             // a token the service does not know
      Body("qwe.480.zx", "iVBOR w0K==="),                      // not Base64
      Body("qwe.480.zx", "AAAAAAAAAAAA"),                      // Base64 of no picture
      "[\"qwe.480.zx\", 1]",                                   // JSON, not an object
      "",                                                      // nothing
      "{\"token\":\"qwe.480.zx\",\"upfile_b64\":12}",          // the picture not a string
      std::string(50000, '[') + std::string(50000, ']'),       // deep nesting
      "{\"token\":\"qwe.480.zx\",\"upfile_b64\":\"\\ud800\"}", // a lone surrogate
  };
  return bodies;
}

struct Transfer {
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  long index = -1;
  Kind kind = Kind::Picture;
  const std::string* body = nullptr;
  const char* text = nullptr; // pictures: the line drawn on it
  std::size_t sent = 0;       // chunked bodies: bytes handed to libcurl so far
  std::string reply;
  Clock::time_point start;
};

std::size_t OnReply(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  if (transfer->reply.size() < kMaxKeptReplyBytes) {
    transfer->reply.append(data, std::min(bytes, kMaxKeptReplyBytes - transfer->reply.size()));
  }
  return bytes;
}

std::size_t OnRead(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t room = size * count;
  const std::size_t left = transfer->body->size() - transfer->sent;
  const std::size_t n = std::min(room, left);
  std::memcpy(buffer, transfer->body->data() + transfer->sent, n);
  transfer->sent += n;
  return n;
}

struct KindCounts {
  std::map<long, long> statuses;        // HTTP status -> requests
  std::map<std::string, long> failures; // transport error -> requests
  std::vector<double> milliseconds;
  long unexpected = 0;
  long withText = 0;  // answers of 200 that hold at least one recognised line
  long rightText = 0; // answers of 200 that hold the picture's own line
};

bool IsLocal(const std::string& url) {
  return url.rfind("https://127.0.0.1:", 0) == 0 || url.rfind("https://[::1]:", 0) == 0 ||
         url.rfind("http://127.0.0.1:", 0) == 0 || url.rfind("http://[::1]:", 0) == 0;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
  return values[at];
}

int Usage() {
  std::fprintf(stderr,
               "usage: load_driver --url https://127.0.0.1:PORT/api/ocr [--requests N] [--connections N]\n"
               "                   [--max-body BYTES] [--timeout SECONDS] [--expect-text]\n");
  return 64;
}

} // namespace

int main(int argc, char** argv) {
  std::string url;
  long requests = 20000;
  long connections = 32;
  long maxBody = 256 * 1024;
  long timeoutSeconds = kDefaultTimeoutSeconds;
  bool expectText = false;
  std::vector<const char*> args(argv + 1, argv + argc);
  if (const auto flag = std::find_if(args.begin(), args.end(),
                                     [](const char* a) { return std::strcmp(a, "--expect-text") == 0; });
      flag != args.end()) {
    expectText = true;
    args.erase(flag);
  }
  for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
    const std::string name = args[i];
    const char* value = args[i + 1];
    if (name == "--url") {
      url = value;
    } else if (name == "--requests") {
      requests = std::atol(value);
    } else if (name == "--connections") {
      connections = std::atol(value);
    } else if (name == "--max-body") {
      maxBody = std::atol(value);
    } else if (name == "--timeout") {
      timeoutSeconds = std::atol(value);
    } else {
      return Usage();
    }
  }
  if (args.size() % 2 != 0 || url.empty() || requests < 1 || requests > kMaxRequests || connections < 1 ||
      connections > kMaxConnections || maxBody < 1024 || maxBody > (64L << 20) || timeoutSeconds < 1) {
    return Usage();
  }
  if (!IsLocal(url)) {
    std::fprintf(stderr, "load_driver: only a service on 127.0.0.1 or [::1] is driven, not %s\n",
                 url.c_str());
    return 64;
  }

  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QGuiApplication application(argc, argv);
  const Bodies bodies = MakeBodies(maxBody);

  curl_global_init(CURL_GLOBAL_DEFAULT);
  CURLM* multi = curl_multi_init();
  curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, connections);
  curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, connections);

  std::vector<Transfer> transfers(static_cast<std::size_t>(connections));
  std::array<KindCounts, static_cast<int>(Kind::Count)> counts;
  long next = 0;
  long done = 0;
  const auto runStart = Clock::now();

  auto launch = [&](Transfer& t) {
    t.index = next++;
    t.kind = KindOf(t.index);
    t.text = nullptr;
    switch (t.kind) {
    case Kind::Picture: {
      const std::size_t picture = static_cast<std::size_t>(t.index / 10) % bodies.pictures.size();
      t.body = &bodies.pictures[picture];
      t.text = kPictureTexts[picture];
      break;
    }
    case Kind::Oversize:
      t.body = &bodies.oversize;
      break;
    case Kind::OversizeChunked:
      t.body = &bodies.oversizeChunked;
      break;
    default:
      t.body = &bodies.malformed[static_cast<std::size_t>(t.index) % bodies.malformed.size()];
      break;
    }
    if (t.easy == nullptr) {
      t.easy = curl_easy_init();
    } else {
      curl_easy_reset(t.easy);
    }
    curl_slist_free_all(t.headers);
    t.headers = curl_slist_append(nullptr, "Content-Type: application/json;charset=utf-8");
    t.headers = curl_slist_append(t.headers, "Expect:");
    t.reply.clear();
    t.sent = 0;
    CURL* e = t.easy;
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L); // the service's own self-signed certificate
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_TIMEOUT, timeoutSeconds);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &OnReply);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_PRIVATE, &t);
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    if (t.kind == Kind::OversizeChunked) {
      t.headers = curl_slist_append(t.headers, "Transfer-Encoding: chunked");
      curl_easy_setopt(e, CURLOPT_READFUNCTION, &OnRead);
      curl_easy_setopt(e, CURLOPT_READDATA, &t);
    } else {
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, t.body->data());
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.body->size()));
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headers);
    t.start = Clock::now();
    curl_multi_add_handle(multi, e);
  };

  for (Transfer& t : transfers) {
    if (next < requests) {
      launch(t);
    }
  }
  int running = 0;
  long lastReport = 0;
  while (done < requests) {
    curl_multi_perform(multi, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg != CURLMSG_DONE) {
        continue;
      }
      Transfer* t = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &t);
      const CURLcode result = message->data.result;
      long status = 0;
      curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
      KindCounts& kind = counts[static_cast<int>(t->kind)];
      kind.milliseconds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t->start).count());
      if (result != CURLE_OK || status == 0) {
        ++kind.failures[curl_easy_strerror(result)];
        ++kind.unexpected;
      } else {
        ++kind.statuses[status];
        if (!Expected(t->kind, status) || t->reply.empty() || t->reply.front() != '{') {
          ++kind.unexpected;
        }
        if (status == 200 && t->reply.find("\"text\": [\"") != std::string::npos) {
          ++kind.withText;
        }
        if (status == 200 && t->text != nullptr) {
          if (t->reply.find("\"" + std::string(t->text) + "\"") != std::string::npos) {
            ++kind.rightText;
          } else if (expectText) {
            ++kind.unexpected;
          }
        }
      }
      curl_multi_remove_handle(multi, t->easy);
      ++done;
      if (next < requests) {
        launch(*t);
      }
    }
    if (done - lastReport >= 2000) {
      lastReport = done;
      std::fprintf(stderr, "load_driver: %ld of %ld answered\n", done, requests);
    }
    if (done < requests) {
      curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - runStart).count();

  for (Transfer& t : transfers) {
    if (t.easy != nullptr) {
      curl_easy_cleanup(t.easy);
    }
    curl_slist_free_all(t.headers);
  }
  curl_multi_cleanup(multi);
  curl_global_cleanup();

  long unexpected = 0;
  std::printf("%ld requests over %ld connections in %.1f s (%.0f requests/s)\n", requests, connections,
              seconds, static_cast<double>(requests) / seconds);
  std::printf("%-22s %8s  %-32s %9s %9s %9s\n", "kind", "requests", "answers", "p50 ms", "p99 ms", "max ms");
  for (int k = 0; k < static_cast<int>(Kind::Count); ++k) {
    const KindCounts& kind = counts[k];
    std::string answers;
    for (const auto& [status, n] : kind.statuses) {
      answers += std::to_string(status) + ": " + std::to_string(n) + "  ";
    }
    for (const auto& [error, n] : kind.failures) {
      answers += "NO ANSWER (" + error + "): " + std::to_string(n) + "  ";
    }
    std::printf("%-22s %8zu  %-32s %9.1f %9.1f %9.1f\n", kKindNames[k], kind.milliseconds.size(),
                answers.c_str(), Percentile(kind.milliseconds, 0.5), Percentile(kind.milliseconds, 0.99),
                Percentile(kind.milliseconds, 1.0));
    unexpected += kind.unexpected;
  }
  const KindCounts& pictures = counts[static_cast<int>(Kind::Picture)];
  std::printf("valid pictures answered with recognised text: %ld of %zu, with their own line word for word: "
              "%ld\n",
              pictures.withText, pictures.milliseconds.size(), pictures.rightText);
  if (unexpected > 0) {
    std::printf("FAILED: %ld requests got no answer or one their kind cannot have\n", unexpected);
    return 1;
  }
  std::printf("every request was answered as its kind requires\n");
  return 0;
}
