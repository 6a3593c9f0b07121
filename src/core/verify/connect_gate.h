// The connect gate: before a row goes to a verify worker, the program opens a
// plain TCP connection to the row's proxy itself and gives it at most the connect
// time-out, many rows at once, in list order ahead of the hand-out. Connected
// rows wait for a worker; the others are finished at once as unreachable. The gate
// owns its queues; sockets belong to the ConnectProber. One thread only (the
// thread that owns the verification); every prober and listener call is on it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/clock.h"
#include "core/verify/verify_run.h"

namespace core {

inline constexpr uint32_t kDefaultConnectTimeoutMs = 5000;
inline constexpr uint32_t kMaxConnectTimeoutMs = 600000;
// Connects in flight at once: enough to sweep a public list quickly, few enough
// that a home router's connection table is not flooded.
inline constexpr int kDefaultConnectsInFlight = 1000;
inline constexpr int kMinConnectsInFlight = 1;
inline constexpr int kMaxConnectsInFlight = 10000;
// No host name is longer than this; a longer address column is not probed.
inline constexpr size_t kMaxProbeHostLength = 255;

struct GateSettings {
  uint32_t connect_timeout_ms = kDefaultConnectTimeoutMs;  // brought into 1..kMaxConnectTimeoutMs
  int max_in_flight = kDefaultConnectsInFlight;  // brought into kMin..kMaxConnectsInFlight
};

// One row to pass through the gate: its index in the list and its address and
// port columns as they stand. The row's type plays no part: HTTP and SOCKS
// proxies alike are plain TCP to the proxy's address and port.
struct GateRow {
  size_t row = 0;
  std::string host;  // an IP address or a host name
  std::string port;  // the port column's text
};

enum class ProbeStart {
  kStarted,  // the connect is under way; exactly one outcome will follow
  kFailed,   // the connect could not begin (e.g. no socket); no outcome follows
  kBusy,     // no socket can be opened just now; no outcome follows
};

// Where a prober's outcomes go, on the gate's thread: the verify scheduler,
// which hands them to its gate.
class ProbeReportTarget {
 public:
  virtual ~ProbeReportTarget() = default;
  virtual void OnProbeConnected(uint64_t id) = 0;
  virtual void OnProbeRefused(uint64_t id) = 0;
};

// Non-blocking TCP connects to proxies: the Winsock piece in the program, a fake
// in tests.
class ConnectProber {
 public:
  virtual ~ConnectProber() = default;
  // Where outcomes are reported from now on; null: nowhere. The scheduler names
  // itself when it is made and null when it goes.
  virtual void SetReportTarget(ProbeReportTarget* target) = 0;
  // Begins a connect to host:port without waiting for it and reports the outcome
  // once, later or from inside this call, through ConnectGate::OnConnected(id) or
  // ConnectGate::OnRefused(id) on the gate's thread. A host name is resolved by
  // the prober without blocking the gate's thread; the resolution counts against
  // the connect time-out. `host` is valid only during the call. A connected
  // socket is closed at once: the gate only needs to know that it connected.
  virtual ProbeStart Start(uint64_t id, std::string_view host, uint16_t port) = 0;
  // Abandons probe `id` and closes its socket; its outcome is never reported.
  // Unknown or finished ids are ignored.
  virtual void Cancel(uint64_t id) = 0;
  // Abandons every probe, as Cancel does.
  virtual void CancelAll() = 0;
};

// Why a row did not pass the gate.
enum class ConnectFailure {
  kRefused,          // the connection attempt ended without a connection
  kTimedOut,         // not connected within the connect time-out
  kNotStarted,       // the prober could not begin the connect
  kUnusableAddress,  // the address or port cannot be connected to (port not 1..65535, …)
};

// Hears what the gate decided. Calls come from inside the gate's own calls (never
// from inside a prober's Start), and the listener may call back into the gate:
// after Stop() or Begin() nothing of the earlier rows is reported any more.
class ConnectGateListener {
 public:
  virtual ~ConnectGateListener() = default;
  // The row is to be finished at once as unreachable, without a worker.
  virtual void OnRowUnreachable(const GateRow& row, ConnectFailure failure) = 0;
  // One or more rows became ready; ConnectGate::TakeReady gives them.
  virtual void OnRowsReady() = 0;
};

// The rows of a run move pending → in flight → ready (taken by TakeReady) or
// unreachable (reported to the listener); each row reaches exactly one of the two
// ends unless the run is stopped or the row is removed.
//
// Row indices: the list only changes under a run by appending rows at its end
// (Append) or by removing rows (OnRowsRemoved, which renumbers the gate's rows as
// the list does); it is never reordered while a run is on.
class ConnectGate {
 public:
  // `prober`, `clock` and `listener` must outlive the gate.
  ConnectGate(ConnectProber& prober, Clock& clock, ConnectGateListener& listener,
              GateSettings settings = {});
  ~ConnectGate();
  ConnectGate(const ConnectGate&) = delete;
  ConnectGate& operator=(const ConnectGate&) = delete;

