#include "win/app/switcher.h"

#include <optional>
#include <utility>

#include "core/base/text.h"
#include "core/proxylist/list_profile.h"
#include "core/sysproxy/start_list.h"

namespace win {

// Shown when the registry refuses the switch: "设置系统代理失败".
constexpr std::string_view kSystemProxyWriteFailed = "设置系统代理失败";
// Shown when the record that puts the setting back after a kill cannot be
// written; the switch to the local relay is then not made.
constexpr std::string_view kRelayRecordWriteFailed = "保存本地中转的代理设置记录失败，未切换代理：";

namespace {

// The port of the relay's address ("127.0.0.1:port").
uint16_t PortOf(std::string_view address) {
  size_t colon = address.rfind(':');
  std::optional<int32_t> port = colon == std::string_view::npos
                                    ? std::nullopt
                                    : core::ParseWholeNumber(address.substr(colon + 1));
  return port && *port > 0 && *port <= 65535 ? uint16_t(*port) : 0;
}

}  // namespace

// Shown when the rotation is asked for while the local relay does not run.
constexpr std::string_view kRotationNeedsRelay = "本地中转没有运行，不能每个连接换一个IP";
// Shown when the profile refuses the place filter.
constexpr std::string_view kPlaceFilterWriteFailed = "保存地区条件失败，本次运行仍按所选地区换IP：";

// The caption of the note about saved log-ins that could not be opened.
constexpr std::string_view kSavedListCaption = "读取保存的列表";

Switcher::Switcher(const AppPlatform& platform, SystemProxyPlace place,
                   core::ProxyList::Locator locator, core::ProxyList::BatchHook locator_batch)
    : platform_(platform), place_(std::move(place)) {
  if (locator) list_.SetLocator(std::move(locator), std::move(locator_batch));
  list_.SetObserver(this);
}

Switcher::~Switcher() { list_.SetObserver(nullptr); }

void Switcher::Start() {
  core::SystemProxyReadBack back = ReadSystemProxy(place_);
  if (stand_in_ &&
      (stand_in_->IsStandIn(back.current_proxy) || stand_in_->IsStandIn(back.list_line))) {
    // Left by a session that ended without putting the setting back: the relay
    // is no proxy of the list.
    back = {};
  }
  core::StartedList started =
      core::LoadListAtStart(list_, back, *platform_.profile, platform_.secrets);
  in_use_ = std::move(started.in_use);
  if (!started.note.message.empty()) {
    Ask(started.note.message, kSavedListCaption, MB_OK | MB_ICONWARNING);
  }
  place_filter_ = core::LoadPlaceFilter(*platform_.profile);
  events_.Tell([](AppObserver& o) { o.OnPlaceFilterChanged(); });
  // The proxy read back is in use like any other (the exit check follows).
  TellProxyChanged();
}

bool Switcher::Use(core::RowId row) {
  std::optional<size_t> at = list_.IndexOf(row);
  if (!at) return false;
  return Apply(core::ProxyInUseOfRow(list_, *at));
}

bool Switcher::UseNone() { return Apply({}); }

bool Switcher::UseRotation() { return Apply(core::RotationInUse(0)); }

void Switcher::SetRotationSize(size_t rows) {
  if (!in_use_.rotation) return;
  std::string text = core::RotationInUse(rows).text;
  if (text == in_use_.text) return;
  in_use_.text = std::move(text);
  events_.Tell([](AppObserver& o) { o.OnCarrierChanged(); });
}

bool Switcher::Reapply() { return Apply(in_use_); }

bool Switcher::Apply(core::ProxyInUse proxy) {
  core::SystemProxyChange plan = core::PlanSystemProxyOf(proxy, relay_ports_);
  if (!plan.accepted) {
    Ask(plan.error_message, core::kSystemProxyErrorCaption, MB_OK);
    return false;
  }
  // What the user had is recorded before anything of it changes.
  user_settings_.RecordOnce(place_);
  std::string relay;
  if (stand_in_ && !proxy.empty()) relay = stand_in_->StandInFor(proxy);
  if (proxy.rotation && relay.empty()) {
    Ask(kRotationNeedsRelay, core::kSystemProxyErrorCaption, MB_OK | MB_ICONWARNING);
    return false;
  }
  if (!relay.empty() && relay_guard_ != nullptr) {
    // The record that puts the setting back, and the guard process that acts
    // on it, come before the setting names the relay: a kill in between
    // leaves the setting as it was (the guard then only drops the record).
    core::WriteStatus recorded = relay_guard_->BeforeRelayWrite(PortOf(relay));
    if (!recorded) {
      Ask(std::string(kRelayRecordWriteFailed) + recorded.reason(), core::kSystemProxyErrorCaption,
          MB_OK | MB_ICONWARNING);
      return false;
    }
  }
  SystemProxyApplied applied =
      relay.empty() ? ApplySystemProxy(plan, place_) : win::SetSystemProxy(relay, place_);
  core::WriteStatus guarded =
      relay_guard_ != nullptr ? relay_guard_->AfterSystemProxyWrite() : core::WriteStatus::Ok();
  carrier_ = core::kNoRow;
  carrier_label_.clear();
  if (applied.written.ok()) {
    in_use_ = std::move(proxy);
  } else {
    // What other programs now read is what is in use, whatever was asked; the
    // relay's address still carries the proxy it carried.
    core::SystemProxyReadBack back = ReadSystemProxy(place_);
    if (!stand_in_ || !stand_in_->IsStandIn(back.current_proxy)) {
      in_use_ = core::ProxyInUseOfSetting(list_, back);
    }
  }
  TellProxyChanged();
  if (!applied.written.ok()) {
    Ask(std::string(kSystemProxyWriteFailed) + "\n" + applied.written.ToString(),
        core::kSystemProxyErrorCaption, MB_OK | MB_ICONWARNING);
    return false;
  }
  if (!guarded) {
    Ask(std::string(kRelayRecordWriteFailed) + guarded.reason(), core::kSystemProxyErrorCaption,
        MB_OK | MB_ICONWARNING);
  }
  return true;
}

void Switcher::RestoreUserProxy() {
  if (!user_settings_.recorded()) return;
  // The program is ending: a refused write has no one left to tell.
  user_settings_.Restore(place_).Ignore();
  if (relay_guard_ != nullptr) relay_guard_->AfterSystemProxyWrite().Ignore();
  in_use_ = core::ProxyInUseOfSetting(list_, ReadSystemProxy(place_));
  TellProxyChanged();
}

void Switcher::TellProxyChanged() {
  if (stand_in_) stand_in_->OnInUse(in_use_);
  events_.Tell([](AppObserver& o) { o.OnProxyChanged(); });
}

void Switcher::SetPlaceFilter(core::PlaceFilter filter) {
  if (filter == place_filter_) return;
  place_filter_ = std::move(filter);
  core::WriteStatus saved = core::SavePlaceFilter(place_filter_, *platform_.profile);
  events_.Tell([](AppObserver& o) { o.OnPlaceFilterChanged(); });
  if (!saved) {
    Ask(std::string(kPlaceFilterWriteFailed) + saved.reason(), core::kSystemProxyErrorCaption,
        MB_OK | MB_ICONWARNING);
  }
}

void Switcher::ReportFailure(const core::ProxyFailureReport& report) {
  core::FailoverDecision d = core::DecideFailover(report, in_use_.row, failover_);
  std::optional<size_t> at = list_.IndexOf(report.row);
  // A reserved row keeps its place above the others; its failure shows at its
  // next verification.
  if (d.mark_row && at && !list_.IsReserved(*at)) {
    list_.SetVerifyResult(*at, d.status, d.result, 0);
  }
  if (d.move_on) events_.Tell([&](AppObserver& o) { o.OnProxyInUseFailed(report.row); });
}

void Switcher::ReportCarrier(core::RowId row, const std::string& label) {
  if (row == in_use_.row) row = core::kNoRow;  // the row in use carries again
  if (row == carrier_) return;
  carrier_ = row;
  carrier_label_ = row == core::kNoRow ? std::string() : label;
  events_.Tell([](AppObserver& o) { o.OnCarrierChanged(); });
}

std::string Switcher::InUseName() const {
  if (carrier_ == core::kNoRow || in_use_.empty()) return in_use_.text;
  return carrier_label_ + "（" + in_use_.text + " 连接失败，中转改用此IP）";
}

int Switcher::Ask(std::string_view text, std::string_view caption, UINT type) {
  return platform_.prompt->Ask(events_.MessageOwner(), text, caption, type);
}

void Switcher::OnRowsAppended(size_t first, size_t count) {
  events_.Tell([&](AppObserver& o) { o.OnRowsAppended(first, count); });
}

void Switcher::OnRowChanged(size_t row) {
  events_.Tell([&](AppObserver& o) { o.OnRowChanged(row); });
}

void Switcher::OnRowsReset() {
  events_.Tell([](AppObserver& o) { o.OnRowsReset(); });
}

void Switcher::OnFavoritesChanged() {
  events_.Tell([](AppObserver& o) { o.OnFavoritesChanged(); });
}

void Switcher::OnSelectionChanged() {
  events_.Tell([](AppObserver& o) { o.OnSelectionChanged(); });
}

}  // namespace win
