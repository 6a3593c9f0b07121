#include "win/platform/resources.h"

#include <gtest/gtest.h>

#include "win/res/resource.h"

namespace win {
namespace {

// The test program links relaymoth.rc, like relaymoth.exe.
TEST(LoadResourceStringTest, ReadsChineseTextAsUtf16) {
  // Catches a resource compiled in the wrong code page: the UTF-8 bytes would
  // come back as 27 ANSI characters instead of these ten.
  std::wstring title = LoadResourceString(GetModuleHandleW(nullptr), IDS_APP_TITLE);
  EXPECT_EQ(title, L"\u7d2b\u6676\u68a8\u81ea\u52a8\u6362IP\u8f6f\u4ef6");
  EXPECT_EQ(title.size(), 10u);
}

TEST(LoadResourceStringTest, MissingStringIsEmpty) {
  EXPECT_EQ(LoadResourceString(GetModuleHandleW(nullptr), 0xFFF0), L"");
}

}  // namespace
}  // namespace win
