#include "core/proxylist/natural_compare.h"

#include <gtest/gtest.h>

namespace core {
namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(CompareNaturalTest, Table) {
  struct {
    const char *a, *b;
    int sign;
  } cases[] = {
      {"", "", 0},
      {"", "a", -1},
      {"a", "", 1},
      {"2", "10", -1},              // numbers by value
      {"a2", "a10", -1},
      {"007", "7", 0},              // leading zeros do not count
      {"1.2.3.4", "1.2.3.10", -1},
      {"abc", "ABC", 0},            // letters without case
      {"abc", "abd", -1},
      {"1", "a", -1},               // a number sorts before a character
      {"a", "1", 1},
      {"-a", "a", 0},               // leading punctuation and blanks are skipped
      {"  (x)", "x", 1},            // ...but a trailing ")" is left over
      {"a-b", "ab", 0},
      {"a", "a-", -1},              // a text that ends early sorts first
      {"a-", "a__", 0},             // two leftovers of skipped characters are equal
      {"99999999999999999999999", "100000000000000000000000", -1},  // no overflow
      {"中国", "美国", 1},          // GBK: 中 D6D0 > 美 C3C0
      {"中国", "a", -1},            // lead bytes are negative as signed bytes
      {"北京", "北京 ", -1},         // the text that ends first sorts first
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Sign(CompareNatural(c.a, c.b)), c.sign) << '"' << c.a << "\" vs \"" << c.b << '"';
    EXPECT_EQ(Sign(CompareNatural(c.b, c.a)), -c.sign) << '"' << c.b << "\" vs \"" << c.a << '"';
  }
}

}  // namespace
}  // namespace core
