// TCP connects with a hard deadline, for callers that must not hand a connect
// to a library that waits minutes for a black-holed address (WinInet under
// Wine ignores its connect time-out). They block the calling thread for at
// most the deadline (plus a host name's resolution). Any thread.
#pragma once

// Winsock before windows.h.
#include <atomic>
#include <cstdint>
#include <string>

#include "win/platform/unique_socket.h"

#include <ws2tcpip.h>

namespace win {

enum class SocketWait { kReady, kTimedOut, kFailed };

// Waits until `s` can be written (`write`) or read, the tick `deadline`
// (GetTickCount) passes, or `abort` (may be null) is set, which counts as
// timed out. The abort flag is looked at every 100 ms.
SocketWait WaitForSocket(SOCKET s, bool write, uint32_t deadline,
                         const std::atomic<bool>* abort = nullptr);

// The first TCP address of host:port (a name is looked up, blocking), or null
// when it has none. Free it with freeaddrinfo.
addrinfo* ResolveTcp(const std::string& host, uint16_t port);

// A connected non-blocking socket to host:port made within `timeout_ms`, or an
// empty one when the connect is refused, not made in time, aborted or the host
// cannot be resolved. The caller keeps Winsock started (WinsockScope).
UniqueSocket ConnectWithin(const std::string& host, uint16_t port, uint32_t timeout_ms,
                           const std::atomic<bool>* abort = nullptr);

// True when a connection to host:port is made within `deadline_ms`; the
// socket is closed at once.
bool ConnectsWithin(const std::string& host, uint16_t port, uint32_t deadline_ms);

}  // namespace win
