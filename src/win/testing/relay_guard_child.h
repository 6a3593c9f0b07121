// The guard process tests run relaymoth_win_tests.exe again in one of two
// roles, on registry keys the test names (never the program's own):
//   --relay-guard-child PROXYKEY PROFILEKEY
//       points the system proxy at PROXYKEY to the relay port of PROFILEKEY's
//       "Local Relay" section, arms a RelayProxyGuard with a real guard
//       process, prints the guard's process id, then waits: killed, it leaves
//       the setting to the guard; at the end of its standard input it ends as
//       the program does (RestoreAtExit).
//   --relay-guard-test PROXYKEY PROFILEKEY --guard PID STARTED
//       the guard process itself (RunRelayGuard).
#pragma once

#include <string>

namespace win {

inline constexpr const char* kRelayGuardChildSwitch = "--relay-guard-child";

// Runs the role the words name and returns its exit code; -1 when they name none.
int RunRelayGuardTestRole(int argc, char** argv);

// The test program's own path.
std::wstring TestProgramPath();

}  // namespace win
