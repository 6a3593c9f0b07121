// A TCP connect check with a hard deadline, for callers that must not hand a
// connect to a library that waits minutes for a black-holed address (WinInet
// under Wine ignores its connect time-out). Blocks the calling thread for at
// most the deadline (plus a host name's resolution). Any thread.
#pragma once

#include <cstdint>
#include <string>

namespace win {

// True when a connection to host:port is made within `deadline_ms`; the
// socket is closed at once. False when it is refused, not made in time, or
// the host cannot be resolved.
bool ConnectsWithin(const std::string& host, uint16_t port, uint32_t deadline_ms);

}  // namespace win
