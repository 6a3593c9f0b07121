// Detecting the protocol of a row without a type: it is tried as SOCKS5, then
// SOCKS4, then HTTP, each on a connection of its own, and the first protocol the
// proxy answers in sets the row's type. Pure data and functions; any thread.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "core/net/proxy_handshake.h"

namespace core {

inline constexpr std::array<ProxyProtocol, 3> kDetectionOrder = {
    ProxyProtocol::kSocks5, ProxyProtocol::kSocks4, ProxyProtocol::kHttp};

// Whether a handshake that ended in `state` with `failure` was answered in the
// protocol tried: the tunnel came up, or the proxy said no in that protocol's own
// words (refused, a log-in wanted or refused, a SOCKS5 error reply). A reply of
// another protocol, a malformed or cut short one, silence and a request that
// could not be sent are no answer.
bool AnsweredInProtocol(HandshakeState state, ProxyFailure failure);

// The type word a detected protocol gives its row: "SOCKS5", "SOCKS4", "SOCKS4A"
// or "HTTP".
std::string_view TypeWordOf(ProxyProtocol protocol);

// Walks the detection order for one row.
class TypeDetection {
 public:
  // The protocol to try now; none once the order is used up without an answer.
  std::optional<ProxyProtocol> current() const;
  // The attempt with current() ended; true when it answered (the row's type is then
  // current()), false when the next protocol is to be tried (or none is left).
  bool OnAttemptEnded(HandshakeState state, ProxyFailure failure);
  bool answered() const { return answered_; }

 private:
  size_t next_ = 0;
  bool answered_ = false;
};

}  // namespace core
