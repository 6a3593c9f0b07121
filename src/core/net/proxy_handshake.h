// The client side of one proxy handshake as a state machine over bytes: the caller
// owns the socket, sends output(), feeds what the proxy answers, and once the tunnel is
// up passes TakePayload() and every later byte straight through. One machine per
// connection, driven by one thread at a time (no locking inside).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/net/net_target.h"
#include "core/net/proxy_failure.h"

namespace core {

enum class ProxyProtocol : int { kHttp = 0, kSocks4, kSocks4a, kSocks5 };

struct HandshakeRequest {
  NetTarget target;
  std::optional<ProxyCredentials> credentials;
};

enum class HandshakeState : int { kInProgress = 0, kTunnelUp, kFailed };

// No handshake reply is allowed to grow past this many bytes (an HTTP reply head, a
// SOCKS reply is far shorter); a proxy that sends more fails with kBadReply.
inline constexpr size_t kMaxHandshakeReply = 16 * 1024;

class ProxyHandshake {
 public:
  virtual ~ProxyHandshake() = default;
  ProxyHandshake(const ProxyHandshake&) = delete;
  ProxyHandshake& operator=(const ProxyHandshake&) = delete;

  // Takes bytes received from the proxy, in any pieces. Bytes past the handshake are
  // kept for TakePayload(); after a failure bytes are ignored.
  HandshakeState Feed(std::string_view received);
  // The proxy closed its side before the tunnel was up: kBadReply.
  void OnClosed();
  // The caller's deadline passed before the tunnel was up: kTimeout.
  void OnTimedOut();

  // Bytes to send to the proxy now. The caller sends them and reports how many went
  // out, or moves them all out at once.
  std::string_view output() const { return output_; }
  void ConsumeOutput(size_t count);
  std::string TakeOutput();

  HandshakeState state() const { return state_; }
  ProxyFailure failure() const { return failure_; }
  // The proxy's own code behind the outcome: the HTTP status, the SOCKS4 reply byte,
  // the SOCKS5 method or reply byte; -1 when the proxy gave none.
  int reply_code() const { return reply_code_; }
  // ProxyFailureText() with the proxy's code when there is one: "代理拒绝连接 (HTTP 403)".
  std::string FailureText() const;
  // Bytes that arrived after the handshake's last byte: the first tunnel payload.
  std::string TakePayload();

  // A machine started ahead of its target (StartHandshakeAhead) has said all it
  // can without one while this is true; SetTarget() then asks for the tunnel. A
  // machine started with its target never waits for one.
  virtual bool AwaitingTarget() const { return false; }
  virtual void SetTarget(const NetTarget&) {}

 protected:
  ProxyHandshake() = default;
  // Parses in_ from its start; called after every Feed while in progress.
  virtual void Parse() = 0;
  // Whether reply_code() is an HTTP status (FailureText() then says "HTTP 403", else
  // the byte in hex).
  virtual bool CodeIsHttpStatus() const { return false; }

  void Send(std::string_view bytes) { output_.append(bytes); }
  void Fail(ProxyFailure why, int code = -1);
  // The handshake's bytes end at in_[consumed]; the rest is payload.
  void TunnelUp(size_t consumed, int code = -1);

  std::string in_;  // received and not yet consumed by a finished step

 private:
  std::string output_;
  std::string payload_;
  HandshakeState state_ = HandshakeState::kInProgress;
  ProxyFailure failure_ = ProxyFailure::kNone;
  int reply_code_ = -1;
};

// A machine for `protocol` with its first message in output(), or already failed when
// the request cannot be sent (kBadTarget, kSocks4NeedsIpv4, kBadCredentials). The
// target host is passed to the proxy as given; a name is never resolved here, except
// that SOCKS4 takes IPv4 literals only and SOCKS4a sends a name after the user id.
std::unique_ptr<ProxyHandshake> StartProxyHandshake(ProxyProtocol protocol,
                                                    const HandshakeRequest& request);

// The part of a handshake that does not depend on the target, for a connection
// opened before its client has said where to: SOCKS5's greeting and log-in, ended
// when AwaitingTarget(). Null for the protocols whose first message already names
// the target (HTTP, SOCKS4, SOCKS4a): for them the connection alone is ahead.
std::unique_ptr<ProxyHandshake> StartHandshakeAhead(
    ProxyProtocol protocol, const std::optional<ProxyCredentials>& credentials);

}  // namespace core
