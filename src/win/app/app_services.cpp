#include "win/app/app_services.h"

#include <utility>
#include <vector>

namespace win {

AppServices::AppServices(AppParts parts)
    : platform_(std::move(parts.platform)),
      clock_(parts.verify.clock),
      relay_guard_(*platform_.profile, parts.proxy_place, std::move(parts.start_guard),
                   parts.crash_restore),
      switcher_(platform_, std::move(parts.proxy_place), parts.locator,
                std::move(parts.locator_batch)),
      verify_(switcher_, platform_, std::move(parts.verify)),
      exit_check_(switcher_, platform_, *clock_, parts.make_exit_fetcher, parts.locator),
      auto_switch_(switcher_, std::move(parts.cleanup)),
      imports_(switcher_, platform_, std::move(parts.locate_rows)),
      downloads_(switcher_, platform_, imports_, std::move(parts.download_job),
                 std::move(parts.download_path)),
      run_settings_(platform_, switcher_.events()),
      relay_(switcher_, platform_, run_settings_),
      list_save_(switcher_, platform_, *clock_) {
  switcher_.SetRelayGuard(&relay_guard_);
}

AppServices::~AppServices() { switcher_.SetRelayGuard(nullptr); }

void AppServices::Start() {
  // Before anything reads the system proxy: a setting left pointing at the
  // relay of a copy that ended without putting it back.
  RelayRepair repair = relay_guard_.RepairAtStart();
  if (repair.step == core::RepairStep::kRefuse && repair.left_on_relay) {
    switcher_.Ask(std::string(core::kRelayRecordDamaged) + "\n(" + repair.error + ")",
                  core::kSystemProxyErrorCaption, MB_OK | MB_ICONWARNING);
  }
  run_settings_.Load();
  relay_.Start();
  // A row naming the relay itself would have it carry every connection to
  // itself: switching refuses it and verification fails it without a try.
  if (relay_.port() != 0) {
    const std::vector<uint16_t> relay_ports = {relay_.port()};
    switcher_.SetRelayPorts(relay_ports);
    auto_switch_.SetRelayPorts(relay_ports);
    verify_.scheduler().SetRelayPorts(relay_ports);
  }
  switcher_.Start();
  if (!verify_.sites_note().message.empty()) {
    switcher_.Ask(verify_.sites_note().message, "读取验证站点", MB_OK | MB_ICONWARNING);
  }
  list_save_.Start();
  downloads_.Start();
}

}  // namespace win
