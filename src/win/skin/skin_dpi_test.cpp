// Scaling of 96-dpi pixel sizes: the sizes the lead scales with it (the list's
// column widths, the floating window's 33 pixels, the caption band).
#include "win/skin/skin_dpi.h"

#include <gtest/gtest.h>

namespace win {
namespace {

TEST(SkinDpiTest, ScalesAndRoundsToTheNearestPixel) {
  struct Case {
    int pixels, dpi, scaled;
  } cases[] = {
      {33, 96, 33},  {33, 120, 41}, {33, 144, 50}, {20, 120, 25}, {20, 144, 30},
      {1, 120, 1},   {1, 144, 2},   {-3, 144, -5}, {120, 192, 240}, {10, 0, 10},
      {10, -96, 10}, {0, 144, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScaleByDpi(c.pixels, c.dpi), c.scaled) << c.pixels << " px at " << c.dpi << " dpi";
  }
}

TEST(SkinDpiTest, WindowlessAndTestDisplayDpi) {
  EXPECT_EQ(DpiOfWindow(nullptr), kBaseDpi);
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_GT(DpiOfWindow(window), 0);
  DestroyWindow(window);
}

}  // namespace
}  // namespace win
