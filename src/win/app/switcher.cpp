#include "win/app/switcher.h"

#include <algorithm>
#include <utility>

#include "core/download/download_done.h"
#include "core/proxylist/list_profile.h"

namespace win {

bool Switcher::TimerWindow::Create(HINSTANCE instance) {
  return CreateMessageOnly(instance, L"RelaymothSwitcherTimers");
}

LRESULT Switcher::TimerWindow::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_TIMER) {
    owner_.OnTimer(wparam);
    return 0;
  }
  if (msg == WM_CLEANUP_DONE) {
    owner_.OnCleanupDone(wparam);
    return 0;
  }
  if (msg == WM_DOWNLOAD_DONE) {
    owner_.OnDownloadDone(wparam, lparam);
    return 0;
  }
  if (msg == WM_DOWNLOAD_PROGRESS) return 0;  // automatic downloads show nothing
  if (msg == WM_EXIT_FETCH_DONE) {
    owner_.OnExitFetchDone();
    return 0;
  }
  return DefaultHandle(msg, wparam, lparam);
}

Switcher::Switcher(SwitcherParts parts)
    : parts_(std::move(parts)),
      verify_settings_(core::LoadVerifySettings(*parts_.profile)),
      timer_window_(*this),
      timers_(timer_window_.Create(parts_.instance) ? timer_window_.hwnd() : nullptr),
      cleanup_(timer_window_.hwnd(), parts_.cleanup),
      auto_switch_(list_, cleanup_) {
  if (parts_.locator) list_.SetLocator(parts_.locator);
  core::LoadDownloadSettings(*parts_.profile, &download_settings_);
  exit_settings_ = core::LoadExitCheckSettings(*parts_.profile);
  exit_fetcher_ = parts_.make_exit_fetcher(timer_window_.hwnd(),
                                           uint32_t(exit_settings_.deadline_seconds) * 1000);
  exit_check_ = std::make_unique<core::ExitCheck>(*exit_fetcher_, *parts_.clock, parts_.locator);
  exit_check_->ApplySettings(exit_settings_);
  list_.SetObserver(this);
  scheduler_ = std::make_unique<core::VerifyScheduler>(
      list_, verify_settings_, *parts_.pool, timers_, static_cast<core::VerifyHost&>(*this),
      *parts_.clock, parts_.watchdog_per_site_ms, parts_.prober.get());
  timers_.StartReaping();
}

Switcher::~Switcher() {
  // Workers are let go before the list they were testing rows of; none
  // reports afterwards.
  if (scheduler_) scheduler_->EndRunCleanup();
  scheduler_.reset();
  KillTimer(timer_window_.hwnd(), kTimerMinute);
  KillTimer(timer_window_.hwnd(), kTimerAutoSwitch);
  KillTimer(timer_window_.hwnd(), kTimerDownloadHour);
  KillTimer(timer_window_.hwnd(), kTimerDownloadArm);
  KillTimer(timer_window_.hwnd(), kTimerExitCheck);
  list_.SetObserver(nullptr);
  observers_.clear();
}

void Switcher::Start() {
  core::SystemProxyReadBack back = ReadSystemProxy(parts_.proxy_place);
  current_proxy_ = back.current_proxy;
  list_.AddProxy(back.list_line, true);
  core::LoadSavedList(list_, *parts_.profile);
  core::RunSettingsPlaces places{*parts_.profile, *parts_.shortcuts, *parts_.run_key};
  core::LoadRunSettings(places, &run_settings_);
  SetTimer(timer_window_.hwnd(), kTimerMinute, kMinuteMs, nullptr);
  SetTimer(timer_window_.hwnd(), kTimerDownloadHour, core::kDownloadHourMs, nullptr);
  // The start-up download comes once the program is up and showing.
  if (download_schedule_.OnStartup()) {
    SetTimer(timer_window_.hwnd(), kTimerDownloadArm, core::kDownloadArmDelayMs, nullptr);
  }
  for (SwitcherObserver* o : observers_) o->OnProxyChanged();
  for (SwitcherObserver* o : observers_) o->OnRunSettingsChanged();
  StartExitCheck();  // the proxy read back is checked like any other
  RefreshCaption();
}

