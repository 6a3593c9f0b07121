// Winsock before windows.h.
#include "win/platform/handshake_probe.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <string>

#include "win/platform/tcp_connect_check.h"
#include "win/platform/unique_socket.h"

namespace win {
namespace {

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
  UniqueSocket s = ConnectWithin(proxy.proxy.host, proxy.proxy.port, timeouts.connect_ms, abort);
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
      SocketWait w = WaitForSocket(s.get(), true, deadline, abort);
      if (w == SocketWait::kTimedOut) handshake->OnTimedOut();
      if (w == SocketWait::kFailed) handshake->OnClosed();
      continue;
    }
    SocketWait w = WaitForSocket(s.get(), false, deadline, abort);
    if (w == SocketWait::kTimedOut) {
      handshake->OnTimedOut();
      break;
    }
    int got = w == SocketWait::kReady ? recv(s.get(), buffer, int(sizeof(buffer)), 0) : -1;
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
