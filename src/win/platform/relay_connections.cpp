// A connection of the relay until its tunnel is up: the session's wishes turned
// into connects and sends, the proxy's address and the connect itself, reports,
// the end of a connection, and the connections opened ahead of clients.
// clang-format off
#include "win/platform/relay_engine_internal.h"
// clang-format on

#include <algorithm>
#include <utility>

namespace win {
namespace {

// A refusal or failure reply must reach the client within this time.
constexpr uint64_t kFarewellMs = 5000;

struct ResolveJob {
  HANDLE port;
  relay::Connection* conn;
  core::NetTarget target;
};

// On the thread pool: looks the name up and reports through the port (1 byte:
// found), where the engine thread takes it like any other ending.
void CALLBACK ResolveOnPool(PTP_CALLBACK_INSTANCE, void* context) {
  std::unique_ptr<ResolveJob> job(static_cast<ResolveJob*>(context));
  bool found = relay::ResolveAddress(job->target, &job->conn->resolved, false);
  PostQueuedCompletionStatus(job->port, found ? 1 : 0, 0, &job->conn->resolve_op.ov);
}

}  // namespace

using relay::ConnState;

RelayEngine::Impl::Connection* RelayEngine::Impl::NewConnection(
    std::shared_ptr<const ListenerConfig> config) {
  auto* conn = new Connection;
  conn->config = std::move(config);
  conn->up.recv_op.kind = OpKind::kClientRecv;
  conn->up.send_op.kind = OpKind::kUpstreamSend;
  conn->down.recv_op.kind = OpKind::kUpstreamRecv;
  conn->down.send_op.kind = OpKind::kClientSend;
  conn->connect_op.kind = OpKind::kConnect;
  conn->resolve_op.kind = OpKind::kResolve;
  conn->owner_op.kind = OpKind::kOwner;
  for (Op* op : {&conn->up.recv_op, &conn->up.send_op, &conn->down.recv_op, &conn->down.send_op,
                 &conn->connect_op, &conn->resolve_op, &conn->owner_op}) {
    op->conn = conn;
  }
  conn->timer = deadlines_.Add();
  if (conn->timer >= timer_owners_.size()) timer_owners_.resize(conn->timer + 1);
  timer_owners_[conn->timer] = conn;
  connections_.insert(conn);
  return conn;
}

// --- connections opened ahead ---

// A listener in use keeps one connection to its first proxy opened (and, for
// SOCKS5, greeted and logged in) ahead of the next client, who then starts with
// the request: a connect and a round trip or two fewer before the tunnel is up,
// and through a distant proxy those round trips are most of the wait. The next
// one is opened once a client's tunnel is up (clients that never get that far
// make none; opened any earlier, its calls would delay that tunnel), when the
// engine has nothing else to handle; it is let go after held_ms unused. Each
// tunnel asks once, as it starts piping.
void RelayEngine::Impl::AskAhead(Connection* conn) {
  if (!conn->config->opens_ahead) return;
  uint16_t port = conn->config->port;
  if (held_.count(port)) return;
  for (const auto& wanted : ahead_wanted_) {
    if (wanted->port == port) return;
  }
  ahead_wanted_.push_back(conn->config);
}

void RelayEngine::Impl::OpenAhead(const std::shared_ptr<const ListenerConfig>& config) {
  bool listening = false;
  for (Listener* l : listeners_) {
    listening = listening || (l->config == config && !l->closing);
  }
  if (!listening || stopping_ || held_.count(config->port)) return;
  std::shared_ptr<const RelayRoute> route = config->source ? config->source() : nullptr;
  if (!route || route->candidates.empty() || route->choose) return;
  Connection* conn = NewConnection(config);
  conn->state = ConnState::kAhead;
  conn->session = std::make_unique<core::RelaySession>(core::RelayInboundOptions{config->port},
                                                       route->candidates);
  conn->session->OpenAhead();
  held_[config->port] = conn;
  Handle(conn, [&] { Advance(conn); });
}

// The connection held for `port` when it is ready and goes to the first of
// `candidates`; one for another proxy (the row was switched) is let go, one
// still on its way is left for a later client.
RelayEngine::Impl::Connection* RelayEngine::Impl::TakeHeld(
    uint16_t port, const std::vector<core::RelayCandidate>& candidates) {
  auto it = held_.find(port);
  if (it == held_.end()) return nullptr;
  Connection* held = it->second;
  bool same = !candidates.empty() && candidates[0].upstream == held->session->candidate().upstream;
  if (same && held->session->phase() != core::RelayPhase::kHeld) return nullptr;
  held_.erase(it);
  if (!same) {
    Handle(held, [&] { CloseConnection(held); });
    return nullptr;
  }
  held->state = ConnState::kSession;
  held->tunnel_asked = false;
  held->connects_started = 0;
  return held;
}

// --- the session's wishes ---

// Acts on what the session now wants.
void RelayEngine::Impl::Advance(Connection* conn) {
  core::RelaySession& s = *conn->session;
  std::string to_client = s.TakeClientOutput();
  // A connection that ends early is reported before its last reply goes out:
  // a client that has read the reply (the verification's fetch) finds the
  // report made.
  bool ending = s.phase() == core::RelayPhase::kClosing && conn->state != ConnState::kFinishing &&
                conn->state != ConnState::kClosing;
  if (ending && conn->state != ConnState::kAhead) Report(conn, s.end_reason());
  if (!to_client.empty()) {
    conn->down.extra += to_client;
    PumpSend(conn, conn->client, conn->down);
  }
  if (conn->state == ConnState::kClosing) return;
  switch (s.phase()) {
    case core::RelayPhase::kReadingRequest:
      break;
    case core::RelayPhase::kConnecting:
      if (s.connects() != conn->connects_started) {
        if (conn->upstream.socket || conn->upstream.pending > 0) {
          conn->state = ConnState::kRetiring;
          conn->upstream.socket.reset();
        }
        if (conn->upstream.pending == 0) StartConnect(conn);
      }
      break;
    case core::RelayPhase::kHandshaking:
      conn->up.extra += s.TakeUpstreamOutput();
      PumpSend(conn, conn->upstream, conn->up);
      PostRecv(conn, conn->upstream, conn->down);
      if (!conn->tunnel_asked) {
        conn->tunnel_asked = true;
        // On a connection opened ahead the proxy's time starts with the request.
        if (conn->connects_started == 0) {
          SetDeadline(conn, relay::Now() + options_.upstream_timeout_ms);
        }
      }
      break;
    case core::RelayPhase::kHeld:
      // A read stays posted: the proxy's close (or any byte) ends the hold; a
      // client that takes the connection gets the proxy's answer through it.
      PostRecv(conn, conn->upstream, conn->down);
      SetDeadline(conn, relay::Now() + options_.held_ms);
      break;
    case core::RelayPhase::kPiping: {
      conn->up.extra += s.TakeUpstreamOutput();
      if (!s.failures().empty() || conn->rotated) Report(conn, "");
      conn->request_body = s.TakeRequestBody();
      conn->session.reset();
      if (conn->tunnel_asked) AskAhead(conn);
      conn->state = ConnState::kPiping;
      SetDeadline(conn, IdleDeadline());
      Drain(conn, conn->up, conn->upstream);
      Drain(conn, conn->down, conn->client);
      break;
    }
    case core::RelayPhase::kClosing:
      if (conn->state == ConnState::kFinishing) break;  // reported already; the reply is on its way
      conn->state = ConnState::kFinishing;
      conn->upstream.socket.reset();
      SetDeadline(conn, relay::Now() + kFarewellMs);
      if (conn->down.Empty() && !conn->down.send_op.busy) CloseConnection(conn);
      break;
  }
}

// --- the upstream connect ---

// Connects to the session's current candidate on a fresh socket.
void RelayEngine::Impl::StartConnect(Connection* conn) {
  if (conn->state == ConnState::kRetiring) conn->state = ConnState::kSession;
  conn->connects_started = conn->session->connects();
  conn->up.extra = conn->session->TakeUpstreamOutput();  // goes out with the connect
  conn->up.extra_off = 0;
  conn->down.len = conn->down.off = 0;
  if (!conn->down.buf && !buffers_.GiveSmall(conn->down)) {
    CloseConnection(conn);  // out of memory
    return;
  }
  SetDeadline(conn, relay::Now() + options_.upstream_timeout_ms);
  const core::NetTarget& proxy = conn->session->candidate().upstream.proxy;
  if (core::ClassifyHost(proxy.host) == core::HostKind::kName) {
    auto* job = new ResolveJob{port_.get(), conn, proxy};
    conn->resolve_op.ov = OVERLAPPED{};
    conn->resolve_op.busy = true;
    ++conn->upstream.pending;
    if (TrySubmitThreadpoolCallback(&ResolveOnPool, job, nullptr)) return;
    delete job;
    conn->resolve_op.busy = false;
    --conn->upstream.pending;
    ConnectTo(conn, nullptr);
    return;
  }
  relay::Address address;
  ConnectTo(conn, relay::ResolveAddress(proxy, &address, true) ? &address : nullptr);
}

// Connects to `address` on a fresh socket; null: the proxy has no address.
void RelayEngine::Impl::ConnectTo(Connection* conn, const relay::Address* found) {
  if (found && IsOwnPort(*found)) found = nullptr;  // fails as a proxy with no address
  relay::Address address = found ? *found : relay::Address{};
  if (found) {
    int family = address.storage.ss_family;
    relay::ReadySocket ready =
        family == AF_INET ? stock_->Take(relay::SocketUse::kConnect)
                          : relay::MakeSocket(port_.get(), relay::SocketUse::kConnect, family);
    conn->upstream.socket = std::move(ready.socket);
    conn->upstream.skips = ready.skips;
  }
  conn->connect_op.ov = OVERLAPPED{};
  if (!found || !conn->upstream.socket) {
    WSASetLastError(WSAENOTSOCK);
    Posted(conn, conn->connect_op, false, 0);
    return;
  }
  // The proxy's first bytes go with the connect: one call fewer before the
  // proxy can answer.
  std::string& first = conn->up.extra;
  DWORD sent = 0;
  bool now = connect_ex_(conn->upstream.get(), reinterpret_cast<sockaddr*>(&address.storage),
                         address.length, first.empty() ? nullptr : first.data(),
                         static_cast<DWORD>(first.size()), &sent, &conn->connect_op.ov) == TRUE;
  Posted(conn, conn->connect_op, now, sent);
}

// `sent`: how much of the upstream's first bytes went out with the connect.
void RelayEngine::Impl::OnConnected(Connection* conn, DWORD sent, bool ok) {
  if (ok) {
    ok = setsockopt(conn->upstream.get(), SOL_SOCKET, SO_UPDATE_CONNECT_CONTEXT, nullptr, 0) == 0;
  }
  if (ok) {
    Flow& up = conn->up;
    up.extra_off = std::min<size_t>(sent, up.extra.size());
    if (up.extra_off == up.extra.size()) {
      up.extra.clear();
      up.extra_off = 0;
    }
    conn->session->OnUpstreamConnected();
  } else {
    conn->session->OnUpstreamConnectFailed();
  }
  Advance(conn);
}

// Whether `address` is this machine and one of this engine's ports: a row
// whose name resolves to the relay itself would have it connect to itself
// for every connection.
bool RelayEngine::Impl::IsOwnPort(const relay::Address& address) const {
  const sockaddr_storage& a = address.storage;
  char text[INET6_ADDRSTRLEN] = {};
  core::NetTarget target;
  if (a.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
    if (!inet_ntop(AF_INET, &v4->sin_addr, text, sizeof(text))) return false;
    target = {text, ntohs(v4->sin_port)};
  } else if (a.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
    if (!inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof(text))) return false;
    target = {text, ntohs(v6->sin6_port)};
  } else {
    return false;
  }
  std::vector<uint16_t> ports;
  for (const Listener* l : listeners_) ports.push_back(l->config->port);
  return core::NamesOwnPort(target, ports);
}

