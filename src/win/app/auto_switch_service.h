// AutoSwitchService: automatic switching ("开启自动换IP"): every N seconds the
// next usable row becomes the system proxy, after the browser's cache and
// cookies were emptied off the user-interface thread; when the switcher's
// failover says the row this tick switched to failed (its exit check, the
// relay), the next row is applied at once. Both keep to the switcher's place
// filter, and say so (place_note) when no usable row passes it. Built by the
// composition root; UI thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/sysproxy/auto_switch.h"
#include "win/app/app_events.h"
#include "win/app/switcher.h"
#include "win/platform/cleanup_runner.h"
#include "win/platform/dispatcher.h"

namespace win {

// Said when automatic switching is asked for while the rotation is in use,
// and the other way round.
inline constexpr std::string_view kAutoSwitchWhileRotation =
    "正在每个连接换一个IP，不能同时自动换IP。请先在菜单中选择一个IP或“不使用ip”。";
inline constexpr std::string_view kRotationWhileAutoSwitch =
    "自动换IP正在运行，不能同时每个连接换一个IP。请先停止自动换IP。";

class AutoSwitchService final : private AppObserver {
 public:
  // `cleanup` runs off the UI thread before each switch (the program's is
  // CleanupRunner::BrowserCleanup()). Registers with the switcher's events.
  AutoSwitchService(Switcher& switcher, CleanupRunner::Cleanup cleanup);
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

  // "没有符合地区条件的可用IP（…）" while no usable row passes the place filter
  // (as the last tick found, or as the filter found when it was put in force);
  // empty otherwise. Observers hear OnPlaceNoteChanged when it changes.
  const std::string& place_note() const { return place_note_; }

  // For tests: the switching period's timer (running while switching is on)
  // and the cleanup's thread (null when it ran on the UI thread or none ran).
  const Timer& switch_timer() const { return timer_; }
  HANDLE cleanup_thread() const { return cleanup_.thread(); }

 private:
  void OnTick();
  void OnCleanupDone(core::RowId row);
  // AppObserver: the row in use failed. When it is the row this tick applied
  // last, the next usable row after it is applied at once (once around the
  // list per tick).
  void OnProxyInUseFailed(core::RowId row) override;
  // AppObserver: the filter is looked at against the whole list; while the
  // note is up, a row that comes in or changes is looked at alone.
  void OnPlaceFilterChanged() override;
  void OnRowsAppended(size_t first, size_t count) override;
  void OnRowChanged(size_t row) override { OnRowsAppended(row, 1); }
  void OnRowsReset() override;
  // Puts the note up (`none_in_places`) or takes it down.
  void SetPlaceNote(bool none_in_places);

  Switcher& switcher_;
  Timer timer_;
  CleanupRunner cleanup_;
  core::AutoSwitch auto_switch_;
  // The rows applied during this tick, the tick's own row first.
  std::vector<core::RowId> tried_this_tick_;
  std::string place_note_;
};

}  // namespace win
