// Winsock before windows.h; mswsock.h for AcceptEx and ConnectEx.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>
// clang-format on

#include "win/platform/relay_engine.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "win/platform/unique_handle.h"
#include "win/platform/unique_socket.h"
#include "win/platform/win_status.h"

namespace win {
namespace {

// Why one thread and a completion port: the engine posts overlapped receives,
// sends, accepts and connects and the system tells the thread of each one's end,
// so a thousand idle tunnels cost nothing per event. A select or WSAPoll over
// every socket is rescanned whole for each event (under Wine the server walks
// every socket of the program each time), and WSAEventSelect stops at 64 events
// a wait. One thread keeps each connection's state free of locks; the work per
// event is a copy of at most one buffer.
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

constexpr ULONG_PTR kKeySocket = 1;
constexpr ULONG_PTR kKeyCommand = 2;
constexpr int kAcceptsPending = 4;
constexpr int kReadyBatch = 64;
// A grown buffer goes back to the small size after this many small reads in a row.
constexpr int kSmallReadsToShrink = 4;
// Deadlines are looked at this often; they need not be exact.
constexpr DWORD kDeadlineScanMs = 200;
constexpr char kStrangerText[] = "另一个Windows用户的程序连接了本中转，已断开";
constexpr char kOwnerUnknownText[] =
    "系统无法告知连接本中转的程序属于哪个用户（如在Wine下），已按本用户的程序放行";

// A refusal or failure reply must reach the client within this time.
constexpr uint64_t kFarewellMs = 5000;
// Room for the two addresses AcceptEx writes (each its sockaddr plus 16 bytes).
constexpr DWORD kAcceptAddressLength = sizeof(sockaddr_in6) + 16;

enum class OpKind {
  kAccept,
  kClientRecv,
  kClientSend,
  kUpstreamRecv,
  kUpstreamSend,
  kConnect,
  kResolve,  // a proxy's name looked up on the system thread pool
  kOwner,    // whose program the client is, asked on the system thread pool
};

struct Connection;
struct Listener;

struct Address {
  sockaddr_storage storage{};
  int length = 0;
};

struct Op {
  OVERLAPPED ov{};
  OpKind kind = OpKind::kAccept;
  Connection* conn = nullptr;
  Listener* listener = nullptr;
  int slot = 0;  // which of the listener's pending accepts
  bool busy = false;
};

// What a listener's connections keep even after the listener is gone.
struct ListenerConfig {
  uint16_t port = 0;
  RelayRouteSource source;
  RelayReportSink sink;
  bool opens_ahead = false;  // keeps a connection to the proxy opened ahead
  bool checks_owner = false;  // takes only clients that run as this user
};

struct Listener {
  std::shared_ptr<const ListenerConfig> config;
  UniqueSocket socket;
  struct Accept {
    Op op;
    UniqueSocket socket;
    bool skips = false;  // `socket` reports through the port only what did not end at once
    char addresses[2 * kAcceptAddressLength];
  };
  std::array<Accept, kAcceptsPending> accepts;
  int accepts_used = kAcceptsPending;  // the slots of `accepts` kept pending
  int pending = 0;                     // accepts posted, and slots waiting to be posted again
  bool closing = false;
};

// One direction of a tunnel: bytes received from its source wait in `buf` (or,
// when the relay itself speaks, in `extra`, sent first) until its destination
// has taken them; nothing more is read until then.
struct Flow {
  std::unique_ptr<char[]> buf;
  size_t cap = 0;        // the size of `buf`
  size_t last_read = 0;  // bytes the last piped read brought
  int small_reads = 0;   // grown, and this many small reads in a row
  size_t len = 0;
  size_t off = 0;
  std::string extra;
  size_t extra_off = 0;
  Op recv_op;
  Op send_op;
  bool eof = false;   // the source has closed its side
  bool shut = false;  // the destination was told so (shutdown)
  bool Empty() const { return extra_off == extra.size() && off == len; }
};

struct Connection {
  std::shared_ptr<const ListenerConfig> config;
  UniqueSocket client;
  UniqueSocket upstream;
  std::unique_ptr<core::RelaySession> session;  // until the tunnel is piped
  // A plain request's body still due from the client; its later bytes go nowhere.
  std::optional<core::HttpBodyReader> request_body;
  Flow up;                                      // client -> upstream
  Flow down;                                    // upstream -> client
  Op connect_op;
  Op resolve_op;
  Op owner_op;
  Address resolved;  // written by the lookup before it reports
  int client_pending = 0;
  int upstream_pending = 0;
  size_t connects_started = 0;  // the session's connects() the socket was made for
  bool held = false;            // opened ahead, no client yet (not counted as open)
  bool handshook = false;       // its tunnel was asked of a proxy (not a plain request)
  bool retiring = false;        // a failed upstream's operations are draining
  bool finishing = false;       // the last reply goes to the client, then it closes
  bool closing = false;
  bool piping = false;
  bool handling = false;  // an event of this connection is being handled
  // The socket reports through the port only what did not end at once.
  bool client_skips = false;
  bool upstream_skips = false;
  uint64_t deadline = 0;
};

// The address of a literal (`numeric_only`), or of a name, which may take as long
// as the system's lookup takes: names are looked up on the system thread pool.
bool ResolveAddress(const core::NetTarget& target, Address* out, bool numeric_only) {
  addrinfoW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = numeric_only ? AI_NUMERICHOST : 0;
  std::wstring host(target.host.begin(), target.host.end());
  std::wstring port = std::to_wstring(target.port);
  addrinfoW* found = nullptr;
  if (GetAddrInfoW(host.c_str(), port.c_str(), &hints, &found) != 0) return false;
  bool ok = found && found->ai_addrlen <= sizeof(out->storage);
  if (ok) {
    memcpy(&out->storage, found->ai_addr, found->ai_addrlen);
    out->length = static_cast<int>(found->ai_addrlen);
  }
  FreeAddrInfoW(found);
  return ok;
}

uint64_t Now() { return GetTickCount64(); }

struct OwnerJob {
  HANDLE port;
  Op* op;
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

struct ResolveJob {
  HANDLE port;
  Connection* conn;
  core::NetTarget target;
};

// On the thread pool: looks the name up and reports through the port (1 byte:
// found), where the engine thread takes it like any other ending.
void CALLBACK ResolveOnPool(PTP_CALLBACK_INSTANCE, void* context) {
  std::unique_ptr<ResolveJob> job(static_cast<ResolveJob*>(context));
  bool found = ResolveAddress(job->target, &job->conn->resolved, false);
  PostQueuedCompletionStatus(job->port, found ? 1 : 0, 0, &job->conn->resolve_op.ov);
}

// An operation that ends at once is then handled by the engine thread straight
// away, without a round through the port (under Wine a round through the server).
bool SkipPortOnSuccess(SOCKET s) {
  return SetFileCompletionNotificationModes(reinterpret_cast<HANDLE>(s),
                                            FILE_SKIP_COMPLETION_PORT_ON_SUCCESS) != 0;
}

// Bytes go on as soon as they arrive: the relay never holds a small piece back
// waiting for the peer's acknowledgement (the sender chose the piece's size).
bool NoDelay(SOCKET s) {
  BOOL on = TRUE;
  return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on)) ==
         0;
}

// An accepted socket usually has it from the listener already; asking is cheaper
// than setting it again.
bool EnsureNoDelay(SOCKET s) {
  DWORD on = 0;
  int length = sizeof(on);
  if (getsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&on), &length) == 0 && on) {
    return true;
  }
  return NoDelay(s);
}

