// Automatic switching ("自动换IP"): on every tick of the switching timer the
// system proxy moves on to the next row of the proxy list, after the browser's
// cache and cookies are cleaned. The program's owner holds one AutoSwitch beside
// the list; the timer and the cleanup are the owner's, reached through the
// returned periods and ProxySwitchAction. UI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/proxylist/place_filter.h"
#include "core/proxylist/proxy_list.h"

namespace core {

inline constexpr int32_t kDefaultAutoSwitchInterval = 60;  // seconds
inline constexpr std::string_view kAutoSwitchStartText = "开启自动换IP";
inline constexpr std::string_view kAutoSwitchStopText = "停止自动换IP";
inline constexpr std::string_view kNotAWholeNumberMessage = "请键入一个整数。";
// The shortest interval: faster switching changes the proxy several times a
// second and starves the rest of the program.
inline constexpr int32_t kMinAutoSwitchInterval = 1;  // seconds
inline constexpr std::string_view kIntervalTooShortMessage = "自动换IP间隔至少为1秒。";
// The longest period a window timer accepts; longer intervals are cut to it.
inline constexpr uint32_t kMaxTimerPeriodMs = 0x7FFFFFFF;

// "Clean, then switch": wipes the browser's cache and cookies and then makes
// the row the proxy in use, in that order. The work may end later (the
// cleanup of a large cache runs off the UI thread); when the proxy has been
// applied the owner calls AutoSwitch::SwitchFinished on the UI thread, also when
// it finishes before CleanThenSwitch returns.
class ProxySwitchAction {
 public:
  virtual ~ProxySwitchAction() = default;
  virtual void CleanThenSwitch(RowId row) = 0;
};

// What the toggle button did.
struct AutoSwitchToggle {
  bool on = false;          // switching runs after the press
  std::string button_text;  // the button's new text
  uint32_t period_ms = 0;   // when on: the timer period to start; when off: kill the timer
  // kNotAWholeNumberMessage or kIntervalTooShortMessage when the interval text
  // was refused.
  std::string error;
};

// What one tick did.
enum class AutoSwitchTick {
  kSwitched,    // a row was handed to CleanThenSwitch
  kPassedOver,  // every row's last verification failed: nothing applied
  kNoRow,       // the list is empty: nothing applied, the tick used up
  kBusy,        // the previous switch has not finished: the tick is skipped, not counted
  kOff,         // switching is off (a tick left over after stopping): ignored
  // No usable row passes the place filter: nothing applied, the position stays.
  kNoRowInPlaces,
};

class AutoSwitch {
 public:
  AutoSwitch(const ProxyList& list, ProxySwitchAction& action) : list_(list), action_(action) {}
  AutoSwitch(const AutoSwitch&) = delete;
  AutoSwitch& operator=(const AutoSwitch&) = delete;

  // The toggle button. `interval_text` is the interval edit's text: a whole
  // number of seconds, at least kMinAutoSwitchInterval, becomes the interval;
  // anything else keeps the previous interval and reports why, and the toggle
  // still goes on. Turning on never switches at once: the first switch comes one full
  // period later. The row position is kept across stop and start.
  AutoSwitchToggle Toggle(std::string_view interval_text);

  // The switching timer fired. Wraps to the first row when the position is at
  // or beyond the end of the list (rows may have been deleted), then hands the
  // first row from there whose last verification did not fail (score other
  // than 0) and that is not the program's own relay (SetRelayPorts), wrapping
  // once around the list, to the action: passed-over rows never use up a
  // tick. Rows outside `places` are passed over too, and when no usable row
  // passes them nothing else is taken in their place. The position moves to
  // the row after the one applied; when every row failed it moves on by one.
  AutoSwitchTick Tick(const PlaceFilter& places = {});

  // The ports the program's own relay listens on; rows naming one of them on
  // this machine are never applied.
  void SetRelayPorts(std::vector<uint16_t> ports) { relay_ports_ = std::move(ports); }
  const std::vector<uint16_t>& relay_ports() const { return relay_ports_; }

  // The switch handed out by the last kSwitched tick has ended.
  void SwitchFinished() { switch_pending_ = false; }

  bool on() const { return on_; }
  int32_t interval() const { return interval_; }  // seconds, for the edit's text
  int32_t index() const { return index_; }        // the row the next tick looks at
  // The row the last kSwitched tick handed to the action.
  int32_t switched_row() const { return switched_row_; }
  // The next tick looks at the row after `row` (failover applied `row` itself).
  void ContinueAfter(int32_t row) { index_ = row + 1; }
  bool switch_pending() const { return switch_pending_; }

 private:
  const ProxyList& list_;
  ProxySwitchAction& action_;
  bool on_ = false;
  int32_t interval_ = kDefaultAutoSwitchInterval;
  int32_t index_ = 0;
  int32_t switched_row_ = -1;
  bool switch_pending_ = false;
  std::vector<uint16_t> relay_ports_;
};

// A row switching may take: its last verification did not fail (score other
// than 0) and it does not name the program's own relay (this machine on one of
// `relay_ports`).
bool IsSwitchTarget(const ProxyRow& row, const std::vector<uint16_t>& relay_ports);

// Whether `list` has a row switching may take that passes `places`.
bool HasRowInPlaces(const ProxyList& list, const PlaceFilter& places,
                    const std::vector<uint16_t>& relay_ports);

// The timer period for an interval in seconds: the product in milliseconds,
// cut to kMaxTimerPeriodMs. An interval below kMinAutoSwitchInterval gives the
// shortest period allowed.
uint32_t AutoSwitchPeriodMs(int32_t interval_seconds);

}  // namespace core
