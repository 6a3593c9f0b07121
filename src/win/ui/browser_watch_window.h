// The browser watch's Win32 side: the facts about the foreground window that
// core::WatchForegroundBrowser decides on, and the floating window's change
// applied. The floating window calls these on its 100 ms watch timer and in
// its frame-paint handling. UI thread only.
#pragma once

#include <windows.h>

#include <span>

#include "core/app/browser_watch.h"

namespace win {

// The period of the floating window's watch timer.
inline constexpr UINT kBrowserWatchPeriodMs = 100;

// Facts about `window` (null: there is no foreground window): whether it is
// one of `own_windows` (null entries are ignored), its class name and its
// title as UTF-8 (nullopt when they cannot be read).
core::ForegroundWindowFacts WindowFacts(HWND window, std::span<const HWND> own_windows);
// WindowFacts of the desktop's foreground window.
core::ForegroundWindowFacts ForegroundFacts(std::span<const HWND> own_windows);

// Hides `window` out of the topmost band, or shows it into it, without
// activating, moving or sizing it; kNone does nothing.
void ApplyWatchWindowChange(HWND window, core::WatchWindowChange change);

// One watch tick for `window`: gathers the facts, decides and applies the
// change, and updates `*hidden_by_watch`. Returns what WatchForegroundBrowser
// reports (a browser is in front).
bool RunBrowserWatchTick(HWND window, bool only_with_browser, std::span<const HWND> own_windows,
                         bool* hidden_by_watch);

// The frame-paint guard, for the window's WM_NCPAINT before default handling:
// a window the watch hid that something else has shown is hidden again.
void HideIfShownAgainstWatch(HWND window, bool hidden_by_watch);

}  // namespace win
