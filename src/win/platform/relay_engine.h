// RelayEngine: the local relay's sockets. Listens on 127.0.0.1 only; each client
// connection is read, carried through a proxy the listener's route names and then
// piped both ways (core::RelaySession decides what is said; the engine moves the
// bytes). All sockets are served by one thread over an I/O completion port, so the
// thread count does not grow with the connections. Listen and CloseListener may be
// called from any thread; routes are read and reports made on the engine thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/net/relay_session.h"
#include "win/platform/client_owner.h"

namespace win {

// The proxies a new connection may go through, the first one first. Read once
// when a connection's request is complete, so that a connection keeps the route
// it started with and later ones take the new one.
struct RelayRoute {
  std::vector<core::RelayCandidate> candidates;
  // When set, each connection's candidates are chosen by this, on the engine
  // thread, once its request names the target (a rotation); `candidates` is
  // then not used and no connection is opened ahead.
  core::RelaySession::CandidateChooser choose;
};
// Called on the engine thread; may return null (no proxy: the client is told so).
// A listener's source and sink may still be called after CloseListener has
// returned, until the engine is destroyed: what they use must live as long.
using RelayRouteSource = std::function<std::shared_ptr<const RelayRoute>()>;

// What became of one client connection that did not run as a tunnel from its
// first candidate: candidates that failed (the tunnel may still have run through
// a later one), and why the connection ended early ("" when it was piped).
struct RelayReport {
  uint16_t listen_port = 0;
  std::vector<core::RelayAttemptFailure> failures;
  std::string end_reason;
  // The tunnel was piped through a candidate other than the first (failover
  // carried it): that candidate's row and label.
  bool carried = false;
  // The tunnel is up (through the first candidate unless `carried`); a
  // connection the rotation chose for is reported when it is, failures or not.
  bool piped = false;
  uint64_t carried_row = 0;
  std::string carried_label;
};
// Called on the engine thread; must not block.
using RelayReportSink = std::function<void(RelayReport)>;

struct RelayEngineOptions {
  // A client must complete its request within this time.
  uint32_t request_timeout_ms = 30000;
  // Each candidate must be connected and through its handshake within this time.
  uint32_t upstream_timeout_ms = 15000;
  // Bytes buffered in each direction of a tunnel to begin with: two of them and
  // the connection's own state stay within 64 KiB a tunnel.
  size_t pipe_buffer = 16 * 1024;
  // A direction whose reads fill its buffer (a download, an upload) moves to a
  // buffer of this size, so that each read and send carries more; it goes back
  // to `pipe_buffer` when its reads come in small again.
  size_t bulk_buffer = 256 * 1024;
  // The most the grown buffers of all tunnels may hold together; a direction
  // that would go past it keeps its small buffer.
  size_t bulk_budget = 32 * 1024 * 1024;
  // A listener in use keeps one connection to its first proxy opened ahead of the
  // next client (not for `one_client` ports); it is let go after this long
  // unused, so that the relay keeps no connection to a proxy nobody uses.
  uint32_t held_ms = 10000;
  // Client connections open at once; a client accepted past it is closed at
  // once and counted (refused_connections), so that a flood (a program gone
  // wrong, a stranger) cannot run the machine out of ports. Far above what a
  // browser opens.
  size_t max_connections = 2048;
  // A tunnel with no byte either way for this long is closed: long enough for
  // long polls and idle keep-alive connections, short enough that forgotten
  // ones do not pile up. 0: never.
  uint32_t idle_tunnel_ms = 10 * 60 * 1000;
  // Asked of every client of a listener that checks_owner, on the system thread
  // pool, before a byte of it is read: a client of another user is closed at once
  // and counted (stranger_connections); one the system cannot place is taken,
  // and owner_unknown() says so. Null (under Wine): every client is taken as
  // one the system cannot place.
  ClientOwnerCheck owner_of_client = SystemOwnerCheck();
};

class RelayEngine {
 public:
  explicit RelayEngine(const RelayEngineOptions& options = {});
  // Closes every listener and connection and ends the engine thread.
  ~RelayEngine();
  RelayEngine(const RelayEngine&) = delete;
  RelayEngine& operator=(const RelayEngine&) = delete;

  // Creates the completion port and the engine thread. False, with `error`, when
  // either could not be made.
  bool Start(std::string* error);

  // Listens on 127.0.0.1:`port` (0: a free port). Returns the port bound, or 0
  // with `error` (the port is taken, or the engine is not started). A listener
  // for `one_client` at a time (a port bound to one request) keeps one accept
  // pending instead of several: fewer sockets made and dropped per port on the
  // engine thread.
  // `checks_owner`: only programs of the user running this one may use the
  // listener (the user's own relay port, whose rows may carry log-ins).
  uint16_t Listen(uint16_t port, RelayRouteSource source, RelayReportSink sink, std::string* error,
                  bool one_client = false, bool checks_owner = false);
  // Stops accepting on `port`; connections already made run to their end.
  void CloseListener(uint16_t port);

  // Connections open now (accepted and not fully closed); for tests and benchmarks.
  size_t open_connections() const;
  // Clients closed at once because max_connections were open.
  size_t refused_connections() const;
  // Clients closed at once because they run as another user.
  size_t stranger_connections() const;
  // Whether a client was taken whose owner the system could not tell (under
  // Wine, always).
  bool owner_unknown() const;
  // Bytes held now in grown (bulk) buffers; for tests and benchmarks.
  size_t grown_buffer_bytes() const;
  // Threads the engine runs (for benchmarks): always 1. The system thread pool
  // does the rest: it looks proxies' names up and makes sockets ahead of need.
  static constexpr int kThreads = 1;

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace win
