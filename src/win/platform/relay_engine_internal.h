// The relay engine's own types, shared by its files and by nothing else:
//   relay_engine.cpp       the public face, commands and the completion-port loop
//   relay_listeners.cpp    listening sockets, accepts and the owner check
//   relay_connections.cpp  a client's connection until its tunnel is up, and the
//                          connections opened ahead of clients
//   relay_tunnels.cpp      operations on the sockets, piping, the buffers
//   relay_deadlines.cpp    each connection's next deadline
//   relay_sockets.cpp      sockets made ready ahead, addresses, socket options
// Everything here runs on the engine thread unless its comment says otherwise.
#pragma once

// Winsock before windows.h; mswsock.h for AcceptEx and ConnectEx.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>
// clang-format on

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/base/deadline_queue.h"
#include "core/net/relay_session.h"
#include "win/platform/relay_engine.h"
#include "win/platform/unique_handle.h"
#include "win/platform/unique_socket.h"

namespace win {
namespace relay {

constexpr ULONG_PTR kKeySocket = 1;
constexpr ULONG_PTR kKeyCommand = 2;
constexpr int kAcceptsPending = 4;
// Room for the two addresses AcceptEx writes (each its sockaddr plus 16 bytes).
constexpr DWORD kAcceptAddressLength = sizeof(sockaddr_in6) + 16;

inline uint64_t Now() { return GetTickCount64(); }

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

// Whether an operation belongs to the client's socket (else the upstream's).
inline bool OnClientSide(OpKind kind) {
  return kind == OpKind::kClientRecv || kind == OpKind::kClientSend || kind == OpKind::kOwner;
}

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
  bool opens_ahead = false;   // keeps a connection to the proxy opened ahead
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

// One socket of a connection and its operations under way.
struct Side {
  UniqueSocket socket;
  bool skips = false;  // reports through the port only what did not end at once
  int pending = 0;     // operations posted that have not reported yet
  SOCKET get() const { return socket.get(); }
};

// Where a connection is in its life. Before the tunnel is up its session
// (core::RelayPhase) decides what is said to whom; this says what the engine
// does with the sockets meanwhile and after.
enum class ConnState {
  kAhead,      // opened ahead of a client: its session connects and greets, then
               // rests; no client yet
  kSession,    // a client's, before its tunnel is up: the session decides
  kRetiring,   // as kSession, while a failed upstream's operations drain; the next
               // connect starts when the last has reported
  kPiping,     // the tunnel is up: bytes are copied both ways, the session is gone
  kFinishing,  // the last reply goes to the client, then it closes
  kClosing,    // the sockets are closed; freed once its last operation has reported
};

struct Connection {
  std::shared_ptr<const ListenerConfig> config;
  ConnState state = ConnState::kSession;
  Side client;
  Side upstream;
  std::unique_ptr<core::RelaySession> session;  // until the tunnel is piped
  // A plain request's body still due from the client; its later bytes go nowhere.
  std::optional<core::HttpBodyReader> request_body;
  Flow up;    // client -> upstream
  Flow down;  // upstream -> client
  Op connect_op;
  Op resolve_op;
  Op owner_op;
  Address resolved;             // written by the lookup before it reports
  size_t connects_started = 0;  // the session's connects() the socket was made for
  core::DeadlineQueue::Timer timer = 0;
  // Facts beside the state:
  bool counted = false;       // a client's: counted in open_connections() until freed
  bool tunnel_asked = false;  // its tunnel was asked of a proxy (not a plain request)
  bool rotated = false;       // the rotation chose its proxy: its success is reported too
  bool handling = false;      // an event of this connection is being handled
};

// The address of a literal (`numeric_only`), or of a name, which may take as long
// as the system's lookup takes: names are looked up on the system thread pool.
bool ResolveAddress(const core::NetTarget& target, Address* out, bool numeric_only);
// Bytes go on as soon as they arrive (TCP_NODELAY); false when it cannot be set.
bool NoDelay(SOCKET s);
// NoDelay, unless the socket has it already.
bool EnsureNoDelay(SOCKET s);

// A socket ready for use on the engine's port: for an accept (unbound), or for
// a connect (bound to a free local port, as ConnectEx needs).
struct ReadySocket {
  UniqueSocket socket;
  bool skips = false;  // reports through the port only what did not end at once
};

enum class SocketUse { kAccept = 0, kConnect = 1 };

ReadySocket MakeSocket(HANDLE port, SocketUse use, int family);

// Sockets made ready ahead of need on the system thread pool, a few of each use.
// Take is called on the engine thread; the stock refills itself on the pool.
class SocketStock {
 public:
  explicit SocketStock(HANDLE port) : port_(port) {}
  // One from the stock (asking for a refill), else one made now; an empty
  // socket when none can be made.
  ReadySocket Take(SocketUse use);
  // No more refills; waits for one under way. Any thread but the pool's.
  void Close();

 private:
  static void CALLBACK RestockOnPool(PTP_CALLBACK_INSTANCE, void* self);
  void Restock();

  static constexpr size_t kStockSize = 8;
  HANDLE port_;
  std::mutex mutex_;
  std::array<std::vector<ReadySocket>, 2> stock_;  // by SocketUse
  bool restocking_ = false;
  bool closed_ = false;
  std::condition_variable restocked_;
};

// The tunnels' buffers: each direction starts small and grows while its reads
// fill it, within one budget for all tunnels.
class PipeBuffers {
 public:
  explicit PipeBuffers(const RelayEngineOptions& options)
      : small_(options.pipe_buffer), bulk_(options.bulk_buffer), budget_(options.bulk_budget) {}
  // Gives `flow` an empty buffer of `size` bytes (none for 0), keeping the
  // account of the grown buffers. False, with the flow as it was, when the
  // memory cannot be had.
  bool Give(Flow& flow, size_t size);
  // Gives `flow` a small buffer.
  bool GiveSmall(Flow& flow) { return Give(flow, small_); }
  // Called with the flow empty, before its next read: grows or shrinks its buffer.
  void Fit(Flow& flow);
  // Bytes in grown buffers; any thread.
  size_t grown_bytes() const { return grown_.load(std::memory_order_relaxed); }

