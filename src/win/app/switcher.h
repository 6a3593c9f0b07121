// Switcher: the program's state and the one owner of it. It holds the proxy
// list, the verify settings in force, the system proxy in use and the
// verification (scheduler, worker pool, timers), and it applies and clears the
// system proxy itself. Windows are views: they take a reference, send it the
// user's commands and learn what to show through SwitcherObserver. Created by
// ProxySwitcherApp before any window and destroyed after the last. UI thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/app/run_settings.h"
#include "core/base/clock.h"
#include "core/base/codepage.h"
#include "core/base/profile_store.h"
#include "core/download/download_schedule.h"
#include "core/download/download_settings.h"
#include "core/proxylist/proxy_list.h"
#include "core/sysproxy/auto_switch.h"
#include "core/sysproxy/exit_check.h"
#include "core/verify/verify_scheduler.h"
#include "core/verify/verify_settings.h"
#include "win/app/download_job.h"
#include "win/app/prompt.h"
#include "win/platform/cleanup_runner.h"
#include "win/platform/exit_fetcher.h"
#include "win/platform/system_proxy.h"
#include "win/platform/verify_worker_timers.h"
#include "win/ui/window_base.h"

namespace win {

// The minute timer of the re-verification schedule, on the switcher's window.
inline constexpr UINT_PTR kTimerMinute = 3;
inline constexpr UINT kMinuteMs = 60000;
// The automatic switching timer (every N seconds while switching is on).
inline constexpr UINT_PTR kTimerAutoSwitch = 200;
// The hourly download schedule and the start-up download's one-shot arming.
inline constexpr UINT_PTR kTimerDownloadHour = 7;
inline constexpr UINT_PTR kTimerDownloadArm = 8;
// The exit check's deadline, while a fetch is outstanding.
inline constexpr UINT_PTR kTimerExitCheck = 9;
inline constexpr UINT kExitCheckTickMs = 250;

// What a view learns from the switcher. Every method has an empty default, so a
// view overrides only what it shows.
class SwitcherObserver {
 public:
  virtual ~SwitcherObserver() = default;
  // The list changed (see core::ProxyListObserver).
  virtual void OnRowsAppended(size_t /*first*/, size_t /*count*/) {}
  virtual void OnRowChanged(size_t /*row*/) {}
  virtual void OnRowsReset() {}
  virtual void OnFavoritesChanged() {}
  // A verification started (true) or ended (false): the controls that start
  // runs or change the list follow.
  virtual void OnRunControls(bool /*running*/) {}
  // The row a worker was just handed; a list shows it.
  virtual void OnShowRow(size_t /*row*/) {}
  // The list caption (Switcher::Caption) changed.
  virtual void OnCaptionChanged() {}
  // The proxy in use (Switcher::current_proxy) changed.
  virtual void OnProxyChanged() {}
  // The run settings (Switcher::run_settings) changed.
  virtual void OnRunSettingsChanged() {}
  // The exit check (Switcher::exit_check) changed: its tip text, the red state.
  virtual void OnExitCheckChanged() {}
  // The window the program's message boxes belong to; null: none. The first
  // observer that names one owns them.
  virtual HWND MessageOwner() const { return nullptr; }
};

// The real or test parts the switcher works with. Every one is required; the
// composition root builds them.
struct SwitcherParts {
  HINSTANCE instance = nullptr;
  core::ProfileStore* profile = nullptr;
  Prompt* prompt = nullptr;
  const core::AnsiCodec* codec = nullptr;
  std::shared_ptr<core::Clock> clock;
  std::unique_ptr<core::WorkerPool> pool;
  // The connect gate's TCP probes ahead of the workers; null: no gate, every
  // row goes to a worker. Its outcomes are handed to OnProbeOutcome by whoever
  // made it.
  std::unique_ptr<core::ConnectProber> prober;
  // Where the system proxy lives (tests use a key of their own).
  SystemProxyPlace proxy_place;
  // Fills the location of new rows; may be empty (no database).
  core::ProxyList::Locator locator;
  // How long a worker may take per favorite site before it is given up.
  uint32_t watchdog_per_site_ms = core::kWatchdogPerSiteMs;
  // The browser cleanup before each automatic switch (runs off the UI thread;
  // the program's is CleanupRunner::BrowserCleanup()).
  CleanupRunner::Cleanup cleanup;
  // Where the run settings act: the Run value, the desktop shortcut, and the
  // program file they start.
  core::RunKeyStore* run_key = nullptr;
  core::DesktopShortcuts* shortcuts = nullptr;
  std::string program_path;
  // The exit check's fetcher, made for the switcher's timer window (which
  // receives its results) and the deadline in milliseconds.
  std::function<std::unique_ptr<PostingExitFetcher>(HWND report_window, uint32_t deadline_ms)>
      make_exit_fetcher;
  // The list download (a thread of its own) and where it writes "Download.txt".
  std::unique_ptr<DownloadJob> download_job;
  std::string download_path;
};

class Switcher final : private core::ProxyListObserver, private core::VerifyHost {
 public:
  // Loads the verify settings at once and creates the timer window. The
  // worker pool's reports are handed to OnWorkerDone by whoever made the pool.
  explicit Switcher(SwitcherParts parts);
  ~Switcher() override;
  Switcher(const Switcher&) = delete;
  Switcher& operator=(const Switcher&) = delete;

