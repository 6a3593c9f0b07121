#include "core/proxylist/place_filter.h"

#include <gtest/gtest.h>

#include "core/proxylist/proxy_list.h"

namespace core {
namespace {

TEST(PlaceFilterTest, PlacesReadFromEveryKindOfLocationText) {
  const struct {
    const char* text;
    const char* province;
    const char* city;
    const char* carrier;
  } cases[] = {
      {"中国 广东广州 电信", "广东", "广州", "电信"},
      {"广东省广州市 电信", "广东", "广州", "电信"},
      {"中国 北京 联通", "北京", "", "联通"},
      {"新疆维吾尔自治区乌鲁木齐市 移动", "新疆", "乌鲁木齐", "移动"},
      {"中国 内蒙古呼和浩特 电信", "内蒙古", "呼和浩特", "电信"},
      {"<保留ip>中国 浙江杭州 阿里云", "浙江", "杭州", "阿里云"},
      {"美国", "美国", "", ""},
      {"美国 加利福尼亚州", "美国", "", ""},
      {"家里", "家里", "", ""},
      {"", "", "", ""},
      {"中国", "", "", ""},
  };
  for (const auto& c : cases) {
    Place p = PlaceOfLocation(c.text);
    EXPECT_EQ(p.province, c.province) << c.text;
    EXPECT_EQ(p.city, c.city) << c.text;
    EXPECT_EQ(p.carrier, c.carrier) << c.text;
  }
}

TEST(PlaceFilterTest, TickedPlacesAndTheirExclusion) {
  using K = PlaceKind;
  const PlaceEntry gd{K::kProvince, "广东"}, bj{K::kProvince, "北京"}, gz{K::kCity, "广州"},
      ct{K::kCarrier, "电信"};
  const struct {
    PlaceFilter filter;
    const char* location;
    bool passes;
  } cases[] = {
      {{}, "", true},
      {{{gd}}, "中国 广东广州 电信", true},
      {{{gd}}, "中国 北京 电信", false},
      {{{gd}}, "", false},
      // Within a kind any ticked one; across kinds each.
      {{{gd, bj}}, "中国 北京 联通", true},
      {{{gd, ct}}, "中国 广东深圳 电信", true},
      {{{gd, ct}}, "中国 广东深圳 移动", false},
      {{{gd, ct}}, "中国 北京 电信", false},
      // "Not my own city".
      {{{gz}, true}, "中国 广东广州 电信", false},
      {{{gz}, true}, "中国 广东深圳 电信", true},
      {{{gz}, true}, "", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RowPasses(c.filter, c.location), c.passes)
        << PlaceFilterText(c.filter) << " / " << c.location;
  }
}

TEST(PlaceFilterTest, CountsAndTheProfile) {
  ProxyList list;
  for (const char* line : {"1.1.1.1:80$中国 广东广州 电信", "1.1.1.2:80$中国 广东深圳 电信",
                           "1.1.1.3:80$中国 北京 联通", "1.1.1.4:80"}) {
    ASSERT_EQ(list.AddProxy(line, false), AddResult::kAdded);
  }
  std::vector<PlaceCount> counts = CountPlaces(list);
  ASSERT_EQ(counts.size(), 6u);
  EXPECT_EQ(counts[0].place.name, "广东");
  EXPECT_EQ(counts[0].rows, 2);
  EXPECT_EQ(counts[2].place.kind, PlaceKind::kCity);
  EXPECT_EQ(counts[4].place.name, "电信");
  EXPECT_EQ(PlaceCaptionNote(counts, {}, 4), "  地区: 广东 2, 北京 1");

  // The dialog's choices: the census, ticked as the filter says, then the
  // places the filter names that no row has.
  PlaceFilter gd_mobile{{{PlaceKind::kProvince, "广东"}, {PlaceKind::kCarrier, "移动"}}};
  std::vector<PlaceChoice> choices = PlaceChoices(counts, gd_mobile);
  ASSERT_EQ(choices.size(), 7u);
  EXPECT_TRUE(choices[0].ticked);
  EXPECT_FALSE(choices[1].ticked);
  EXPECT_EQ(choices[6].place, gd_mobile.entries[1]);
  EXPECT_EQ(choices[6].rows, 0);
  EXPECT_EQ(CountPassingRows(list, {{gd_mobile.entries[0]}}), 2u);
  EXPECT_EQ(PlaceCaptionNote(counts, gd_mobile, CountPassingRows(list, gd_mobile)),
            "  符合地区（广东 移动）: 0");

  // Names typed on a command line take their kind from the rows: "广东省,电信"
  // is a province and a carrier, "深圳市" a city; a name no row has is set aside.
  std::vector<std::string> unplaced;
  PlaceFilter typed =
      PlaceFilterOfNames({"广东省", " 电信", "深圳市", "西藏", "广东"}, counts, false, &unplaced);
  EXPECT_EQ(PlaceFilterText(typed), PlaceFilterText(PlaceFilter{{{PlaceKind::kProvince, "广东"},
                                                                 {PlaceKind::kCarrier, "电信"},
                                                                 {PlaceKind::kCity, "深圳"}}}));
  EXPECT_EQ(unplaced, std::vector<std::string>{"西藏"});
  EXPECT_EQ(CountPassingRows(list, typed), 1u);

  MemoryProfileStore store;
  PlaceFilter filter{{{PlaceKind::kCity, "广州"}, {PlaceKind::kCarrier, "电信"}}, true};
  ASSERT_TRUE(SavePlaceFilter(filter, store));
  EXPECT_EQ(LoadPlaceFilter(store), filter);
  // A damaged value is skipped; the rest still reads.
  ASSERT_TRUE(store.WriteText(kPlaceFilterSection, "Place_0", "X:?"));
  EXPECT_EQ(LoadPlaceFilter(store).entries.size(), 1u);
  store.set_read_only(true);
  EXPECT_FALSE(SavePlaceFilter(filter, store));
}

}  // namespace
}  // namespace core
