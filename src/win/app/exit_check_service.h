// ExitCheckService: after every switch of the system proxy, the check of what
// address the world sees through it ("1.2.3.4:8080 → 出口 5.6.7.8 美国"), on a
// message-only window of its own (the fetcher's reports and the deadline
// timer). It follows the proxy in use through the switcher's events, tells the
// views when the check changes, and reports a failed check to the switcher's
// failover. Built by the composition root; UI thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/base/clock.h"
#include "core/proxylist/proxy_list.h"
#include "core/sysproxy/exit_check.h"
#include "win/app/app_events.h"
#include "win/app/app_platform.h"
#include "win/app/switcher.h"
#include "win/platform/exit_fetcher.h"
#include "win/platform/message_window.h"

namespace win {

class ExitCheckService final : private AppObserver {
 public:
  // Makes the fetcher for the service's window (which receives its results),
  // with the deadline in milliseconds.
  using FetcherFactory =
      std::function<std::unique_ptr<PostingExitFetcher>(HWND report_window, uint32_t deadline_ms)>;

  // Loads the settings ("Exit Check") and registers with the switcher's events.
  ExitCheckService(Switcher& switcher, const AppPlatform& platform, core::Clock& clock,
                   const FetcherFactory& make_fetcher, core::ProxyList::Locator locator);
  ~ExitCheckService() override;
  ExitCheckService(const ExitCheckService&) = delete;
  ExitCheckService& operator=(const ExitCheckService&) = delete;

  // The run settings dialog applies what it saved; the switcher's failover
  // follows its box.
  void ApplySettings(const core::ExitCheckSettings& settings);

  const core::ExitCheck& check() const { return *check_; }
  const core::ExitCheckSettings& settings() const { return settings_; }

  // The deadline's tick while a fetch is outstanding.
  static constexpr UINT_PTR kTimerDeadline = 1;
  static constexpr UINT kDeadlineTickMs = 250;
  // For tests: the window that receives the fetcher's reports and the timer.
  HWND window() const { return window_.hwnd(); }

 private:
  bool OnMessage(UINT msg, WPARAM wparam, LPARAM lparam);
  void OnFetchDone();
  // Keeps the deadline timer running while the check waits; tells the views
  // and, once per check that failed, the switcher.
  void CheckMoved(bool changed);

  // AppObserver: a new check after every change of the proxy in use.
  void OnProxyChanged() override;

  Switcher& switcher_;
  core::ExitCheckSettings settings_;
  MessageWindow window_;
  std::unique_ptr<PostingExitFetcher> fetcher_;
  std::unique_ptr<core::ExitCheck> check_;
  core::RowId checked_row_ = core::kNoRow;  // the row the check is for
  uint64_t recorded_ = 0;                   // the last check counted in the use strip
  uint64_t reported_ = 0;                   // the last check whose failure was reported
};

}  // namespace win
