// Winsock before windows.h.
#include "win/platform/unique_socket.h"

#include <ws2tcpip.h>

#include "win/platform/tcp_connect_check.h"

namespace win {

bool ConnectsWithin(const std::string& host, uint16_t port, uint32_t deadline_ms) {
  WinsockScope winsock;
  if (!winsock.ok() || host.empty() || port == 0) return false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
    return false;
  }
  UniqueSocket s(socket(found->ai_family, found->ai_socktype, found->ai_protocol));
  bool connected = false;
  if (s) {
    u_long non_blocking = 1;
    ioctlsocket(s.get(), FIONBIO, &non_blocking);
    if (connect(s.get(), found->ai_addr, int(found->ai_addrlen)) == 0) {
      connected = true;
    } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
      fd_set writable;
      fd_set failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(s.get(), &writable);
      FD_SET(s.get(), &failed);
      timeval wait{long(deadline_ms / 1000), long(deadline_ms % 1000) * 1000};
      if (select(0, nullptr, &writable, &failed, &wait) > 0 && FD_ISSET(s.get(), &writable)) {
        int error = 0;
        int size = sizeof(error);
        connected = getsockopt(s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                               &size) == 0 &&
                    error == 0;
      }
    }
  }
  freeaddrinfo(found);
  return connected;
}

}  // namespace win
