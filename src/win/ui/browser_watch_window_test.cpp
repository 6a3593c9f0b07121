// The browser watch against real windows: a window of a browser's class, a
// plain window, a browser by title and one of the program's own windows
// brought to the foreground, and what the watch tick does to a floating window.
#include "win/ui/browser_watch_window.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "win/platform/wide_text.h"

namespace win {
namespace {

HWND MakeWindow(const wchar_t* class_name, const std::string& title, DWORD ex_style = 0) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = class_name;
  RegisterClassW(&wc);  // already registered by an earlier test: fine
  return CreateWindowExW(ex_style, class_name, Utf8ToWide(title).c_str(), WS_POPUP | WS_CAPTION, 40,
                         40, 200, 120, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

bool Topmost(HWND window) { return (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

class BrowserWatchWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    floating_ = MakeWindow(L"RelaymothWatchFloating", "", WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
    browser_ = MakeWindow(L"IEFrame", "Internet Explorer");
    editor_ = MakeWindow(L"RelaymothWatchPlain", "记事本");
    by_title_ = MakeWindow(L"RelaymothWatchPlain", "myIE2 - 首页");
    main_dialog_ = MakeWindow(L"RelaymothWatchPlain", "紫晶梨自动换IP软件");
    for (HWND w : {floating_, browser_, editor_, by_title_, main_dialog_}) {
      ASSERT_NE(w, nullptr);
    }
    ShowWindow(floating_, SW_SHOWNA);
  }
  void TearDown() override {
    for (HWND w : {floating_, browser_, editor_, by_title_, main_dialog_}) DestroyWindow(w);
  }

  void BringToFront(HWND w) {
    ShowWindow(w, SW_SHOW);
    SetForegroundWindow(w);
    ASSERT_EQ(GetForegroundWindow(), w);
  }

  HWND floating_ = nullptr, browser_ = nullptr, editor_ = nullptr, by_title_ = nullptr,
       main_dialog_ = nullptr;
};

TEST_F(BrowserWatchWindowTest, ForegroundWindowDecidesTheFloatingWindow) {
  const HWND own[] = {floating_, main_dialog_, nullptr};
  struct Case {
    const char* name;
    HWND front;
    bool option;
    bool visible;
  } cases[] = {
      {"browser class", browser_, true, true},
      {"text editor", editor_, true, false},
      {"browser by title", by_title_, true, true},
      {"text editor again", editor_, true, false},
      {"text editor, option off: shown again", editor_, false, true},
      {"text editor, option on", editor_, true, false},
      {"own main dialog", main_dialog_, true, true},
  };
  for (const Case& c : cases) {
    BringToFront(c.front);
    bool hidden_by_watch = !c.visible;  // the opposite, so that the tick must set it
    RunBrowserWatchTick(floating_, c.option, own, &hidden_by_watch);
    EXPECT_EQ(IsWindowVisible(floating_) != FALSE, c.visible) << c.name;
    EXPECT_EQ(Topmost(floating_), c.visible) << c.name;
    EXPECT_EQ(hidden_by_watch, !c.visible) << c.name;
  }
}

TEST_F(BrowserWatchWindowTest, FactsOfTheForegroundWindow) {
  const HWND own[] = {main_dialog_};
  BringToFront(editor_);
  core::ForegroundWindowFacts facts = ForegroundFacts(own);
  EXPECT_TRUE(facts.exists);
  EXPECT_FALSE(facts.is_own_window);
  EXPECT_EQ(facts.class_name.value_or("?"), "RelaymothWatchPlain");
  EXPECT_EQ(facts.title.value_or("?"), "记事本");

  BringToFront(main_dialog_);
  EXPECT_TRUE(ForegroundFacts(own).is_own_window);

  // A window that has gone yields nothing to read.
  HWND gone = MakeWindow(L"IEFrame", "x");
  DestroyWindow(gone);
  facts = WindowFacts(gone, own);
  EXPECT_FALSE(facts.class_name.has_value());
  EXPECT_FALSE(facts.title.has_value());
}

}  // namespace
}  // namespace win
