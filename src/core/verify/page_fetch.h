// One page fetched through one proxy (or directly) over one connection, as a state
// machine without sockets: the driver connects to connect_to(), sends what
// TakeOutput() gives, feeds what arrives, reports the end of the stream and the
// passing of deadline_ms(). The sequence: the TCP connect, the proxy's handshake
// (SOCKS4/4a/5, or CONNECT for an https page through an HTTP proxy), TLS for https
// through the TlsChannel seam, the GET, and the reply read with bounded buffers:
// the head within kMaxHttpHead, the body scanned for the verify string up to
// kMaxPageRead bytes or kept up to kMaxKeptPage. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/net/http_response.h"
#include "core/net/proxy_handshake.h"
#include "core/net/type_detection.h"
#include "core/net/upstream.h"
#include "core/verify/site_url.h"
#include "core/verify/verify_run.h"

namespace core {

// A page kept whole (a judge or an address-echo page) is cut at this size.
inline constexpr size_t kMaxKeptPage = 64 * 1024;

// TLS on the client side over bytes: the driver's TLS library behind it, with the
// server's certificate checked for the host name given at its start.
class TlsChannel {
 public:
  virtual ~TlsChannel() = default;
  // Bytes from the network; the plain bytes they complete are appended to *plain.
  // False when the session failed (error() says why).
  virtual bool Receive(std::string_view encrypted, std::string* plain) = 0;
  // Plain bytes to send; they go out once the handshake is done.
  virtual bool Send(std::string_view plain) = 0;
  // Encrypted bytes to put on the network now.
  virtual std::string TakeOutgoing() = 0;
  virtual std::string error() const = 0;
};

class TlsFactory {
 public:
  virtual ~TlsFactory() = default;
  // A channel whose handshake bytes are ready in TakeOutgoing(); null when the
  // library could not make one.
  virtual std::unique_ptr<TlsChannel> Start(std::string_view host) = 0;
};

struct FetchTarget {
  bool secure = false;  // https
  NetTarget site;       // the page's host and port
  std::string ipv4;     // the host's IPv4 address, when known (SOCKS4 sends no names)
  std::string path;     // "/..." or empty
};

// The target of a site URL (http or https only); false for any other.
bool FetchTargetOfUrl(const SiteUrl& url, FetchTarget* out);

struct FetchTimeouts {
  uint32_t connect_ms = kConnectTimeoutMs;  // the TCP connect to the first hop
  uint32_t receive_ms = kReceiveTimeoutMs;  // silence allowed while waiting for bytes
  uint32_t whole_ms = kConnectTimeoutMs + kReceiveTimeoutMs;  // the whole fetch
};

enum class FetchStage : int { kConnect = 0, kHandshake, kTls, kReply, kDone };

struct FetchResult {
  bool complete = false;  // the reply was read to its end (or to the read limit)
  int status = -1;        // the reply's HTTP status
  bool found = false;     // the verify string (scan mode) was in the page
  double seconds = 0;     // from the connect's start to the end
  std::string page;       // keep mode: the page, at most kMaxKeptPage bytes
  // When not complete: where it failed, and why in English.
  FetchStage failed_in = FetchStage::kDone;
  std::string reason;
  // The proxy's handshake, when there was one.
  bool had_handshake = false;
  HandshakeState handshake_state = HandshakeState::kInProgress;
  ProxyFailure handshake_failure = ProxyFailure::kNone;
};

class PageFetch {
 public:
  enum class Mode { kScan, kKeep };
  // `via`: the proxy, or none for a direct fetch. `verify_string` (scan mode) must
  // outlive the fetch; `tls` is needed for https pages. `now` starts the clock.
  PageFetch(const std::optional<UpstreamProxy>& via, const FetchTarget& target,
            std::string_view verify_string, Mode mode, TlsFactory* tls, FetchTimeouts timeouts,
            uint32_t now);
  PageFetch(const PageFetch&) = delete;
  PageFetch& operator=(const PageFetch&) = delete;

  // Keep mode: the size past which the page is cut (kMaxKeptPage unless set).
  void set_keep_limit(size_t bytes) { keep_limit_ = bytes; }

  const NetTarget& connect_to() const { return connect_to_; }
  bool done() const { return stage_ == FetchStage::kDone; }
  FetchStage stage() const { return stage_; }

  void OnConnected(uint32_t now);
  // The connect failed; `reason` in English ("connection refused").
  void OnConnectFailed(std::string_view reason, uint32_t now);
  std::string TakeOutput();
  void OnReceived(std::string_view bytes, uint32_t now);
  // The other side closed, or the connection broke (`reason` then says how).
  void OnEnd(uint32_t now, std::string_view reason = {});
  // The tick count by which the next thing must happen; OnTick fails the fetch
  // once it has passed.
  uint32_t deadline_ms() const;
  void OnTick(uint32_t now);

  const FetchResult& result() const { return result_; }
  // Whether the proxy has answered in the fetch's protocol so far: its handshake
  // came through or was refused in its own words, or (plain http through an HTTP
  // proxy, which has no handshake) a reply's status line arrived. Final once it
  // is not kPending, also while the page is still read.
  LaneAnswer answer() const;

 private:
  void Finish(uint32_t now);
  void Fail(FetchStage stage, std::string reason, uint32_t now);
  // The tunnel (or the direct connection) is up: TLS or the request.
  void BeginPage(std::string payload, uint32_t now);
  void SendRequest(const std::string& head);
  void FeedPlain(std::string_view bytes, uint32_t now);
  void CheckReader(uint32_t now);
  bool Sink(std::string_view piece);

  std::optional<UpstreamProxy> via_;
  FetchTarget target_;
  Mode mode_;
  TlsFactory* tls_factory_;
  FetchTimeouts timeouts_;
  NetTarget connect_to_;
  uint32_t started_ms_;
  uint32_t last_activity_ms_;
  FetchStage stage_ = FetchStage::kConnect;
  size_t keep_limit_ = kMaxKeptPage;
  std::unique_ptr<ProxyHandshake> handshake_;
  std::unique_ptr<TlsChannel> tls_;
  std::optional<HttpResponseReader> reader_;
  VerifyStringScanner scanner_;
  std::string output_;
  std::string plain_;  // reused buffer for decrypted bytes
  FetchResult result_;
};

// The request head of a fetch: origin form ("GET /path HTTP/1.1") for a direct
// fetch, a tunnel and https; the absolute form (with the proxy's log-in) for plain
// http through an HTTP proxy. The program's user agent, "Accept: */*",
// "Connection: close". Empty when the path cannot be sent.
std::string FetchRequestHead(const FetchTarget& target, const UpstreamProxy* http_proxy);

}  // namespace core
