#include "core/sysproxy/use_strip.h"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(UseStripTest, KeepsTheLatestOutcomesOfOneThing) {
  const UseStripKey a{RowId(7)}, b{RowId(8)}, rotation{kNoRow, true};
  UseStrip strip;
  EXPECT_EQ(strip.Marks(a), "");
  strip.Record(a, true);
  strip.Record(a, false);
  EXPECT_EQ(strip.Marks(a), "+-");
  EXPECT_EQ(strip.Marks(b), "");  // about another row: nothing to show
  // Past the length the oldest outcomes fall off.
  for (int i = 0; i < 25; ++i) strip.Record(a, i % 5 != 0);
  EXPECT_EQ(strip.Marks(a), "-++++-++++-++++-++++");
  EXPECT_EQ(UseStripText(strip.Marks(a), false), "最近 20 次出口检测：16 次成功");
  // Another row, or the rotation, starts over.
  strip.Record(rotation, false);
  EXPECT_EQ(strip.Marks(rotation), "-");
  EXPECT_EQ(strip.Marks(a), "");
  EXPECT_EQ(UseStripText("-", true), "最近 1 个连接：0 个成功");
}

}  // namespace
}  // namespace core
