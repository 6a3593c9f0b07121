// The verify scheduler: runs a verification over all rows or the selected rows
// of the proxy list with a pool of up to 200 workers, hands out rows in list
// order, writes each finished row's result, and at the end of a complete run
// applies the end-of-run rules. A state machine driven by events (commands,
// worker reports, timers); workers, timers and the main dialog are reached
// through the seams below. UI thread only, like every seam call it makes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/proxylist/proxy_list.h"
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

// The pool of worker threads, one per slot 0..199.
class WorkerPool {
 public:
  virtual ~WorkerPool() = default;
  // Hands `run` to the worker of `slot` (creating one when the slot is empty) and
  // starts it. The worker runs VerifyRun::RunTests and then reports once, through
  // VerifyScheduler::OnWorkerDone(slot, generation, outcomes) on the UI thread.
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

// One-shot timers of the main dialog; starting a running timer restarts it.
class VerifyTimers {
 public:
  virtual ~VerifyTimers() = default;
  virtual void StartWatchdog(int slot, uint32_t ms) = 0;  // fires OnWatchdog(slot)
  virtual void StopWatchdog(int slot) = 0;
  virtual void StartVerifyNew(uint32_t ms) = 0;  // fires OnVerifyNewTimer()
  virtual void StopVerifyNew() = 0;
};

// What the scheduler needs of the main dialog and the floating window.
class VerifyHost {
 public:
  virtual ~VerifyHost() = default;
  virtual void ShowMessage(std::string_view text, std::string_view caption) = 0;
  // Applies RunControlStates(running) to the dialog's controls.
  virtual void SetRunControls(bool running) = 0;
  // Empties the floating window's current proxy and clears the system proxy.
  virtual void ClearSystemProxy() = 0;
  // Makes `host_port` the system proxy (the best proxy after a run).
  virtual void UseProxy(const std::string& host_port) = 0;
  virtual void ShowRow(size_t row) = 0;  // scrolls the row into view
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

class VerifyScheduler {
 public:
  // `watchdog_per_site_ms` is how long a worker may take per favorite site
  // before it is given up.
  VerifyScheduler(ProxyList& list, const VerifySettings& settings, WorkerPool& pool,
                  VerifyTimers& timers, VerifyHost& host, Clock& clock,
                  uint32_t watchdog_per_site_ms = kWatchdogPerSiteMs);
  VerifyScheduler(const VerifyScheduler&) = delete;
  VerifyScheduler& operator=(const VerifyScheduler&) = delete;

  // Buttons "<< 验证全部IP数据" and "<< 验证选中IP数据": explain with a message
  // why nothing can start; the first clears the system proxy before it starts.
  void VerifyAllCommand();
  void VerifySelectedCommand();
  // Silent starts (menu, timers, re-verification). Nothing happens while a run
  // is in progress, without rows to verify or without a favorite site.
  void StartVerifyAll();
  void StartVerifySelected();
  // "停止验证": abandons every worker; rows being tested show "未验证" again; no
  // end-of-run rule runs and the counters keep their values.
  void StopVerify();

  // A worker's report. Ignored unless `slot` holds the hand-out `generation`.
  void OnWorkerDone(int slot, uint64_t generation, const std::vector<SiteOutcome>& outcomes);
  void OnWatchdog(int slot);
  void OnReapTimer();
  // A row was added to the list: with "Verify new proxy" on, the selected rows
  // are verified kVerifyNewDelayMs after the last addition.
  void OnProxyAdded();
  void OnVerifyNewTimer();
  // Once a minute: the re-verification schedule.
  void ReverifyTick();

  // Ends a run's use of the workers: stops every watchdog, abandons every worker
  // without waiting (safe inside a worker's report), gives the controls back.
  void EndRunCleanup();

  int activeWorkers() const { return active_; }
  int doneCount() const { return counters_.done; }
  int usableCount() const { return counters_.usable; }
  int remainingCount() const { return counters_.remaining; }
  bool running() const { return active_ > 0; }
  // The counters for the list caption while a run is in progress, else null.
  const RunCounters* running_counters() const { return active_ > 0 ? &counters_ : nullptr; }
  std::string Caption() const { return list_.CaptionText(running_counters()); }

 private:
  struct Slot {
    bool busy = false;  // a row is handed out and not finished
    uint64_t generation = 0;
    size_t row = 0;
    uint32_t started_ms = 0;
    uint32_t period_ms = 0;
  };
  enum class Arm { kArmed, kNoRow, kNoWorker };

  void Start(bool all);
  Arm ArmSlot(int slot, bool scroll);
  void FinishRow(int slot, const std::vector<SiteOutcome>& outcomes);
  void ContinueAfterRow(int slot);
  void WorkerCreationFailed();

  ProxyList& list_;
  const VerifySettings& settings_;
  WorkerPool& pool_;
  VerifyTimers& timers_;
  VerifyHost& host_;
  Clock& clock_;
  uint32_t watchdog_per_site_ms_;

  std::array<Slot, kWorkerSlots> slots_{};
  uint64_t next_generation_ = 0;
  int active_ = 0;
  size_t next_row_ = 0;
  bool verify_all_ = false;
  RunCounters counters_;
  int last_run_sites_ = 0;
  int minutes_ = 0;
};

}  // namespace core
