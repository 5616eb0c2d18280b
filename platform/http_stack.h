// The HTTP stack layer: the synchronous handle-based calls the web request routine is written on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillore {

// UTF-16LE code units as bytes. Strings handed to the stack end at their first zero code unit.
using WideBytes = std::vector<std::uint8_t>;
// A session, connection or request handle; 0 is no handle.
using HttpHandle = std::uintptr_t;

namespace http_stack {

// Scheme numbers of a cracked URL.
inline constexpr int kSchemeHttp = 1;
inline constexpr int kSchemeHttps = 2;
inline constexpr int kDefaultHttpPort = 80;
inline constexpr int kDefaultHttpsPort = 443;

// Session access types.
inline constexpr std::uint32_t kAccessNoProxy = 1;
inline constexpr std::uint32_t kAccessNamedProxy = 3;

// Request flag: the request goes over TLS.
inline constexpr std::uint32_t kFlagSecure = 0x800000;

// Credentials.
inline constexpr std::uint32_t kAuthTargetServer = 0;
inline constexpr std::uint32_t kAuthTargetProxy = 1;
inline constexpr std::uint32_t kAuthSchemeBasic = 1;

// Options and their values.
inline constexpr std::uint32_t kOptionSecurityFlags = 31;
inline constexpr std::uint32_t kOptionDisableFeature = 63;
inline constexpr std::uint32_t kOptionEnableFeature = 79;
inline constexpr std::uint32_t kSecurityIgnoreUnknownCa = 0x100;
inline constexpr std::uint32_t kSecurityIgnoreWrongUsage = 0x200;
inline constexpr std::uint32_t kSecurityIgnoreCnInvalid = 0x1000;
inline constexpr std::uint32_t kSecurityIgnoreDateInvalid = 0x2000;
inline constexpr std::uint32_t kSecurityIgnoreAll = 0x3300;
inline constexpr std::uint32_t kDisableCookies = 1;
inline constexpr std::uint32_t kDisableRedirects = 2;

// Modifier of the header call: add the lines.
inline constexpr std::uint32_t kAddRequestHeadersAdd = 0x20000000;
// Header query: the raw header block, every line ended by CR LF.
inline constexpr std::uint32_t kQueryRawHeadersCrlf = 22;

// Longest URL the cracker accepts, in UTF-16 code units.
inline constexpr std::size_t kMaxUrlLength = 32 * 1024;

} // namespace http_stack

// The parts of a cracked URL, as offsets and lengths in code units into the wide URL.
struct UrlComponents {
  int scheme = 0;
  std::size_t hostOffset = 0;
  std::size_t hostLength = 0;
  int port = 0;
  std::size_t pathOffset = 0;
  std::size_t pathLength = 0;
  // Query and fragment, starting with "?" or "#".
  std::size_t extraOffset = 0;
  std::size_t extraLength = 0;
};

// The code units of a wide string: at most `length`, up to the first zero unit.
std::u16string Utf16FromWideBytes(const WideBytes& bytes, std::size_t length = SIZE_MAX);
// The bytes of UTF-16 code units, with a zero unit at the end when `terminate`.
WideBytes WideBytesFromUtf16(std::u16string_view units, bool terminate = true);

// UTF-8 of a wide string (unpaired surrogates become "?"), for the wire's URLs and host names.
std::string Utf8FromWideBytes(const WideBytes& bytes, std::size_t length = SIZE_MAX);

// Cracks the first `length` code units of a wide URL: scheme http or https, optional user info
// (skipped), host, optional port (80 or 443 when absent), path, extra info. False for anything
// else, for an empty host, a port outside 1..65535 and a URL longer than kMaxUrlLength.
bool CrackWideUrl(const WideBytes& url, std::size_t length, UrlComponents& components);

// The stack's calls. Every call returns its result as a value; out-parameters are valid only on
// success. Handles may be closed in any order; a stack frees whatever is left when destroyed.
class HttpStack {
public:
  virtual ~HttpStack() = default;

  // True when the stack is usable.
  virtual bool CheckPlatform() = 0;
  // Cracks `length` code units of the URL; flags are 0.
  virtual bool CrackUrl(const WideBytes& url, std::size_t length, std::uint32_t flags,
                        UrlComponents& components) = 0;
  // Opens a session. No agent string and no bypass list: the agent travels as a header line.
  // `proxy` is "host:port" for every scheme or "http=host:port" for plain requests only.
  virtual HttpHandle Open(std::uint32_t accessType, const WideBytes& proxy, std::uint32_t flags) = 0;
  // Time-outs in milliseconds for name resolution, connection, sending and receiving.
  virtual bool SetTimeouts(HttpHandle session, int resolveMs, int connectMs, int sendMs, int receiveMs) = 0;
  virtual HttpHandle Connect(HttpHandle session, const WideBytes& host, int port, std::uint32_t reserved) = 0;
  // No version (HTTP/1.1), no referrer, no accept types. flags: kFlagSecure or 0.
  virtual HttpHandle OpenRequest(HttpHandle connection, const WideBytes& verb, const WideBytes& objectName,
                                 std::uint32_t flags) = 0;
  virtual bool SetCredentials(HttpHandle request, std::uint32_t target, std::uint32_t scheme,
                              const WideBytes& userName, const WideBytes& password) = 0;
  // A 32-bit option value.
  virtual bool SetOption(HttpHandle request, std::uint32_t option, std::uint32_t value) = 0;
  // `length` code units of the header block, lines separated by CR LF.
  virtual bool AddRequestHeaders(HttpHandle request, const WideBytes& headers, std::size_t length,
                                 std::uint32_t modifiers) = 0;
  // Sends the request with its body. The body is read in place, never copied (it may be megabytes),
  // so it must stay as it is until the request handle is closed, as WinHTTP asks of its callers.
  virtual bool SendRequest(HttpHandle request, const std::uint8_t* body, std::size_t bodyLength,
                           std::size_t totalLength) = 0;
  // Waits for the final answer's header block.
  virtual bool ReceiveResponse(HttpHandle request) = 0;
  // Bytes of the body ready to read; 0 at the end of the body.
  virtual bool QueryDataAvailable(HttpHandle request, std::size_t& available) = 0;
  virtual bool ReadData(HttpHandle request, std::uint8_t* buffer, std::size_t size, std::size_t& read) = 0;
  // Header query by index. With a buffer too small (or none) it fails and sets `size` to the bytes
  // needed, terminator included; on success `size` is the bytes written without the terminator.
  virtual bool QueryHeaders(HttpHandle request, std::uint32_t infoLevel, std::uint8_t* buffer,
                            std::size_t& size, std::uint32_t& index) = 0;
  virtual bool CloseHandle(HttpHandle handle) = 0;
};

} // namespace quillore
