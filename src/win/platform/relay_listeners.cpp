// The relay's listening sockets: binding, the accepts kept pending, and what
// happens to a client as it is accepted (the cap on connections, the owner check,
// the connection opened ahead it may take over).
// clang-format off
#include "win/platform/relay_engine_internal.h"
// clang-format on

#include <utility>

#include "win/platform/win_status.h"

namespace win {
namespace {

constexpr char kStrangerText[] = "另一个Windows用户的程序连接了本中转，已断开";
constexpr char kOwnerUnknownText[] =
    "系统无法告知连接本中转的程序属于哪个用户（如在Wine下），已按本用户的程序放行";

struct OwnerJob {
  HANDLE port;
  relay::Op* op;
  ClientOwnerCheck check;
  sockaddr_storage client;
  sockaddr_storage local;
};

// On the thread pool: asks whose program the client is (reading the system's
// connection table takes a while, longer under Wine) and reports the answer
// through the port as the byte count.
void CALLBACK OwnerOnPool(PTP_CALLBACK_INSTANCE, void* context) {
  std::unique_ptr<OwnerJob> job(static_cast<OwnerJob*>(context));
  ClientOwner owner = job->check(job->client, job->local);
  PostQueuedCompletionStatus(job->port, DWORD(owner), 0, &job->op->ov);
}

}  // namespace

uint16_t RelayEngine::Impl::Listen(uint16_t port, RelayRouteSource source, RelayReportSink sink,
                                   std::string* error, bool one_client, bool checks_owner) {
  if (!thread_) {
    *error = "the relay is not running";
    return 0;
  }
  auto listener = std::make_unique<Listener>();
  if (one_client) listener->accepts_used = 1;
  listener->socket.reset(
      WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  int length = sizeof(a);
  // Exclusive: another program must not bind the same port beside ours.
  // No delay on the listener: accepted connections take it from there.
  BOOL exclusive = TRUE;
  if (!listener->socket ||
      setsockopt(listener->socket.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<const char*>(&exclusive), sizeof(exclusive)) != 0 ||
      !relay::NoDelay(listener->socket.get()) ||
      bind(listener->socket.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
      listen(listener->socket.get(), SOMAXCONN) != 0 ||
      getsockname(listener->socket.get(), reinterpret_cast<sockaddr*>(&a), &length) != 0 ||
      !CreateIoCompletionPort(reinterpret_cast<HANDLE>(listener->socket.get()), port_.get(),
                              relay::kKeySocket, 0)) {
    *error = WinStatus::Error(WSAGetLastError(), "127.0.0.1:" + std::to_string(port)).ToString();
    return 0;
  }
  auto config = std::make_shared<ListenerConfig>();
  config->port = ntohs(a.sin_port);
  config->opens_ahead = !one_client;
  config->checks_owner = checks_owner;
  config->source = std::move(source);
  config->sink = std::move(sink);
  listener->config = config;
  Post({Command::kListen, config->port, listener.release()});
  return config->port;
}

void RelayEngine::Impl::PostAccept(Listener* l, int slot) {
  Listener::Accept& a = l->accepts[slot];
  relay::ReadySocket ready = stock_->Take(relay::SocketUse::kAccept);
  a.socket = std::move(ready.socket);
  a.skips = ready.skips;
  if (!a.socket) return;  // out of sockets: this slot rests until the listener is made again
  a.op = Op{};
  a.op.kind = OpKind::kAccept;
  a.op.listener = l;
  a.op.slot = slot;
  DWORD got = 0;
  if (!accept_ex_(l->socket.get(), a.socket.get(), a.addresses, 0, relay::kAcceptAddressLength,
                  relay::kAcceptAddressLength, &got, &a.op.ov) &&
      WSAGetLastError() != ERROR_IO_PENDING) {
    a.socket.reset();
    return;
  }
  a.op.busy = true;
  ++l->pending;
}

void RelayEngine::Impl::CloseListener(Listener* l) {
  l->closing = true;
  l->socket.reset();
  if (auto held = held_.find(l->config->port); held != held_.end()) {
    CloseConnection(held->second);
  }
  MaybeFreeListener(l);
}

void RelayEngine::Impl::MaybeFreeListener(Listener* l) {
  if (l->pending > 0 || !l->closing) return;
  listeners_.erase(l);
  delete l;
}

void RelayEngine::Impl::OnAccepted(Op* op, bool ok) {
  Listener* l = op->listener;
  Listener::Accept& a = l->accepts[op->slot];
  op->busy = false;
  --l->pending;
  if (l->closing) {
    a.socket.reset();
    MaybeFreeListener(l);
    return;
  }
  UniqueSocket client = std::move(a.socket);
  bool skips = a.skips;
  // The slot's next accept is posted once this connection's first steps are
  // done: the client waits for them, the next client not yet.
  ++l->pending;
  reposts_.push_back({l, op->slot});
  SOCKET listen_socket = l->socket.get();
  if (!ok ||
      setsockopt(client.get(), SOL_SOCKET, SO_UPDATE_ACCEPT_CONTEXT,
                 reinterpret_cast<const char*>(&listen_socket), sizeof(listen_socket)) != 0 ||
      !relay::EnsureNoDelay(client.get())) {
    return;
  }
  if (open_count_ >= options_.max_connections) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++refused_count_;
    return;  // the client's socket closes as it goes
  }
  std::shared_ptr<const RelayRoute> route = l->config->source ? l->config->source() : nullptr;
  std::vector<core::RelayCandidate> candidates =
      route ? route->candidates : std::vector<core::RelayCandidate>{};
  Connection* conn = TakeHeld(l->config->port, candidates);
  std::unique_ptr<core::ProxyHandshake> greeted;
  if (conn) {
    greeted = conn->session->TakeHeldHandshake();
  } else {
    conn = NewConnection(l->config);
  }
  conn->client.socket = std::move(client);
  conn->client.skips = skips;
  conn->session = std::make_unique<core::RelaySession>(
      core::RelayInboundOptions{conn->config->port}, std::move(candidates));
  if (route && route->choose) {
    conn->session->ChooseAtRequest(route->choose);
    conn->rotated = true;
  }
  if (conn->upstream.socket) conn->session->UseHeld(std::move(greeted));
  conn->counted = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++open_count_;
  }
  SetDeadline(conn, relay::Now() + options_.request_timeout_ms);
  Handle(conn, [&] {
    if (!buffers_.GiveSmall(conn->up)) {
      CloseConnection(conn);  // out of memory: the client is let go at once
      return;
    }
    // Nothing of the client's is read before it is known to be the user's own.
    if (!conn->config->checks_owner) {
      PostRecv(conn, conn->client, conn->up);
    } else if (!options_.owner_of_client || !AskOwner(conn)) {
      OnOwner(conn, ClientOwner::kUnknown);
    }
  });
}

// Asks on the thread pool whose program the client is; false when it cannot be
// asked (the client is then taken as before).
bool RelayEngine::Impl::AskOwner(Connection* conn) {
  auto job = std::make_unique<OwnerJob>();
  int client_length = sizeof(job->client);
  int local_length = sizeof(job->local);
  if (getpeername(conn->client.get(), reinterpret_cast<sockaddr*>(&job->client), &client_length) !=
          0 ||
      getsockname(conn->client.get(), reinterpret_cast<sockaddr*>(&job->local), &local_length) !=
          0) {
    return false;
  }
  job->port = port_.get();
  job->op = &conn->owner_op;
  job->check = options_.owner_of_client;
  conn->owner_op.ov = OVERLAPPED{};
  conn->owner_op.busy = true;
  ++conn->client.pending;
  if (TrySubmitThreadpoolCallback(&OwnerOnPool, job.get(), nullptr)) {
    job.release();
    return true;
  }
  conn->owner_op.busy = false;
  --conn->client.pending;
  return false;
}

void RelayEngine::Impl::OnOwner(Connection* conn, ClientOwner owner) {
  if (owner == ClientOwner::kOtherUser) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++stranger_count_;
    }
    Report(conn, kStrangerText);
    CloseConnection(conn);
    return;
  }
  // Said once: under Wine it is so for every client.
  if (owner == ClientOwner::kUnknown && !owner_unknown_.exchange(true)) {
    Report(conn, kOwnerUnknownText);
  }
  PostRecv(conn, conn->client, conn->up);
}

}  // namespace win
