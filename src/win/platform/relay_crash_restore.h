// The last resort of a crashing process: the system proxy setting from before
// the local relay took it, prepared while the program runs so that putting it
// back needs next to no memory and no stack, and the handlers that put it back
// (an unhandled exception on any thread, std::terminate). Arm and disarm on
// the UI thread; the handlers run on the crashing thread, at most once.
#pragma once

#include "core/sysproxy/relay_record.h"
#include "win/platform/system_proxy.h"

namespace win {

// Prepares `record.before` to be put back at `place` should the process crash
// while the system proxy there points at the relay on `record.port`. Replaces
// whatever was armed before.
void ArmCrashRestore(const core::RelayRecord& record, const SystemProxyPlace& place);
void DisarmCrashRestore();

// The handlers' work, once: when armed and the setting at the armed place
// still points at the relay, puts the recorded setting back (each connection,
// then the two values exactly as they were) and returns true. Either way it
// disarms. The record in the profile stays: the guard process or the next
// start finds the setting no longer pointing at the relay and drops it.
bool RunCrashRestore();

// Installs the handlers; the program's start calls it once.
void InstallCrashRestoreHandlers();

}  // namespace win