  // The start: reads the system proxy back into the list (ticked), then the
  // saved list and the run settings, starts the re-verification and download
  // schedules, and arms the start-up download when it is set.
  void Start();
  // Saves the list section of the profile.
  void SaveList();

  void AddObserver(SwitcherObserver* observer);
  void RemoveObserver(SwitcherObserver* observer);

  core::ProxyList& list() { return list_; }
  const core::ProxyList& list() const { return list_; }
  core::VerifySettings& verify_settings() { return verify_settings_; }
  const core::VerifySettings& verify_settings() const { return verify_settings_; }
  core::ProfileStore& profile() { return *parts_.profile; }
  Prompt& prompt() { return *parts_.prompt; }
  const core::AnsiCodec& codec() const { return *parts_.codec; }
  HINSTANCE instance() const { return parts_.instance; }

  // The system proxy. SetSystemProxy applies a proxy text (empty clears it);
  // a refused text shows "发现错误" and changes nothing. ClearSystemProxy
  // empties the proxy in use and goes direct ("不使用ip").
  bool SetSystemProxy(std::string_view text);
  void ClearSystemProxy() override;
  // The proxy in use as the menu compares it: host:port (or the read-back
  // form), empty when none.
  const std::string& current_proxy() const { return current_proxy_; }

  // The verification.
  core::VerifyScheduler& scheduler() { return *scheduler_; }
  const core::VerifyScheduler& scheduler() const { return *scheduler_; }
  int active_workers() const { return scheduler_->activeWorkers(); }
  // A worker's report (the real pool's report window hands it here).
  void OnWorkerDone(int slot, uint64_t generation, const std::vector<core::SiteOutcome>& outcomes);
  // A connect probe's outcome (the real prober's window hands it here).
  void OnProbeOutcome(uint64_t id, bool connected);
  // Lets every worker go without waiting; nothing is reported afterwards and
  // no end-of-run rule runs (the exit and the end of the program).
  void ReleaseWorkers();
  // The caption of the list: totals, or the counters while a run is on.
  std::string Caption() const { return scheduler_->Caption(); }

  // Automatic switching: the toggle button with the interval edit's text; the
  // timer follows. A refused interval shows "请键入一个整数。" (the caller puts
  // the kept interval back into the edit).
  core::AutoSwitchToggle ToggleAutoSwitch(std::string_view interval_text);
  const core::AutoSwitch& auto_switch() const { return auto_switch_; }

