// The browser watch: with "only visible when using a browser" on, the floating
// window is shown while a web browser or one of the program's own windows is in
// the foreground and hidden otherwise. Pure decisions over the facts the window
// gathers on its 100 ms timer; the window owns its hidden-by-watch flag and
// makes the calls. Any thread (no state).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace core {

// Window classes of the browsers the watch knows, tested in this order, exact
// and case-sensitive. The list ends with kNoMoreBrowsers, which is a marker and
// never compared with a class name.
inline constexpr std::string_view kNoMoreBrowsers = "<NoMoreBrowsers>";
inline constexpr std::string_view kBrowserClasses[] = {
    "IEFrame", "TfrmMain", "Afx:400000:8:10011:0:4940301", "OpWindow", kNoMoreBrowsers};
// A window whose title begins with this, in any letter case, is a browser too.
inline constexpr std::string_view kBrowserTitlePrefix = "MyIE";

// What the window learned about the foreground window.
struct ForegroundWindowFacts {
  bool exists = false;  // there is a foreground window at all
  // The floating window, the main dialog, the download progress and download
  // settings dialogs or the verify settings dialog (not the run settings
  // dialog or the about box).
  bool is_own_window = false;
  std::optional<std::string> class_name;  // nullopt: it could not be read
  std::optional<std::string> title;       // nullopt: it could not be read
};

// Whether the foreground window counts as a browser: one of the program's own
// windows, a window of a known browser class, or a title beginning with
// kBrowserTitlePrefix ignoring case. No foreground window is no browser.
bool IsBrowserInForeground(const ForegroundWindowFacts& fg);

// What to do with the floating window.
enum class WatchWindowChange {
  kNone,
  kHideNotTopmost,  // out of the topmost band, hidden, not activated, not moved or sized
  kShowTopmost,     // into the topmost band, shown, not activated, not moved or sized
};

struct WatchVisibility {
  bool hidden_by_watch = false;  // the window's flag afterwards
  WatchWindowChange change = WatchWindowChange::kNone;
};

// ApplyWatchVisibility: hiding changes only a visible window and showing only
// an invisible one; the flag follows `hide` in every case.
WatchVisibility ApplyWatchVisibility(bool hide, bool window_visible);

struct WatchStep {
  // What WatchForegroundBrowser returns: a browser is in front. Always false
  // while the option is off, though the window is then kept shown.
  bool reported = false;
  WatchVisibility visibility;
};

// WatchForegroundBrowser, once per tick: with the option off the window is
// always shown (also when something else hid it); with it on, it is shown
// exactly while IsBrowserInForeground holds.
WatchStep WatchForegroundBrowser(bool only_with_browser, const ForegroundWindowFacts& fg,
                                 bool window_visible);

// The frame-paint guard: a window the watch hid that has been shown by anything
// else is hidden again at its next frame paint.
constexpr bool HideOnFramePaint(bool hidden_by_watch, bool window_visible) {
  return hidden_by_watch && window_visible;
}

}  // namespace core
