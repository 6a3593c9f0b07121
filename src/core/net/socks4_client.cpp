#include "core/net/socks4_client.h"

#include <array>

namespace core {
namespace {

constexpr size_t kReplySize = 8;
constexpr uint8_t kGranted = 0x5A;

}  // namespace

Socks4Client::Socks4Client(const HandshakeRequest& request, bool allow_names) {
  const NetTarget& target = request.target;
  std::array<uint8_t, 16> address;
  HostKind kind = ClassifyHost(target.host, &address);
  if (kind == HostKind::kInvalid || target.port == 0) {
    Fail(ProxyFailure::kBadTarget);
    return;
  }
  if (kind == HostKind::kIpv6 || (kind == HostKind::kName && !allow_names)) {
    Fail(ProxyFailure::kSocks4NeedsIpv4);
    return;
  }
  std::string user = request.credentials ? request.credentials->user : std::string();
  if (user.find('\0') != std::string::npos || user.size() > 255) {
    Fail(ProxyFailure::kBadCredentials);
    return;
  }
  std::string message = {0x04, 0x01, char(target.port >> 8), char(target.port & 0xFF)};
  if (kind == HostKind::kName) {
    message += std::string{0, 0, 0, 1};
  } else {
    message.append(reinterpret_cast<const char*>(address.data()), 4);
  }
  message += user;
  message += '\0';
  if (kind == HostKind::kName) {
    message += target.host;
    message += '\0';
  }
  Send(message);
}

void Socks4Client::Parse() {
  if (in_.empty()) return;
  if (in_[0] != 0x00 && in_[0] != 0x04) {
    Fail(ProxyFailure::kNotSocks4);
    return;
  }
  if (in_.size() < 2) return;
  uint8_t code = static_cast<uint8_t>(in_[1]);
  if (code != kGranted) {
    // A refusal is final whatever follows; some servers close after two bytes.
    bool known = code >= 0x5B && code <= 0x5D;
    Fail(known ? ProxyFailure::kRefused : ProxyFailure::kBadReply, code);
    return;
  }
  if (in_.size() >= kReplySize) TunnelUp(kReplySize, code);
}

}  // namespace core
