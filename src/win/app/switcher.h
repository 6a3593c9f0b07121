// Switcher: the owner of the program's state that everything else shares: the
// proxy list (loaded at start, its changes told to every AppObserver;
// ListSaveService saves it), the system proxy in use with the user's own settings from
// before the first switch, and the window that owns the program's message
// boxes. The features that run on their own (verification, automatic
// switching, the exit check, list downloads) are services beside it. Created
// by the composition root before any window and destroyed after the last. UI
// thread only.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/proxylist/place_filter.h"
#include "core/proxylist/proxy_list.h"
#include "core/sysproxy/failover.h"
#include "core/sysproxy/proxy_in_use.h"
#include "core/sysproxy/use_strip.h"
#include "win/app/app_events.h"
#include "win/app/app_platform.h"
#include "win/app/relay_proxy_guard.h"
#include "win/platform/system_proxy.h"

namespace win {

// What the switcher asks of the local relay: whether the system setting names
// the relay in place of the proxy in use, and whether a text read back from
// the setting is the relay's own address.
class SystemProxyStandIn {
 public:
  virtual ~SystemProxyStandIn() = default;
  // The text the system setting gets instead of `proxy` ("127.0.0.1:port");
  // empty when the proxy goes in as it is.
  virtual std::string StandInFor(const core::ProxyInUse& proxy) = 0;
  virtual bool IsStandIn(std::string_view text) const = 0;
  // The proxy in use is now `proxy`: told before any observer hears
  // OnProxyChanged, so that the relay's route already leads through it when
  // the exit check's first connection arrives.
  virtual void OnInUse(const core::ProxyInUse& proxy) = 0;
};

class Switcher final : private core::ProxyListObserver {
 public:
  // `platform` must outlive the switcher. `place` is where the system proxy
  // lives (tests use a key of their own); `locator` fills the location of new
  // rows and may be empty (no database); `locator_batch` hears the list's batches.
  Switcher(const AppPlatform& platform, SystemProxyPlace place, core::ProxyList::Locator locator,
           core::ProxyList::BatchHook locator_batch = nullptr);
  ~Switcher() override;
  Switcher(const Switcher&) = delete;
  Switcher& operator=(const Switcher&) = delete;

  // The start: loads the saved list and takes in the system proxy read back
  // (core::LoadListAtStart: a row already in the list is the proxy in use, any
  // other setting comes in front, ticked), loads the place filter, and tells
  // the observers the filter and which proxy is in use. A system proxy that
  // is the local relay's address names no row: nothing is added and no proxy
  // is in use.
  void Start();
  // The local relay, or null (every proxy text goes into the setting as it is).
  void SetStandIn(SystemProxyStandIn* stand_in) { stand_in_ = stand_in; }

  AppEvents& events() { return events_; }
  core::ProxyList& list() { return list_; }
  const core::ProxyList& list() const { return list_; }

  // Makes row `row` the proxy in use: its value is taken from the row now and
  // written into the system setting. A row that is gone changes nothing; a
  // refused row (one naming the program's own relay, an address the setting
  // cannot hold) shows "发现错误" and changes nothing; a refused registry write
  // shows why and leaves the proxy in use as the registry now says. False in
  // these cases. The first switch of the session records the user's own
  // settings first. When the local relay stands in for the row, the setting
  // names the relay and the proxy in use is still the row (what the views
  // show and check).
  bool Use(core::RowId row);
  // Goes direct ("不使用ip"): the proxy is turned off, its server text stays.
  bool UseNone();
  // A new exit per connection ("每个连接换一个IP"): the setting names the local
  // relay, which rotates over the usable rows. Refused, with a message, while
  // the relay does not run.
  bool UseRotation();
  // The rotation goes round `rows` rows now (the tips say so).
  void SetRotationSize(size_t rows);
  // Writes the proxy in use again, as it was taken (the relay's run setting
  // changed whether the relay stands in for it).
  bool Reapply();
  // The exit ("退出程序"): puts back the user's own settings from before the
  // session's first switch (nothing changes when the program switched nothing)
  // and tells the observers which proxy is now in use.
  void RestoreUserProxy();
  const core::ProxyInUse& in_use() const { return in_use_; }
  // How the menu and the tips name the proxy in use; empty when none.
  const std::string& current_proxy() const { return in_use_.text; }

  // Failover, decided in one place (core::DecideFailover): the exit check, the
  // local relay and verification report a failed row here; the row's failure
  // goes into the list, and when the row in use failed with failover on,
  // observers hear OnProxyInUseFailed (automatic switching moves on).
  void SetFailover(bool on) { failover_ = on; }
  bool failover() const { return failover_; }
  void ReportFailure(const core::ProxyFailureReport& report);
  // The relay carried a connection of the proxy in use through row `row`
  // (`label`), because the row in use failed first; observers hear
  // OnCarrierChanged when that changes what the tips say.
  void ReportCarrier(core::RowId row, const std::string& label);
  // The proxy in use as the tips name it: its text, or, while the relay
  // carries its connections through another row, that row first.
  std::string InUseName() const;

  // How the proxy in use has fared lately (the proxy menu's strip): an exit
  // check of a row, or a connection the rotation gave a row.
  void RecordUse(core::UseStripKey key, bool ok) { strip_.Record(key, ok); }
  // The strip's marks for what is in use now ("" when it has none).
  std::string UseMarks() const {
    return strip_.Marks({in_use_.rotation ? core::kNoRow : in_use_.row, in_use_.rotation});
  }

  // The places and carriers automatic switching, failover and the relay's
  // rotation keep to (the user's own choice of a row is never refused).
  const core::PlaceFilter& place_filter() const { return place_filter_; }
  // Puts `filter` in force and saves it; observers hear OnPlaceFilterChanged.
  // A refused write is shown, and the filter still applies for the session.
  // The filter already in force changes nothing.
  void SetPlaceFilter(core::PlaceFilter filter);

  // The ports the program's own relay listens on (this machine): a proxy text
  // naming one of them is refused, and automatic switching and verification
  // pass such rows over.
  void SetRelayPorts(std::vector<uint16_t> ports) { relay_ports_ = std::move(ports); }
  const std::vector<uint16_t>& relay_ports() const { return relay_ports_; }

  // Told after every write of the system proxy; may be null (none).
  void SetRelayGuard(RelayProxyGuard* guard) { relay_guard_ = guard; }

  // A message box over the window that owns the program's message boxes now
  // (the first observer that names one), or over none.
  int Ask(std::string_view text, std::string_view caption, UINT type);

 private:
  // core::ProxyListObserver
  void OnRowsAppended(size_t first, size_t count) override;
  void OnRowChanged(size_t row) override;
  void OnRowsReset() override;
  void OnFavoritesChanged() override;
  void OnSelectionChanged() override;

  const AppPlatform& platform_;
  SystemProxyPlace place_;
  UserProxySettings user_settings_;
  RelayProxyGuard* relay_guard_ = nullptr;
  // Writes `proxy` into the system setting; see Use.
  bool Apply(core::ProxyInUse proxy);
  // The proxy in use changed: the stand-in first, then every observer.
  void TellProxyChanged();

  core::ProxyList list_;
  AppEvents events_;
  core::ProxyInUse in_use_;
  bool failover_ = false;
  core::PlaceFilter place_filter_;
  core::RowId carrier_ = core::kNoRow;
  std::string carrier_label_;
  core::UseStrip strip_;
  SystemProxyStandIn* stand_in_ = nullptr;
  std::vector<uint16_t> relay_ports_;
};

}  // namespace win
