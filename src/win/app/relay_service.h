// RelayService: the local relay of the system proxy. Runs a RelayEngine listening
// on 127.0.0.1 at a port chosen free at the first start and kept in the profile
// ("Local Relay", "Port"; another free port, kept in its place, when it is taken
// at a later start), carries each connection through the proxy in use (then the
// next usable rows when that one fails before answering), and stands in for the
// proxy in the system setting when the setting cannot carry it or the user sends
// every row through the relay. Connection failures reach the UI thread by a
// message to the service's own window and go to the switcher's failover, as
// does a connection carried through another row than the one in use. Built by
// the composition root; UI thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/sysproxy/relay_record.h"
#include "core/sysproxy/rotation.h"
#include "win/app/app_events.h"
#include "win/app/app_platform.h"
#include "win/app/run_settings_holder.h"
#include "win/app/switcher.h"
#include "win/platform/dispatcher.h"
#include "win/platform/relay_engine.h"

namespace win {

class RelayService final : public SystemProxyStandIn, private AppObserver {
 public:
  // The route is built again this long after the list last changed.
  static constexpr UINT kRouteDelayMs = 500;
  // Reports kept for the views, the newest last.
  static constexpr size_t kKeptReports = 32;

  // Registers with the switcher (as its stand-in) and its events.
  RelayService(Switcher& switcher, const AppPlatform& platform,
               const RunSettingsHolder& run_settings);
  ~RelayService() override;
  RelayService(const RelayService&) = delete;
  RelayService& operator=(const RelayService&) = delete;

  // Starts the engine and the listener. False, with error(), when the relay
  // cannot run; every proxy then goes into the setting as it is.
  bool Start();
  uint16_t port() const { return port_; }
  const std::string& error() const { return error_; }
  // "127.0.0.1:port"; empty while the relay is not running.
  std::string address() const;

  // SystemProxyStandIn
  std::string StandInFor(const core::ProxyInUse& proxy) override;
  bool IsStandIn(std::string_view text) const override;
  void OnInUse(const core::ProxyInUse&) override { RebuildRoute(); }

  // What the relay reported, newest last: "1.2.3.4:1080: 代理拒绝连接".
  const std::deque<std::string>& reports() const { return reports_; }
  // The rows the rotation goes round ("每个连接换一个IP"), while it is in use.
  const core::Rotation& rotation() const { return *rotation_; }

  // For tests.
  RelayEngine& engine() { return engine_; }

 private:
  void TakeReports();
  void RebuildRoute();
  void ListChanged();
  // AppObserver
  void OnRunSettingsChanged() override;
  void OnRowsAppended(size_t, size_t) override { ListChanged(); }
  void OnRowChanged(size_t) override { ListChanged(); }
  void OnRowsReset() override { ListChanged(); }
  // The rotation keeps to the places chosen.
  void OnPlaceFilterChanged() override { ListChanged(); }

  Switcher& switcher_;
  const AppPlatform& platform_;
  const RunSettingsHolder& run_settings_;
  Timer route_timer_;
  RelayEngine engine_;
  uint16_t port_ = 0;
  uint16_t kept_port_ = 0;  // the profile's port at start (a setting may still name it)
  std::string error_;
  bool standing_in_ = false;  // the setting names the relay for the proxy in use
  std::deque<std::string> reports_;
  // Shared with the engine thread, which chooses from it for each connection.
  std::shared_ptr<core::Rotation> rotation_ = std::make_shared<core::Rotation>();

  // Shared with the engine thread.
  struct Shared {
    std::mutex mutex;
    std::shared_ptr<const RelayRoute> route;
    std::deque<RelayReport> reports;
  };
  std::shared_ptr<Shared> shared_;
  Inbox inbox_;  // the engine thread's reports
};

}  // namespace win
