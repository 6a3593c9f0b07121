// The relay engine's public face, its commands from other threads, and the loop
// of its one thread. The other concerns have files of their own (see
// relay_engine_internal.h).
// clang-format off
#include "win/platform/relay_engine_internal.h"
// clang-format on

#include "win/platform/relay_engine.h"

#include <utility>

#include "win/platform/win_status.h"

namespace win {

// Why one thread and a completion port: the engine posts overlapped receives,
// sends, accepts and connects and the system tells the thread of each one's end,
// so a thousand idle tunnels cost nothing per event. A select or WSAPoll over
// every socket is rescanned whole for each event (under Wine the server walks
// every socket of the program each time), and WSAEventSelect stops at 64 events
// a wait. One thread keeps each connection's state free of locks; the work per
// event is a copy of at most one buffer. The thread sleeps until the next
// event or the nearest deadline of any connection.
//
// Under Wine every socket call is a round through the Wine server (45-135 us
// each on a two-core machine), so the engine saves calls where it can:
// operations that end at once skip the port (FILE_SKIP_COMPLETION_PORT_ON_SUCCESS),
// the proxy's first bytes go with ConnectEx, sockets are made ahead on the
// thread pool, busy directions read into larger buffers, and the next client
// finds a connection to the proxy opened ahead. Measured with
// relaymoth-relay-bench against microsocks: one request (connect, handshake, a
// 512-byte page) takes 0.6-0.8 ms more through the relay at p50 when asked in
// HTTP CONNECT and 0.9-1.1 ms when asked in SOCKS5, which is about the count of
// calls a relay must make on the way (read and send each message once more) at
// that price; one tunnel moves 79-88 % (median of the rounds) of what going
// straight to the proxy moves; 1,000 open tunnels add no thread and about
// 33 KiB each.

namespace {

// Operations that ended at once are handled this many at a time between looks
// at the port.
constexpr int kReadyBatch = 64;

}  // namespace

using relay::ConnState;

bool RelayEngine::Impl::Start(std::string* error) {
  if (!wsa_.ok()) {
    *error = "Winsock could not start";
    return false;
  }
  port_.reset(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  if (!port_) {
    *error = WinStatus::Error(GetLastError(), "CreateIoCompletionPort").ToString();
    return false;
  }
  UniqueSocket probe(
      WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED));
  GUID connect_ex = WSAID_CONNECTEX;
  GUID accept_ex = WSAID_ACCEPTEX;
  DWORD got = 0;
  if (!probe ||
      WSAIoctl(probe.get(), SIO_GET_EXTENSION_FUNCTION_POINTER, &connect_ex, sizeof(connect_ex),
               &connect_ex_, sizeof(connect_ex_), &got, nullptr, nullptr) != 0 ||
      WSAIoctl(probe.get(), SIO_GET_EXTENSION_FUNCTION_POINTER, &accept_ex, sizeof(accept_ex),
               &accept_ex_, sizeof(accept_ex_), &got, nullptr, nullptr) != 0) {
    *error = WinStatus::Error(WSAGetLastError(), "AcceptEx/ConnectEx").ToString();
    return false;
  }
  stock_ = std::make_unique<relay::SocketStock>(port_.get());
  thread_.reset(CreateThread(nullptr, 0, &Impl::ThreadMain, this, 0, nullptr));
  if (!thread_) {
    *error = WinStatus::Error(GetLastError(), "CreateThread").ToString();
    return false;
  }
  return true;
}

void RelayEngine::Impl::Stop() {
  if (!thread_) return;
  Post({Command::kStop, 0, nullptr});
  WaitForSingleObject(thread_.get(), INFINITE);
  thread_.reset();
  stock_->Close();
}

size_t RelayEngine::Impl::refused_connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return refused_count_;
}

size_t RelayEngine::Impl::stranger_connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stranger_count_;
}

size_t RelayEngine::Impl::open_connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_count_;
}

void RelayEngine::Impl::Post(Command command) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back(command);
  }
  PostQueuedCompletionStatus(port_.get(), 0, relay::kKeyCommand, nullptr);
}

DWORD WINAPI RelayEngine::Impl::ThreadMain(void* self) {
  static_cast<Impl*>(self)->Run();
  return 0;
}

