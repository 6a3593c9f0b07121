#include "core/app/browser_watch.h"

#include "core/base/text.h"

namespace core {

bool IsBrowserInForeground(const ForegroundWindowFacts& fg) {
  if (!fg.exists) return false;
  if (fg.is_own_window) return true;
  if (fg.class_name) {
    for (std::string_view name : kBrowserClasses) {
      if (name == kNoMoreBrowsers) break;
      if (name == *fg.class_name) return true;
    }
  }
  // The prefix is ASCII, so comparing the first bytes of the UTF-8 title is
  // comparing its first characters; a shorter title never matches.
  return fg.title && StartsWithIgnoreAsciiCase(*fg.title, kBrowserTitlePrefix);
}

WatchVisibility ApplyWatchVisibility(bool hide, bool window_visible) {
  WatchVisibility v;
  v.hidden_by_watch = hide;
  if (hide && window_visible) v.change = WatchWindowChange::kHideNotTopmost;
  if (!hide && !window_visible) v.change = WatchWindowChange::kShowTopmost;
  return v;
}

WatchStep WatchForegroundBrowser(bool only_with_browser, const ForegroundWindowFacts& fg,
                                 bool window_visible) {
  WatchStep s;
  if (!only_with_browser) {
    s.visibility = ApplyWatchVisibility(false, window_visible);
    return s;
  }
  s.reported = IsBrowserInForeground(fg);
  s.visibility = ApplyWatchVisibility(!s.reported, window_visible);
  return s;
}

}  // namespace core
