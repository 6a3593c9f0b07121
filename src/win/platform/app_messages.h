// The program's own window messages, all in one block above WM_APP: none can
// meet a system, dialog or control message (the WM_USER range belongs to each
// window class), nor another of the program's. Work for a thread from other
// threads, and timers, go through the thread's dispatcher (dispatcher.h), not
// through messages of their own; what is left here is the tray icon's
// callback, the dispatcher's own wake-up and the test programs' range. Any
// thread may post them.
#pragma once

#include <windows.h>

namespace win {

inline constexpr UINT kAppMessageFirst = WM_APP + 0x100;

// The tray icon's mouse messages (the icon's callback message).
inline constexpr UINT WM_TRAY_NOTIFY = kAppMessageFirst + 10;
// The thread's dispatcher has posted functions to run (Dispatcher): wParam
// and lParam 0.
inline constexpr UINT WM_DISPATCH = kAppMessageFirst + 14;
// Free for test programs and benchmarks of their own.
inline constexpr UINT WM_TEST_FIRST = kAppMessageFirst + 0x80;

inline constexpr UINT kAppMessageLast = WM_TEST_FIRST + 0x7F;
static_assert(kAppMessageLast < 0xC000, "registered messages start at 0xC000");

}  // namespace win
