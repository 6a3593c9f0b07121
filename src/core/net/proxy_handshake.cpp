#include "core/net/proxy_handshake.h"

#include "core/base/text.h"
#include "core/net/http_connect_client.h"
#include "core/net/socks4_client.h"
#include "core/net/socks5_client.h"

namespace core {

HandshakeState ProxyHandshake::Feed(std::string_view received) {
  if (state_ == HandshakeState::kTunnelUp) {
    payload_.append(received);
  } else if (state_ == HandshakeState::kInProgress) {
    in_.append(received);
    Parse();
    if (state_ == HandshakeState::kInProgress && in_.size() > kMaxHandshakeReply) {
      Fail(ProxyFailure::kBadReply);
    }
  }
  return state_;
}

void ProxyHandshake::OnClosed() {
  if (state_ == HandshakeState::kInProgress) Fail(ProxyFailure::kBadReply);
}

void ProxyHandshake::OnTimedOut() {
  if (state_ == HandshakeState::kInProgress) Fail(ProxyFailure::kTimeout);
}

void ProxyHandshake::ConsumeOutput(size_t count) {
  output_.erase(0, count < output_.size() ? count : output_.size());
}

std::string ProxyHandshake::TakeOutput() {
  std::string out;
  out.swap(output_);
  return out;
}

std::string ProxyHandshake::FailureText() const {
  std::string text = ProxyFailureText(failure_);
  if (failure_ == ProxyFailure::kNone || reply_code_ < 0) return text;
  if (CodeIsHttpStatus()) return text + Format(" (HTTP %d)", reply_code_);
  return text + Format(" (0x%02X)", reply_code_);
}

std::string ProxyHandshake::TakePayload() {
  std::string out;
  out.swap(payload_);
  return out;
}

void ProxyHandshake::Fail(ProxyFailure why, int code) {
  state_ = HandshakeState::kFailed;
  failure_ = why;
  reply_code_ = code;
  in_.clear();
  // Nothing more goes to a proxy that failed us.
  output_.clear();
}

void ProxyHandshake::TunnelUp(size_t consumed, int code) {
  state_ = HandshakeState::kTunnelUp;
  reply_code_ = code;
  payload_.append(in_, consumed < in_.size() ? consumed : in_.size());
  in_.clear();
}

std::unique_ptr<ProxyHandshake> StartProxyHandshake(ProxyProtocol protocol,
                                                    const HandshakeRequest& request) {
  switch (protocol) {
    case ProxyProtocol::kHttp:
      return std::make_unique<HttpConnectClient>(request);
    case ProxyProtocol::kSocks4:
      return std::make_unique<Socks4Client>(request, false);
    case ProxyProtocol::kSocks4a:
      return std::make_unique<Socks4Client>(request, true);
    case ProxyProtocol::kSocks5:
      return std::make_unique<Socks5Client>(request);
  }
  return std::make_unique<Socks5Client>(request);
}

std::unique_ptr<ProxyHandshake> StartHandshakeAhead(
    ProxyProtocol protocol, const std::optional<ProxyCredentials>& credentials) {
  if (protocol != ProxyProtocol::kSocks5) return nullptr;
  return std::make_unique<Socks5Client>(credentials);
}

}  // namespace core
