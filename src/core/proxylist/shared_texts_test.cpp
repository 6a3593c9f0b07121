#include "core/proxylist/shared_texts.h"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(SharedTextsTest, TextsLiveWhileHeldAndTheirPlacesAreReused) {
  SharedTexts texts;
  EXPECT_EQ(texts.Acquire(""), SharedTexts::kEmpty);
  uint32_t a = texts.Acquire("未验证");
  EXPECT_EQ(texts.Acquire("未验证"), a);
  uint32_t b = texts.Acquire("[12] 1.2;0.8;");
  EXPECT_NE(a, b);
  EXPECT_EQ(texts.live(), 2u);
  texts.Release(a);
  EXPECT_EQ(texts.Get(a), "未验证");  // one holder left
  texts.Release(a);
  texts.Release(a);  // released once too often: nothing happens
  texts.Release(SharedTexts::kEmpty);
  EXPECT_EQ(texts.live(), 1u);
  // A run's results replace the last run's: the table does not grow with them.
  uint32_t c = texts.Acquire("验证中...");
  EXPECT_EQ(c, a);
  EXPECT_EQ(texts.Get(c), "验证中...");
  EXPECT_EQ(texts.Get(b), "[12] 1.2;0.8;");
  texts.Clear();
  EXPECT_EQ(texts.live(), 0u);
  EXPECT_EQ(texts.Get(SharedTexts::kEmpty), "");
}

}  // namespace
}  // namespace core
