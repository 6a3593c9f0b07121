#include "win/app/relay_service.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "core/sysproxy/proxy_in_use.h"
#include "win/platform/app_messages.h"

namespace win {
namespace {

// Reports waiting for the UI thread beyond this many are dropped, oldest first:
// a flood of hostile connections must not grow the queue without end.
constexpr size_t kQueuedReports = 256;

}  // namespace

RelayService::RelayService(Switcher& switcher, const AppPlatform& platform,
                           const RunSettingsHolder& run_settings)
    : switcher_(switcher),
      platform_(platform),
      run_settings_(run_settings),
      window_([this](UINT msg, WPARAM wparam, LPARAM lparam) {
        return OnMessage(msg, wparam, lparam);
      }),
      shared_(std::make_shared<Shared>()) {
  shared_->window = CreateMessageWindow(window_, L"RelaymothRelay");
  switcher_.SetStandIn(this);
  switcher_.events().Add(this);
}

RelayService::~RelayService() {
  switcher_.events().Remove(this);
  switcher_.SetStandIn(nullptr);
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->window = nullptr;
}

bool RelayService::Start() {
  std::string error;
  if (!engine_.Start(&error)) {
    error_ = error;
    return false;
  }
  int32_t kept =
      platform_.profile->ReadInt(core::kLocalRelaySection, core::kLocalRelayPortValue, 0);
  kept_port_ = kept > 0 && kept <= 65535 ? static_cast<uint16_t>(kept) : 0;
  std::shared_ptr<Shared> shared = shared_;
  RelayRouteSource source = [shared] {
    std::lock_guard<std::mutex> lock(shared->mutex);
    return shared->route;
  };
  RelayReportSink sink = [shared](RelayReport report) {
    HWND window = nullptr;
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      // One message announces a batch; the UI thread takes all that wait.
      if (shared->reports.empty()) window = shared->window;
      if (shared->reports.size() >= kQueuedReports) shared->reports.pop_front();
      shared->reports.push_back(std::move(report));
    }
    if (window) PostMessageW(window, WM_RELAY_REPORTS, 0, 0);
  };
  // Only the user's own programs may use the relay: its rows may carry log-ins.
  if (kept_port_ != 0) port_ = engine_.Listen(kept_port_, source, sink, &error, false, true);
  // The kept port is taken (or there is none yet): any free one, kept instead.
  if (port_ == 0) port_ = engine_.Listen(0, source, sink, &error, false, true);
  if (port_ == 0) {
    error_ = error;
    return false;
  }
  // Kept so that the next start takes the same port. A refused write costs
  // only that: the relay works on this port, and the guard's record names the
  // port it was written for.
  if (port_ != kept_port_) {
    platform_.profile->WriteInt(core::kLocalRelaySection, core::kLocalRelayPortValue, port_)
        .Ignore();
  }
  RebuildRoute();
  return true;
}

std::string RelayService::address() const {
  return port_ == 0 ? "" : "127.0.0.1:" + std::to_string(port_);
}

std::string RelayService::StandInFor(const core::ProxyInUse& proxy) {
  standing_in_ =
      port_ != 0 && core::RelayStandsInFor(proxy, run_settings_.settings().all_through_relay);
  return standing_in_ ? address() : "";
}

bool RelayService::IsStandIn(std::string_view text) const {
  core::NetTarget target;
  if (!core::ParseAuthority(text, 0, &target) || !core::IsLoopbackHost(target.host)) return false;
  return target.port != 0 && (target.port == port_ || target.port == kept_port_);
}

bool RelayService::OnMessage(UINT msg, WPARAM wparam, LPARAM) {
  if (msg == WM_RELAY_REPORTS) {
    TakeReports();
    return true;
  }
  if (msg == WM_TIMER && wparam == kTimerRoute) {
    KillTimer(window_.hwnd(), kTimerRoute);
    route_timer_ = false;
    RebuildRoute();
    return true;
  }
  return false;
}

void RelayService::TakeReports() {
  std::deque<RelayReport> taken;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    taken.swap(shared_->reports);
  }
  auto keep = [this](std::string text) {
    if (reports_.size() >= kKeptReports) reports_.pop_front();
    reports_.push_back(std::move(text));
  };
  const bool rotating = switcher_.in_use().rotation;
  for (const RelayReport& report : taken) {
    // A connection the rotation gave a row: carried, or failed on every row tried.
    if (rotating && (report.piped || !report.failures.empty())) {
      switcher_.RecordUse({core::kNoRow, true}, report.piped);
    }
    for (const core::RelayAttemptFailure& f : report.failures) {
      keep(f.label + ": " + f.text);
    }
    if (report.failures.empty() && !report.end_reason.empty()) keep(report.end_reason);
    // A connection of the row in use that another row carried: the tips
    // name the row that carries. Told before the failures, so that the row
    // in use is still the one the connection started with.
    if (report.carried && !report.failures.empty() &&
        core::RowId(report.failures.front().row) == switcher_.in_use().row) {
      switcher_.ReportCarrier(core::RowId(report.carried_row), report.carried_label);
    }
    for (const core::RelayAttemptFailure& f : report.failures) {
      if (!core::FailureBlamesProxy(f.failure)) continue;
      rotation_->Drop(f.row);  // at once, before the list's change rebuilds the pool
      switcher_.ReportFailure({core::RowId(f.row), core::FailureSource::kRelay, f.text});
    }
  }
}

void RelayService::RebuildRoute() {
  auto route = std::make_shared<RelayRoute>();
  const core::ProxyInUse& in_use = switcher_.in_use();
  if (in_use.rotation) {
    std::vector<uint16_t> own;
    if (port_ != 0) own.push_back(port_);
    rotation_->SetPool(core::RotationPool(switcher_.list(), switcher_.place_filter(), own));
    rotation_->SetStickyMinutes(uint32_t(run_settings_.settings().same_site_minutes));
    std::shared_ptr<core::Rotation> rotation = rotation_;
    route->choose = [rotation](const core::NetTarget& target) {
      return rotation->Choose(target.host, GetTickCount64());
    };
    switcher_.SetRotationSize(rotation_->size());
  } else {
    route->candidates = core::RelayCandidatesFor(switcher_.list(), in_use);
    rotation_->SetPool({});
  }
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->route = std::move(route);
}

void RelayService::ListChanged() {
  if (route_timer_ || !window_.hwnd()) return;
  route_timer_ = SetTimer(window_.hwnd(), kTimerRoute, kRouteDelayMs, nullptr) != 0;
}

void RelayService::OnRunSettingsChanged() {
  const core::ProxyInUse& in_use = switcher_.in_use();
  if (port_ == 0 || in_use.empty()) return;
  if (in_use.rotation) RebuildRoute();  // the same-site minutes may have changed
  bool wanted = core::RelayStandsInFor(in_use, run_settings_.settings().all_through_relay);
  // The setting names the relay, or the proxy itself, as the box now says.
  if (wanted != standing_in_) switcher_.Reapply();
}

}  // namespace win