void Switcher::ApplyRunSettings(const core::RunSettings& settings,
                                const core::ExitCheckSettings& exit_check) {
  run_settings_ = settings;
  exit_settings_ = exit_check;
  exit_check_->ApplySettings(exit_check);
  exit_fetcher_->set_deadline_ms(uint32_t(exit_check.deadline_seconds) * 1000);
  for (SwitcherObserver* o : std::vector(observers_)) o->OnRunSettingsChanged();
}

void Switcher::SaveList() { core::SaveListSection(list_, *parts_.profile); }

void Switcher::AddObserver(SwitcherObserver* observer) {
  if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) {
    observers_.push_back(observer);
  }
}

void Switcher::RemoveObserver(SwitcherObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

bool Switcher::SetSystemProxy(std::string_view text) {
  core::SystemProxyChange change = win::SetSystemProxy(text, parts_.proxy_place);
  if (!change.accepted) {
    Ask(change.error_message, core::kSystemProxyErrorCaption, MB_OK);
    return false;
  }
  current_proxy_ = change.current_proxy;
  for (SwitcherObserver* o : observers_) o->OnProxyChanged();
  StartExitCheck();
  return true;
}

void Switcher::StartExitCheck() {
  if (!exit_settings_.enabled) return;
  exit_check_->OnSwitched(current_proxy_);
  ExitCheckMoved(true);
}

void Switcher::ExitCheckMoved(bool changed) {
  if (exit_check_->waiting()) {
    SetTimer(timer_window_.hwnd(), kTimerExitCheck, kExitCheckTickMs, nullptr);
  } else {
    KillTimer(timer_window_.hwnd(), kTimerExitCheck);
  }
  if (!changed) return;
  for (SwitcherObserver* o : std::vector(observers_)) o->OnExitCheckChanged();
  // Failover: the check of an automatic switch failed while switching is on.
  if (exit_settings_.failover && auto_switch_.on() && exit_check_->failed() &&
      auto_switch_check_ != 0 && exit_check_->generation() == auto_switch_check_) {
    FailOver();
  }
}

void Switcher::OnExitFetchDone() {
  bool changed = false;
  for (const ExitFetchResult& r : exit_fetcher_->TakeResults()) {
    changed = exit_check_->OnFetchDone(r.id, r.ok, r.body) || changed;
  }
  ExitCheckMoved(changed);
}

void Switcher::FailOver() {
  auto_switch_check_ = 0;
  if (tried_this_tick_.empty()) return;
  int32_t failed = tried_this_tick_.back();
  // The rows may have been sorted or deleted since: only a row that still is
  // the proxy that failed counts.
  if (list_.RowProxyText(failed) != exit_check_->proxy()) return;
  int32_t next = core::NextFailoverRow(list_, failed, tried_this_tick_);
  if (next < 0) return;
  tried_this_tick_.push_back(next);
  auto_switch_.ContinueAfter(next);
  // The cache was emptied for this tick already.
  if (SetSystemProxy(list_.RowProxyText(next))) auto_switch_check_ = exit_check_->generation();
}

void Switcher::ClearSystemProxy() {
  current_proxy_.clear();
  SetSystemProxy("");
}

void Switcher::OnWorkerDone(int slot, uint64_t generation,
                            const std::vector<core::SiteOutcome>& outcomes) {
  scheduler_->OnWorkerDone(slot, generation, outcomes);
}

void Switcher::OnProbeOutcome(uint64_t id, bool connected) {
  if (connected) {
    scheduler_->OnProbeConnected(id);
  } else {
    scheduler_->OnProbeRefused(id);
  }
}

void Switcher::ReleaseWorkers() { scheduler_->EndRunCleanup(); }

HWND Switcher::MessageOwner() const {
  for (SwitcherObserver* o : observers_) {
    if (HWND owner = o->MessageOwner()) return owner;
  }
  return nullptr;
}

int Switcher::Ask(std::string_view text, std::string_view caption, UINT type) {
  return parts_.prompt->Ask(MessageOwner(), text, caption, type);
}

core::AutoSwitchToggle Switcher::ToggleAutoSwitch(std::string_view interval_text) {
  core::AutoSwitchToggle toggle = auto_switch_.Toggle(interval_text);
  if (!toggle.error.empty()) Ask(toggle.error, "", MB_OK | MB_ICONWARNING);
  if (toggle.on) {
    SetTimer(timer_window_.hwnd(), kTimerAutoSwitch, toggle.period_ms, nullptr);
  } else {
    KillTimer(timer_window_.hwnd(), kTimerAutoSwitch);
  KillTimer(timer_window_.hwnd(), kTimerDownloadHour);
  KillTimer(timer_window_.hwnd(), kTimerDownloadArm);
  }
  return toggle;
}

void Switcher::StartAutomaticDownload() {
  // Refused silently while a download (the user's or an earlier one) runs.
  parts_.download_job->Start({download_settings_.url, parts_.download_path, false},
                             timer_window_.hwnd());
}

void Switcher::OnDownloadDone(WPARAM result, LPARAM report) {
  FinishedDownload finished;
  if (!parts_.download_job->TakeFinished(&finished)) {
    // Not the job's own report: only the code and the flag are known.
    finished.request = {download_settings_.url, parts_.download_path, report != 0};
    finished.outcome.result = int(result);
  }
  core::DownloadDoneAction action =
      core::HandleDownloadDone(finished.outcome, finished.request.report, finished.request.path,
                               download_settings_, list_, *parts_.codec);
  if (!action.message.empty()) {
    UINT icon = action.imported && action.import.ok ? MB_ICONINFORMATION : MB_ICONWARNING;
    Ask(action.message, action.caption, MB_OK | icon);
  }
}

void Switcher::OnCleanupDone(WPARAM run) {
  std::string text;
  if (!cleanup_.TakeFinished(run, &text)) return;
  // Stopped while the cache was being cleaned: the proxy stays as it is.
  if (auto_switch_.on() && SetSystemProxy(text)) {
    auto_switch_check_ = exit_settings_.enabled ? exit_check_->generation() : 0;
  }
  auto_switch_.SwitchFinished();
}

void Switcher::OnTimer(UINT_PTR id) {
  if (id == kTimerMinute) {
    scheduler_->ReverifyTick();
    return;
  }
  if (id == kTimerAutoSwitch) {
    // The row this tick hands out: the index, wrapped as the tick wraps it.
    int32_t row = auto_switch_.index();
    if (row < 0 || size_t(row) >= list_.size()) row = 0;
    if (auto_switch_.Tick() == core::AutoSwitchTick::kSwitched) {
      tried_this_tick_ = {row};
    }
    return;
  }
  if (id == kTimerExitCheck) {
    ExitCheckMoved(exit_check_->OnTick());
    return;
  }
  if (id == kTimerDownloadArm) {
    KillTimer(timer_window_.hwnd(), kTimerDownloadArm);
    StartAutomaticDownload();
    return;
  }
  if (id == kTimerDownloadHour) {
    if (download_schedule_.OnHourTick()) StartAutomaticDownload();
    return;
  }
  DispatchVerifyTimer(id, *scheduler_);
}

// Observers may remove themselves while being told; each call walks a copy.
void Switcher::OnRowsAppended(size_t first, size_t count) {
  for (SwitcherObserver* o : std::vector(observers_)) o->OnRowsAppended(first, count);
  RefreshCaption();
  // Every row the list takes (typed, imported, dropped, loaded) is an addition
  // for "自动验证新加入和下载的ip服务器".
  scheduler_->OnProxyAdded();
}

void Switcher::OnRowChanged(size_t row) {
  for (SwitcherObserver* o : std::vector(observers_)) o->OnRowChanged(row);
}

void Switcher::OnRowsReset() {
  for (SwitcherObserver* o : std::vector(observers_)) o->OnRowsReset();
  RefreshCaption();
}

void Switcher::OnFavoritesChanged() {
  for (SwitcherObserver* o : std::vector(observers_)) o->OnFavoritesChanged();
  RefreshCaption();
}

void Switcher::ShowMessage(std::string_view text, std::string_view caption) {
  Ask(text, caption, MB_OK);
}

void Switcher::SetRunControls(bool running) {
  for (SwitcherObserver* o : std::vector(observers_)) o->OnRunControls(running);
}

void Switcher::UseProxy(const std::string& host_port) { SetSystemProxy(host_port); }

void Switcher::ShowRow(size_t row) {
  for (SwitcherObserver* o : std::vector(observers_)) o->OnShowRow(row);
}

void Switcher::RefreshCaption() {
  for (SwitcherObserver* o : std::vector(observers_)) o->OnCaptionChanged();
}

}  // namespace win
