#include "recognition/service_config.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillore {

namespace {

constexpr char kConfigRelativePath[] = "quillore/quillore.conf";

std::string StripSpaces(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// A host goes into a URL between "https://" and "/api/ocr": no scheme, path, space or control char.
bool UsableHost(const std::string& host) {
  if (host.empty()) {
    return false;
  }
  for (unsigned char c : host) {
    if (c <= ' ' || c >= 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\') {
      return false;
    }
  }
  return true;
}

// A token goes into a JSON string literal unescaped: printable ASCII without quote or backslash.
bool UsableToken(const std::string& token) {
  if (token.empty()) {
    return false;
  }
  for (unsigned char c : token) {
    if (c < ' ' || c >= 0x7F || c == '"' || c == '\\') {
      return false;
    }
  }
  return true;
}

} // namespace

ConfigReading ParseServiceConfig(const std::string& fileText) {
  ConfigReading reading;
  std::istringstream lines(fileText);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    const std::string stripped = StripSpaces(line);
    if (stripped.empty() || stripped[0] == '#') {
      continue;
    }
    const auto equals = stripped.find('=');
    const std::string where = "line " + std::to_string(number) + ": ";
    if (equals == std::string::npos) {
      reading.problems.push_back(where + "expected \"host = ...\", \"token = ...\" or \"copy = ...\"");
      continue;
    }
    const std::string key = StripSpaces(stripped.substr(0, equals));
    const std::string value = StripSpaces(stripped.substr(equals + 1));
    if (key == "host") {
      if (UsableHost(value)) {
        reading.config.host = value;
      } else {
        reading.problems.push_back(where + "unusable host \"" + value + "\" (expected host or host:port)");
      }
    } else if (key == "token") {
      if (UsableToken(value)) {
        reading.config.token = value;
      } else {
        reading.problems.push_back(where + "unusable token (printable ASCII without quotes or backslashes)");
      }
    } else if (key == "copy") {
      if (value == "capture") {
        reading.config.copy = CopyOut::kCapture;
      } else if (value == "always") {
        reading.config.copy = CopyOut::kAlways;
      } else if (value == "never") {
        reading.config.copy = CopyOut::kNever;
      } else {
        reading.problems.push_back(where + "unusable copy \"" + value +
                                   "\" (expected capture, always or never)");
      }
    } else {
      reading.problems.push_back(where + "unknown key \"" + key + "\"");
    }
  }
  return reading;
}

std::string ServiceConfigPath() {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  if (configHome != nullptr && configHome[0] != '\0') {
    return std::string(configHome) + "/" + kConfigRelativePath;
  }
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') {
    return std::string(home) + "/.config/" + kConfigRelativePath;
  }
  return {};
}

ConfigReading LoadServiceConfig() {
  const std::string path = ServiceConfigPath();
  std::error_code error;
  if (path.empty() || !std::filesystem::exists(path, error)) {
    return {}; // no file: the defaults, nothing to report
  }
  const auto keepDefaults = [&path](const std::string& why) {
    ConfigReading reading;
    reading.problems.push_back(path + ": " + why + ", using the built-in defaults");
    return reading;
  };
  std::ifstream file(path, std::ios::binary);
  if (!std::filesystem::is_regular_file(path, error) || !file) {
    return keepDefaults("cannot be read");
  }
  std::string text(kMaxConfigBytes + 1, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  if (file.bad()) {
    return keepDefaults("cannot be read");
  }
  if (text.size() > kMaxConfigBytes) {
    return keepDefaults("larger than " + std::to_string(kMaxConfigBytes) + " bytes");
  }
  ConfigReading reading = ParseServiceConfig(text);
  for (std::string& problem : reading.problems) {
    problem = path + ": " + problem;
  }
  return reading;
}

Text ServiceEndpoint(const ServiceConfig& config) {
  return protocol::kScheme + config.host + protocol::kOcrPath;
}

} // namespace quillore
