// Where the recognition service is, which token it expects and when the window copies recognised text
// to the clipboard: built-in defaults, or a config file.
#pragma once

#include "protocol/ocr_protocol.h"
#include "util/text.h"

#include <string>
#include <vector>

namespace quillore {

// The local service, and the token every request body carries unless configured otherwise.
inline constexpr auto& kDefaultServiceHost = protocol::kDefaultHost;
inline constexpr auto& kDefaultServiceToken = protocol::kDefaultToken;

// When the window puts the recognised text on the clipboard: after a screen capture only, after
// every recognition, or never.
enum class CopyOut { kCapture, kAlways, kNever };

struct ServiceConfig {
  Text host = kDefaultServiceHost; // host[:port]
  Text token = kDefaultServiceToken;
  CopyOut copy = CopyOut::kCapture;
};

// The file is small by nature; anything larger is not ours.
inline constexpr std::size_t kMaxConfigBytes = 64 * 1024;

struct ConfigReading {
  ServiceConfig config;
  std::vector<std::string> problems; // one UTF-8 message per line that was ignored
};

// Reads "host = ...", "token = ..." and "copy = capture|always|never" lines over the defaults. Blank lines
// and lines starting with
// "#" are skipped; any other line, an unknown key or an unusable value is ignored and reported.
ConfigReading ParseServiceConfig(const std::string& fileText);

// $XDG_CONFIG_HOME/quillore/quillore.conf, or ~/.config/quillore/quillore.conf when the variable is
// unset or empty. Empty when neither it nor HOME is set.
std::string ServiceConfigPath();

// The configuration in force: the file when it exists, otherwise the defaults. A file that exists but
// cannot be read, or is too large, keeps the defaults and is reported.
ConfigReading LoadServiceConfig();

// "https://" + host + "/api/ocr".
Text ServiceEndpoint(const ServiceConfig& config);

} // namespace quillore
