// VerifyService: the verification of the list as a feature of its own. It owns
// the verify settings in force, the scheduler, the scheduler's timers and the
// once-a-minute re-verification; the worker pool and the connect prober report straight to the
// scheduler. Views start and stop runs here and learn of them through AppObserver (controls, the
// row to show, the caption). Built by the composition root after the Switcher; UI thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/base/clock.h"
#include "core/verify/verify_scheduler.h"
#include "core/verify/verify_settings.h"
#include "win/app/app_events.h"
#include "win/app/app_platform.h"
#include "win/app/switcher.h"
#include "win/platform/dispatcher.h"
#include "win/platform/verify_worker_timers.h"

namespace win {

// What the verification runs on; the composition root builds the real ones.
struct VerifyParts {
  std::shared_ptr<core::Clock> clock;
  std::unique_ptr<core::WorkerPool> pool;
  // The connect probes ahead of the workers; null: no gate, every row goes to
  // a worker.
  std::unique_ptr<core::ConnectProber> prober;
  // How long a worker may take per favorite site before it is given up.
  uint32_t watchdog_per_site_ms = core::kWatchdogPerSiteMs;
};

class VerifyService final : private AppObserver, private core::VerifyHost {
 public:
  // The re-verification schedule's tick, once a minute.
  static constexpr UINT kReverifyTickMs = 60000;

  // Loads the verify settings, registers with the switcher's events and starts
  // the reaping and re-verification timers.
  VerifyService(Switcher& switcher, const AppPlatform& platform, VerifyParts parts);
  // Lets every worker go without waiting.
  ~VerifyService() override;
  VerifyService(const VerifyService&) = delete;
  VerifyService& operator=(const VerifyService&) = delete;

  // The buttons "<< 验证全部IP数据" and "<< 验证选中IP数据": a message says why
  // nothing starts; the first clears the system proxy before it starts.
  void VerifyAll() { scheduler_->VerifyAllCommand(); }
  void VerifySelected() { scheduler_->VerifySelectedCommand(); }
  // The menu's "验证全部ip": silent, and the system proxy stays.
  void VerifyAllQuietly() { scheduler_->StartVerifyAll(); }
  // "停止验证".
  void Stop() { scheduler_->StopVerify(); }
  // Lets every worker go without waiting; nothing is reported afterwards and
  // no end-of-run rule runs (quitting, the end of the program).
  void ReleaseWorkers() { scheduler_->EndRunCleanup(); }

  bool running() const { return scheduler_->running(); }
  int active_workers() const { return scheduler_->activeWorkers(); }
  // The caption of the list: totals, or the counters while a run is on.
  std::string Caption() const { return scheduler_->Caption(); }
  // The settings in force; the verify settings dialog changes them.
  core::VerifySettings& settings() { return settings_; }
  // What the load of the sites could not bring back (sealed passwords that did
  // not open); its message is for the user, empty when nothing was lost.
  const core::LoadedSitesNote& sites_note() const { return sites_note_; }

  // For tests and benchmarks: the scheduler and the timers.
  core::VerifyScheduler& scheduler() { return *scheduler_; }
  const VerifySchedulerTimers& timers() const { return timers_; }
  const Timer& reverify_timer() const { return reverify_timer_; }

 private:
  // AppObserver: every row the list takes (typed, imported, dropped, loaded)
  // is an addition for "自动验证新加入和下载的ip服务器"; the caption follows
  // the list.
  void OnRowsAppended(size_t first, size_t count) override;
  void OnRowsReset() override;
  void OnFavoritesChanged() override;

  // core::VerifyHost
  void ShowMessage(std::string_view text, std::string_view caption) override;
  void SetRunControls(bool running) override;
  void ClearSystemProxy() override;
  void UseProxy(core::RowId row) override;
  void RowFailed(size_t row) override;
  bool ProxyInUse() const override;
  void ShowRow(size_t row) override;
  void RefreshCaption() override;

  Switcher& switcher_;
  VerifyParts parts_;
  core::LoadedSitesNote sites_note_;  // filled by the load of settings_, declared before it
  core::VerifySettings settings_;
  VerifySchedulerTimers timers_;
  Timer reverify_timer_;
  // Declared last: it refers to the settings, the pool and the timers.
  std::unique_ptr<core::VerifyScheduler> scheduler_;
};

}  // namespace win
