#include "core/net/type_detection.h"

namespace core {

bool AnsweredInProtocol(HandshakeState state, ProxyFailure failure) {
  if (state == HandshakeState::kTunnelUp) return true;
  if (state != HandshakeState::kFailed) return false;
  switch (failure) {
    case ProxyFailure::kRefused:
    case ProxyFailure::kAuthRequired:
    case ProxyFailure::kAuthRefused:
    case ProxyFailure::kNoAcceptableMethod:
    case ProxyFailure::kProxyInternalError:
    case ProxyFailure::kNetworkUnreachable:
    case ProxyFailure::kHostUnreachable:
    case ProxyFailure::kTargetRefused:
    case ProxyFailure::kTargetTimedOut:
    case ProxyFailure::kCommandNotSupported:
    case ProxyFailure::kAddressTypeNotSupported:
      return true;
    default:
      return false;
  }
}

std::string_view TypeWordOf(ProxyProtocol protocol) {
  switch (protocol) {
    case ProxyProtocol::kSocks5:
      return "SOCKS5";
    case ProxyProtocol::kSocks4:
      return "SOCKS4";
    case ProxyProtocol::kSocks4a:
      return "SOCKS4A";
    case ProxyProtocol::kHttp:
      break;
  }
  return "HTTP";
}

std::optional<ProxyProtocol> TypeDetection::current() const {
  if (answered_) return kDetectionOrder[next_];
  if (next_ >= kDetectionOrder.size()) return std::nullopt;
  return kDetectionOrder[next_];
}

bool TypeDetection::OnAttemptEnded(HandshakeState state, ProxyFailure failure) {
  if (answered_ || next_ >= kDetectionOrder.size()) return answered_;
  if (AnsweredInProtocol(state, failure)) {
    answered_ = true;
    return true;
  }
  ++next_;
  return false;
}

}  // namespace core
