// Winsock before windows.h.
#include "win/platform/handshake_probe.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <string>

#include "win/platform/unique_socket.h"

namespace win {
namespace {

// How often a wait looks at the abort flag.
constexpr uint32_t kSliceMs = 100;

enum class Wait { kReady, kTimedOut, kFailed };

// Waits until `s` can be written (`write`) or read, the tick `deadline` passes,
// or `abort` is set (which counts as timed out).
Wait WaitFor(SOCKET s, bool write, uint32_t deadline, const std::atomic<bool>* abort) {
  for (;;) {
    if (abort != nullptr && abort->load()) return Wait::kTimedOut;
    int32_t left = int32_t(deadline - GetTickCount());
    if (left <= 0) return Wait::kTimedOut;
    uint32_t slice = std::min<uint32_t>(uint32_t(left), kSliceMs);
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval wait{0, long(slice) * 1000};
    int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &wait);
    if (n < 0 || (n > 0 && FD_ISSET(s, &failed))) return Wait::kFailed;
    if (n > 0) return Wait::kReady;
  }
}

// A connected non-blocking socket to host:port, or an empty one.
UniqueSocket Connect(const core::NetTarget& to, uint32_t timeout_ms,
                     const std::atomic<bool>* abort) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (to.host.empty() || to.port == 0 ||
      getaddrinfo(to.host.c_str(), std::to_string(to.port).c_str(), &hints, &found) != 0 ||
      found == nullptr) {
    return {};
  }
  UniqueSocket s(socket(found->ai_family, found->ai_socktype, found->ai_protocol));
  bool connected = false;
  if (s) {
    u_long non_blocking = 1;
    ioctlsocket(s.get(), FIONBIO, &non_blocking);
    if (connect(s.get(), found->ai_addr, int(found->ai_addrlen)) == 0) {
      connected = true;
    } else if (WSAGetLastError() == WSAEWOULDBLOCK &&
               WaitFor(s.get(), true, GetTickCount() + timeout_ms, abort) == Wait::kReady) {
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

// SOCKS4 carries an IPv4 address: a name is resolved to one here; an address
// that cannot be had leaves the target as it is (the handshake then refuses it).
core::NetTarget Socks4Target(core::NetTarget target) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(target.host.c_str(), nullptr, &hints, &found) == 0 && found != nullptr) {
    char text[INET_ADDRSTRLEN] = {};
    auto* address = reinterpret_cast<sockaddr_in*>(found->ai_addr);
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text)) != nullptr) target.host = text;
    freeaddrinfo(found);
  }
  return target;
}

}  // namespace

core::HandshakeAttempt TryProxyHandshake(const core::UpstreamProxy& proxy,
                                         const core::NetTarget& target,
                                         const HandshakeTimeouts& timeouts,
                                         const std::atomic<bool>* abort) {
  core::HandshakeAttempt unreachable;
  WinsockScope winsock;
  if (!winsock.ok()) return unreachable;
  core::HandshakeRequest request{
      proxy.protocol == core::ProxyProtocol::kSocks4 ? Socks4Target(target) : target,
      proxy.credentials};
  std::unique_ptr<core::ProxyHandshake> handshake =
      core::StartProxyHandshake(proxy.protocol, request);
  if (handshake->state() == core::HandshakeState::kFailed) {
    return {handshake->state(), handshake->failure()};
  }
  UniqueSocket s = Connect(proxy.proxy, timeouts.connect_ms, abort);
  if (!s) return unreachable;
  // One deadline for the whole exchange: a proxy that answers a byte at a time
  // cannot stretch it.
  uint32_t deadline = GetTickCount() + timeouts.reply_ms;
  char buffer[4096];
  while (handshake->state() == core::HandshakeState::kInProgress) {
    std::string_view out = handshake->output();
    if (!out.empty()) {
      int sent = send(s.get(), out.data(), int(out.size()), 0);
      if (sent > 0) {
        handshake->ConsumeOutput(size_t(sent));
        continue;
      }
      if (WSAGetLastError() != WSAEWOULDBLOCK) {
        handshake->OnClosed();
        break;
      }
      Wait w = WaitFor(s.get(), true, deadline, abort);
      if (w == Wait::kTimedOut) handshake->OnTimedOut();
      if (w == Wait::kFailed) handshake->OnClosed();
      continue;
    }
    Wait w = WaitFor(s.get(), false, deadline, abort);
    if (w == Wait::kTimedOut) {
      handshake->OnTimedOut();
      break;
    }
    int got = w == Wait::kReady ? recv(s.get(), buffer, int(sizeof(buffer)), 0) : -1;
    if (got > 0) {
      handshake->Feed(std::string_view(buffer, size_t(got)));
    } else if (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
      continue;
    } else {
      handshake->OnClosed();
    }
  }
  return {handshake->state(), handshake->failure()};
}

}  // namespace win