// A socket ready for use on the engine's port: for an accept (unbound), or for
// a connect (bound to a free local port, as ConnectEx needs).
struct ReadySocket {
  UniqueSocket socket;
  bool skips = false;  // reports through the port only what did not end at once
};

enum class SocketUse { kAccept = 0, kConnect = 1 };

ReadySocket MakeSocket(HANDLE port, SocketUse use, int family) {
  ReadySocket made;
  made.socket.reset(WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED));
  if (!made.socket) return made;
  bool ok = true;
  if (use == SocketUse::kConnect) {
    sockaddr_storage any{};
    any.ss_family = static_cast<ADDRESS_FAMILY>(family);
    int any_length = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    ok = NoDelay(made.socket.get()) &&
         bind(made.socket.get(), reinterpret_cast<sockaddr*>(&any), any_length) == 0;
  }
  // Tied to the port before use, an accepted socket keeps it: the socket given
  // to AcceptEx is the one that becomes the connection.
  ok = ok && CreateIoCompletionPort(reinterpret_cast<HANDLE>(made.socket.get()), port, kKeySocket,
                                    0) != nullptr;
  if (!ok) {
    made.socket.reset();
    return made;
  }
  made.skips = SkipPortOnSuccess(made.socket.get());
  return made;
}

}  // namespace

class RelayEngine::Impl {
 public:
  explicit Impl(const RelayEngineOptions& options) : options_(options) {}

  bool Start(std::string* error) {
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
    thread_.reset(CreateThread(nullptr, 0, &Impl::ThreadMain, this, 0, nullptr));
    if (!thread_) {
      *error = WinStatus::Error(GetLastError(), "CreateThread").ToString();
      return false;
    }
    return true;
  }

