// A plain blocking client of a port on 127.0.0.1, for the tests and tools that
// talk to the local relay: connect, send everything, read until the peer
// closes. Receives give up after 10 s. Test code only; Winsock must be started.
#pragma once

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <cstdint>
#include <string>
#include <string_view>

#include "win/platform/unique_socket.h"

namespace win {

// A connected socket, or an empty one. `no_delay` sends small writes at once
// (for timing a request and its answer).
inline UniqueSocket ConnectTo(uint16_t port, bool no_delay = false) {
  UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (no_delay) {
    BOOL on = TRUE;
    setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  DWORD timeout = 10000;
  setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof(timeout));
  if (connect(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) s.reset();
  return s;
}

inline bool SendAll(SOCKET s, std::string_view bytes) {
  while (!bytes.empty()) {
    int n = send(s, bytes.data(), static_cast<int>(bytes.size()), 0);
    if (n <= 0) return false;
    bytes.remove_prefix(size_t(n));
  }
  return true;
}

// Everything until the peer closes (or 10 s pass without a byte).
inline std::string ReadAll(SOCKET s) {
  std::string all;
  char buf[8192];
  for (int n; (n = recv(s, buf, sizeof(buf), 0)) > 0;) all.append(buf, size_t(n));
  return all;
}

// One exchange: connects, sends `request`, optionally half-closes, and returns
// all that came back.
inline std::string Exchange(uint16_t port, std::string_view request, bool half_close = false) {
  UniqueSocket s = ConnectTo(port);
  if (!s) return "(no connection)";
  SendAll(s.get(), request);
  if (half_close) shutdown(s.get(), SD_SEND);
  return ReadAll(s.get());
}

}  // namespace win