  // Takes effect at the next Begin; a run keeps the settings it began with.
  void SetSettings(GateSettings settings);

  // Starts a run over `rows` in the order given (list order). Whatever an earlier
  // run left is dropped unreported and its probes are cancelled. Nothing is
  // probed until Pump().
  void Begin(std::vector<GateRow> rows);
  // Rows added to the list during the run join the end of the queue.
  void Append(std::vector<GateRow> rows);
  // Starts probes in list order until the in-flight bound is reached or no row is
  // pending. A row with an unusable address fails at once in its turn without
  // taking a probe. The gate's event calls pump by themselves.
  void Pump();
  // The next connected row, in the order the connects completed; none when no
  // row is ready.
  std::optional<GateRow> TakeReady();

  // Outcomes from the prober. Ids the gate does not hold (cancelled, timed out,
  // of an earlier run, of a removed row, repeated) are ignored. An outcome that
  // arrives after the time-out but before OnTick failed the probe is taken as it
  // is: the handshake completed, and the lateness is in the delivery.
  void OnConnected(uint64_t id);
  void OnRefused(uint64_t id);
  // Fails and cancels every probe that has been in flight for the connect
  // time-out or longer, then pumps. Call it at least when MsUntilDeadline says.
  void OnTick();
  // Milliseconds until the earliest in-flight probe reaches its time-out (0 when
  // one already has); none while nothing is in flight.
  std::optional<uint32_t> MsUntilDeadline();

  // Rows at these indices (numbered as before the removal, any order) left the
  // list: they are dropped without a report, their probes cancelled, and every
  // other row's index is lowered by the number of removed rows before it.
  void OnRowsRemoved(std::vector<size_t> removed);

  // Ends the run: every probe is cancelled, every queue emptied, and nothing is
  // reported afterwards.
  void Stop();

  size_t pending() const { return pending_.size(); }
  size_t in_flight() const { return in_flight_.size(); }
  size_t ready() const { return ready_.size(); }
  // Nothing is pending, in flight, ready or still to be reported.
  bool idle() const;

 private:
  struct Probe {
    GateRow row;
    uint32_t started_ms = 0;
  };
  struct Failed {
    GateRow row;
    ConnectFailure failure;
  };

  void Fail(GateRow row, ConnectFailure failure);
  void Deliver();
  void Clear();

  ConnectProber& prober_;
  Clock& clock_;
  ConnectGateListener& listener_;
  GateSettings next_settings_;
  GateSettings settings_;

  std::deque<GateRow> pending_;
  // By id: ids are handed out in start order and the time-out is the same for the
  // whole run, so the first entry is always the next to reach its deadline.
  std::map<uint64_t, Probe> in_flight_;
  std::deque<GateRow> ready_;
  std::deque<Failed> unreachable_;  // decided, not yet reported
  bool ready_news_ = false;         // rows became ready since the last OnRowsReady
  uint64_t next_id_ = 1;            // never reused, so an old outcome matches nothing
  bool pumping_ = false;
  bool delivering_ = false;
};

// The outcomes a run over `sites` sites gets when its proxy cannot be reached:
// the first site unreachable, the rest not tested (the early end of a run).
std::vector<SiteOutcome> UnreachableOutcomes(int sites);

// The port of a port column: trimmed, digits only, 1..65535; none otherwise.
std::optional<uint16_t> ProbePort(std::string_view port);

}  // namespace core