  void Stop() {
    if (!thread_) return;
    Post({Command::kStop, 0, nullptr});
    WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
    std::unique_lock<std::mutex> lock(mutex_);
    stock_closed_ = true;
    restocked_.wait(lock, [this] { return !restocking_; });
  }

  uint16_t Listen(uint16_t port, RelayRouteSource source, RelayReportSink sink, std::string* error,
                  bool one_client, bool checks_owner) {
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
        !NoDelay(listener->socket.get()) ||
        bind(listener->socket.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
        listen(listener->socket.get(), SOMAXCONN) != 0 ||
        getsockname(listener->socket.get(), reinterpret_cast<sockaddr*>(&a), &length) != 0 ||
        !CreateIoCompletionPort(reinterpret_cast<HANDLE>(listener->socket.get()), port_.get(),
                                kKeySocket, 0)) {
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

  void CloseListener(uint16_t port) { Post({Command::kCloseListener, port, nullptr}); }

  size_t refused_connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return refused_count_;
  }

  size_t stranger_connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stranger_count_;
  }

  bool owner_unknown() const { return owner_unknown_.load(); }

  size_t open_connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_count_;
  }

  size_t grown_buffer_bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return grown_bytes_;
  }

 private:
  struct Command {
    enum Kind { kListen, kCloseListener, kStop } kind;
    uint16_t port;
    Listener* listener;  // kListen: handed to the engine thread
  };

  void Post(Command command) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      commands_.push_back(command);
    }
    PostQueuedCompletionStatus(port_.get(), 0, kKeyCommand, nullptr);
  }

  static DWORD WINAPI ThreadMain(void* self) {
    static_cast<Impl*>(self)->Run();
    return 0;
  }

  void Run() {
    uint64_t next_scan = Now() + kDeadlineScanMs;
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
      DWORD wait = ready_.empty() ? kDeadlineScanMs : 0;
      BOOL ok = GetQueuedCompletionStatus(port_.get(), &bytes, &key, &ov, wait);
      if (ov) {
        Complete(CONTAINING_RECORD(ov, Op, ov), ok ? bytes : 0, ok == TRUE);
      } else if (key == kKeyCommand) {
        TakeCommands();
      }
      uint64_t now = Now();
      if (now >= next_scan) {
        ScanDeadlines(now);
        next_scan = now + kDeadlineScanMs;
      }
      if (stopping_ && listeners_.empty() && connections_.empty()) break;
    }
  }

  void TakeCommands() {
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

  // --- listeners ---

  void PostAccept(Listener* l, int slot) {
    Listener::Accept& a = l->accepts[slot];
    ReadySocket ready = TakeSocket(SocketUse::kAccept);
    a.socket = std::move(ready.socket);
    a.skips = ready.skips;
    if (!a.socket) return;  // out of sockets: this slot rests until the listener is made again
    a.op = Op{};
    a.op.kind = OpKind::kAccept;
    a.op.listener = l;
    a.op.slot = slot;
    DWORD got = 0;
    if (!accept_ex_(l->socket.get(), a.socket.get(), a.addresses, 0, kAcceptAddressLength,
                    kAcceptAddressLength, &got, &a.op.ov) &&
        WSAGetLastError() != ERROR_IO_PENDING) {
      a.socket.reset();
      return;
    }
    a.op.busy = true;
    ++l->pending;
  }

  void CloseListener(Listener* l) {
    l->closing = true;
    l->socket.reset();
    if (auto held = held_.find(l->config->port); held != held_.end()) {
      CloseConnection(held->second);
    }
    MaybeFreeListener(l);
  }

  void MaybeFreeListener(Listener* l) {
    if (l->pending > 0 || !l->closing) return;
    listeners_.erase(l);
    delete l;
  }

  void OnAccepted(Op* op, bool ok) {
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
        !EnsureNoDelay(client.get())) {
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
      conn = new Connection;
      conn->config = l->config;
      InitOps(conn);
      connections_.insert(conn);
    }
    conn->client = std::move(client);
    conn->client_skips = skips;
    conn->session = std::make_unique<core::RelaySession>(
        core::RelayInboundOptions{conn->config->port}, std::move(candidates));
    if (conn->upstream) conn->session->UseHeld(std::move(greeted));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++open_count_;
    }
    conn->deadline = Now() + options_.request_timeout_ms;
    Handle(conn, [&] {
      if (!GiveBuffer(conn->up, options_.pipe_buffer)) {
        CloseConnection(conn);  // out of memory: the client is let go at once
        return;
      }
      // Nothing of the client's is read before it is known to be the user's own.
      if (!conn->config->checks_owner) {
        PostRecv(conn, conn->client.get(), conn->up);
      } else if (!options_.owner_of_client || !AskOwner(conn)) {
        OnOwner(conn, ClientOwner::kUnknown);
      }
    });
  }

  // Asks on the thread pool whose program the client is; false when it cannot be
  // asked (the client is then taken as before).
  bool AskOwner(Connection* conn) {
    auto job = std::make_unique<OwnerJob>();
    int client_length = sizeof(job->client);
    int local_length = sizeof(job->local);
    if (getpeername(conn->client.get(), reinterpret_cast<sockaddr*>(&job->client),
                    &client_length) != 0 ||
        getsockname(conn->client.get(), reinterpret_cast<sockaddr*>(&job->local), &local_length) !=
            0) {
      return false;
    }
    job->port = port_.get();
    job->op = &conn->owner_op;
    job->check = options_.owner_of_client;
    conn->owner_op.ov = OVERLAPPED{};
    conn->owner_op.busy = true;
    ++conn->client_pending;
    if (TrySubmitThreadpoolCallback(&OwnerOnPool, job.get(), nullptr)) {
      job.release();
      return true;
    }
    conn->owner_op.busy = false;
    --conn->client_pending;
    return false;
  }

  void OnOwner(Connection* conn, ClientOwner owner) {
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
    PostRecv(conn, conn->client.get(), conn->up);
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
  void AskAhead(Connection* conn) {
    if (!conn->config->opens_ahead) return;
    uint16_t port = conn->config->port;
    if (held_.count(port)) return;
    for (const auto& wanted : ahead_wanted_) {
      if (wanted->port == port) return;
    }
    ahead_wanted_.push_back(conn->config);
  }

  void OpenAhead(const std::shared_ptr<const ListenerConfig>& config) {
    bool listening = false;
    for (Listener* l : listeners_) {
      listening = listening || (l->config == config && !l->closing);
    }
    if (!listening || stopping_ || held_.count(config->port)) return;
    std::shared_ptr<const RelayRoute> route = config->source ? config->source() : nullptr;
    if (!route || route->candidates.empty()) return;
    auto* conn = new Connection;
    conn->config = config;
    conn->held = true;
    InitOps(conn);
    conn->session = std::make_unique<core::RelaySession>(core::RelayInboundOptions{config->port},
                                                         route->candidates);
    conn->session->OpenAhead();
    connections_.insert(conn);
    held_[config->port] = conn;
    Handle(conn, [&] { Advance(conn); });
  }

  // The connection held for `port` when it is ready and goes to the first of
  // `candidates`; one for another proxy (the row was switched) is let go, one
  // still on its way is left for a later client.
  Connection* TakeHeld(uint16_t port, const std::vector<core::RelayCandidate>& candidates) {
    auto it = held_.find(port);
    if (it == held_.end()) return nullptr;
    Connection* held = it->second;
    bool same =
        !candidates.empty() && candidates[0].upstream == held->session->candidate().upstream;
    if (same && held->session->phase() != core::RelayPhase::kHeld) return nullptr;
    held_.erase(it);
    if (!same) {
      Handle(held, [&] { CloseConnection(held); });
      return nullptr;
    }
    held->held = false;
    held->handshook = false;
    held->connects_started = 0;
    return held;
  }

  static void InitOps(Connection* conn) {
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
  }

  // --- operations ---

  int& Pending(Connection* conn, OpKind kind) {
    return kind == OpKind::kClientRecv || kind == OpKind::kClientSend || kind == OpKind::kOwner
               ? conn->client_pending
               : conn->upstream_pending;
  }

  void PostRecv(Connection* conn, SOCKET s, Flow& flow) {
    if (flow.recv_op.busy || conn->closing) return;
    WSABUF b{static_cast<ULONG>(flow.cap), flow.buf.get()};
    DWORD flags = 0;
    DWORD got = 0;
    flow.recv_op.ov = OVERLAPPED{};
    int rc = WSARecv(s, &b, 1, &got, &flags, &flow.recv_op.ov, nullptr);
    Posted(conn, flow.recv_op, rc == 0, got);
  }

  // Sends what `flow` holds to `s`, one send at a time.
  void PumpSend(Connection* conn, SOCKET s, Flow& flow) {
    if (flow.send_op.busy || conn->closing || flow.Empty()) return;
    WSABUF b;
    if (flow.extra_off < flow.extra.size()) {
      b = {static_cast<ULONG>(flow.extra.size() - flow.extra_off),
           flow.extra.data() + flow.extra_off};
    } else {
      b = {static_cast<ULONG>(flow.len - flow.off), flow.buf.get() + flow.off};
    }
    flow.send_op.ov = OVERLAPPED{};
    DWORD sent = 0;
    int rc = WSASend(s, &b, 1, &sent, 0, &flow.send_op.ov, nullptr);
    Posted(conn, flow.send_op, rc == 0, sent);
  }

  // Counts an operation as begun, given whether its call succeeded at once. One
  // refused at once, or ended at once on a socket that skips the port, is handed
  // to the engine loop's ready queue: it is handled where every other ending is,
  // never inside the code that was acting on the connection when it was posted.
  void Posted(Connection* conn, Op& op, bool succeeded_now, DWORD bytes) {
    op.busy = true;
    ++Pending(conn, op.kind);
    if (succeeded_now) {
      bool client_side = op.kind == OpKind::kClientRecv || op.kind == OpKind::kClientSend;
      if (client_side ? conn->client_skips : conn->upstream_skips) {
        ready_.push_back({&op, bytes, true});
      }
    } else if (WSAGetLastError() != WSA_IO_PENDING) {
      ready_.push_back({&op, 0, false});
    }
  }

  void Complete(Op* op, DWORD bytes, bool ok) {
    if (op->kind == OpKind::kAccept) {
      OnAccepted(op, ok);
      return;
    }
    Connection* conn = op->conn;
    op->busy = false;
    --Pending(conn, op->kind);
    Handle(conn, [&] { Dispatch(conn, op, bytes, ok); });
  }

  // Runs one event of `conn`. The handlers may close the connection half way
  // through and still look at it afterwards: it is freed only once they are done.
  template <typename Handler>
  void Handle(Connection* conn, Handler handler) {
    conn->handling = true;
    handler();
    conn->handling = false;
    if (conn->closing) MaybeFree(conn);
  }

  void Dispatch(Connection* conn, Op* op, DWORD bytes, bool ok) {
    bool client_side = op->kind == OpKind::kClientRecv || op->kind == OpKind::kClientSend ||
                       op->kind == OpKind::kOwner;
    if (conn->closing) return;
    if (!client_side && (conn->retiring || conn->finishing)) {
      if (conn->retiring && conn->upstream_pending == 0) StartConnect(conn);
      return;
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

  void OnClientRecv(Connection* conn, DWORD bytes, bool ok) {
    if (conn->piping) {
      OnPipeRecv(conn, conn->up, conn->upstream.get(), bytes, ok);
      return;
    }
    if (!ok || bytes == 0) {
      conn->session->OnClientClosed();
    } else {
      conn->session->OnClientData(std::string_view(conn->up.buf.get(), bytes));
    }
    Advance(conn);
    if (!conn->closing && conn->session &&
        conn->session->phase() == core::RelayPhase::kReadingRequest) {
      PostRecv(conn, conn->client.get(), conn->up);
    }
  }

  void OnUpstreamRecv(Connection* conn, DWORD bytes, bool ok) {
    if (conn->piping) {
      OnPipeRecv(conn, conn->down, conn->client.get(), bytes, ok);
      return;
    }
    if (!ok || bytes == 0) {
      conn->session->OnUpstreamClosed();
    } else {
      conn->session->OnUpstreamData(std::string_view(conn->down.buf.get(), bytes));
    }
    Advance(conn);
  }

  // A send or a receive failed: before the tunnel is up the session hears that
  // that side is gone (and may try the next proxy); after it, the connection ends.
  void SideFailed(Connection* conn, bool client_side) {
    if (conn->piping || conn->finishing || !conn->session) {
      CloseConnection(conn);
      return;
    }
    if (client_side) {
      conn->session->OnClientClosed();
    } else {
      conn->session->OnUpstreamClosed();
    }
    Advance(conn);
  }

  void OnPipeRecv(Connection* conn, Flow& flow, SOCKET destination, DWORD bytes, bool ok) {
    if (!ok) {
      CloseConnection(conn);
      return;
    }
    flow.last_read = bytes;
    conn->deadline = IdleDeadline();
    if (bytes == 0) {
      flow.eof = true;
    } else {
      flow.len = bytes;
      flow.off = 0;
    }
    if (bytes > 0 && &flow == &conn->up && conn->request_body) {
      // Past a plain request's body the client's bytes are dropped unread.
      flow.len = conn->request_body->Feed(std::string_view(flow.buf.get(), bytes));
      if (conn->request_body->failed()) {
        CloseConnection(conn);
        return;
      }
    }
    Drain(conn, flow, destination);
  }

  void OnSent(Connection* conn, Flow& flow, DWORD bytes, bool ok) {
    if (!ok) {
      SideFailed(conn, &flow == &conn->down);
      return;
    }
    if (flow.extra_off < flow.extra.size()) {
      flow.extra_off += bytes;
      if (flow.extra_off >= flow.extra.size()) {
        flow.extra.clear();
        flow.extra_off = 0;
      }
    } else {
      flow.off += bytes;
      if (flow.off >= flow.len) flow.off = flow.len = 0;
    }
    bool to_client = &flow == &conn->down;
    SOCKET destination = to_client ? conn->client.get() : conn->upstream.get();
    if (conn->finishing && to_client) {
      if (flow.Empty()) {
        CloseConnection(conn);
      } else {
        PumpSend(conn, destination, flow);
      }
      return;
    }
    if (conn->piping) {
      Drain(conn, flow, destination);
    } else {
      PumpSend(conn, destination, flow);
    }
  }

  // Moves a piped direction on: sends what it holds; once empty, passes the
  // source's close on (a half close) or reads the source again.
  void Drain(Connection* conn, Flow& flow, SOCKET destination) {
    if (!flow.Empty()) {
      PumpSend(conn, destination, flow);
      return;
    }
    if (flow.send_op.busy) return;
    bool from_client = &flow == &conn->up;
    if (flow.eof) {
      if (!flow.shut) {
        shutdown(destination, SD_SEND);
        flow.shut = true;
      }
      if (conn->up.shut && conn->down.shut) CloseConnection(conn);
      return;
    }
    FitBuffer(flow);
    PostRecv(conn, from_client ? conn->client.get() : conn->upstream.get(), flow);
  }

  // --- sockets made ahead ---

  // Making a socket ready (create, bind, tie to the port) takes several rounds
  // through the Wine server, about 0.4 ms for a connect's socket: done on the
  // system thread pool ahead of need, it is off the path of a request. The
  // engine makes one itself when the stock is out.
  ReadySocket TakeSocket(SocketUse use) {
    ReadySocket taken;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::vector<ReadySocket>& stock = stock_[static_cast<int>(use)];
      if (!stock.empty()) {
        taken = std::move(stock.back());
        stock.pop_back();
      }
      if (!restocking_ && !stock_closed_) {
        restocking_ = TrySubmitThreadpoolCallback(&Impl::RestockOnPool, this, nullptr) != FALSE;
      }
    }
    if (!taken.socket) taken = MakeSocket(port_.get(), use, AF_INET);
    return taken;
  }

  static void CALLBACK RestockOnPool(PTP_CALLBACK_INSTANCE, void* self) {
    static_cast<Impl*>(self)->Restock();
  }

  void Restock() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      int short_of = -1;
      for (int use = 0; use < 2 && short_of < 0; ++use) {
        if (stock_[use].size() < kStockSize) short_of = use;
      }
      if (short_of < 0 || stock_closed_) break;
      lock.unlock();
      ReadySocket made = MakeSocket(port_.get(), static_cast<SocketUse>(short_of), AF_INET);
      lock.lock();
      if (!made.socket) break;  // out of sockets: the engine makes its own
      stock_[short_of].push_back(std::move(made));
    }
    restocking_ = false;
    restocked_.notify_all();
  }

  // --- buffers ---

  // Gives `flow` an empty buffer of `size` bytes (none for 0), keeping the
  // account of the grown buffers of all tunnels. False, with the flow as it
  // was, when the memory cannot be had.
  bool GiveBuffer(Flow& flow, size_t size) {
    std::unique_ptr<char[]> buf;
    if (size > 0) {
      buf.reset(new (std::nothrow) char[size]);
      if (!buf) return false;
    }
    size_t was = bulk_used_;
    if (flow.cap > options_.pipe_buffer) bulk_used_ -= flow.cap;
    if (size > options_.pipe_buffer) bulk_used_ += size;
    if (bulk_used_ != was) {
      std::lock_guard<std::mutex> lock(mutex_);
      grown_bytes_ = bulk_used_;
    }
    flow.buf = std::move(buf);
    flow.cap = size;
    return true;
  }

  // Called with the flow empty, before its next read. Under Wine every read and
  // send is a round through the server, whatever its size: a flow whose reads
  // fill its buffer reads into a larger one while the budget allows it, and
  // goes back to the small one when its reads come in small again, so idle
  // tunnels stay small. A buffer that cannot be had leaves the flow as it is.
  void FitBuffer(Flow& flow) {
    size_t small = options_.pipe_buffer;
    size_t bulk = options_.bulk_buffer;
    if (flow.last_read == flow.cap && flow.cap < bulk &&
        bulk_used_ + bulk <= options_.bulk_budget) {
      GiveBuffer(flow, bulk);
      flow.small_reads = 0;
    } else if (flow.cap > small) {
      // One small read happens in a download too (the read that waited gets
      // what came first); a few in a row mean the bulk is over.
      flow.small_reads = flow.last_read < small / 2 ? flow.small_reads + 1 : 0;
      if (flow.small_reads >= kSmallReadsToShrink && GiveBuffer(flow, small)) flow.small_reads = 0;
    }
  }

  // `sent`: how much of the upstream's first bytes went out with the connect.
  void OnConnected(Connection* conn, DWORD sent, bool ok) {
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

  // Connects to the session's current candidate on a fresh socket.
  void StartConnect(Connection* conn) {
    conn->retiring = false;
    conn->connects_started = conn->session->connects();
    conn->up.extra = conn->session->TakeUpstreamOutput();  // goes out with the connect
    conn->up.extra_off = 0;
    conn->down.len = conn->down.off = 0;
    if (!conn->down.buf && !GiveBuffer(conn->down, options_.pipe_buffer)) {
      CloseConnection(conn);  // out of memory
      return;
    }
    conn->deadline = Now() + options_.upstream_timeout_ms;
    const core::NetTarget& proxy = conn->session->candidate().upstream.proxy;
    if (core::ClassifyHost(proxy.host) == core::HostKind::kName) {
      auto* job = new ResolveJob{port_.get(), conn, proxy};
      conn->resolve_op.ov = OVERLAPPED{};
      conn->resolve_op.busy = true;
      ++conn->upstream_pending;
      if (TrySubmitThreadpoolCallback(&ResolveOnPool, job, nullptr)) return;
      delete job;
      conn->resolve_op.busy = false;
      --conn->upstream_pending;
      ConnectTo(conn, nullptr);
      return;
    }
    Address address;
    ConnectTo(conn, ResolveAddress(proxy, &address, true) ? &address : nullptr);
  }

  // Connects to `address` on a fresh socket; null: the proxy has no address.
  void ConnectTo(Connection* conn, const Address* found) {
    if (found && IsOwnPort(*found)) found = nullptr;  // fails as a proxy with no address
    Address address = found ? *found : Address{};
    if (found) {
      int family = address.storage.ss_family;
      ReadySocket ready = family == AF_INET ? TakeSocket(SocketUse::kConnect)
                                            : MakeSocket(port_.get(), SocketUse::kConnect, family);
      conn->upstream = std::move(ready.socket);
      conn->upstream_skips = ready.skips;
    }
    conn->connect_op.ov = OVERLAPPED{};
    if (!found || !conn->upstream) {
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

  // Acts on what the session now wants.
  void Advance(Connection* conn) {
    core::RelaySession& s = *conn->session;
    std::string to_client = s.TakeClientOutput();
    // A connection that ends early is reported before its last reply goes out:
    // a client that has read the reply (the verification's fetch) finds the
    // report made.
    bool ending = s.phase() == core::RelayPhase::kClosing && !conn->finishing && !conn->closing;
    if (ending && !conn->held) Report(conn, s.end_reason());
    if (!to_client.empty()) {
      conn->down.extra += to_client;
      PumpSend(conn, conn->client.get(), conn->down);
    }
    if (conn->closing) return;
    switch (s.phase()) {
      case core::RelayPhase::kReadingRequest:
        break;
      case core::RelayPhase::kConnecting:
        if (s.connects() != conn->connects_started) {
          if (conn->upstream || conn->upstream_pending > 0) {
            conn->retiring = true;
            conn->upstream.reset();
          }
          if (conn->upstream_pending == 0) StartConnect(conn);
        }
        break;
      case core::RelayPhase::kHandshaking:
        conn->up.extra += s.TakeUpstreamOutput();
        PumpSend(conn, conn->upstream.get(), conn->up);
        PostRecv(conn, conn->upstream.get(), conn->down);
        if (!conn->handshook) {
          conn->handshook = true;
          // On a connection opened ahead the proxy's time starts with the request.
          if (conn->connects_started == 0) conn->deadline = Now() + options_.upstream_timeout_ms;
        }
        break;
      case core::RelayPhase::kHeld:
        // A read stays posted: the proxy's close (or any byte) ends the hold; a
        // client that takes the connection gets the proxy's answer through it.
        PostRecv(conn, conn->upstream.get(), conn->down);
        conn->deadline = Now() + options_.held_ms;
        break;
      case core::RelayPhase::kPiping: {
        conn->up.extra += s.TakeUpstreamOutput();
        if (!s.failures().empty()) Report(conn, "");
        conn->request_body = s.TakeRequestBody();
        conn->session.reset();
        if (conn->handshook) AskAhead(conn);
        conn->piping = true;
        conn->deadline = IdleDeadline();
        Drain(conn, conn->up, conn->upstream.get());
        Drain(conn, conn->down, conn->client.get());
        break;
      }
      case core::RelayPhase::kClosing:
        if (conn->finishing) break;  // reported already; the last reply is on its way
        conn->finishing = true;
        conn->upstream.reset();
        conn->deadline = Now() + kFarewellMs;
        if (conn->down.Empty() && !conn->down.send_op.busy) CloseConnection(conn);
        break;
    }
  }

  uint64_t IdleDeadline() const {
    return options_.idle_tunnel_ms ? Now() + options_.idle_tunnel_ms : 0;
  }

  // Whether `address` is this machine and one of this engine's ports: a row
  // whose name resolves to the relay itself would have it connect to itself
  // for every connection.
  bool IsOwnPort(const Address& address) const {
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

  void Report(Connection* conn, const std::string& reason) {
    if (!conn->config->sink) return;
    RelayReport report;
    report.listen_port = conn->config->port;
    report.failures = conn->session->failures();
    report.end_reason = reason;
    // Piped through a later candidate: failover carried the connection.
    if (reason.empty() && conn->session->attempt() > 0) {
      report.carried = true;
      report.carried_row = conn->session->candidate().row;
      report.carried_label = conn->session->candidate().label;
    }
    conn->config->sink(std::move(report));
  }

  void ScanDeadlines(uint64_t now) {
    for (Connection* conn : std::vector<Connection*>(connections_.begin(), connections_.end())) {
      if (conn->closing || conn->deadline == 0 || now < conn->deadline) continue;
      conn->deadline = 0;
      Handle(conn, [&] {
        if (conn->finishing || !conn->session) {
          CloseConnection(conn);
        } else {
          conn->session->OnTimedOut();
          Advance(conn);
        }
      });
    }
  }

  // Ends the connection at once: closing the sockets ends their operations, and
  // the connection goes when the last one has reported.
  void CloseConnection(Connection* conn) {
    if (conn->closing) return;
    conn->closing = true;
    if (auto held = held_.find(conn->config->port); held != held_.end() && held->second == conn) {
      held_.erase(held);
    }
    conn->client.reset();
    conn->upstream.reset();
    MaybeFree(conn);
  }

  void MaybeFree(Connection* conn) {
    if (conn->handling || conn->client_pending > 0 || conn->upstream_pending > 0) return;
    GiveBuffer(conn->up, 0);
    GiveBuffer(conn->down, 0);
    connections_.erase(conn);
    bool counted = !conn->held;  // a client's connection
    delete conn;
    if (!counted) return;
    std::lock_guard<std::mutex> lock(mutex_);
    --open_count_;
  }

  RelayEngineOptions options_;
  WinsockScope wsa_;
  UniqueKernelHandle port_;
  UniqueKernelHandle thread_;
  LPFN_CONNECTEX connect_ex_ = nullptr;
  LPFN_ACCEPTEX accept_ex_ = nullptr;

  mutable std::mutex mutex_;
  std::deque<Command> commands_;
  size_t open_count_ = 0;
  size_t refused_count_ = 0;
  size_t stranger_count_ = 0;
  std::atomic<bool> owner_unknown_{false};
  size_t grown_bytes_ = 0;  // bulk_used_, for other threads
  // Sockets made ahead, by SocketUse; refilled on the thread pool.
  static constexpr size_t kStockSize = 8;
  std::array<std::vector<ReadySocket>, 2> stock_;
  bool restocking_ = false;
  bool stock_closed_ = false;
  std::condition_variable restocked_;

  // Engine thread only.
  struct Ready {
    Op* op;
    DWORD bytes;
    bool ok;
  };
  std::deque<Ready> ready_;
  std::deque<std::pair<Listener*, int>> reposts_;  // accept slots to post again
  // Connections opened ahead, by listener port (one each), and listeners that
  // asked for one.
  std::unordered_map<uint16_t, Connection*> held_;
  std::deque<std::shared_ptr<const ListenerConfig>> ahead_wanted_;
  bool stopping_ = false;
  size_t bulk_used_ = 0;  // bytes in grown buffers
  std::unordered_set<Listener*> listeners_;
  std::unordered_set<Connection*> connections_;
};

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
