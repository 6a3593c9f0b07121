#include "core/proxylist/country_names.h"

#include <gtest/gtest.h>

#include <string>

#include "core/base/codepage.h"

namespace core {
namespace {

TEST(CutToGbkBytesTest, CutsAtCharacterBoundaries) {
  struct Case {
    const char* text;
    size_t max;
    const char* cut;
  };
  const Case cases[] = {
      {"中国", 4, "中国"},
      {"中国", 3, "中"},
      {"中国", 1, ""},
      {"a中b", 3, "a中"},
      {"a中b", 2, "a"},
      {"\xF0\x9F\x98\x80x", 2, "\xF0\x9F\x98\x80x"},  // no GBK form: one '?'
      {"ab\xE4\xB8", 4, "ab\xE4\xB8"},                // cut short UTF-8 stays whole
      {"", 5, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CutToGbkBytes(c.text, c.max), c.cut) << c.text << " to " << c.max;
  }
}

TEST(FitCountryNameTest, LongNamesMoveToTheArea) {
  struct Case {
    const char* code;
    const char* full;
    const char* common;
    CountryText fitted;
  };
  const std::string long_area = std::string(30, 'x') + "一二三四五六七八九十";  // 50 bytes
  const Case cases[] = {
      {"CN", "中国", "", {"中国", ""}},
      {"XX", "六个汉字国家", "", {"六个汉字国家", ""}},    // 12 bytes
      {"XX", "六个汉字国家a", "", {"六个汉字国家a", ""}},  // 13 bytes
      {"BA", "波斯尼亚和黑塞哥维那", "", {"波黑", "波斯尼亚和黑塞哥维那"}},
      // The builder's own short name wins over the catalogue's common name.
      {"BO", "玻利维亚共和国", "波利维亚", {"玻利维亚", "玻利维亚共和国"}},
      {"IR", "伊朗伊斯兰共和国", "伊朗", {"伊朗", "伊朗伊斯兰共和国"}},
      {"YY", "七个汉字的国家", "也是七个汉字的", {"七个汉字的国", "七个汉字的国家"}},
      {"YY",
       long_area.c_str(),
       "",
       {std::string(13, 'x'), long_area.substr(0, 30) + "一二三四五六七八"}},
  };
  for (const Case& c : cases) {
    const CountryText t = FitCountryName(c.code, c.full, c.common);
    EXPECT_EQ(t, c.fitted) << c.code << " " << c.full << " | got " << t.country << " / " << t.area;
    EXPECT_LE(core::Utf8ToGbk(t.country).size(), kCountryRoom) << c.full;
    EXPECT_LE(core::Utf8ToGbk(t.area).size(), kAreaRoom) << c.full;
  }
}

TEST(CountryTextsTest, TranslatesIsoEntriesAndKnowsOtherCodes) {
  const std::string json = R"({"3166-1": [
      {"alpha_2": "US", "name": "United States"},
      {"alpha_2": "IR", "name": "Iran, Islamic Republic of", "common_name": "Iran"},
      {"alpha_2": "LA", "name": "Lao People's Democratic Republic", "common_name": "Laos"},
      {"alpha_2": "ZZ", "name": "Nowhere"}]})";
  std::string error;
  auto countries = ReadIsoCountries(json, &error);
  ASSERT_TRUE(countries) << error;
  const MoCatalog zh = {{"United States", "美国"},
                        {"Iran, Islamic Republic of", "伊朗伊斯兰共和国"},
                        {"Iran", "伊朗"},
                        {"Lao People's Democratic Republic", "老挝人民民主共和国"}};
  const auto texts = BuildCountryTexts(*countries, zh);
  struct Case {
    const char* code;
    CountryText text;
  };
  const Case cases[] = {
      {"US", {"美国", ""}},
      {"IR", {"伊朗", "伊朗伊斯兰共和国"}},
      // An untranslated common name would mix English into a Chinese column.
      {"LA", {"老挝人民民主", "老挝人民民主共和国"}},
      {"ZZ", {"Nowhere", ""}},
      {"EU", {"欧洲", ""}},
      {"CS", {"塞黑", "塞尔维亚和黑山"}},
  };
  for (const Case& c : cases) {
    auto it = texts.find(c.code);
    ASSERT_NE(it, texts.end()) << c.code;
    EXPECT_EQ(it->second, c.text) << c.code << ": " << it->second.country << " / "
                                  << it->second.area;
  }
  EXPECT_EQ(texts.count("??"), 0u);
  EXPECT_EQ(CanonicalCode("UK"), "GB");
  EXPECT_EQ(CanonicalCode("US"), "US");
}

TEST(CountryTextsTest, RefusesOtherShapes) {
  const char* const cases[] = {
      "[]",
      R"({"3166-1": {}})",
      R"({"3166-1": [{"name": "No code"}]})",
      R"({"3166-1": [{"alpha_2": "USA", "name": "Too long a code"}]})",
      R"({"3166-1": [{"alpha_2": "US"}]})",
  };
  for (const char* json : cases) {
    std::string error;
    EXPECT_FALSE(ReadIsoCountries(json, &error)) << json;
  }
}

}  // namespace
}  // namespace core
