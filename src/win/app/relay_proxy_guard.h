// RelayProxyGuard: a system proxy that points at the program's local relay
// never outlives the program. After each write of the system proxy (the
// Switcher tells it) it keeps, in the profile's "Local Relay" section, the
// setting from before the relay took the system proxy, starts the guard
// process that puts it back should the program be killed, and arms the crash
// handler; the program's end puts it back, and the next start repairs a
// setting left pointing at the relay. The record and the guard process come
// before the write that points the setting at the relay, so that a kill at any
// point leaves either the setting from before or a record that puts it back.
// Owned by AppServices; UI thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "core/app/guard_command.h"
#include "core/base/profile_store.h"
#include "core/sysproxy/relay_record.h"
#include "win/platform/system_proxy.h"
#include "win/platform/unique_handle.h"
#include "win/platform/win_status.h"

namespace win {

// What was done with a record found in the profile.
struct RelayRepair {
  core::RepairStep step = core::RepairStep::kNone;
  std::string error;  // kRefuse: why the record cannot be used
  WinStatus written;  // kRestore: the first refused registry write
  // RepairAtStart: the setting points at the relay's port afterwards (a
  // refused record then leaves the machine without a working proxy).
  bool left_on_relay = false;
};

// Puts the setting at `place` back from the record in `profile` when it still
// points at the relay, then drops the record; a setting changed since stays
// and only the record goes; a damaged record is refused and nothing is
// written. The start, the end and the guard process all come here.
RelayRepair RepairRelaySetting(core::ProfileStore& profile, const SystemProxyPlace& place);

class RelayProxyGuard {
 public:
  // Starts the guard process for this process; returns its handle, or none.
  using GuardLauncher = std::function<UniqueKernelHandle()>;

  // `profile` must outlive the guard. `launcher` may be empty (no guard
  // process). With `crash_restore` the guard arms the process's crash
  // handler (one guard per process does).
  RelayProxyGuard(core::ProfileStore& profile, SystemProxyPlace place, GuardLauncher launcher,
                  bool crash_restore);
  ~RelayProxyGuard();
  RelayProxyGuard(const RelayProxyGuard&) = delete;
  RelayProxyGuard& operator=(const RelayProxyGuard&) = delete;

  // The start, before the system proxy is read into the list: repairs a
  // setting left pointing at the relay, then takes the setting in force as
  // the one a switch to the relay would replace (unless it still points at
  // the relay: see RelayRepair::left_on_relay).
  RelayRepair RepairAtStart();
  // Before the program points the system proxy at the relay on `port`: the
  // record (the setting from before the relay took it; one already there
  // stays, moved to `port`), the guard process (one at most) and the crash
  // handler. Fails with the profile's reason when the record could not be
  // written: the setting must then not name the relay. Without a setting from
  // before (the start did not run) nothing is recorded.
  core::WriteStatus BeforeRelayWrite(uint16_t port);
  // After the program wrote the system proxy (or put the user's settings
  // back): a setting that points at the relay keeps (or gets) its record, the
  // guard process and the crash handler, as above; any other setting drops
  // the record and becomes the one a later switch to the relay would replace.
  core::WriteStatus AfterSystemProxyWrite();
  // The program's end (closing, the exit command, logging off).
  void RestoreAtExit();

  // The guard process started last; null when none was.
  HANDLE guard_process() const { return guard_.get(); }

 private:
  void StartGuardOnce();
  // Record, guard process and crash handler for a setting that points (or is
  // about to point) at the relay on `port`.
  core::WriteStatus Guard(std::string_view server, std::string_view enable, uint16_t port);
  // The relay's port: the one named last by BeforeRelayWrite, else the profile's.
  uint16_t Port() const;

  core::ProfileStore& profile_;
  SystemProxyPlace place_;
  GuardLauncher launcher_;
  bool crash_restore_;
  // The setting after the last write that did not point at the relay (or at
  // the start); not recorded while the setting points at the relay.
  UserProxySettings before_;
  UniqueKernelHandle guard_;
  uint16_t relay_port_ = 0;
};

// The guard process's life: waits for the process `command` names to end,
// then, unless another copy of the program runs (`running_mutex`, may be
// null), repairs the setting at `place` from `profile`. Returns the process
// exit code: 0 when nothing was left to do or the setting was put back, 1 when
// the record was damaged, 2 when a registry write was refused.
int RunRelayGuard(const core::GuardCommand& command, core::ProfileStore& profile,
                  const SystemProxyPlace& place, const wchar_t* running_mutex);

}  // namespace win
