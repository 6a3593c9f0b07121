#include "win/platform/ansi_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace win {
namespace {

TEST(WindowsAnsiCodecTest, GbkRoundTripsAndReportsLoss) {
  WindowsAnsiCodec gbk(936);
  struct Case {
    const char* utf8;
    bool lossless;
  };
  const Case cases[] = {
      {"1.2.3.4:80$北京 电信", true},
      {"", true},
      {"plain ascii", true},
      {"한국", false},     // Hangul has no GBK form
      {"emoji 😀", false},  // outside the code page
  };
  for (const Case& c : cases) {
    std::string ansi;
    EXPECT_EQ(gbk.FromUtf8(c.utf8, &ansi), c.lossless) << c.utf8;
    if (c.lossless) {
      EXPECT_EQ(gbk.ToUtf8(ansi), c.utf8) << c.utf8;
    }
  }
  std::string ansi;
  ASSERT_TRUE(gbk.FromUtf8("北京", &ansi));
  EXPECT_EQ(ansi, "\xB1\xB1\xBE\xA9");
}

TEST(WindowsAnsiCodecTest, WesternCodePageRefusesChinese) {
  WindowsAnsiCodec western(1252);
  std::string ansi;
  EXPECT_TRUE(western.FromUtf8("café", &ansi));
  EXPECT_EQ(ansi, "caf\xE9");
  EXPECT_FALSE(western.FromUtf8("北京", &ansi));
}

}  // namespace
}  // namespace win
