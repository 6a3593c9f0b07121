// ProxySwitcherApp: start and end of relaymoth.exe. It makes sure one copy runs
// (the named mutex "程序已经运行"), prepares OLE, builds the real profile,
// prompt and location database, creates the FloatingWindow and runs the message
// loop. UI thread only.
#pragma once

#include <windows.h>

namespace win {

// The mutex every copy of the program tries to create.
inline constexpr const wchar_t* kSingleInstanceMutex =
    L"\u7a0b\u5e8f\u5df2\u7ecf\u8fd0\u884c";  // 程序已经运行

class ProxySwitcherApp {
 public:
  explicit ProxySwitcherApp(HINSTANCE instance) : instance_(instance) {}
  // Runs the program; returns the process exit code (0 after a normal close; a
  // second copy returns 0 at once without showing anything).
  int Run();

 private:
  HINSTANCE instance_;
};

}  // namespace win
