// The platform seams of a verify run: `Clock` (monotonic millisecond ticks) and
// `SiteFetcher` (fetch one HTTP page, or log in to one FTP site, through one
// proxy). The Windows shell implements them with GetTickCount and WinInet; tests
// use a manual clock and a scripted fetcher. A fetcher belongs to one worker
// thread, except Abort, which any thread may call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/base/clock.h"
#include "core/net/type_detection.h"
#include "core/net/upstream.h"

namespace core {

// Session settings of every site test: a fresh session per site, no cache, the
// proxy given explicitly (the system proxy is never used).
inline constexpr std::string_view kVerifyUserAgent =
    "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)";
inline constexpr uint32_t kConnectTimeoutMs = 5000;
inline constexpr uint32_t kSendTimeoutMs = 1000;
inline constexpr uint32_t kReceiveTimeoutMs = 7000;
inline constexpr uint32_t kDataSendTimeoutMs = 1000;
inline constexpr uint32_t kDataReceiveTimeoutMs = 7000;
inline constexpr uint32_t kConnectRetries = 1;

// One site test's target. `proxy` is the session's proxy list: "http=h:p",
// "socks=h:p", "ftp=h:p" or plain "h:p" (serving every protocol).
struct SiteRequest {
  std::string proxy;
  std::string host;
  uint16_t port = 0;  // 0: the protocol's default
  std::string path;   // the object to GET; may be empty
  // https: the page comes through a tunnel (CONNECT) and the site's certificate
  // is checked, so a proxy cannot answer in the site's place.
  bool secure = false;
  std::string user;
  std::string password;
  // Set when the proxy speaks a protocol the fetcher's own client cannot
  // (SOCKS5): the fetcher must reach the site in that protocol (through a
  // local relay port bound to the proxy), never hand `proxy` on as it is.
  std::optional<UpstreamProxy> own_protocol;
};

enum class TransferResult {
  kComplete,  // the page was read to its end, or the sink asked to stop
  kFailed,    // sending or reading failed (also after Abort)
};

// An opened HTTP request (session, connection and request handles). Destroying
// it closes the request, the connection and the session, in this order.
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  // Sends "GET" (accept "*/*", no extra headers) and reads the response body,
  // handing each piece to `sink` as it arrives. When the sink returns false,
  // reading stops and the result is kComplete. The HTTP status is not examined,
  // except that a redirect (3xx) is not followed and hands the sink nothing:
  // the site then counts as a page without the verify string.
  virtual TransferResult SendAndRead(const std::function<bool(std::string_view)>& sink) = 0;
  // After SendAndRead: why the proxy failed the request in its own protocol, when
  // the fetcher spoke to the proxy itself (through the relay), e.g. a log-in
  // refused or a reply of another protocol. None when it has no such word.
  virtual std::optional<ProxyFailure> proxy_failure() { return std::nullopt; }
};

enum class FtpLoginResult {
  kLoggedIn,
  kNoConnection,   // no connection object and no network error
  kWrongPassword,  // the site refused the user name or password (WinInet 12014)
  kFailed,         // any other network error: the proxy is taken as unreachable
};

// An FTP session through a proxy. Destroying it closes the connection (if any)
// and the session.
class FtpSession {
 public:
  virtual ~FtpSession() = default;
  // Opens the FTP connection in active mode, which logs in.
  virtual FtpLoginResult Login(const SiteRequest& request) = 0;
};

class SiteFetcher {
 public:
  virtual ~SiteFetcher() = default;
  // Creates the session (user agent, proxy, time-outs above), the HTTP connection
  // and the GET request. Returns null when any of them could not be created.
  virtual std::unique_ptr<HttpRequest> OpenHttp(const SiteRequest& request) = 0;
  // Creates an FTP session through `proxy`. Returns null when it could not be created.
  virtual std::unique_ptr<FtpSession> OpenFtp(std::string_view proxy) = 0;
  // Connects to `proxy` once for each protocol of kDetectionOrder, all at once
  // (its own protocol is ignored), and runs each protocol's handshake toward
  // `target` (nothing is sent through a tunnel), within the connect and receive
  // time-outs above; the probes are decided as DetectionRace says, and every
  // connection is closed before it returns, the losers as soon as the race is
  // decided. None from a fetcher that cannot speak to a proxy itself: the row is
  // then tested as it is.
  virtual std::optional<DetectionOutcome> DetectProtocol(const UpstreamProxy& proxy,
                                                         const NetTarget& target) {
    (void)proxy;
    (void)target;
    return std::nullopt;
  }
  // Any thread: closes every handle that is open, so that a blocked call returns
  // at once with a failure, and makes every later call fail. Never blocks.
  virtual void Abort() = 0;
};

}  // namespace core
