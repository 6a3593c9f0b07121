#include "win/ui/browser_watch_window.h"

#include <string>

#include "win/platform/wide_text.h"

namespace win {
namespace {

// The longest class name and title read; the decision needs the class name
// whole and only the first characters of the title.
constexpr int kTextChars = 1024;

}  // namespace

core::ForegroundWindowFacts WindowFacts(HWND window, std::span<const HWND> own_windows) {
  core::ForegroundWindowFacts facts;
  if (window == nullptr) return facts;
  facts.exists = true;
  for (HWND own : own_windows) {
    if (own != nullptr && own == window) facts.is_own_window = true;
  }
  wchar_t text[kTextChars] = {};
  int n = GetClassNameW(window, text, kTextChars);
  if (n > 0) facts.class_name = WideToUtf8(std::wstring_view(text, size_t(n)));
  // A window that is gone, or refuses, reads as having no title; an empty
  // title is a title.
  SetLastError(ERROR_SUCCESS);
  n = GetWindowTextW(window, text, kTextChars);
  if (n > 0) {
    facts.title = WideToUtf8(std::wstring_view(text, size_t(n)));
  } else if (GetLastError() == ERROR_SUCCESS && IsWindow(window)) {
    facts.title = std::string();
  }
  return facts;
}

core::ForegroundWindowFacts ForegroundFacts(std::span<const HWND> own_windows) {
  return WindowFacts(GetForegroundWindow(), own_windows);
}

void ApplyWatchWindowChange(HWND window, core::WatchWindowChange change) {
  constexpr UINT kKeep = SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE;
  switch (change) {
    case core::WatchWindowChange::kHideNotTopmost:
      SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, kKeep | SWP_HIDEWINDOW);
      break;
    case core::WatchWindowChange::kShowTopmost:
      SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, kKeep | SWP_SHOWWINDOW);
      break;
    case core::WatchWindowChange::kNone:
      break;
  }
}

bool RunBrowserWatchTick(HWND window, bool only_with_browser, std::span<const HWND> own_windows,
                         bool* hidden_by_watch) {
  // With the option off nothing about the foreground window matters.
  core::ForegroundWindowFacts facts =
      only_with_browser ? ForegroundFacts(own_windows) : core::ForegroundWindowFacts{};
  core::WatchStep step =
      core::WatchForegroundBrowser(only_with_browser, facts, IsWindowVisible(window) != FALSE);
  ApplyWatchWindowChange(window, step.visibility.change);
  *hidden_by_watch = step.visibility.hidden_by_watch;
  return step.reported;
}

void HideIfShownAgainstWatch(HWND window, bool hidden_by_watch) {
  if (window != nullptr && IsWindow(window) &&
      core::HideOnFramePaint(hidden_by_watch, IsWindowVisible(window) != FALSE)) {
    ShowWindow(window, SW_HIDE);
  }
}

}  // namespace win
