// What the Windows tests share about the local test servers that ./test starts
// (their ports reach the tests as RELAYMOTH_TEST_<NAME>_PORT, set by
// scripts/verify-servers.sh) and about waiting for the UI thread's messages
// with a deadline. Test code only; UI thread.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace win {

// The port of test server NAME ("WEB", "PROXY", "DEAD" …); empty when the
// servers are not running (a bare run of the test program).
inline std::string TestPort(const char* name) {
  std::string var = std::string("RELAYMOTH_TEST_") + name + "_PORT";
  const char* value = std::getenv(var.c_str());
  return value ? value : "";
}

inline std::string TestUrl(const char* server, const std::string& path) {
  return "http://127.0.0.1:" + TestPort(server) + path;
}

// Skips the test when one of the named servers is not running.
#define REQUIRE_TEST_PORTS(...)                                      \
  for (const char* name_ : {__VA_ARGS__}) {                          \
    if (::win::TestPort(name_).empty())                              \
      GTEST_SKIP() << "RELAYMOTH_TEST_" << name_ << "_PORT unset";   \
  }

// Runs the UI thread's messages until `done` holds; false after `timeout_ms`.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms = 20000) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (GetTickCount() - start > timeout_ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// Runs the UI thread's messages for `ms` milliseconds.
inline void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

}  // namespace win
