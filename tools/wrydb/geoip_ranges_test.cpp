#include "wrydb/geoip_ranges.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wrydb {
namespace {

TEST(ParseGeoipTest, ReadsRangesAndSkipsComments) {
  const std::string text =
      "# header comment\n"
      "\n"
      "16777216,16777471,AU\r\n"
      "  # indented comment\n"
      "16777472,16778239,CN\n"
      "0,0,??\n"
      "4294967295,4294967295,A1";  // no final newline
  std::string error;
  auto ranges = ParseGeoip(text, &error);
  ASSERT_TRUE(ranges) << error;
  const std::vector<GeoRange> expected = {{16777216, 16777471, "AU"},
                                          {16777472, 16778239, "CN"},
                                          {0, 0, "??"},
                                          {4294967295, 4294967295, "A1"}};
  EXPECT_EQ(*ranges, expected);
}

TEST(ParseGeoipTest, RefusesMalformedLines) {
  const char* const lines[] = {
      "1,2",    "1,2,USA",  "1,2,us", "1,2,",  "2,1,US",  "4294967296,4294967296,US",
      "a,2,US", "-1,2,US",  ",2,US",  "1,,US", "1 ,2,US", "99999999999999999999,1,US",
      "1,2,U",  "1,2,US,x",
  };
  for (const char* line : lines) {
    std::string error;
    EXPECT_FALSE(ParseGeoip(std::string("# ok\n1,1,US\n") + line + "\n", &error)) << line;
    EXPECT_NE(error.find("line 3"), std::string::npos) << line << ": " << error;
  }
}

struct MergeCase {
  const char* what;
  std::vector<GeoRange> in;
  std::vector<GeoRange> out;
};

TEST(MergeRangesTest, JoinsTouchingRangesOfOneCountry) {
  const MergeCase cases[] = {
      {"empty", {}, {}},
      {"touching, same code", {{0, 9, "US"}, {10, 19, "US"}, {20, 29, "US"}}, {{0, 29, "US"}}},
      {"touching, other code", {{0, 9, "US"}, {10, 19, "CA"}}, {{0, 9, "US"}, {10, 19, "CA"}}},
      {"gap, same code", {{0, 9, "US"}, {11, 19, "US"}}, {{0, 9, "US"}, {11, 19, "US"}}},
      {"unsorted input",
       {{10, 19, "US"}, {0, 9, "US"}, {30, 39, "CN"}},
       {{0, 19, "US"}, {30, 39, "CN"}}},
      {"run broken by another country",
       {{0, 9, "US"}, {10, 10, "CA"}, {11, 19, "US"}},
       {{0, 9, "US"}, {10, 10, "CA"}, {11, 19, "US"}}},
      {"whole address space",
       {{0, 0x7FFFFFFF, "US"}, {0x80000000, 0xFFFFFFFF, "US"}},
       {{0, 0xFFFFFFFF, "US"}}},
  };
  for (const MergeCase& c : cases) {
    std::string error;
    auto merged = MergeRanges(c.in, &error);
    ASSERT_TRUE(merged) << c.what << ": " << error;
    EXPECT_EQ(*merged, c.out) << c.what;
  }
}

TEST(MergeRangesTest, RefusesOverlaps) {
  const MergeCase cases[] = {
      {"shared address", {{0, 10, "US"}, {10, 19, "US"}}, {}},
      {"same start", {{5, 9, "US"}, {5, 6, "CA"}}, {}},
      {"contained", {{0, 100, "US"}, {50, 60, "US"}}, {}},
      {"after a range ending at the top",
       {{0xFFFFFF00, 0xFFFFFFFF, "US"}, {0xFFFFFFFF, 0xFFFFFFFF, "US"}},
       {}},
  };
  for (const MergeCase& c : cases) {
    std::string error;
    EXPECT_FALSE(MergeRanges(c.in, &error)) << c.what;
    EXPECT_NE(error.find("overlap"), std::string::npos) << c.what << ": " << error;
  }
}

}  // namespace
}  // namespace wrydb
