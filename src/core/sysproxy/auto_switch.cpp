#include "core/sysproxy/auto_switch.h"

#include <optional>

#include "core/base/text.h"
#include "core/net/net_target.h"
#include "core/proxylist/proxy_line.h"

namespace core {

uint32_t AutoSwitchPeriodMs(int32_t interval_seconds) {
  if (interval_seconds < kMinAutoSwitchInterval) interval_seconds = kMinAutoSwitchInterval;
  int64_t ms = int64_t(interval_seconds) * 1000;
  return ms > int64_t(kMaxTimerPeriodMs) ? kMaxTimerPeriodMs : uint32_t(ms);
}

bool IsSwitchTarget(const ProxyRow& row, const std::vector<uint16_t>& relay_ports) {
  return row.score != 0 && !row.expired && !NamesOwnPort(row.address, row.port, relay_ports);
}

bool HasRowInPlaces(const ProxyList& list, const PlaceFilter& places,
                    const std::vector<uint16_t>& relay_ports) {
  PlaceMatcher matcher(places);
  for (size_t i = 0; i < list.size(); ++i) {
    const ProxyRow r = list.row(i);
    if (IsSwitchTarget(r, relay_ports) && matcher.Passes(r.location)) return true;
  }
  return false;
}

AutoSwitchToggle AutoSwitch::Toggle(std::string_view interval_text) {
  AutoSwitchToggle t;
  // The interval is read on every press, also when stopping, as the dialog
  // exchanges all its fields at once; a refused text only costs the new value.
  std::optional<int32_t> v = ParseWholeNumber(interval_text);
  if (v && *v >= kMinAutoSwitchInterval) {
    interval_ = *v;
  } else if (v) {
    t.error = std::string(kIntervalTooShortMessage);
  } else {
    t.error = std::string(kNotAWholeNumberMessage);
  }
  on_ = !on_;
  t.on = on_;
  t.button_text = std::string(on_ ? kAutoSwitchStopText : kAutoSwitchStartText);
  t.period_ms = on_ ? AutoSwitchPeriodMs(interval_) : 0;
  return t;
}

AutoSwitchTick AutoSwitch::Tick(const PlaceFilter& places) {
  // A tick already queued when the timer was killed must not switch.
  if (!on_) return AutoSwitchTick::kOff;
  // While a cleanup still runs the tick is dropped rather than queued, so a slow
  // cleanup never piles up switches; the position stays, so no row is lost.
  if (switch_pending_) return AutoSwitchTick::kBusy;

  int64_t count = int64_t(list_.size());
  if (index_ < 0 || index_ >= count) index_ = 0;
  if (count == 0) {
    ++index_;
    return AutoSwitchTick::kNoRow;
  }
  // Failed rows are passed over within the tick: with a few usable rows among
  // many failed ones the proxy still changes every interval.
  PlaceMatcher matcher(places);
  for (int64_t step = 0; step < count; ++step) {
    int32_t row = int32_t((index_ + step) % count);
    const ProxyRow r = list_.row(size_t(row));
    if (!IsSwitchTarget(r, relay_ports_) || !matcher.Passes(r.location)) continue;
    index_ = row + 1;
    switched_row_ = row;
    switch_pending_ = true;
    action_.CleanThenSwitch(list_.IdAt(size_t(row)));
    return AutoSwitchTick::kSwitched;
  }
  // The user asked for these places only: a row elsewhere is no stand-in.
  if (!places.empty()) return AutoSwitchTick::kNoRowInPlaces;
  ++index_;
  return AutoSwitchTick::kPassedOver;
}

}  // namespace core
