#include "service/options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <thread>

namespace quillore::service {
namespace {

bool ParseNumber(const std::string& text, std::int64_t& value) {
  if (text.empty()) {
    return false;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool IsNumericAddress(const std::string& address) {
  unsigned char buffer[sizeof(in6_addr)];
  return inet_pton(AF_INET, address.c_str(), buffer) == 1 ||
         inet_pton(AF_INET6, address.c_str(), buffer) == 1;
}

} // namespace

const char* EngineName(EngineKind engine) noexcept {
  return engine == EngineKind::Ppocr ? "ppocr" : "tesseract";
}

int DefaultWorkers() {
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(cores == 0 ? 1u : cores, 1u, static_cast<unsigned>(kMaxDefaultWorkers)));
}

bool ParseSize(const std::string& text, std::int64_t& value) {
  std::string digits = text;
  std::int64_t unit = 1;
  if (!digits.empty()) {
    switch (digits.back()) {
    case 'k':
    case 'K':
      unit = 1024;
      break;
    case 'm':
    case 'M':
      unit = 1024 * 1024;
      break;
    case 'g':
    case 'G':
      unit = 1024 * 1024 * 1024;
      break;
    default:
      break;
    }
    if (unit != 1) {
      digits.pop_back();
    }
  }
  std::int64_t number = 0;
  if (!ParseNumber(digits, number) || number < 0 || number > INT64_MAX / unit) {
    return false;
  }
  value = number * unit;
  return true;
}

bool ParseListen(const std::string& text, std::string& address, int& port, std::string& error) {
  std::string host = text;
  std::optional<std::string> portText;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || (close + 1 < text.size() && text[close + 1] != ':')) {
      error = "--listen: expected [IPV6] or [IPV6]:PORT, got " + text;
      return false;
    }
    host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      portText = text.substr(close + 2);
    }
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    const std::size_t colon = text.find(':');
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
  } // more than one colon: a bare IPv6 address
  if (host.empty() || host == "localhost") {
    host = "127.0.0.1";
  }
  if (!IsNumericAddress(host)) {
    error = "--listen: not a numeric IP address: " + host;
    return false;
  }
  if (portText) {
    std::int64_t number = 0;
    if (!ParseNumber(*portText, number) || number < 0 || number > 65535) {
      error = "--listen: not a port number: " + *portText;
      return false;
    }
    port = static_cast<int>(number);
  }
  address = host;
  return true;
}

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
  options.config.workers = DefaultWorkers();
  bool tokensGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    const std::size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      hasValue = true;
    }
    if (name == "--help" || name == "-h") {
      options.help = true;
      continue;
    }
    const bool known = name == "--listen" || name == "--cert" || name == "--key" || name == "--lang" ||
                       name == "--workers" || name == "--token" || name == "--max-body" ||
                       name == "--max-pixels" || name == "--engine" || name == "--models" ||
                       name == "--per-address-limit" || name == "--request-timeout" ||
                       name == "--stop-timeout" || name == "--log-format";
    if (!known) {
      error = "unknown option: " + name;
      return false;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (name == "--listen") {
      if (!ParseListen(value, options.config.address, options.config.port, error)) {
        return false;
      }
    } else if (name == "--cert") {
      options.certificatePath = value;
    } else if (name == "--key") {
      options.keyPath = value;
    } else if (name == "--lang") {
      if (value.empty() ||
          value.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_+-") !=
              std::string::npos) {
        error = "--lang: expected Tesseract language names joined by '+', such as chi_sim+eng";
        return false;
      }
      options.languages = value;
    } else if (name == "--engine") {
      options.engineGiven = true;
      if (value == EngineName(EngineKind::Tesseract)) {
        options.engine = EngineKind::Tesseract;
      } else if (value == EngineName(EngineKind::Ppocr)) {
        options.engine = EngineKind::Ppocr;
      } else {
        error = "--engine: expected tesseract or ppocr, got '" + value + "'";
        return false;
      }
    } else if (name == "--models") {
      // An empty value is most likely an unset variable in a script; guessing the default would hide it.
      if (value.empty()) {
        error = "--models: the folder cannot be empty";
        return false;
      }
      options.modelsDirectory = value;
    } else if (name == "--workers") {
      std::int64_t number = 0;
      if (!ParseNumber(value, number) || number < 1 || number > kMaxWorkers) {
        error = "--workers: expected a number from 1 to " + std::to_string(kMaxWorkers);
        return false;
      }
      options.config.workers = static_cast<int>(number);
    } else if (name == "--token") {
      if (value.empty()) {
        error = "--token: a token cannot be empty";
        return false;
      }
      if (!tokensGiven) {
        options.config.tokens.clear();
        tokensGiven = true;
      }
      options.config.tokens.push_back(value);
    } else if (name == "--max-body") {
      if (!ParseSize(value, options.config.maxBody) || options.config.maxBody < 1) {
        error = "--max-body: expected a positive size in bytes (K, M and G allowed)";
        return false;
      }
    } else if (name == "--per-address-limit") {
      std::int64_t number = 0;
      if (!ParseNumber(value, number) || number < 0 || number > kMaxConnectionCount) {
        error = "--per-address-limit: expected a number from 0 (no limit) to " +
                std::to_string(kMaxConnectionCount);
        return false;
      }
      options.config.perAddressLimit = static_cast<int>(number);
    } else if (name == "--request-timeout" || name == "--stop-timeout") {
      std::int64_t number = 0;
      const bool request = name == "--request-timeout";
      // A request needs at least a second; a stop may give running work no time at all.
      if (!ParseNumber(value, number) || number < (request ? 1 : 0) || number > kMaxTimeoutSeconds) {
        error = name + ": expected seconds from " + (request ? "1" : "0") + " to " +
                std::to_string(kMaxTimeoutSeconds);
        return false;
      }
      (request ? options.config.requestTimeoutSeconds : options.config.stopTimeoutSeconds) =
          static_cast<int>(number);
    } else if (name == "--log-format") {
      if (value == LogFormatName(LogFormat::Text)) {
        options.config.logFormat = LogFormat::Text;
      } else if (value == LogFormatName(LogFormat::Json)) {
        options.config.logFormat = LogFormat::Json;
      } else {
        error = "--log-format: expected text or json, got '" + value + "'";
        return false;
      }
    } else if (name == "--max-pixels") {
      if (!ParseNumber(value, options.config.maxPixels) || options.config.maxPixels < 1) {
        error = "--max-pixels: expected a positive number";
        return false;
      }
    }
  }
  return true;
}

