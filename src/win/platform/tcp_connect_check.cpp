// Winsock before windows.h.
#include "win/platform/tcp_connect_check.h"

#include <ws2tcpip.h>

#include <algorithm>

namespace win {

SocketWait WaitForSocket(SOCKET s, bool write, uint32_t deadline, const std::atomic<bool>* abort) {
  constexpr uint32_t kSliceMs = 100;
  for (;;) {
    if (abort != nullptr && abort->load()) return SocketWait::kTimedOut;
    int32_t left = int32_t(deadline - GetTickCount());
    if (left <= 0) return SocketWait::kTimedOut;
    uint32_t slice = std::min<uint32_t>(uint32_t(left), kSliceMs);
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval wait{0, long(slice) * 1000};
    int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &wait);
    if (n < 0 || (n > 0 && FD_ISSET(s, &failed))) return SocketWait::kFailed;
    if (n > 0) return SocketWait::kReady;
  }
}

addrinfo* ResolveTcp(const std::string& host, uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (host.empty() || port == 0 ||
      getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    return nullptr;
  }
  return found;
}

UniqueSocket ConnectWithin(const std::string& host, uint16_t port, uint32_t timeout_ms,
                           const std::atomic<bool>* abort) {
  addrinfo* found = ResolveTcp(host, port);
  if (found == nullptr) return {};
  UniqueSocket s(socket(found->ai_family, found->ai_socktype, found->ai_protocol));
  bool connected = false;
  if (s) {
    u_long non_blocking = 1;
    ioctlsocket(s.get(), FIONBIO, &non_blocking);
    if (connect(s.get(), found->ai_addr, int(found->ai_addrlen)) == 0) {
      connected = true;
    } else if (WSAGetLastError() == WSAEWOULDBLOCK &&
               WaitForSocket(s.get(), true, GetTickCount() + timeout_ms, abort) ==
                   SocketWait::kReady) {
      int error = 0;
      int size = sizeof(error);
      connected =
          getsockopt(s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
          error == 0;
    }
  }
  freeaddrinfo(found);
  if (!connected) return {};
  return s;
}

bool ConnectsWithin(const std::string& host, uint16_t port, uint32_t deadline_ms) {
  WinsockScope winsock;
  return winsock.ok() && ConnectWithin(host, port, deadline_ms);
}

}  // namespace win