 private:
  size_t small_;
  size_t bulk_;
  size_t budget_;
  size_t used_ = 0;  // bytes in grown buffers
  std::atomic<size_t> grown_{0};
};

}  // namespace relay

class RelayEngine::Impl {
 public:
  using Connection = relay::Connection;
  using Listener = relay::Listener;
  using ListenerConfig = relay::ListenerConfig;
  using Flow = relay::Flow;
  using Op = relay::Op;
  using OpKind = relay::OpKind;
  using Side = relay::Side;

  explicit Impl(const RelayEngineOptions& options) : options_(options), buffers_(options) {}

  // Any thread.
  bool Start(std::string* error);
  void Stop();
  uint16_t Listen(uint16_t port, RelayRouteSource source, RelayReportSink sink, std::string* error,
                  bool one_client, bool checks_owner);
  void CloseListener(uint16_t port) { Post({Command::kCloseListener, port, nullptr}); }
  size_t refused_connections() const;
  size_t stranger_connections() const;
  bool owner_unknown() const { return owner_unknown_.load(); }
  size_t open_connections() const;
  size_t grown_buffer_bytes() const { return buffers_.grown_bytes(); }

 private:
  struct Command {
    enum Kind { kListen, kCloseListener, kStop } kind;
    uint16_t port;
    Listener* listener;  // kListen: handed to the engine thread
  };

  // relay_engine.cpp: commands and the loop.
  void Post(Command command);
  static DWORD WINAPI ThreadMain(void* self);
  void Run();
  void TakeCommands();
  void Complete(Op* op, DWORD bytes, bool ok);
  void Dispatch(Connection* conn, Op* op, DWORD bytes, bool ok);

  // relay_listeners.cpp
  void PostAccept(Listener* l, int slot);
  void CloseListener(Listener* l);
  void MaybeFreeListener(Listener* l);
  void OnAccepted(Op* op, bool ok);
  bool AskOwner(Connection* conn);
  void OnOwner(Connection* conn, ClientOwner owner);

  // relay_connections.cpp
  Connection* NewConnection(std::shared_ptr<const ListenerConfig> config);
  void AskAhead(Connection* conn);
  void OpenAhead(const std::shared_ptr<const ListenerConfig>& config);
  Connection* TakeHeld(uint16_t port, const std::vector<core::RelayCandidate>& candidates);
  void Advance(Connection* conn);
  void StartConnect(Connection* conn);
  void ConnectTo(Connection* conn, const relay::Address* found);
  void OnConnected(Connection* conn, DWORD sent, bool ok);
  bool IsOwnPort(const relay::Address& address) const;
  void Report(Connection* conn, const std::string& reason);
  void CloseConnection(Connection* conn);
  void MaybeFree(Connection* conn);

  // relay_tunnels.cpp
  void PostRecv(Connection* conn, Side& side, Flow& flow);
  void PumpSend(Connection* conn, Side& side, Flow& flow);
  void Posted(Connection* conn, Op& op, bool succeeded_now, DWORD bytes);
  void OnClientRecv(Connection* conn, DWORD bytes, bool ok);
  void OnUpstreamRecv(Connection* conn, DWORD bytes, bool ok);
  void SideFailed(Connection* conn, bool client_side);
  void OnPipeRecv(Connection* conn, Flow& flow, Side& destination, DWORD bytes, bool ok);
  void OnSent(Connection* conn, Flow& flow, DWORD bytes, bool ok);
  void Drain(Connection* conn, Flow& flow, Side& destination);

  // relay_deadlines.cpp
  void SetDeadline(Connection* conn, uint64_t when);
  uint64_t IdleDeadline() const;
  // How long the loop may wait for the port: until the nearest deadline.
  DWORD WaitMs(uint64_t now);
  void FireDeadlines(uint64_t now);

  // Runs one event of `conn`. The handlers may close the connection half way
  // through and still look at it afterwards: it is freed only once they are done.
  template <typename Handler>
  void Handle(Connection* conn, Handler handler) {
    conn->handling = true;
    handler();
    conn->handling = false;
    if (conn->state == relay::ConnState::kClosing) MaybeFree(conn);
  }

  Side& SideOf(Connection* conn, OpKind kind) {
    return relay::OnClientSide(kind) ? conn->client : conn->upstream;
  }

  RelayEngineOptions options_;
  WinsockScope wsa_;
  UniqueKernelHandle port_;
  UniqueKernelHandle thread_;
  LPFN_CONNECTEX connect_ex_ = nullptr;
  LPFN_ACCEPTEX accept_ex_ = nullptr;
  std::unique_ptr<relay::SocketStock> stock_;  // made by Start

  mutable std::mutex mutex_;
  std::deque<Command> commands_;
  size_t open_count_ = 0;
  size_t refused_count_ = 0;
  size_t stranger_count_ = 0;
  std::atomic<bool> owner_unknown_{false};

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
  relay::PipeBuffers buffers_;
  core::DeadlineQueue deadlines_;
  std::vector<Connection*> timer_owners_;  // by timer
  std::unordered_set<Listener*> listeners_;
  std::unordered_set<Connection*> connections_;
};

}  // namespace win