// The help quotes the body limit in MiB.
static_assert(kDefaultMaxBody % (1024 * 1024) == 0);

std::string Usage() {
  return std::string("Usage: quillore-ocrd [OPTION]...\n"
                     "The local text recognition service of Quillore: answers POST ") +
         protocol::kOcrPath +
         " over HTTPS.\n"
         "\n"
         "  --listen ADDR:PORT  where to listen (default " +
         protocol::kDefaultHost +
         "; [::1]:PORT for IPv6)\n"
         "  --cert FILE         PEM certificate; with --key. Default: a self-signed pair made on\n"
         "                      first start and kept under $XDG_DATA_HOME/quillore/\n"
         "  --key FILE          PEM private key of the certificate\n"
         "  --engine NAME       recognition engine: ppocr (default), the PP-OCR networks, or\n"
         "                      tesseract (less accurate, less CPU). Without --engine and with no\n"
         "                      PP-OCR model installed, tesseract\n"
         "  --lang LANGS        Tesseract languages (default chi_sim+eng); ppocr reads Chinese\n"
         "                      and English always\n"
         "  --models DIR        ppocr's model folder. Default: $QUILLORE_MODELS_DIR, else\n"
         "                      $XDG_DATA_HOME/quillore/models, else ~/.local/share/quillore/models;\n"
         "                      scripts/install-models.sh installs the models there\n"
         "  --workers N         pictures recognised at once (default: one per core)\n"
         "  --token TOKEN       an accepted access token; repeat for several (default " +
         protocol::kDefaultToken +
         ")\n"
         "  --max-body SIZE     largest request body, K/M/G allowed (default " +
         std::to_string(kDefaultMaxBody / (1024 * 1024)) +
         "M)\n"
         "  --max-pixels N      largest picture in pixels (default " +
         std::to_string(kDefaultMaxPixels) +
         ")\n"
         "  --per-address-limit N  open connections from one client address; beyond it 503\n"
         "                      (default " +
         std::to_string(kDefaultPerAddressLimit) +
         "; 0: no limit, for a proxy in front)\n"
         "  --request-timeout S  seconds a recognition may wait and run before the answer is 503\n"
         "                      (default " +
         std::to_string(kDefaultRequestTimeoutSeconds) +
         ")\n"
         "  --stop-timeout S    on SIGTERM, seconds running recognitions get to finish before\n"
         "                      their answer is 503 (default " +
         std::to_string(kDefaultStopTimeoutSeconds) +
         ")\n"
         "  --log-format F      text (default) or json: one JSON object per line with the same\n"
         "                      fields\n"
         "  --help              show this help\n"
         "\n"
         "GET /healthz answers 200 {\"status\": \"ok\", ...} while the service runs. GET /readyz\n"
         "answers 200 while it can take a picture that starts within about one recognition's time\n"
         "(a free worker or room in the queue, fewer waiting than there are workers), 503 when busy\n"
         "or stopping. GET /metrics answers counters and gauges in the Prometheus text format\n"
         "(no token needed; it holds no picture, text or token). SIGTERM or SIGINT stops the\n"
         "service cleanly.\n"
         "One log line per request goes to standard error: method, path, status, bytes in, bytes\n"
         "out, milliseconds, and the request id, which every answer carries as X-Request-Id (the\n"
         "client's own when it sends up to 64 letters, digits and ._:- in that header).\n";
}

} // namespace quillore::service
