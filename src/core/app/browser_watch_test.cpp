#include "core/app/browser_watch.h"

#include <gtest/gtest.h>

namespace core {
namespace {

using std::nullopt;

TEST(BrowserWatchTest, ForegroundDecisionTable) {
  struct Case {
    const char* name;
    ForegroundWindowFacts fg;
    bool browser;
  };
  const Case cases[] = {
      {"no foreground window", {false, false, nullopt, nullopt}, false},
      {"own window, nothing readable", {true, true, nullopt, nullopt}, true},
      {"own window of a plain class", {true, true, "#32770", "proxy服务器列表"}, true},
      {"IEFrame", {true, false, "IEFrame", "Blank Page"}, true},
      {"TfrmMain", {true, false, "TfrmMain", ""}, true},
      {"Afx class", {true, false, "Afx:400000:8:10011:0:4940301", nullopt}, true},
      {"OpWindow", {true, false, "OpWindow", "x"}, true},
      {"class case matters", {true, false, "ieframe", "Blank Page"}, false},
      {"class prefix is not enough", {true, false, "IEFrame2", ""}, false},
      {"the end marker is no browser", {true, false, "<NoMoreBrowsers>", "Notes"}, false},
      {"plain editor", {true, false, "Notepad", "无标题 - 记事本"}, false},
      {"empty class", {true, false, "", ""}, false},
      {"MyIE title", {true, false, "Notepad", "MyIE2 - home"}, true},
      {"myie in any case", {true, false, "X", "mYiE"}, true},
      {"title with class unreadable", {true, false, nullopt, "MYIE9"}, true},
      {"title too short", {true, false, "X", "MyI"}, false},
      {"MyIE later in the title", {true, false, "X", " MyIE"}, false},
      {"nothing readable", {true, false, nullopt, nullopt}, false},
      {"non-ASCII title", {true, false, "X", "浏览器MyIE"}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsBrowserInForeground(c.fg), c.browser) << c.name;
}

TEST(BrowserWatchTest, VisibilityTable) {
  const ForegroundWindowFacts browser{true, false, "IEFrame", ""};
  const ForegroundWindowFacts editor{true, false, "Notepad", "a.txt"};
  struct Case {
    const char* name;
    bool option;
    const ForegroundWindowFacts* fg;
    bool window_visible;
    bool reported;
    bool hidden_by_watch;
    WatchWindowChange change;
  };
  using W = WatchWindowChange;
  const Case cases[] = {
      {"off, shown: stays", false, &editor, true, false, false, W::kNone},
      {"off, hidden elsewhere: re-shown", false, &editor, false, false, false, W::kShowTopmost},
      {"on, browser, hidden: shown", true, &browser, false, true, false, W::kShowTopmost},
      {"on, browser, shown: stays", true, &browser, true, true, false, W::kNone},
      {"on, editor, shown: hidden", true, &editor, true, false, true, W::kHideNotTopmost},
      {"on, editor, hidden: flag only", true, &editor, false, false, true, W::kNone},
  };
  for (const Case& c : cases) {
    WatchStep s = WatchForegroundBrowser(c.option, *c.fg, c.window_visible);
    EXPECT_EQ(s.reported, c.reported) << c.name;
    EXPECT_EQ(s.visibility.hidden_by_watch, c.hidden_by_watch) << c.name;
    EXPECT_EQ(s.visibility.change, c.change) << c.name;
  }
}

}  // namespace
}  // namespace core