// --- reports and the end ---

void RelayEngine::Impl::Report(Connection* conn, const std::string& reason) {
  if (!conn->config->sink) return;
  const core::RelaySession& s = *conn->session;
  RelayReport report;
  report.listen_port = conn->config->port;
  report.failures = s.failures();
  report.end_reason = reason;
  report.piped = s.phase() == core::RelayPhase::kPiping;
  // Piped through a later candidate: failover carried the tunnel.
  if (s.phase() == core::RelayPhase::kPiping && s.attempt() > 0) {
    report.carried = true;
    report.carried_row = s.candidate().row;
    report.carried_label = s.candidate().label;
  }
  conn->config->sink(std::move(report));
}

// Ends the connection at once: closing the sockets ends their operations, and
// the connection goes when the last one has reported.
void RelayEngine::Impl::CloseConnection(Connection* conn) {
  if (conn->state == ConnState::kClosing) return;
  conn->state = ConnState::kClosing;
  SetDeadline(conn, 0);
  if (auto held = held_.find(conn->config->port); held != held_.end() && held->second == conn) {
    held_.erase(held);
  }
  conn->client.socket.reset();
  conn->upstream.socket.reset();
  MaybeFree(conn);
}

void RelayEngine::Impl::MaybeFree(Connection* conn) {
  if (conn->handling || conn->client.pending > 0 || conn->upstream.pending > 0) return;
  buffers_.Give(conn->up, 0);
  buffers_.Give(conn->down, 0);
  connections_.erase(conn);
  deadlines_.Remove(conn->timer);
  timer_owners_[conn->timer] = nullptr;
  bool counted = conn->counted;
  delete conn;
  if (!counted) return;
  std::lock_guard<std::mutex> lock(mutex_);
  --open_count_;
}

}  // namespace win
