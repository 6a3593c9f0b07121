#include "win/ui/message_loop.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "win/res/resource.h"

namespace win {
namespace {

UINT g_delivered = 0;

LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_APP) {
    ++g_delivered;
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

TEST(MessageLoopTest, ReturnsTheQuitCode) {
  PostQuitMessage(42);
  EXPECT_EQ(RunMessageLoop(), 42);
}

TEST(MessageLoopTest, DispatchesQueuedMessagesBeforeQuitting) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &CountingProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"RelaymothLoopProbe";
  RegisterClassExW(&wc);
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                              wc.hInstance, nullptr);
  ASSERT_NE(hwnd, nullptr) << "error " << GetLastError();
  g_delivered = 0;
  for (int i = 0; i < 3; ++i) PostMessageW(hwnd, WM_APP, 0, 0);
  // WM_QUIT is only retrieved once the queue holds no posted message, so all
  // three are dispatched first.
  PostQuitMessage(7);
  EXPECT_EQ(RunMessageLoop(), 7);
  EXPECT_EQ(g_delivered, 3u);
  DestroyWindow(hwnd);
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT msg, WPARAM, LPARAM) {
  return msg == WM_INITDIALOG ? TRUE : FALSE;
}

TEST(MessageLoopTest, TheActiveOfTwoModelessDialogsGetsTheTabKey) {
  // The about box: three push buttons, the site, the help and IDOK, in tab order.
  HWND first = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), nullptr,
                                  &PlainDialogProc, 0);
  HWND second = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), nullptr,
                                   &PlainDialogProc, 0);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ShowWindow(first, SW_SHOW);
  ShowWindow(second, SW_SHOW);
  SetForegroundWindow(second);
  SetActiveWindow(second);
  ASSERT_EQ(GetActiveWindow(), second);
  SetFocus(GetDlgItem(second, IDC_ABOUT_SITE));
  PostMessageW(GetDlgItem(second, IDC_ABOUT_SITE), WM_KEYDOWN, VK_TAB, 0);
  PostQuitMessage(3);
  EXPECT_EQ(RunDialogMessageLoop(), 3);
  EXPECT_EQ(GetFocus(), GetDlgItem(second, IDC_ABOUT_HELP));

  // Without the dialog loop a Tab to a button moves nothing.
  PostMessageW(GetDlgItem(second, IDC_ABOUT_HELP), WM_KEYDOWN, VK_TAB, 0);
  PostQuitMessage(4);
  EXPECT_EQ(RunMessageLoop(), 4);
  EXPECT_EQ(GetFocus(), GetDlgItem(second, IDC_ABOUT_HELP));
  DestroyWindow(second);
  DestroyWindow(first);
}

}  // namespace
}  // namespace win
