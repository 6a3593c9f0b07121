#include "core/net/socks5_client.h"

#include <array>
#include <utility>

#include "core/base/text.h"

namespace core {
namespace {

constexpr char kVersion = 0x05;
constexpr uint8_t kNoAuth = 0x00;
constexpr uint8_t kUserPassword = 0x02;
constexpr uint8_t kNoAcceptable = 0xFF;

ProxyFailure ReplyFailure(uint8_t code) {
  switch (code) {
    case 1:
      return ProxyFailure::kProxyInternalError;
    case 2:
      return ProxyFailure::kRefused;
    case 3:
      return ProxyFailure::kNetworkUnreachable;
    case 4:
      return ProxyFailure::kHostUnreachable;
    case 5:
      return ProxyFailure::kTargetRefused;
    case 6:
      return ProxyFailure::kTargetTimedOut;
    case 7:
      return ProxyFailure::kCommandNotSupported;
    case 8:
      return ProxyFailure::kAddressTypeNotSupported;
    default:
      return ProxyFailure::kBadReply;
  }
}

}  // namespace

Socks5Client::Socks5Client(const HandshakeRequest& request) : credentials_(request.credentials) {
  if (Greet()) SetTarget(request.target);
}

Socks5Client::Socks5Client(std::optional<ProxyCredentials> credentials)
    : credentials_(std::move(credentials)) {
  Greet();
}

bool Socks5Client::Greet() {
  if (credentials_ && (credentials_->user.empty() || credentials_->user.size() > 255 ||
                       credentials_->password.size() > 255)) {
    Fail(ProxyFailure::kBadCredentials);
    return false;
  }
  if (credentials_) {
    Send(std::string{kVersion, 0x02, char(kNoAuth), char(kUserPassword)});
  } else {
    Send(std::string{kVersion, 0x01, char(kNoAuth)});
  }
  return true;
}

bool Socks5Client::AwaitingTarget() const {
  return state() == HandshakeState::kInProgress && step_ == Step::kReply && connect_.empty();
}

void Socks5Client::SetTarget(const NetTarget& target) {
  if (!connect_.empty() || state() != HandshakeState::kInProgress) return;
  std::array<uint8_t, 16> address;
  HostKind kind = ClassifyHost(target.host, &address);
  if (kind == HostKind::kInvalid || target.port == 0) {
    Fail(ProxyFailure::kBadTarget);
    return;
  }
  connect_ = {kVersion, 0x01, 0x00};
  const char* bytes = reinterpret_cast<const char*>(address.data());
  if (kind == HostKind::kIpv4) {
    connect_ += char(0x01);
    connect_.append(bytes, 4);
  } else if (kind == HostKind::kIpv6) {
    connect_ += char(0x04);
    connect_.append(bytes, 16);
  } else {
    connect_ += char(0x03);
    connect_ += char(target.host.size());
    connect_ += target.host;
  }
  connect_ += char(target.port >> 8);
  connect_ += char(target.port & 0xFF);
  SendConnectWhenReady();
}

void Socks5Client::SendConnectWhenReady() {
  if (step_ == Step::kReply && !connect_.empty()) Send(connect_);
}

void Socks5Client::Parse() {
  if (step_ == Step::kMethod && !ParseMethod()) return;
  if (step_ == Step::kLogin && !ParseLogin()) return;
  if (step_ == Step::kReply) ParseReply();
}

// Each step returns true when it finished and the next may look at in_.
bool Socks5Client::ParseMethod() {
  if (in_.empty()) return false;
  if (in_[0] != kVersion) {
    Fail(ProxyFailure::kNotSocks5);
    return false;
  }
  if (in_.size() < 2) return false;
  uint8_t method = static_cast<uint8_t>(in_[1]);
  in_.erase(0, 2);
  if (method == kNoAuth) {
    step_ = Step::kReply;
    SendConnectWhenReady();
    return true;
  }
  if (method == kUserPassword && credentials_) {
    std::string login = {0x01, char(credentials_->user.size())};
    login += credentials_->user;
    login += char(credentials_->password.size());
    login += credentials_->password;
    Send(login);
    step_ = Step::kLogin;
    return true;
  }
  if (method == kNoAcceptable) {
    Fail(credentials_ ? ProxyFailure::kNoAcceptableMethod : ProxyFailure::kAuthRequired, method);
  } else {
    Fail(ProxyFailure::kBadReply, method);  // a method we never offered
  }
  return false;
}

bool Socks5Client::ParseLogin() {
  // The version byte of this sub-negotiation is 0x01; servers that answer 0x05 here
  // are common enough that the status alone decides.
  if (in_.size() < 2) return false;
  uint8_t status = static_cast<uint8_t>(in_[1]);
  in_.erase(0, 2);
  if (status != 0) {
    Fail(ProxyFailure::kAuthRefused, status);
    return false;
  }
  step_ = Step::kReply;
  SendConnectWhenReady();
  return true;
}

void Socks5Client::ParseReply() {
  if (in_.empty()) return;
  if (connect_.empty()) {
    Fail(ProxyFailure::kBadReply);  // the proxy spoke before it was asked anything
    return;
  }
  if (in_[0] != kVersion) {
    Fail(ProxyFailure::kBadReply);
    return;
  }
  if (in_.size() < 2) return;
  uint8_t code = static_cast<uint8_t>(in_[1]);
  if (code != 0) {
    // Decided by the code alone: many servers close right after a short refusal.
    Fail(ReplyFailure(code), code);
    return;
  }
  size_t total = 0;
  switch (ReadSocks5Address(in_, &bound_, &total)) {
    case Socks5AddressRead::kNeedMore:
      return;
    case Socks5AddressRead::kBadType:
      Fail(ProxyFailure::kBadReply, code);
      return;
    case Socks5AddressRead::kRead:
      break;
  }
  TunnelUp(total, code);
}

}  // namespace core
