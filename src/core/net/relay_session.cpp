#include "core/net/relay_session.h"

#include <utility>

namespace core {

bool FailureBlamesProxy(ProxyFailure failure) {
  switch (failure) {
    case ProxyFailure::kNone:
    case ProxyFailure::kBadTarget:
    case ProxyFailure::kNetworkUnreachable:
    case ProxyFailure::kHostUnreachable:
    case ProxyFailure::kTargetRefused:
    case ProxyFailure::kTargetTimedOut:
      return false;
    default:
      return true;
  }
}

RelaySession::RelaySession(const RelayInboundOptions& options,
                           std::vector<RelayCandidate> candidates)
    : inbound_(options), candidates_(std::move(candidates)), listen_port_(options.listen_port) {
  if (candidates_.size() > kMaxRelayAttempts) candidates_.resize(kMaxRelayAttempts);
}

bool RelaySession::CandidateIsRelay() const {
  return NamesOwnPort(candidate().upstream.proxy, {listen_port_});
}

void RelaySession::OpenAhead() {
  if (phase_ != RelayPhase::kReadingRequest || candidates_.empty()) {
    Close("没有正在使用的代理");
    return;
  }
  ahead_ = true;
  candidates_.resize(1);
  if (CandidateIsRelay()) {
    Close(std::string(kRelayLoopText));
    return;
  }
  ++connects_;
  phase_ = RelayPhase::kConnecting;
  const UpstreamProxy& up = candidate().upstream;
  handshake_ = StartHandshakeAhead(up.protocol, up.credentials);
  if (handshake_) to_upstream_ = handshake_->TakeOutput();
}

std::unique_ptr<ProxyHandshake> RelaySession::TakeHeldHandshake() {
  if (phase_ != RelayPhase::kHeld) return nullptr;
  return std::move(handshake_);
}

void RelaySession::UseHeld(std::unique_ptr<ProxyHandshake> greeted) {
  if (phase_ != RelayPhase::kReadingRequest || candidates_.empty()) return;
  held_ = true;
  greeted_ = std::move(greeted);
}

void RelaySession::OnClientData(std::string_view bytes) {
  if (phase_ != RelayPhase::kReadingRequest) return;
  InboundState state = inbound_.Feed(bytes);
  to_client_ += inbound_.TakeOutput();
  if (state == InboundState::kRefused) {
    Close(InboundRefusalText(inbound_.refusal()));
  } else if (state == InboundState::kReady) {
    RequestReady();
  }
}

void RelaySession::OnClientClosed() {
  if (phase_ == RelayPhase::kPiping || phase_ == RelayPhase::kClosing) return;
  to_client_.clear();
  Close(phase_ == RelayPhase::kReadingRequest ? "客户端在请求完整之前断开"
                                              : "客户端在隧道建立之前断开");
}

void RelaySession::RequestReady() {
  early_payload_ = inbound_.TakeEarlyPayload();
  if (inbound_.state() == InboundState::kRefused) {
    to_client_ += inbound_.TakeOutput();
    Close(InboundRefusalText(inbound_.refusal()));
    return;
  }
  if (choose_) {
    candidates_ = choose_(inbound_.target());
    if (candidates_.size() > kMaxRelayAttempts) candidates_.resize(kMaxRelayAttempts);
  }
  if (candidates_.empty()) {
    to_client_ += inbound_.FailureReply(ProxyFailure::kProxyUnreachable);
    Close("没有正在使用的代理");
    return;
  }
  StartAttempt();
}

// What the proxy is told first never waits for an answer from it (a greeting,
// a CONNECT, a request in absolute form), so it is ready from the start of the
// attempt and may go out with the connect itself. The first attempt may run on
// the connection opened ahead, straight to the handshake; a plain request to an
// HTTP proxy never does, as it would go out whole with no reply to tell a
// dropped connection from a failed proxy.
void RelaySession::StartAttempt() {
  handshake_.reset();
  to_upstream_.clear();
  heard_upstream_ = false;
  const UpstreamProxy& up = candidate().upstream;
  // A row that names the relay itself would have it connect to itself, again
  // and again, for every connection: it is passed over without a connect.
  if (CandidateIsRelay()) {
    AttemptFailed(ProxyFailure::kProxyUnreachable, std::string(kRelayLoopText));
    return;
  }
  bool plain = inbound_.kind() == InboundKind::kHttpRequest && up.protocol == ProxyProtocol::kHttp;
  on_held_ = held_ && !plain;
  held_ = false;
  if (on_held_ && greeted_) {
    handshake_ = std::move(greeted_);
    handshake_->SetTarget(inbound_.target());
  } else if (!plain) {
    handshake_ =
        StartProxyHandshake(up.protocol, HandshakeRequest{inbound_.target(), up.credentials});
  }
  if (on_held_) {
    phase_ = RelayPhase::kHandshaking;
    AfterHandshakeFeed();
    return;
  }
  ++connects_;
  phase_ = RelayPhase::kConnecting;
  if (plain) {
    // A plain request goes to an HTTP proxy as it came, in absolute form: no tunnel.
    const ProxyCredentials* credentials = up.credentials ? &*up.credentials : nullptr;
    to_upstream_ = inbound_.AbsoluteFormHead(credentials) + early_payload_;
    return;
  }
  to_upstream_ = handshake_->TakeOutput();
}

void RelaySession::OnUpstreamConnected() {
  if (phase_ != RelayPhase::kConnecting) return;
  if (ahead_) {
    phase_ = handshake_ ? RelayPhase::kHandshaking : RelayPhase::kHeld;
    if (handshake_) AfterHandshakeFeed();
    return;
  }
  if (!handshake_) {
    StartPiping("", "");  // the request went out with the connect
    return;
  }
  phase_ = RelayPhase::kHandshaking;
  AfterHandshakeFeed();
}

void RelaySession::OnUpstreamConnectFailed() {
  if (phase_ != RelayPhase::kConnecting) return;
  AttemptFailed(ProxyFailure::kProxyUnreachable, ProxyFailureText(ProxyFailure::kProxyUnreachable));
}

void RelaySession::OnUpstreamData(std::string_view bytes) {
  if (phase_ == RelayPhase::kReadingRequest || phase_ == RelayPhase::kHeld) {
    DropHeld("代理在请求之前发来数据");
    return;
  }
  if (phase_ != RelayPhase::kHandshaking) return;
  heard_upstream_ = true;
  handshake_->Feed(bytes);
  AfterHandshakeFeed();
}

void RelaySession::OnUpstreamClosed() {
  if (phase_ == RelayPhase::kReadingRequest || phase_ == RelayPhase::kHeld) {
    DropHeld("代理断开了连接");
    return;
  }
  if (phase_ == RelayPhase::kConnecting) {
    OnUpstreamConnectFailed();
  } else if (phase_ == RelayPhase::kHandshaking) {
    handshake_->OnClosed();
    AfterHandshakeFeed();
  }
}

void RelaySession::OnTimedOut() {
  switch (phase_) {
    case RelayPhase::kReadingRequest:
      to_client_.clear();
      Close("客户端请求超时");
      break;
    case RelayPhase::kConnecting:
      AttemptFailed(ProxyFailure::kTimeout, "连接代理服务器超时");
      break;
    case RelayPhase::kHandshaking:
      handshake_->OnTimedOut();
      AfterHandshakeFeed();
      break;
    case RelayPhase::kHeld:
      Close("预先打开的连接已闲置太久");
      break;
    case RelayPhase::kPiping:
    case RelayPhase::kClosing:
      break;
  }
}

// The connection opened ahead is gone before it was used: a held one closes; a
// client's session connects afresh once its request is complete.
void RelaySession::DropHeld(std::string reason) {
  if (phase_ == RelayPhase::kHeld) {
    Close(std::move(reason));
    return;
  }
  held_ = false;
  greeted_.reset();
}

void RelaySession::AfterHandshakeFeed() {
  to_upstream_ += handshake_->TakeOutput();
  switch (handshake_->state()) {
    case HandshakeState::kInProgress:
      if (ahead_ && handshake_->AwaitingTarget()) phase_ = RelayPhase::kHeld;
      break;
    case HandshakeState::kFailed:
      if (on_held_ && !heard_upstream_ && handshake_->failure() == ProxyFailure::kBadReply) {
        StartAttempt();  // dropped while idle, not refused: the same proxy afresh
        break;
      }
      AttemptFailed(handshake_->failure(), handshake_->FailureText());
      break;
    case HandshakeState::kTunnelUp: {
      std::string to_client = inbound_.SuccessReply() + handshake_->TakePayload();
      std::string to_upstream = inbound_.kind() == InboundKind::kHttpRequest
                                    ? inbound_.OriginFormHead() + early_payload_
                                    : early_payload_;
      StartPiping(std::move(to_client), std::move(to_upstream));
      break;
    }
  }
}

void RelaySession::AttemptFailed(ProxyFailure failure, std::string text) {
  if (ahead_) {
    Close(candidate().label + ": " + text);  // nobody waits for it
    return;
  }
  failures_.push_back({attempt_, candidate().label, failure, text, candidate().row});
  if (FailureBlamesProxy(failure) && attempt_ + 1 < candidates_.size()) {
    ++attempt_;
    StartAttempt();
    return;
  }
  to_client_ += inbound_.FailureReply(failure);
  Close(candidate().label + ": " + text);
}

void RelaySession::StartPiping(std::string to_client, std::string to_upstream) {
  handshake_.reset();
  to_client_ += to_client;
  to_upstream_ += to_upstream;
  early_payload_.clear();
  phase_ = RelayPhase::kPiping;
}

void RelaySession::Close(std::string reason) {
  handshake_.reset();
  to_upstream_.clear();
  end_reason_ = std::move(reason);
  phase_ = RelayPhase::kClosing;
}

std::string RelaySession::TakeClientOutput() { return std::exchange(to_client_, {}); }

std::string RelaySession::TakeUpstreamOutput() { return std::exchange(to_upstream_, {}); }

}  // namespace core
