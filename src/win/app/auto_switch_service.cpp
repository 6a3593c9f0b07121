#include "win/app/auto_switch_service.h"

#include <optional>
#include <utility>

#include "core/sysproxy/exit_check.h"

namespace win {

AutoSwitchService::AutoSwitchService(Switcher& switcher, CleanupRunner::Cleanup cleanup)
    : switcher_(switcher),
      cleanup_([this](core::RowId row) { OnCleanupDone(row); }, std::move(cleanup)),
      auto_switch_(switcher.list(), cleanup_) {
  switcher_.events().Add(this);
}

AutoSwitchService::~AutoSwitchService() { switcher_.events().Remove(this); }

core::AutoSwitchToggle AutoSwitchService::Toggle(std::string_view interval_text) {
  if (!auto_switch_.on() && switcher_.in_use().rotation) {
    // Both change the exit on their own: one at a time.
    switcher_.Ask(kAutoSwitchWhileRotation, "", MB_OK | MB_ICONWARNING);
    return {false, std::string(core::kAutoSwitchStartText), 0, {}};
  }
  core::AutoSwitchToggle toggle = auto_switch_.Toggle(interval_text);
  if (!toggle.error.empty()) switcher_.Ask(toggle.error, "", MB_OK | MB_ICONWARNING);
  if (toggle.on) {
    timer_.Start(toggle.period_ms, [this] { OnTick(); });
  } else {
    timer_.Stop();
  }
  return toggle;
}

void AutoSwitchService::OnTick() {
  core::AutoSwitchTick tick = auto_switch_.Tick(switcher_.place_filter());
  if (tick == core::AutoSwitchTick::kSwitched) {
    tried_this_tick_ = {switcher_.list().IdAt(size_t(auto_switch_.switched_row()))};
  }
  if (tick == core::AutoSwitchTick::kSwitched || tick == core::AutoSwitchTick::kNoRowInPlaces) {
    SetPlaceNote(tick == core::AutoSwitchTick::kNoRowInPlaces);
  }
}

void AutoSwitchService::SetPlaceNote(bool none_in_places) {
  std::string note =
      none_in_places ? core::NoRowInPlacesText(switcher_.place_filter()) : std::string();
  if (note == place_note_) return;
  place_note_ = std::move(note);
  switcher_.events().Tell([](AppObserver& o) { o.OnPlaceNoteChanged(); });
}

void AutoSwitchService::OnPlaceFilterChanged() {
  const core::PlaceFilter& places = switcher_.place_filter();
  SetPlaceNote(!places.empty() &&
               !core::HasRowInPlaces(switcher_.list(), places, auto_switch_.relay_ports()));
}

void AutoSwitchService::OnRowsAppended(size_t first, size_t count) {
  // Only a row that passes can take the note down: while it is down nothing is
  // looked at, so a verification run costs nothing here.
  if (place_note_.empty()) return;
  const core::ProxyList& list = switcher_.list();
  core::PlaceMatcher matcher(switcher_.place_filter());
  for (size_t i = first; i < first + count && i < list.size(); ++i) {
    const core::ProxyRow r = list.row(i);
    if (core::IsSwitchTarget(r, auto_switch_.relay_ports()) && matcher.Passes(r.location)) {
      return SetPlaceNote(false);
    }
  }
}

void AutoSwitchService::OnRowsReset() {
  if (!place_note_.empty()) OnPlaceFilterChanged();
}

void AutoSwitchService::OnCleanupDone(core::RowId row) {
  // Stopped while the cache was being cleaned: the proxy stays as it is.
  if (auto_switch_.on()) switcher_.Use(row);
  auto_switch_.SwitchFinished();
}

void AutoSwitchService::OnProxyInUseFailed(core::RowId row) {
  if (!auto_switch_.on() || tried_this_tick_.empty() || tried_this_tick_.back() != row) return;
  const core::ProxyList& list = switcher_.list();
  std::optional<size_t> failed = list.IndexOf(row);
  if (!failed) return;
  // The rows tried this tick where they are now (a sort may have moved them).
  std::vector<int32_t> tried;
  for (core::RowId id : tried_this_tick_) {
    if (std::optional<size_t> at = list.IndexOf(id)) tried.push_back(int32_t(*at));
  }
  int32_t next = core::NextFailoverRow(list, int32_t(*failed), tried, auto_switch_.relay_ports(),
                                       switcher_.place_filter());
  if (next < 0) return;
  tried_this_tick_.push_back(list.IdAt(size_t(next)));
  auto_switch_.ContinueAfter(next);
  // The cache was emptied for this tick already.
  switcher_.Use(list.IdAt(size_t(next)));
}

}  // namespace win
