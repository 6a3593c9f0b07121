// One proxy handshake on a socket of its own, for detecting a row's protocol:
// connects to the proxy, runs the protocol's client handshake toward a target
// and closes the socket, all within the given time-outs. Blocks the calling
// thread (a verify worker), never longer than the time-outs. Any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/net/upstream.h"
#include "core/verify/site_fetcher.h"

namespace win {

struct HandshakeTimeouts {
  uint32_t connect_ms = core::kConnectTimeoutMs;  // for the proxy to take the connection
  uint32_t reply_ms = core::kReceiveTimeoutMs;    // for the whole handshake after it
};

// The outcome of one attempt. kProxyUnreachable: no connection was made. When
// `abort` turns true the attempt ends within a tenth of a second as timed out.
// A SOCKS4 attempt toward a host name resolves the name here (SOCKS4 carries
// IPv4 addresses only).
core::HandshakeAttempt TryProxyHandshake(const core::UpstreamProxy& proxy,
                                         const core::NetTarget& target,
                                         const HandshakeTimeouts& timeouts = {},
                                         const std::atomic<bool>* abort = nullptr);

}  // namespace win
