// main() of relaymoth_win_tests: the core tests and the Windows shell tests in one
// console program, run under Wine with an X display (windows need one).
#include <gtest/gtest.h>
#include <windows.h>

#include "win/testing/relay_guard_child.h"

int main(int argc, char** argv) {
  // A crash must end the process with an error, not open a dialog that waits for
  // a click nobody will make on a headless display.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // The guard process tests start this program again in a role of its own.
  if (int code = win::RunRelayGuardTestRole(argc, argv); code >= 0) return code;
  // Test names and failure messages may carry UTF-8 text.
  SetConsoleOutputCP(CP_UTF8);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
