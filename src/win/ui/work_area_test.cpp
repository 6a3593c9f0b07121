#include "win/ui/work_area.h"

#include <gtest/gtest.h>

namespace win {
namespace {

TEST(PlaceBesideTest, MovesOffTheWindowToKeepClear) {
  const RECT area{0, 0, 1280, 1000};
  struct Case {
    const char* name;
    RECT r;
    RECT clear;
    RECT placed;
  };
  const Case cases[] = {
      {"apart: unmoved", {100, 100, 500, 400}, {700, 50, 733, 83}, {100, 100, 500, 400}},
      {"covering: to its left", {500, 40, 1100, 640}, {730, 38, 763, 71}, {122, 40, 722, 640}},
      {"no room on the left: to its right",
       {0, 40, 600, 640}, {100, 38, 133, 71}, {141, 40, 741, 640}},
      {"no room on either side: below, slid inside",
       {0, 0, 1280, 600}, {600, 10, 633, 43}, {0, 51, 1280, 651}},
      {"no room below: above",
       {0, 500, 1280, 960}, {600, 950, 633, 983}, {0, 482, 1280, 942}},
      {"nowhere to go: unmoved", {0, 0, 1280, 1000}, {600, 500, 633, 533}, {0, 0, 1280, 1000}},
  };
  for (const Case& c : cases) {
    RECT got = PlaceBeside(c.r, c.clear, area);
    EXPECT_EQ(got.left, c.placed.left) << c.name;
    EXPECT_EQ(got.top, c.placed.top) << c.name;
    EXPECT_EQ(got.right - got.left, c.r.right - c.r.left) << c.name;
    EXPECT_EQ(got.bottom - got.top, c.r.bottom - c.r.top) << c.name;
  }
}

}  // namespace
}  // namespace win
