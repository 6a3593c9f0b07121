#include "win/app/auto_switch_service.h"

#include <utility>

namespace win {

AutoSwitchService::AutoSwitchService(Switcher& switcher, const SwitchChecks& checks,
                                     CleanupRunner::Cleanup cleanup)
    : switcher_(switcher),
      checks_(checks),
      window_([this](UINT msg, WPARAM wparam, LPARAM lparam) {
        return OnMessage(msg, wparam, lparam);
      }),
      cleanup_(CreateMessageWindow(window_, L"RelaymothAutoSwitch"), std::move(cleanup)),
      auto_switch_(switcher.list(), cleanup_) {}

AutoSwitchService::~AutoSwitchService() { KillTimer(window_.hwnd(), kTimerSwitch); }

bool AutoSwitchService::OnMessage(UINT msg, WPARAM wparam, LPARAM) {
  if (msg == WM_TIMER && wparam == kTimerSwitch) {
    OnTick();
    return true;
  }
  if (msg == WM_CLEANUP_DONE) {
    OnCleanupDone(wparam);
    return true;
  }
  return false;
}

core::AutoSwitchToggle AutoSwitchService::Toggle(std::string_view interval_text) {
  core::AutoSwitchToggle toggle = auto_switch_.Toggle(interval_text);
  if (!toggle.error.empty()) switcher_.Ask(toggle.error, "", MB_OK | MB_ICONWARNING);
  if (toggle.on) {
    SetTimer(window_.hwnd(), kTimerSwitch, toggle.period_ms, nullptr);
  } else {
    KillTimer(window_.hwnd(), kTimerSwitch);
  }
  return toggle;
}

void AutoSwitchService::OnTick() {
  if (auto_switch_.Tick() == core::AutoSwitchTick::kSwitched) {
    tried_this_tick_ = {auto_switch_.switched_row()};
  }
}

void AutoSwitchService::OnCleanupDone(WPARAM run) {
  std::string text;
  if (!cleanup_.TakeFinished(run, &text)) return;
  // Stopped while the cache was being cleaned: the proxy stays as it is.
  if (auto_switch_.on() && switcher_.SetSystemProxy(text)) switch_check_ = checks_.LastCheck();
  auto_switch_.SwitchFinished();
}

void AutoSwitchService::OnSwitchCheckFailed(uint64_t check, const std::string& proxy) {
  if (!auto_switch_.on() || switch_check_ == 0 || check != switch_check_) return;
  switch_check_ = 0;
  MoveOnFrom(proxy);
}

void AutoSwitchService::OnProxyInUseFailed(const std::string& proxy) {
  if (!auto_switch_.on()) return;
  MoveOnFrom(proxy);
}

void AutoSwitchService::MoveOnFrom(const std::string& proxy) {
  if (tried_this_tick_.empty()) return;
  const core::ProxyList& list = switcher_.list();
  int32_t failed = tried_this_tick_.back();
  // The rows may have been sorted or deleted since: only a row that still is
  // the proxy that failed counts.
  if (list.RowProxyText(failed) != proxy) return;
  int32_t next = core::NextFailoverRow(list, failed, tried_this_tick_, auto_switch_.relay_ports());
  if (next < 0) return;
  tried_this_tick_.push_back(next);
  auto_switch_.ContinueAfter(next);
  // The cache was emptied for this tick already.
  if (switcher_.SetSystemProxy(list.RowProxyText(next))) switch_check_ = checks_.LastCheck();
}

}  // namespace win
