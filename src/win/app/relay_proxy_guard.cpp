#include "win/app/relay_proxy_guard.h"

#include <utility>

#include "win/platform/guard_process.h"
#include "win/platform/registry.h"
#include "win/platform/relay_crash_restore.h"

namespace win {
namespace {

struct SettingText {
  std::string server;
  std::string enable;
};

SettingText ReadSetting(const SystemProxyPlace& place) {
  return {ReadRegistryText(place.root, place.key, "ProxyServer"),
          ReadRegistryText(place.root, place.key, "ProxyEnable")};
}

std::string ReadRecord(core::ProfileStore& profile) {
  return profile.ReadText(core::kLocalRelaySection, core::kRelayRecordValue, "");
}

void DropRecord(core::ProfileStore& profile) {
  // A record that stays behind is harmless: the next start, the end and the
  // guard drop it when the setting no longer points at the relay.
  profile.DeleteValue(core::kLocalRelaySection, core::kRelayRecordValue).Ignore();
}

uint16_t RelayPort(core::ProfileStore& profile) {
  return core::RelayPortOf(
      profile.ReadInt(core::kLocalRelaySection, core::kLocalRelayPortValue, 0));
}

}  // namespace

RelayRepair RepairRelaySetting(core::ProfileStore& profile, const SystemProxyPlace& place) {
  SettingText now = ReadSetting(place);
  core::RelayRepairPlan plan = core::PlanRelayRepair(ReadRecord(profile), now.server, now.enable);
  RelayRepair repair{plan.step, std::move(plan.error), WinStatus::Ok()};
  switch (plan.step) {
    case core::RepairStep::kNone:
    case core::RepairStep::kRefuse:
      break;
    case core::RepairStep::kForget:
      DropRecord(profile);
      break;
    case core::RepairStep::kRestore:
      repair.written = UserProxySettings::FromSaved(plan.record.before).Restore(place);
      // A refused write keeps the record: the next start tries again.
      if (repair.written.ok()) DropRecord(profile);
      break;
  }
  return repair;
}

RelayProxyGuard::RelayProxyGuard(core::ProfileStore& profile, SystemProxyPlace place,
                                 GuardLauncher launcher, bool crash_restore)
    : profile_(profile),
      place_(std::move(place)),
      launcher_(std::move(launcher)),
      crash_restore_(crash_restore) {}

RelayProxyGuard::~RelayProxyGuard() {
  if (crash_restore_) DisarmCrashRestore();
}

RelayRepair RelayProxyGuard::RepairAtStart() {
  RelayRepair repair = RepairRelaySetting(profile_, place_);
  SettingText now = ReadSetting(place_);
  repair.left_on_relay = core::PointsAtRelay(now.server, now.enable, RelayPort(profile_));
  // A setting still pointing at the relay (its record was refused) is not
  // one to go back to.
  if (!repair.left_on_relay) before_.Record(place_);
  return repair;
}

uint16_t RelayProxyGuard::Port() const {
  return relay_port_ != 0 ? relay_port_ : RelayPort(profile_);
}

core::WriteStatus RelayProxyGuard::BeforeRelayWrite(uint16_t port) {
  relay_port_ = port;
  return Guard("127.0.0.1:" + std::to_string(port), "1", port);
}

core::WriteStatus RelayProxyGuard::AfterSystemProxyWrite() {
  uint16_t port = Port();
  SettingText now = ReadSetting(place_);
  if (core::PointsAtRelay(now.server, now.enable, port)) return Guard(now.server, now.enable, port);
  // The write went elsewhere (or was refused before it named the relay).
  if (core::RecordStepAfterWrite(now.server, now.enable, port, ReadRecord(profile_)) ==
      core::RecordStep::kClear) {
    DropRecord(profile_);
  }
  if (crash_restore_) DisarmCrashRestore();
  before_.Record(place_);
  return core::WriteStatus::Ok();
}

core::WriteStatus RelayProxyGuard::Guard(std::string_view server, std::string_view enable,
                                         uint16_t port) {
  std::string record_text = ReadRecord(profile_);
  core::RecordStep step = core::RecordStepAfterWrite(server, enable, port, record_text);
  core::RelayRecord record;
  if (step == core::RecordStep::kWrite) {
    // Without a setting from before (the start did not run) there is nothing
    // to go back to.
    if (!before_.recorded()) return core::WriteStatus::Ok();
    record.before = before_.Saved();
  } else {
    std::string error;
    core::DecodeRelayRecord(record_text, &record, &error);
  }
  record.port = port;
  if (step != core::RecordStep::kKeep) {
    core::WriteStatus written = profile_.WriteText(
        core::kLocalRelaySection, core::kRelayRecordValue, core::EncodeRelayRecord(record));
    if (!written) return written;
  }
  if (crash_restore_) ArmCrashRestore(record, place_);
  StartGuardOnce();
  return core::WriteStatus::Ok();
}

void RelayProxyGuard::RestoreAtExit() {
  RepairRelaySetting(profile_, place_);
  if (crash_restore_) DisarmCrashRestore();
}

void RelayProxyGuard::StartGuardOnce() {
  if (guard_ && WaitForSingleObject(guard_.get(), 0) == WAIT_TIMEOUT) return;
  if (launcher_) guard_ = launcher_();
}

int RunRelayGuard(const core::GuardCommand& command, core::ProfileStore& profile,
                  const SystemProxyPlace& place, const wchar_t* running_mutex) {
  WaitForGuardedProcess(command);
  if (running_mutex != nullptr) {
    // A copy started since repairs at its own start.
    UniqueKernelHandle running(OpenMutexW(SYNCHRONIZE, FALSE, running_mutex));
    if (running) return 0;
  }
  RelayRepair repair = RepairRelaySetting(profile, place);
  if (repair.step == core::RepairStep::kRefuse) return 1;
  return repair.written.ok() ? 0 : 2;
}

}  // namespace win
