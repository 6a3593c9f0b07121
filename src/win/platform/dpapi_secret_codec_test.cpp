#include "win/platform/dpapi_secret_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace win {
namespace {

TEST(DpapiSecretCodecTest, SealsAndOpensAndRefusesWhatItDidNotSeal) {
  DpapiSecretCodec codec;
  const std::string plains[] = {
      "1.2.3.4:1080\nuser\npassword",
      std::string("\0\n\xFF", 3),
      std::string(3000, 'p'),
  };
  for (const std::string& plain : plains) {
    std::optional<std::string> sealed = codec.Protect(plain);
    ASSERT_TRUE(sealed) << plain.size();
    EXPECT_EQ(sealed->find(plain), std::string::npos) << plain.size();
    std::optional<std::string> opened = codec.Unprotect(*sealed);
    ASSERT_TRUE(opened) << plain.size();
    EXPECT_EQ(*opened, plain);

    // Cut short, or with a byte of the sealed text changed: refused, never a crash.
    EXPECT_FALSE(codec.Unprotect(sealed->substr(0, sealed->size() / 2))) << plain.size();
    std::string flipped = *sealed;
    flipped[flipped.size() - 25] ^= 0x5A;
    std::optional<std::string> damaged = codec.Unprotect(flipped);
    EXPECT_TRUE(!damaged || *damaged != plain) << plain.size();
  }
  EXPECT_FALSE(codec.Unprotect(""));
  EXPECT_FALSE(codec.Unprotect("not a sealed blob at all, just text"));
  EXPECT_FALSE(codec.Unprotect(std::string(200, '\0')));
}

}  // namespace
}  // namespace win
