// Detecting a row's protocol on sockets of its own: connects to the proxy once
// per protocol of core::kDetectionOrder, all at once, runs each protocol's client
// handshake toward a target, and stops as soon as core::DetectionRace is decided,
// closing every socket. Blocks the calling thread (a verify worker), never longer
// than the time-outs: a silent proxy costs one reply time-out, not one per
// protocol. Any thread.
#pragma once

#include <winsock2.h>

#include <cstdint>

#include "core/net/upstream.h"
#include "core/verify/site_fetcher.h"

namespace win {

struct HandshakeTimeouts {
  uint32_t connect_ms = core::kConnectTimeoutMs;  // for the proxy to take a connection
  uint32_t reply_ms = core::kReceiveTimeoutMs;    // for a whole handshake after it
};

// The proxy's protocol field is ignored. When the event `abort` (may be null) is
// set the probes end at once as unanswered. A SOCKS4 probe toward a host name
// resolves the name here (SOCKS4 carries IPv4 addresses only).
core::DetectionOutcome RaceProxyHandshakes(const core::UpstreamProxy& proxy,
                                           const core::NetTarget& target,
                                           const HandshakeTimeouts& timeouts = {},
                                           HANDLE abort = nullptr);

}  // namespace win
