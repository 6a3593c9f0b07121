// The local relay's inbound side: reads the first bytes of a client connection and
// recognises an HTTP proxy request (CONNECT, or a plain request in absolute form) or a
// SOCKS5 CONNECT, yielding the target and the replies to send the client. Bytes in,
// bytes out; the caller owns the sockets. One machine per connection, one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/net/http_body.h"
#include "core/net/http_head.h"
#include "core/net/net_target.h"
#include "core/net/proxy_failure.h"

namespace core {

enum class InboundState : int { kReading = 0, kReady, kRefused };

enum class InboundKind : int {
  kHttpConnect = 0,  // "CONNECT host:port": a tunnel
  kHttpRequest,      // "GET http://host:port/..." and other methods: one plain request
  kSocks5Connect,    // a SOCKS5 CONNECT: a tunnel
};

enum class InboundRefusal : int {
  kNone = 0,
  kHeadTooLarge,        // the HTTP request head did not end within the limit
  kGarbage,             // neither an HTTP request nor a SOCKS5 greeting, or malformed
  kNotProxyRequest,     // an HTTP request without an http:// URL (origin form, https://)
  kBadTarget,           // the host or port cannot be used
  kLoop,                // the target is the relay's own listening port on this machine
  kUnsupportedCommand,  // a SOCKS5 command other than CONNECT
  kBadAddressType,      // a SOCKS5 address type other than IPv4, domain and IPv6
  kAuthOnly,            // a SOCKS5 client that offers only methods needing a log-in
  kSocks4,              // a SOCKS4 request; the relay speaks HTTP and SOCKS5
  kBadFraming,          // a body framed twice (Content-Length and Transfer-Encoding), a
                        // transfer coding other than chunked, or a bad Content-Length
  kBadChunk,            // a chunked request body whose framing does not parse
  kLoginRequired,       // the relay wants a log-in and the client offered none
  kLoginRefused,        // the client's user name or password is not the relay's
};

// The user's text for `refusal`, UTF-8; "" for kNone.
const char* InboundRefusalText(InboundRefusal refusal);

struct RelayInboundOptions {
  uint16_t listen_port = 0;          // the relay's own port, refused as a target on loopback
  size_t head_limit = kMaxHttpHead;  // longest HTTP request head accepted
  // When set, every client logs in with these: SOCKS5 by user name and password
  // (RFC 1929), HTTP by "Proxy-Authorization: Basic"; others are refused (SOCKS5
  // method 0xFF or status 1, HTTP 407 with Proxy-Authenticate).
  std::optional<ProxyCredentials> client_login = std::nullopt;
};

class RelayInbound {
 public:
  explicit RelayInbound(const RelayInboundOptions& options);

  // Takes bytes from the client, in any pieces. While reading, a SOCKS5 client's method
  // choice may appear in output(). On kRefused, output() holds the refusal to send
  // before closing. On kReady, bytes fed later are kept for TakeEarlyPayload().
  InboundState Feed(std::string_view received);

  std::string_view output() const { return output_; }
  void ConsumeOutput(size_t count);
  std::string TakeOutput();

  InboundState state() const { return state_; }
  InboundRefusal refusal() const { return refusal_; }

  // Valid on kReady.
  InboundKind kind() const { return kind_; }
  const NetTarget& target() const { return target_; }
  // The client's bytes past the request: a tunnel's first payload, or as much of a
  // plain request's body as came (never bytes past its end). A chunked body whose
  // framing does not parse turns the inbound kRefused, with its 400 in output().
  std::string TakeEarlyPayload();
  // For kHttpRequest, after TakeEarlyPayload(): the reader of the rest of the body,
  // which says how many of the client's later bytes still belong to the request.
  std::optional<HttpBodyReader> TakeRequestBody();

  // For kHttpRequest: the head to send the origin server ("GET /path HTTP/1.1"), or an
  // upstream HTTP proxy (absolute form, with `upstream` credentials when given). Both
  // drop the client's Proxy-Authorization, Proxy-Connection, Connection and Keep-Alive
  // fields, write Host from the URL (in place of the client's) and end with "Connection:
  // close": the relay carries one request per connection, since the next could be for
  // another host.
  std::string OriginFormHead() const;
  std::string AbsoluteFormHead(const ProxyCredentials* upstream) const;

  // What to send the client once the upstream tunnel is up: "HTTP/1.1 200 Connection
  // established" or the SOCKS5 success reply; "" for kHttpRequest, whose answer comes
  // from upstream.
  std::string SuccessReply() const;
  // What to send the client when the upstream failed for `why`: 502 (504 on time-outs)
  // with the reason as text, or the SOCKS5 reply code nearest to it.
  std::string FailureReply(ProxyFailure why) const;

 private:
  void ParseHttp();
  void ParseSocks5();
  bool ParseSocks5Request();
  bool ParseSocks5Login();
  bool HttpLoginMatches(const HttpHead& head) const;
  void AcceptHttpRequest(std::string_view head);
  void AcceptTarget(InboundKind kind, NetTarget target, size_t consumed);
  void Refuse(InboundRefusal why);
  std::string HeadWithTarget(std::string_view request_target,
                             const ProxyCredentials* upstream) const;

  RelayInboundOptions options_;
  InboundState state_ = InboundState::kReading;
  InboundRefusal refusal_ = InboundRefusal::kNone;
  InboundKind kind_ = InboundKind::kHttpConnect;
  NetTarget target_;
  std::string in_;
  std::string output_;
  size_t searched_ = 0;
  bool socks_ = false;        // the client speaks SOCKS5
  bool socks_login_ = false;  // a SOCKS5 log-in is due before the request
  bool socks_greeted_ = false;
  // A plain request, taken apart for rewriting.
  std::string method_, version_, authority_, path_;
  std::vector<std::string> fields_;  // "Name: value" lines kept for upstream
  BodyFraming body_framing_ = BodyFraming::kLength;
  uint64_t body_length_ = 0;
  std::optional<HttpBodyReader> body_;
};

}  // namespace core
