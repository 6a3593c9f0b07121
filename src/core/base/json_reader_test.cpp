#include "core/base/json_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace core {
namespace {

TEST(JsonReaderTest, ReadsStringsObjectsAndArrays) {
  const std::string text = R"( {"a": "x\"y\\z\/\n", "list": [1, -2.5e3, true, false, null, {}],
      "u": "\u4e2d\u56FD", "pair": "\ud83d\ude00", "lone": "\ud800x", "raw": "Åland"} )";
  std::string error;
  auto v = ParseJson(text, &error);
  ASSERT_TRUE(v) << error;
  EXPECT_EQ(v->StringOr("a", "?"), "x\"y\\z/\n");
  EXPECT_EQ(v->StringOr("u", "?"), "中国");
  EXPECT_EQ(v->StringOr("pair", "?"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(v->StringOr("lone", "?"), "\xEF\xBF\xBDx");
  EXPECT_EQ(v->StringOr("raw", "?"), "Åland");
  EXPECT_EQ(v->StringOr("missing", "?"), "?");
  const JsonValue* list = v->Find("list");
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->items.size(), 6u);
  EXPECT_EQ(list->items[1].text, "-2.5e3");
  EXPECT_TRUE(list->items[2].boolean);
  EXPECT_EQ(list->items[4].kind, JsonValue::Kind::kNull);
  EXPECT_EQ(list->items[5].kind, JsonValue::Kind::kObject);
}

TEST(JsonReaderTest, RefusesMalformedDocuments) {
  const std::string cases[] = {
      "",
      "{",
      "[1,]",
      "{\"a\" 1}",
      "{\"a\":1,}",
      "{a:1}",
      "\"unterminated",
      "\"bad \\x escape\"",
      "\"short \\u12\"",
      "\"tab\tinside\"",
      "tru",
      "-",
      "1 2",
      std::string(65, '[') + std::string(65, ']'),
  };
  for (const std::string& text : cases) {
    std::string error;
    EXPECT_FALSE(ParseJson(text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  std::string error;
  EXPECT_TRUE(ParseJson(std::string(64, '[') + std::string(64, ']'), &error)) << error;
}

}  // namespace
}  // namespace core