  // The run settings in force ("Advanced Settings", the Run value, the
  // shortcut); the run settings dialog applies what it saved.
  const core::RunSettings& run_settings() const { return run_settings_; }
  void ApplyRunSettings(const core::RunSettings& settings,
                        const core::ExitCheckSettings& exit_check);
  core::RunKeyStore& run_key() { return *parts_.run_key; }
  core::DesktopShortcuts& shortcuts() { return *parts_.shortcuts; }
  const std::string& program_path() const { return parts_.program_path; }

  // The list download. The settings in force are the download settings
  // dialog's; the schedule runs on the switcher's timers. A download's end
  // (WM_DOWNLOAD_DONE, to timer_window()) imports the file as they say.
  core::DownloadSettings& download_settings() { return download_settings_; }
  DownloadJob& download_job() { return *parts_.download_job; }
  const std::string& download_path() const { return parts_.download_path; }
  // An automatic download of the configured list: silent; nothing happens
  // while a download runs.
  void StartAutomaticDownload();

  // The exit check after every switch: what the world sees through the proxy
  // in use ("1.2.3.4:8080 → 出口 5.6.7.8 美国"), red while the last check failed.
  const core::ExitCheck& exit_check() const { return *exit_check_; }
  const core::ExitCheckSettings& exit_check_settings() const { return exit_settings_; }

  // Shows a message box over the first observer's window (or none).
  int Ask(std::string_view text, std::string_view caption, UINT type);

  // The hidden window whose timers the verification and the schedules use.
  HWND timer_window() const { return timer_window_.hwnd(); }

 private:
  class TimerWindow final : public WindowBase {
   public:
    explicit TimerWindow(Switcher& owner) : owner_(owner) {}
    bool Create(HINSTANCE instance);

   protected:
    LRESULT HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;

   private:
    Switcher& owner_;
  };

  void OnTimer(UINT_PTR id);
  void OnCleanupDone(WPARAM run);
  void OnDownloadDone(WPARAM result, LPARAM report);
  void OnExitFetchDone();
  // After a change of the proxy in use: a new exit check (when on).
  void StartExitCheck();
  // Keeps the deadline timer running while the check waits; tells the views.
  void ExitCheckMoved(bool changed);
  // An automatic switch whose exit check failed: the next row at once.
  void FailOver();
  HWND MessageOwner() const;

  // core::ProxyListObserver
  void OnRowsAppended(size_t first, size_t count) override;
  void OnRowChanged(size_t row) override;
  void OnRowsReset() override;
  void OnFavoritesChanged() override;

  // core::VerifyHost
  void ShowMessage(std::string_view text, std::string_view caption) override;
  void SetRunControls(bool running) override;
  void UseProxy(const std::string& host_port) override;
  void ShowRow(size_t row) override;
  void RefreshCaption() override;

  SwitcherParts parts_;
  core::ProxyList list_;
  core::VerifySettings verify_settings_;
  core::RunSettings run_settings_;
  core::DownloadSettings download_settings_;
  core::DownloadSchedule download_schedule_{download_settings_};
  std::string current_proxy_;
  std::vector<SwitcherObserver*> observers_;
  TimerWindow timer_window_;
  VerifyWindowTimers timers_;
  CleanupRunner cleanup_;
  core::AutoSwitch auto_switch_;
  core::ExitCheckSettings exit_settings_;
  std::unique_ptr<PostingExitFetcher> exit_fetcher_;
  std::unique_ptr<core::ExitCheck> exit_check_;
  // Failover: the exit check of the last automatic switch, and the rows
  // applied during its tick (first the tick's own row).
  uint64_t auto_switch_check_ = 0;
  std::vector<int32_t> tried_this_tick_;
  // Declared last: it refers to the list, the settings, the pool and the timers.
  std::unique_ptr<core::VerifyScheduler> scheduler_;
};

}  // namespace win
