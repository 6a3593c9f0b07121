#include "win/platform/message_window.h"

#include <gtest/gtest.h>

#include <vector>

namespace win {
namespace {

constexpr UINT kHandled = WM_APP + 1;
constexpr UINT kLeft = WM_APP + 2;

TEST(MessageWindowTest, HandsMessagesToItsFunctionAndGoesWithTheObject) {
  std::vector<UINT> seen;
  HWND hwnd = nullptr;
  {
    MessageWindow window([&](UINT msg, WPARAM, LPARAM) {
      if (msg == kHandled || msg == kLeft) seen.push_back(msg);
      return msg == kHandled;
    });
    ASSERT_TRUE(window.Create(L"RelaymothMessageWindowTest"));
    hwnd = window.hwnd();
    // A message-only window: never a child of the desktop.
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_NE(GetAncestor(hwnd, GA_PARENT), GetDesktopWindow());
    SendMessageW(hwnd, kHandled, 0, 0);
    // Unhandled messages reach DefWindowProc, which answers WM_GETTEXTLENGTH.
    EXPECT_EQ(SendMessageW(hwnd, kLeft, 0, 0), 0);
    EXPECT_EQ(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0), 0);
    // A second Create on the same object is refused.
    EXPECT_FALSE(window.Create(L"RelaymothMessageWindowTest"));
    // A second object of the same class works beside it.
    MessageWindow other([](UINT, WPARAM, LPARAM) { return false; });
    EXPECT_TRUE(other.Create(L"RelaymothMessageWindowTest"));
    EXPECT_NE(other.hwnd(), hwnd);
  }
  EXPECT_EQ(seen, (std::vector<UINT>{kHandled, kLeft}));
  EXPECT_FALSE(IsWindow(hwnd));
}

TEST(MessageWindowTest, AWindowDestroyedFromOutsideIsForgotten) {
  MessageWindow window([](UINT, WPARAM, LPARAM) { return false; });
  ASSERT_NE(CreateMessageWindow(window, L"RelaymothMessageWindowTest2"), nullptr);
  DestroyWindow(window.hwnd());
  EXPECT_EQ(window.hwnd(), nullptr);  // the destructor has nothing left to destroy
}

}  // namespace
}  // namespace win
