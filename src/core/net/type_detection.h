// Detecting the protocol of a row without a type: the row's proxy is asked in
// HTTP, SOCKS5 and SOCKS4 at once, each on a connection of its own, and the
// answers decide its type. A live proxy of any protocol is typed within one round
// trip, and a silent one costs one time-out, not one per protocol. Pure data and
// functions; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "core/net/proxy_handshake.h"

namespace core {

// The protocols asked, in the order of preference for a port that answers in
// more than one (a mixed HTTP and SOCKS port is typed HTTP, which the system
// setting can carry without the relay). HTTP goes first because a SOCKS server
// refuses an HTTP request at its first byte, so a SOCKS proxy's HTTP probe ends
// at once, while an HTTP proxy sent a SOCKS greeting waits in silence for the
// end of a request line: an HTTP answer never has to wait for a SOCKS probe.
inline constexpr std::array<ProxyProtocol, 3> kDetectionOrder = {
    ProxyProtocol::kHttp, ProxyProtocol::kSocks5, ProxyProtocol::kSocks4};
inline constexpr size_t kDetectionLanes = kDetectionOrder.size();

// Whether a handshake that ended in `state` with `failure` was answered in the
// protocol tried: the tunnel came up, or the proxy said no in that protocol's own
// words (refused, a log-in wanted or refused, a SOCKS5 error reply). A reply of
// another protocol, a malformed or cut short one, silence and a request that
// could not be sent are no answer.
bool AnsweredInProtocol(HandshakeState state, ProxyFailure failure);

// The type word a detected protocol gives its row: "SOCKS5", "SOCKS4", "SOCKS4A"
// or "HTTP".
std::string_view TypeWordOf(ProxyProtocol protocol);

// What one handshake attempt on a connection of its own came to: the state the
// handshake ended in and, when it failed, why (kProxyUnreachable: the proxy's port
// took no connection).
struct HandshakeAttempt {
  HandshakeState state = HandshakeState::kFailed;
  ProxyFailure failure = ProxyFailure::kProxyUnreachable;
};

enum class LaneAnswer { kPending, kAnswered, kNoAnswer };

// A probe's word so far, from its handshake: pending while it runs.
LaneAnswer LaneAnswerOf(HandshakeState state, ProxyFailure failure);

// The decision over one row's probes, one lane per protocol of kDetectionOrder.
class DetectionRace {
 public:
  // What lane `lane` has come to. A lane's answer is final once it is not
  // kPending; later calls for it are ignored.
  void Set(size_t lane, LaneAnswer answer);
  LaneAnswer lane(size_t lane) const { return lanes_[lane]; }
  // The lane whose protocol the row takes: the first lane in order that answered,
  // once every lane before it has ended without an answer. None while that is not
  // known yet, and when no lane answered.
  std::optional<size_t> winner() const;
  // A winner is known, or every lane ended without an answer.
  bool decided() const;

 private:
  std::array<LaneAnswer, kDetectionLanes> lanes_{};
};

// What a detection came to.
struct DetectionOutcome {
  std::optional<ProxyProtocol> protocol;  // the protocol the proxy answered in
  // That protocol's handshake (a log-in refused is an answer too); without an
  // answer, the HTTP probe's.
  HandshakeAttempt attempt;
  bool connected = false;  // some probe's connection was taken
};

// The outcome of probes that have all ended, one per lane of kDetectionOrder; a
// probe still in progress counts as one that ended without an answer.
DetectionOutcome DetectionOutcomeOf(const std::array<HandshakeAttempt, kDetectionLanes>& lanes);

}  // namespace core
