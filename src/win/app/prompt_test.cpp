// The real message box of DesktopPrompt, answered from inside its modal loop by
// a thread timer that reads its caption and presses its button.
#include "win/app/prompt.h"

#include <gtest/gtest.h>

#include <string>

#include "win/platform/wide_text.h"
#include "win/testing/dialog_driver.h"

namespace win {
namespace {

std::wstring g_caption;

TEST(DesktopPromptTest, ABoxWithoutCaptionCarriesTheProgramTitle) {
  struct Case {
    const char* caption;
    const wchar_t* shown;
  };
  const Case cases[] = {{"", L"紫晶梨自动换IP软件"}, {"添加结果", L"添加结果"}};
  for (const Case& c : cases) {
    g_caption.clear();
    ModalDriver::DriveWhenOpen(
        [](HWND hwnd) {
          wchar_t cls[32] = {};
          GetClassNameW(hwnd, cls, 32);
          return std::wstring(cls) == L"#32770" && IsWindowVisible(hwnd);
        },
        [](HWND box) {
          wchar_t caption[128] = {};
          GetWindowTextW(box, caption, 128);
          g_caption = caption;
          PostMessageW(box, WM_COMMAND, IDOK, 0);
        },
        30);
    DesktopPrompt prompt;
    EXPECT_EQ(prompt.Ask(nullptr, "text", c.caption, MB_OK), IDOK);
    EXPECT_EQ(g_caption, c.shown) << c.caption;
  }
}

}  // namespace
}  // namespace win
