#include "win/app/main_window.h"

#include <gtest/gtest.h>

#include <string>

#include "win/ui/message_loop.h"

namespace win {
namespace {

constexpr int kGuardExitCode = 99;
constexpr UINT kGuardMilliseconds = 10000;

// Ends a message loop that the code under test failed to end.
void CALLBACK GuardTimer(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(kGuardExitCode); }

std::wstring WindowText(HWND hwnd) {
  wchar_t buffer[256] = {};
  int length = GetWindowTextW(hwnd, buffer, 256);
  return std::wstring(buffer, length > 0 ? length : 0);
}

// The real main window, created exactly as wWinMain creates it.
class MainWindowTest : public testing::Test {
 protected:
  MainWindow window_{GetModuleHandleW(nullptr)};
};

TEST_F(MainWindowTest, OpensVisibleWithTheChineseTitle) {
  ASSERT_TRUE(window_.Create(SW_SHOWNORMAL)) << "error " << GetLastError();
  HWND hwnd = window_.hwnd();
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_EQ(WindowText(hwnd), L"紫晶梨自动换IP软件");
  EXPECT_EQ(GetWindowTextLengthW(hwnd), 10);

  wchar_t class_name[64] = {};
  GetClassNameW(hwnd, class_name, 64);
  EXPECT_STREQ(class_name, MainWindow::kClassName);
  EXPECT_EQ(GetParent(hwnd), nullptr);
  LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_EQ(style & WS_SYSMENU, WS_SYSMENU);
}

TEST_F(MainWindowTest, CarriesTheProgramIcon) {
  ASSERT_TRUE(window_.Create(SW_HIDE));
  EXPECT_NE(GetClassLongPtrW(window_.hwnd(), GCLP_HICON), 0);
  EXPECT_NE(GetClassLongPtrW(window_.hwnd(), GCLP_HICONSM), 0);
}

TEST_F(MainWindowTest, CloseDestroysTheWindowAndEndsTheLoopWithZero) {
  ASSERT_TRUE(window_.Create(SW_SHOWNORMAL));
  HWND hwnd = window_.hwnd();
  UINT_PTR guard = SetTimer(nullptr, 0, kGuardMilliseconds, &GuardTimer);
  ASSERT_NE(guard, 0u);
  // What the close box and Alt+F4 send.
  PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  int exit_code = RunMessageLoop();
  KillTimer(nullptr, guard);
  EXPECT_EQ(exit_code, 0) << (exit_code == kGuardExitCode ? "the loop did not end" : "");
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(window_.hwnd(), nullptr);
}

TEST_F(MainWindowTest, WmCloseAloneEndsTheLoop) {
  ASSERT_TRUE(window_.Create(SW_SHOWNORMAL));
  HWND hwnd = window_.hwnd();
  UINT_PTR guard = SetTimer(nullptr, 0, kGuardMilliseconds, &GuardTimer);
  PostMessageW(hwnd, WM_CLOSE, 0, 0);
  int exit_code = RunMessageLoop();
  KillTimer(nullptr, guard);
  EXPECT_EQ(exit_code, 0);
  EXPECT_FALSE(IsWindow(hwnd));
}

}  // namespace
}  // namespace win
