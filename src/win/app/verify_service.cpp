#include "win/app/verify_service.h"

#include <utility>

namespace win {

VerifyService::VerifyService(Switcher& switcher, const AppPlatform& platform, VerifyParts parts)
    : switcher_(switcher),
      parts_(std::move(parts)),
      settings_(core::LoadVerifySettings(*platform.profile, platform.secrets, &sites_note_)) {
  scheduler_ = std::make_unique<core::VerifyScheduler>(
      switcher_.list(), settings_, *parts_.pool, timers_, static_cast<core::VerifyHost&>(*this),
      *parts_.clock, parts_.watchdog_per_site_ms, parts_.prober.get());
  timers_.Attach(scheduler_.get());
  switcher_.events().Add(this);
  timers_.StartReaping();
  reverify_timer_.Start(kReverifyTickMs, [this] { scheduler_->ReverifyTick(); });
}

VerifyService::~VerifyService() {
  switcher_.events().Remove(this);
  // Workers are let go before the list they were testing rows of; none
  // reports afterwards.
  scheduler_->EndRunCleanup();
  timers_.Attach(nullptr);
  scheduler_.reset();
}

void VerifyService::OnRowsAppended(size_t, size_t) {
  RefreshCaption();
  scheduler_->OnProxyAdded();
}

void VerifyService::OnRowsReset() { RefreshCaption(); }

void VerifyService::OnFavoritesChanged() { RefreshCaption(); }

void VerifyService::ShowMessage(std::string_view text, std::string_view caption) {
  switcher_.Ask(text, caption, MB_OK);
}

void VerifyService::SetRunControls(bool running) {
  switcher_.events().Tell([&](AppObserver& o) { o.OnVerifyRunControls(running); });
}

void VerifyService::ClearSystemProxy() { switcher_.UseNone(); }

void VerifyService::UseProxy(core::RowId row) {
  // The rotation goes over the newly verified rows by itself.
  if (!switcher_.in_use().rotation) switcher_.Use(row);
}

void VerifyService::RowFailed(size_t row) {
  core::RowId id = switcher_.list().IdAt(row);
  if (id != core::kNoRow && id == switcher_.in_use().row) {
    switcher_.ReportFailure(
        {id, core::FailureSource::kVerification, std::string(switcher_.list().row(row).result)});
  }
}

bool VerifyService::ProxyInUse() const { return !switcher_.current_proxy().empty(); }

void VerifyService::ShowRow(size_t row) {
  switcher_.events().Tell([&](AppObserver& o) { o.OnShowRow(row); });
}

void VerifyService::RefreshCaption() {
  switcher_.events().Tell([](AppObserver& o) { o.OnCaptionChanged(); });
}

}  // namespace win
