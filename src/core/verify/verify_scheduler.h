// The verify scheduler: runs a verification over all rows or the selected rows
// of the proxy list with a pool of up to 200 workers, hands out rows in list
// order, writes each finished row's result, and at the end of a complete run
// applies the end-of-run rules. With a ConnectProber, rows pass the connect gate
// first: the scheduler owns the gate, hands connected rows to the workers and
// finishes the others at once. A state machine driven by events (commands,
// worker reports, probe outcomes, timers); workers, probes, timers and the main
// dialog are reached through seams. UI thread only, like every seam call it makes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/proxylist/proxy_list.h"
#include "core/verify/connect_gate.h"
#include "core/verify/site_fetcher.h"
#include "core/verify/verify_run.h"
#include "core/verify/verify_settings.h"

namespace core {

inline constexpr int kWorkerSlots = 200;
inline constexpr uint32_t kWatchdogPerSiteMs = 120000;
inline constexpr uint32_t kVerifyNewDelayMs = 5000;

enum class StartResult {
  kStarted,
  kNotStarted,  // the worker exists but its thread did not start: the row is skipped
  kNoWorker,    // no worker could be created: the run is torn down
};

// Where a pool's workers report, on the UI thread: the scheduler.
class WorkerReportTarget {
 public:
  virtual ~WorkerReportTarget() = default;
  virtual void OnWorkerDone(int slot, uint64_t generation,
                            const std::vector<SiteOutcome>& outcomes) = 0;
  // The run of hand-out `generation` found the protocol of its untyped proxy;
  // told just before that run's OnWorkerDone.
  virtual void OnWorkerTypeDetected(int slot, uint64_t generation, ProxyProtocol protocol) = 0;
};

// The pool of worker threads, one per slot 0..199.
class WorkerPool {
 public:
  virtual ~WorkerPool() = default;
  // Where reports go from now on; null: nowhere. The scheduler names itself
  // when it is made and null when it goes.
  virtual void SetReportTarget(WorkerReportTarget* target) = 0;
  // Hands `run` to the worker of `slot` (creating one when the slot is empty) and
  // starts it. The worker runs VerifyRun::RunTests and then reports once, through
  // the report target's OnWorkerDone(slot, generation, outcomes) on the UI thread
  // (after OnWorkerTypeDetected when the run detected its proxy's protocol).
  virtual StartResult Start(int slot, uint64_t generation, VerifyRun run) = 0;
  // Stops the slot's worker for good without waiting for it and empties the slot;
  // it never reports again. Returns the outcomes its sites had reached, one per
  // site it was given (sites not reached read kSiteNotTested).
  virtual std::vector<SiteOutcome> Abandon(int slot) = 0;
  // Stops every worker for good without waiting and empties every slot.
  virtual void ReleaseAll() = 0;
  // Deletes workers whose thread has ended.
  virtual void ReapEnded() = 0;
};

// One-shot timers of the verification; starting a running timer restarts it.
class VerifyTimers {
 public:
  virtual ~VerifyTimers() = default;
  virtual void StartWatchdog(int slot, uint32_t ms) = 0;  // fires OnWatchdog(slot)
  virtual void StopWatchdog(int slot) = 0;
  virtual void StartVerifyNew(uint32_t ms) = 0;  // fires OnVerifyNewTimer()
  virtual void StopVerifyNew() = 0;
  // The connect gate's deadline; used only by a scheduler with a prober.
  virtual void StartGateTimer(uint32_t ms) = 0;  // fires OnGateTimer()
  virtual void StopGateTimer() = 0;
};

// What the scheduler needs of the program around it: messages, the controls
// that follow a run, the system proxy, the row to show and the caption.
class VerifyHost {
 public:
  virtual ~VerifyHost() = default;
  virtual void ShowMessage(std::string_view text, std::string_view caption) = 0;
  // Applies RunControlStates(running) to the dialog's controls.
  virtual void SetRunControls(bool running) = 0;
  // Empties the floating window's current proxy and clears the system proxy.
  virtual void ClearSystemProxy() = 0;
  // Makes row `row` the proxy in use (the best row after a run).
  virtual void UseProxy(RowId row) = 0;
  // Whether a proxy is in use now (false after "不使用ip").
  virtual bool ProxyInUse() const = 0;
  virtual void ShowRow(size_t row) = 0;  // scrolls the row into view
  // The run found row `row` unusable (its result is written).
  virtual void RowFailed(size_t /*row*/) {}
  virtual void RefreshCaption() = 0;     // VerifyScheduler::Caption() changed
};

// The main dialog's controls that a run switches.
enum class RunControl {
  kProxyList,
  kVerifyAll,
  kVerifySelected,
  kVerifySettings,
  kDownloadList,
  kAddProxy,
  kImportList,
  kDeleteSelected,
  kStopVerify,
};

struct ControlState {
  RunControl control;
  bool enabled;
};
// A run disables the list view and the buttons that start runs or change the
// list, and enables "停止验证"; its end does the reverse.
std::vector<ControlState> RunControlStates(bool running);

class VerifyScheduler final : public WorkerReportTarget,
                              public ProbeReportTarget,
                              private ConnectGateListener {
 public:
  // `watchdog_per_site_ms` is how long a worker may take per favorite site
  // before it is given up. With a `prober` (it must outlive the scheduler) every
  // row's proxy must accept a TCP connection within `connect_timeout_ms` before a
  // worker gets it; its outcomes come back through OnProbeConnected and
  // OnProbeRefused. Without one, rows go straight to the workers. The scheduler
  // is the report target of the pool and the prober while it exists.
  VerifyScheduler(ProxyList& list, const VerifySettings& settings, WorkerPool& pool,
                  VerifyTimers& timers, VerifyHost& host, Clock& clock,
                  uint32_t watchdog_per_site_ms = kWatchdogPerSiteMs,
                  ConnectProber* prober = nullptr,
                  uint32_t connect_timeout_ms = kDefaultConnectTimeoutMs);
  ~VerifyScheduler() override;
  VerifyScheduler(const VerifyScheduler&) = delete;
  VerifyScheduler& operator=(const VerifyScheduler&) = delete;

  // Buttons "<< 验证全部IP数据" and "<< 验证选中IP数据": explain with a message
  // why nothing can start; the first clears the system proxy before it starts.
  void VerifyAllCommand();
  void VerifySelectedCommand();
  // Silent starts by the user (the proxy menu's "验证全部ip"). Nothing happens
  // while a run is in progress, without rows to verify or without a favorite
  // site. The timers' own starts (re-verification, new rows) go through
  // ReverifyTick and OnVerifyNewTimer.
  void StartVerifyAll();
  void StartVerifySelected();
  // The ports the program's own relay listens on. A row naming one of them on
  // this machine is finished as unusable ("[0]" and kRelayLoopText) when its
  // turn comes, without a probe or a worker: through the relay it would reach
  // the proxy in use and pass for a working proxy.
  void SetRelayPorts(std::vector<uint16_t> ports) { relay_ports_ = std::move(ports); }

  // "停止验证": abandons every worker; rows being tested show "未验证" again; no
  // end-of-run rule runs and the counters keep their values.
  void StopVerify();

  // A worker's report. Ignored unless `slot` holds the hand-out `generation`.
  void OnWorkerDone(int slot, uint64_t generation,
                    const std::vector<SiteOutcome>& outcomes) override;
  // The detected protocol becomes the row's type when its result is written. When
  // another row holds the address in that protocol already, the row keeps no type
  // and its result text says what it was verified as.
  void OnWorkerTypeDetected(int slot, uint64_t generation, ProxyProtocol protocol) override;
  void OnWatchdog(int slot);
  void OnReapTimer();
  // The prober's outcomes for probe `id` (stale ids are ignored) and the gate's
  // deadline timer. Nothing happens without a prober.
  void OnProbeConnected(uint64_t id) override;
  void OnProbeRefused(uint64_t id) override;
  void OnGateTimer();
  // Rows at these indices (numbered as before the removal) left the list during
  // a run: their probes are cancelled, a worker testing one of them finishes
  // without writing anything, and the rows after them keep their turn.
  void OnRowsRemoved(std::vector<size_t> removed);
  // A row was added to the list: with "Verify new proxy" on, the selected rows
  // are verified kVerifyNewDelayMs after the last addition.
  // A run started by this timer or by re-verification may replace the proxy in
  // use with the best one at its end, but never turns the proxy on when none is
  // in use: the user's "不使用ip" holds until the user switches again.
  void OnProxyAdded();
  void OnVerifyNewTimer();
  // Once a minute: the re-verification schedule.
  void ReverifyTick();

  // Ends a run's use of the workers and probes: stops every watchdog and probe,
  // abandons every worker without waiting (safe inside a worker's report), gives
  // the controls back.
  void EndRunCleanup();

  // Rows handed out and not finished: those with a worker and, with the gate,
  // those still being probed or waiting for a worker. Above 0 while a run is on.
  int activeWorkers() const;
  int doneCount() const { return counters_.done; }
  int usableCount() const { return counters_.usable; }
  int remainingCount() const { return counters_.remaining; }
  bool running() const { return run_on_; }
  bool gated() const { return gate_ != nullptr; }
  // The counters for the list caption while a run is in progress, else null.
  const RunCounters* running_counters() const { return run_on_ ? &counters_ : nullptr; }
  std::string Caption() const { return list_.CaptionText(running_counters()); }

 private:
  struct Slot {
    bool busy = false;  // a row is handed out and not finished
    bool row_gone = false;  // the row left the list while the worker tested it
    uint64_t generation = 0;
    size_t row = 0;
    uint32_t started_ms = 0;
    uint32_t period_ms = 0;
    std::optional<ProxyProtocol> detected;  // the protocol its run found for the row
  };
  enum class Arm { kArmed, kNoRow, kNoWorker };

  void Start(bool all, bool by_timer);
  bool Qualifies(size_t row) const;
  VerifyRun RunFor(size_t row) const;
  Arm ArmSlot(int slot, bool scroll);
  Arm HandTo(int slot, size_t row, bool scroll);
  void FinishRow(int slot, const std::vector<SiteOutcome>& outcomes);
  void FinishRowAt(size_t row, const std::vector<SiteOutcome>& outcomes);
  void ContinueAfterRow(int slot);
  void HandOutReady();
  void FeedNewRows();
  void MaybeEndRun();
  void ArmGateTimer();
  void WorkerCreationFailed();
  // Finishes `row` as unusable when it names the program's own relay.
  bool PassOverOwnRelay(size_t row);

  // ConnectGateListener
  void OnRowUnreachable(const GateRow& row, ConnectFailure failure) override;
  void OnRowsReady() override;

  ProxyList& list_;
  const VerifySettings& settings_;
  WorkerPool& pool_;
  VerifyTimers& timers_;
  VerifyHost& host_;
  Clock& clock_;
  uint32_t watchdog_per_site_ms_;
  uint32_t connect_timeout_ms_;
  ConnectProber* prober_;              // null: no gate
  std::unique_ptr<ConnectGate> gate_;  // null: rows go straight to the workers

  std::array<Slot, kWorkerSlots> slots_{};
  bool run_on_ = false;
  int run_slots_ = 0;   // slots 0..run_slots_-1 take rows in this run
  int run_sites_ = 0;   // sites a worker accepts in this run
  size_t fed_rows_ = 0;  // rows of the list the gate has been given
  bool gate_timer_on_ = false;
  uint32_t gate_timer_due_ = 0;
  uint64_t next_generation_ = 0;
  int active_ = 0;
  size_t next_row_ = 0;
  bool verify_all_ = false;
  bool run_by_timer_ = false;  // started by re-verification or the new-rows timer
  RunCounters counters_;
  int last_run_sites_ = 0;
  int minutes_ = 0;
  std::vector<uint16_t> relay_ports_;
};

}  // namespace core
