#include "win/app/exit_check_service.h"

#include <utility>

namespace win {

ExitCheckService::ExitCheckService(Switcher& switcher, const AppPlatform& platform,
                                   core::Clock& clock, const FetcherFactory& make_fetcher,
                                   core::ProxyList::Locator locator)
    : switcher_(switcher),
      settings_(core::LoadExitCheckSettings(*platform.profile)),
      window_([this](UINT msg, WPARAM wparam, LPARAM lparam) {
        return OnMessage(msg, wparam, lparam);
      }) {
  HWND window = CreateMessageWindow(window_, L"RelaymothExitCheck");
  fetcher_ = make_fetcher(window, uint32_t(settings_.deadline_seconds) * 1000);
  check_ = std::make_unique<core::ExitCheck>(*fetcher_, clock, std::move(locator));
  check_->ApplySettings(settings_);
  switcher_.SetFailover(settings_.failover);
  switcher_.events().Add(this);
}

ExitCheckService::~ExitCheckService() {
  switcher_.events().Remove(this);
  KillTimer(window_.hwnd(), kTimerDeadline);
}

void ExitCheckService::ApplySettings(const core::ExitCheckSettings& settings) {
  bool was_enabled = settings_.enabled;
  settings_ = settings;
  check_->ApplySettings(settings);
  switcher_.SetFailover(settings.failover);
  fetcher_->set_deadline_ms(uint32_t(settings.deadline_seconds) * 1000);
  if (settings_.enabled == was_enabled) return;
  // Turned on: the proxy in use is checked now. Turned off: the views drop
  // what the last check showed.
  if (settings_.enabled) {
    OnProxyChanged();
  } else {
    switcher_.events().Tell([](AppObserver& o) { o.OnExitCheckChanged(); });
  }
}

bool ExitCheckService::OnMessage(UINT msg, WPARAM wparam, LPARAM) {
  if (msg == WM_EXIT_FETCH_DONE) {
    OnFetchDone();
    return true;
  }
  if (msg == WM_TIMER && wparam == kTimerDeadline) {
    CheckMoved(check_->OnTick());
    return true;
  }
  return false;
}

void ExitCheckService::OnProxyChanged() {
  if (!settings_.enabled) return;
  check_->OnSwitched(switcher_.current_proxy());
  checked_row_ = switcher_.in_use().row;
  CheckMoved(true);
}

void ExitCheckService::OnFetchDone() {
  bool changed = false;
  for (const ExitFetchResult& r : fetcher_->TakeResults()) {
    changed = check_->OnFetchDone(r.id, r.ok, r.body) || changed;
  }
  CheckMoved(changed);
}

void ExitCheckService::CheckMoved(bool changed) {
  if (check_->waiting()) {
    SetTimer(window_.hwnd(), kTimerDeadline, kDeadlineTickMs, nullptr);
  } else {
    KillTimer(window_.hwnd(), kTimerDeadline);
  }
  if (!changed) return;
  const core::ExitPhase phase = check_->phase();
  if ((phase == core::ExitPhase::kPassed || phase == core::ExitPhase::kFailed) &&
      recorded_ != check_->generation()) {
    recorded_ = check_->generation();
    switcher_.RecordUse({checked_row_}, phase == core::ExitPhase::kPassed);
  }
  switcher_.events().Tell([](AppObserver& o) { o.OnExitCheckChanged(); });
  if (check_->failed() && reported_ != check_->generation()) {
    reported_ = check_->generation();
    switcher_.ReportFailure({checked_row_, core::FailureSource::kExitCheck, check_->TipText()});
  }
}

}  // namespace win
