// VerifyController: the verification of the main dialog. It owns the verify
// settings dialog (137, which holds the active settings), the worker pool, the
// dialog's verify timers and the VerifyScheduler that drives them; the dialog is
// the scheduler's VerifyHost. Created with the dialog window and destroyed before
// it; UI thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "core/proxylist/profile_store.h"
#include "core/proxylist/proxy_list.h"
#include "core/verify/verify_scheduler.h"
#include "win/app/verify_settings_dialog.h"
#include "win/platform/verify_worker_timers.h"

namespace win {

// How the main dialog verifies. The defaults are the program's; tests hand in a
// pool of their own, a manual clock and a short watchdog.
struct VerifyEnv {
  // Makes the worker pool; empty: the worker threads on WinInet (VerifyWorkerPool).
  std::function<std::unique_ptr<core::WorkerPool>()> make_pool;
  // Empty: the system tick count.
  std::shared_ptr<core::Clock> clock;
  // How long a worker may take per favourite site before it is given up.
  uint32_t watchdog_per_site_ms = core::kWatchdogPerSiteMs;
};

class VerifyController {
 public:
  // `dialog` receives the timers (and owns the settings dialog); `list`,
  // `profile` and `host` must outlive the controller. The settings are loaded
  // from `profile` at once.
  VerifyController(HWND dialog, core::ProxyList& list, core::ProfileStore& profile,
                   core::VerifyHost& host, VerifyEnv env);
  ~VerifyController();
  VerifyController(const VerifyController&) = delete;
  VerifyController& operator=(const VerifyController&) = delete;

  core::VerifyScheduler& scheduler() { return *scheduler_; }
  const core::VerifyScheduler& scheduler() const { return *scheduler_; }
  const core::VerifySettings& settings() const { return settings_dialog_.settings(); }
  VerifySettingsDialog& settings_dialog() { return settings_dialog_; }
  core::WorkerPool& pool() { return *pool_; }

  // Button "验证参数...": the settings dialog, centred on the main dialog.
  void ShowSettings();
  // A WM_TIMER of the dialog: true when the identifier was the verification's.
  bool OnTimer(UINT_PTR id);
  // A worker's report (the real pool's report window calls this).
  void OnWorkerDone(int slot, uint64_t generation, const std::vector<core::SiteOutcome>& outcomes);
  // Exit: every worker is let go without waiting for it, the watchdogs stop and
  // no report is taken from now on; no end-of-run rule runs.
  void ReleaseWorkers();
  // False when no worker could ever be made (the pool's report window could not
  // be created); the scheduler then reports every start as failed.
  bool pool_ready() const { return pool_ready_; }

 private:
  VerifySettingsDialog settings_dialog_;
  std::shared_ptr<core::Clock> clock_;
  std::unique_ptr<core::WorkerPool> pool_;
  bool pool_ready_ = true;
  VerifyWindowTimers timers_;
  std::unique_ptr<core::VerifyScheduler> scheduler_;
};

}  // namespace win
