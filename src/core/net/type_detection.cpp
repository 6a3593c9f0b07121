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

LaneAnswer LaneAnswerOf(HandshakeState state, ProxyFailure failure) {
  if (state == HandshakeState::kInProgress) return LaneAnswer::kPending;
  return AnsweredInProtocol(state, failure) ? LaneAnswer::kAnswered : LaneAnswer::kNoAnswer;
}

void DetectionRace::Set(size_t lane, LaneAnswer answer) {
  if (lane < lanes_.size() && lanes_[lane] == LaneAnswer::kPending) lanes_[lane] = answer;
}

std::optional<size_t> DetectionRace::winner() const {
  for (size_t i = 0; i < lanes_.size(); ++i) {
    if (lanes_[i] == LaneAnswer::kAnswered) return i;
    if (lanes_[i] == LaneAnswer::kPending) return std::nullopt;
  }
  return std::nullopt;
}

bool DetectionRace::decided() const {
  if (winner()) return true;
  for (LaneAnswer a : lanes_) {
    if (a != LaneAnswer::kNoAnswer) return false;
  }
  return true;
}

DetectionOutcome DetectionOutcomeOf(const std::array<HandshakeAttempt, kDetectionLanes>& lanes) {
  DetectionRace race;
  DetectionOutcome out;
  for (size_t i = 0; i < lanes.size(); ++i) {
    LaneAnswer a = LaneAnswerOf(lanes[i].state, lanes[i].failure);
    race.Set(i, a == LaneAnswer::kPending ? LaneAnswer::kNoAnswer : a);
    // A probe whose first message could not be written never connected.
    ProxyFailure f = lanes[i].failure;
    out.connected = out.connected ||
                    (f != ProxyFailure::kProxyUnreachable && f != ProxyFailure::kBadTarget &&
                     f != ProxyFailure::kSocks4NeedsIpv4 && f != ProxyFailure::kBadCredentials);
  }
  std::optional<size_t> winner = race.winner();
  if (winner) out.protocol = kDetectionOrder[*winner];
  out.attempt = lanes[winner.value_or(0)];
  return out;
}

}  // namespace core
