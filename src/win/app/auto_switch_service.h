// AutoSwitchService: automatic switching ("开启自动换IP"): every N seconds the
// next usable row becomes the system proxy, after the browser's cache and
// cookies were emptied off the user-interface thread; with failover, a switch
// whose exit check failed moves on to the next row at once. Its timer and the
// cleanup's report live on a message-only window of its own. Built by the
// composition root; UI thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/sysproxy/auto_switch.h"
#include "win/app/exit_check_service.h"
#include "win/app/switcher.h"
#include "win/platform/cleanup_runner.h"
#include "win/platform/message_window.h"

namespace win {

class AutoSwitchService final : public FailoverTarget {
 public:
  // The switching period's timer, while switching is on.
  static constexpr UINT_PTR kTimerSwitch = 1;

  // `checks` tells which exit check a switch started; `cleanup` runs off the
  // UI thread before each switch (the program's is CleanupRunner::BrowserCleanup()).
  AutoSwitchService(Switcher& switcher, const SwitchChecks& checks, CleanupRunner::Cleanup cleanup);
  ~AutoSwitchService() override;
  AutoSwitchService(const AutoSwitchService&) = delete;
  AutoSwitchService& operator=(const AutoSwitchService&) = delete;

  // The toggle button with the interval edit's text; the timer follows. A
  // refused interval shows "请键入一个整数。" (the caller puts the kept interval
  // back into the edit).
  core::AutoSwitchToggle Toggle(std::string_view interval_text);
  const core::AutoSwitch& state() const { return auto_switch_; }
  // The ports the program's own relay listens on: rows naming them on this
  // machine are never switched to, nor failed over to.
  void SetRelayPorts(std::vector<uint16_t> ports) { auto_switch_.SetRelayPorts(std::move(ports)); }

  // FailoverTarget
  void OnSwitchCheckFailed(uint64_t check, const std::string& proxy) override;
  // The local relay could not carry a connection through `proxy`, the proxy
  // this tick switched to: with switching on, the next row is applied at once,
  // as after a failed exit check. The caller asks only while failover is on.
  void OnProxyInUseFailed(const std::string& proxy);

  // For tests: the timer window and the cleanup's thread (null when it ran
  // on the UI thread or none ran).
  HWND window() const { return window_.hwnd(); }
  HANDLE cleanup_thread() const { return cleanup_.thread(); }

 private:
  bool OnMessage(UINT msg, WPARAM wparam, LPARAM lparam);
  void OnTick();
  void OnCleanupDone(WPARAM run);
  // Applies the row after the tick's last one when that row still is `proxy`.
  void MoveOnFrom(const std::string& proxy);

  Switcher& switcher_;
  const SwitchChecks& checks_;
  MessageWindow window_;
  CleanupRunner cleanup_;
  core::AutoSwitch auto_switch_;
  // The exit check that the last switch started (0: none to fail over from),
  // and the rows applied during this tick, the tick's own row first.
  uint64_t switch_check_ = 0;
  std::vector<int32_t> tried_this_tick_;
};

}  // namespace win