void RelayEngine::Impl::Run() {
  for (;;) {
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* ov = nullptr;
    // Operations that ended at once go first, a bounded number at a time so
    // that one busy tunnel cannot keep the port's reports waiting.
    for (int i = 0; i < kReadyBatch && !ready_.empty(); ++i) {
      Ready r = ready_.front();
      ready_.pop_front();
      Complete(r.op, r.bytes, r.ok);
    }
    while (!reposts_.empty()) {
      auto [listener, slot] = reposts_.front();
      reposts_.pop_front();
      --listener->pending;
      if (listener->closing) {
        MaybeFreeListener(listener);
      } else {
        PostAccept(listener, slot);
      }
    }
    // Connections ahead are opened when nothing else is waiting to be handled.
    while (ready_.empty() && !ahead_wanted_.empty()) {
      std::shared_ptr<const ListenerConfig> config = std::move(ahead_wanted_.front());
      ahead_wanted_.pop_front();
      OpenAhead(config);
    }
    DWORD wait = ready_.empty() ? WaitMs(relay::Now()) : 0;
    BOOL ok = GetQueuedCompletionStatus(port_.get(), &bytes, &key, &ov, wait);
    if (ov) {
      Complete(CONTAINING_RECORD(ov, Op, ov), ok ? bytes : 0, ok == TRUE);
    } else if (key == relay::kKeyCommand) {
      TakeCommands();
    }
    FireDeadlines(relay::Now());
    if (stopping_ && listeners_.empty() && connections_.empty()) break;
  }
}

void RelayEngine::Impl::TakeCommands() {
  std::deque<Command> commands;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    commands.swap(commands_);
  }
  for (const Command& c : commands) {
    switch (c.kind) {
      case Command::kListen:
        if (stopping_) {
          delete c.listener;
        } else {
          listeners_.insert(c.listener);
          for (int i = 0; i < c.listener->accepts_used; ++i) PostAccept(c.listener, i);
          MaybeFreeListener(c.listener);
        }
        break;
      case Command::kCloseListener:
        for (Listener* l : std::vector<Listener*>(listeners_.begin(), listeners_.end())) {
          if (l->config->port == c.port) CloseListener(l);
        }
        break;
      case Command::kStop:
        stopping_ = true;
        for (Listener* l : std::vector<Listener*>(listeners_.begin(), listeners_.end())) {
          CloseListener(l);
        }
        for (Connection* conn :
             std::vector<Connection*>(connections_.begin(), connections_.end())) {
          CloseConnection(conn);
        }
        break;
    }
  }
}

void RelayEngine::Impl::Complete(Op* op, DWORD bytes, bool ok) {
  if (op->kind == OpKind::kAccept) {
    OnAccepted(op, ok);
    return;
  }
  Connection* conn = op->conn;
  op->busy = false;
  --SideOf(conn, op->kind).pending;
  Handle(conn, [&] { Dispatch(conn, op, bytes, ok); });
}

void RelayEngine::Impl::Dispatch(Connection* conn, Op* op, DWORD bytes, bool ok) {
  switch (conn->state) {
    case ConnState::kClosing:
      return;
    case ConnState::kFinishing:
      if (!relay::OnClientSide(op->kind)) return;  // the upstream is gone already
      break;
    case ConnState::kRetiring:
      // The failed upstream's operations end here; once the last has, the next
      // connect starts on a fresh socket.
      if (relay::OnClientSide(op->kind)) break;
      if (conn->upstream.pending == 0) StartConnect(conn);
      return;
    default:
      break;
  }
  switch (op->kind) {
    case OpKind::kClientRecv:
      OnClientRecv(conn, bytes, ok);
      break;
    case OpKind::kUpstreamRecv:
      OnUpstreamRecv(conn, bytes, ok);
      break;
    case OpKind::kClientSend:
      OnSent(conn, conn->down, bytes, ok);
      break;
    case OpKind::kUpstreamSend:
      OnSent(conn, conn->up, bytes, ok);
      break;
    case OpKind::kConnect:
      OnConnected(conn, bytes, ok);
      break;
    case OpKind::kResolve:
      ConnectTo(conn, ok && bytes == 1 ? &conn->resolved : nullptr);
      break;
    case OpKind::kOwner:
      OnOwner(conn, ClientOwner(bytes));
      break;
    case OpKind::kAccept:
      break;
  }
}

RelayEngine::RelayEngine(const RelayEngineOptions& options)
    : impl_(std::make_unique<Impl>(options)) {}

RelayEngine::~RelayEngine() { impl_->Stop(); }

bool RelayEngine::Start(std::string* error) { return impl_->Start(error); }

uint16_t RelayEngine::Listen(uint16_t port, RelayRouteSource source, RelayReportSink sink,
                             std::string* error, bool one_client, bool checks_owner) {
  return impl_->Listen(port, std::move(source), std::move(sink), error, one_client, checks_owner);
}

void RelayEngine::CloseListener(uint16_t port) { impl_->CloseListener(port); }

size_t RelayEngine::open_connections() const { return impl_->open_connections(); }

size_t RelayEngine::refused_connections() const { return impl_->refused_connections(); }

size_t RelayEngine::stranger_connections() const { return impl_->stranger_connections(); }

bool RelayEngine::owner_unknown() const { return impl_->owner_unknown(); }

size_t RelayEngine::grown_buffer_bytes() const { return impl_->grown_buffer_bytes(); }

}  // namespace win
