// ProxySwitcherApp: start and end of relaymoth.exe. It makes sure one copy runs
// (the named mutex "程序已经运行"), prepares OLE, builds the real profile,
// prompt and location database, creates the FloatingWindow and runs the message
// loop. UI thread only. The same program file is also the guard process.
#pragma once

#include <windows.h>

#include "core/app/guard_command.h"

namespace win {

// The mutex every copy of the program tries to create.
inline constexpr const wchar_t* kSingleInstanceMutex =
    L"\u7a0b\u5e8f\u5df2\u7ecf\u8fd0\u884c";  // 程序已经运行

// The exit code of a start that could not go on (OLE or the program's window
// refused); the reason has been told on standard error and in a message box.
inline constexpr int kStartFailedExitCode = 3;

class ProxySwitcherApp {
 public:
  explicit ProxySwitcherApp(HINSTANCE instance) : instance_(instance) {}
  // Runs the program; returns the process exit code (0 after a normal close; a
  // second copy returns 0 at once without showing anything;
  // kStartFailedExitCode when the start failed).
  int Run();

 private:
  HINSTANCE instance_;
};

// relaymoth.exe started as "--guard PID STARTED": the guard of that copy, with
// the program's profile and the machine's proxy setting; no window and no
// single-copy check. Returns the process exit code (see RunRelayGuard).
int RunProgramGuard(const core::GuardCommand& command);

}  // namespace win
