// Winsock before windows.h.
#include "win/platform/handshake_probe.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <array>
#include <memory>
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

struct Lane {
  UniqueSocket socket;
  UniqueKernelHandle event;  // the socket's network events (WSAEventSelect)
  std::unique_ptr<core::ProxyHandshake> handshake;
  bool connecting = false;
  uint32_t deadline = 0;
  core::HandshakeAttempt end{core::HandshakeState::kInProgress, core::ProxyFailure::kNone};
  bool over() const { return end.state != core::HandshakeState::kInProgress; }
};

bool Passed(uint32_t now, uint32_t deadline) { return int32_t(now - deadline) >= 0; }

void Send(Lane& lane) {
  if (lane.handshake->state() != core::HandshakeState::kInProgress) return;
  std::string_view out = lane.handshake->output();
  if (out.empty()) return;
  int sent = send(lane.socket.get(), out.data(), int(out.size()), 0);
  if (sent > 0) {
    lane.handshake->ConsumeOutput(size_t(sent));
  } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
    lane.handshake->OnClosed();
  }
}

// Reads what has arrived; true when bytes came (more may follow).
bool Receive(Lane& lane) {
  char buffer[4096];
  int got = recv(lane.socket.get(), buffer, int(sizeof(buffer)), 0);
  if (got > 0) {
    lane.handshake->Feed(std::string_view(buffer, size_t(got)));
    return true;
  }
  if (got == 0 || WSAGetLastError() != WSAEWOULDBLOCK) lane.handshake->OnClosed();
  return false;
}

}  // namespace

core::DetectionOutcome RaceProxyHandshakes(const core::UpstreamProxy& proxy,
                                           const core::NetTarget& target,
                                           const HandshakeTimeouts& timeouts, HANDLE abort) {
  std::array<core::HandshakeAttempt, core::kDetectionLanes> ends{};  // all unreachable
  WinsockScope winsock;
  addrinfo* found = winsock.ok() ? ResolveTcp(proxy.proxy.host, proxy.proxy.port) : nullptr;
  if (found == nullptr) {
    return core::DetectionOutcomeOf(ends);
  }
  std::array<Lane, core::kDetectionLanes> lanes;
  uint32_t start = GetTickCount();
  for (size_t i = 0; i < lanes.size(); ++i) {
    Lane& lane = lanes[i];
    core::ProxyProtocol protocol = core::kDetectionOrder[i];
    core::HandshakeRequest request{
        protocol == core::ProxyProtocol::kSocks4 ? Socks4Target(target) : target,
        proxy.credentials};
    lane.handshake = core::StartProxyHandshake(protocol, request);
    if (lane.handshake->state() == core::HandshakeState::kFailed) {
      lane.end = {core::HandshakeState::kFailed, lane.handshake->failure()};
      continue;
    }
    lane.socket = UniqueSocket(socket(found->ai_family, found->ai_socktype, found->ai_protocol));
    lane.event = UniqueKernelHandle(WSACreateEvent());
    // The worker sleeps until a socket has news or a deadline comes: no polling,
    // which under Wine would cost the whole program a server call each time.
    if (!lane.socket || !lane.event ||
        WSAEventSelect(lane.socket.get(), lane.event.get(),
                       FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
      lane.end = {core::HandshakeState::kFailed, core::ProxyFailure::kProxyUnreachable};
      continue;
    }
    lane.deadline = start + timeouts.connect_ms;
    if (connect(lane.socket.get(), found->ai_addr, int(found->ai_addrlen)) == 0) {
      lane.deadline = GetTickCount() + timeouts.reply_ms;
      Send(lane);
    } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
      lane.connecting = true;
    } else {
      lane.end = {core::HandshakeState::kFailed, core::ProxyFailure::kProxyUnreachable};
    }
  }
  freeaddrinfo(found);

  core::DetectionRace race;
  auto settle = [&](size_t i) {
    Lane& lane = lanes[i];
    if (!lane.over() && lane.handshake->state() != core::HandshakeState::kInProgress) {
      lane.end = {lane.handshake->state(), lane.handshake->failure()};
    }
    if (lane.over()) {
      race.Set(i, core::LaneAnswerOf(lane.end.state, lane.end.failure));
      lane.socket.reset();
    }
  };
  for (size_t i = 0; i < lanes.size(); ++i) settle(i);

  while (!race.decided()) {
    HANDLE waits[core::kDetectionLanes + 1];
    DWORD count = 0;
    if (abort) waits[count++] = abort;
    uint32_t now = GetTickCount();
    DWORD wait_ms = INFINITE;
    for (Lane& lane : lanes) {
      if (lane.over()) continue;
      waits[count++] = lane.event.get();
      DWORD left = Passed(now, lane.deadline) ? 0 : lane.deadline - now;
      wait_ms = std::min(wait_ms, left);
    }
    DWORD woke = WaitForMultipleObjects(count, waits, FALSE, wait_ms);
    if (woke == WAIT_FAILED || (abort && woke == WAIT_OBJECT_0)) break;
    now = GetTickCount();
    for (size_t i = 0; i < lanes.size(); ++i) {
      Lane& lane = lanes[i];
      if (lane.over()) continue;
      WSANETWORKEVENTS news{};
      if (WSAEnumNetworkEvents(lane.socket.get(), lane.event.get(), &news) != 0) {
        lane.handshake->OnClosed();
        settle(i);
        continue;
      }
      if (lane.connecting) {
        if (news.lNetworkEvents & FD_CONNECT) {
          if (news.iErrorCode[FD_CONNECT_BIT] != 0) {
            lane.end = {core::HandshakeState::kFailed, core::ProxyFailure::kProxyUnreachable};
          } else {
            lane.connecting = false;
            lane.deadline = now + timeouts.reply_ms;
            Send(lane);
          }
        } else if (Passed(now, lane.deadline)) {
          lane.end = {core::HandshakeState::kFailed, core::ProxyFailure::kProxyUnreachable};
        }
      } else {
        if (news.lNetworkEvents & FD_WRITE) Send(lane);
        if (news.lNetworkEvents & FD_READ) Receive(lane);
        // A close comes after the last bytes: they are read to the end first.
        if (news.lNetworkEvents & FD_CLOSE) {
          while (lane.handshake->state() == core::HandshakeState::kInProgress && Receive(lane)) {
          }
          lane.handshake->OnClosed();
        }
        if (lane.handshake->state() == core::HandshakeState::kInProgress) {
          Send(lane);  // what the last reply asked for (a log-in, the request)
          if (Passed(now, lane.deadline)) lane.handshake->OnTimedOut();
        }
      }
      settle(i);
    }
  }
  // Probes still running when the race was decided (or aborted) are cut off.
  for (size_t i = 0; i < lanes.size(); ++i) ends[i] = lanes[i].end;
  return core::DetectionOutcomeOf(ends);
}

}  // namespace win
