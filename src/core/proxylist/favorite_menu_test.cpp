#include "core/proxylist/favorite_menu.h"

#include <gtest/gtest.h>

#include "core/proxylist/drop_intake.h"

namespace core {
namespace {

// What choosing entry `n` switches to, as the row's proxy text.
std::string ChosenText(const ProxyList& list, const std::vector<FavoriteMenuEntry>& entries,
                       size_t n) {
  std::optional<size_t> at = list.IndexOf(entries.at(n).row);
  return at ? list.RowProxyText(int64_t(*at)) : "";
}

TEST(FavoriteMenuTest, TickedRowsInListOrderWithLocationsAndTheCheckMark) {
  ProxyList list;
  ASSERT_EQ(list.AddProxy("1.1.1.1:80", true), AddResult::kAdded);
  ASSERT_EQ(list.AddProxy("2.2.2.2:80", false), AddResult::kAdded);
  ASSERT_EQ(list.AddProxy("Proxy.Example:8080$北京", true), AddResult::kAdded);
  list.SetReserved(1, true);  // reserving ticks it
  std::vector<FavoriteMenuEntry> entries = FavoriteMenuEntries(list, list.IdAt(2));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].label, "1.1.1.1:80");
  EXPECT_FALSE(entries[0].checked);
  EXPECT_EQ(entries[1].label, "2.2.2.2:80(<保留ip>)");
  EXPECT_EQ(entries[2].label, "Proxy.Example:8080(北京)");
  EXPECT_TRUE(entries[2].checked);
  // Chosen after the list was sorted, an entry still switches to its own row.
  list.SortListColumn(kColAddress, 0);
  EXPECT_EQ(ChosenText(list, entries, 1), "2.2.2.2:80");
}

TEST(FavoriteMenuTest, LabelsNameTypesOnOneAddressAndRowsOutsideThePlaces) {
  const struct {
    std::vector<std::string> lines;  // all ticked
    std::vector<std::string> labels;
    PlaceFilter places = {};
  } cases[] = {
      {{"1.2.3.4:80", "1.2.3.4:80@HTTP"}, {"1.2.3.4:80", "1.2.3.4:80@HTTP"}},
      {{"h.example:1080@SOCKS5$x", "H.Example:1080@HTTPS"},
       {"h.example:1080@SOCKS5(x)", "H.Example:1080@HTTPS"}},
      {{"1.2.3.4:80@HTTP", "1.2.3.4:81@HTTP"}, {"1.2.3.4:80", "1.2.3.4:81"}},
      {{"gw:80:s-1:pw@SOCKS5", "gw:80:s-2:pw@SOCKS5", "gw:81:s-1:pw"},
       {"gw:80@SOCKS5 [s-1]", "gw:80@SOCKS5 [s-2]", "gw:81 [s-1]"}},
      {{"1.1.1.1:80$广东 电信", "2.2.2.2:80$北京", "3.3.3.3:80"},
       {"1.1.1.1:80(广东 电信)", "2.2.2.2:80(北京)（不在所选地区）", "3.3.3.3:80（不在所选地区）"},
       {{{PlaceKind::kProvince, "广东"}}}},
  };
  for (const auto& c : cases) {
    ProxyList list;
    for (const std::string& line : c.lines) ASSERT_EQ(list.AddProxy(line, true), AddResult::kAdded);
    std::vector<std::string> labels;
    for (const FavoriteMenuEntry& e : FavoriteMenuEntries(list, kNoRow, c.places)) {
      labels.push_back(e.label);
    }
    EXPECT_EQ(labels, c.labels) << c.lines[0];
  }
}

TEST(FavoriteMenuTest, SocksRowsAreAppliedAsSocksAndStayChecked) {
  ProxyList list;
  ASSERT_EQ(list.AddProxy("1.1.1.1:1080@SOCKS5", true), AddResult::kAdded);
  ASSERT_EQ(list.AddProxy("2.2.2.2:443@HTTPS", true), AddResult::kAdded);
  ASSERT_EQ(list.AddProxy("3.3.3.3:1080@socks4", true), AddResult::kAdded);
  // What choosing an entry applies: SOCKS rows with their type (the system
  // proxy becomes socks=host:port), every other row as plain host:port.
  std::vector<FavoriteMenuEntry> entries = FavoriteMenuEntries(list, list.IdAt(0));
  EXPECT_EQ(ChosenText(list, entries, 0), "1.1.1.1:1080@SOCKS5");
  EXPECT_EQ(ChosenText(list, entries, 1), "2.2.2.2:443");
  EXPECT_EQ(ChosenText(list, entries, 2), "3.3.3.3:1080@SOCKS4");
  EXPECT_TRUE(entries[0].checked);
  EXPECT_FALSE(entries[1].checked);
  EXPECT_TRUE(FavoriteMenuEntries(list, list.IdAt(1))[1].checked);
}

TEST(FavoriteMenuTest, AtMostFiftyEntriesAndTextsOutsideGiveEmpty) {
  ProxyList list;
  for (int i = 0; i < 60; ++i) {
    ASSERT_EQ(list.AddProxy("10.0.0." + std::to_string(i) + ":80", i % 2 == 0 || i > 20), AddResult::kAdded);
  }
  std::vector<FavoriteMenuEntry> entries = FavoriteMenuEntries(list, kNoRow);
  ASSERT_EQ(entries.size(), 50u);
  EXPECT_EQ(ChosenText(list, entries, 0), "10.0.0.0:80");
  EXPECT_EQ(ChosenText(list, entries, 49), entries.back().label);
  ProxyList none;
  ASSERT_EQ(none.AddProxy("1.1.1.1:1", false), AddResult::kAdded);
  EXPECT_TRUE(FavoriteMenuEntries(none, kNoRow).empty());
}

struct DropCase {
  const char* name;
  const char* text;
  int total, added, duplicates, errors;
};

TEST(DropIntakeTest, CountsEachNonBlankLine) {
  const DropCase cases[] = {
      {"good, duplicate, word", "5.5.5.5:80\n1.1.1.1:80\nhello", 3, 1, 1, 1},
      {"CR LF ends", "5.5.5.5:80\r\n1.1.1.1:80\r\nhello\r\n", 3, 1, 1, 1},
      {"blank lines", "\n   \n5.5.5.5:80\n\t\n", 1, 1, 0, 0},
      {"one line without end", "6.6.6.6:8080", 1, 1, 0, 0},
      {"nothing", " \r\n \n", 0, 0, 0, 0},
      {"empty", "", 0, 0, 0, 0},
  };
  for (const DropCase& c : cases) {
    ProxyList list;
    ASSERT_EQ(list.AddProxy("1.1.1.1:80", true), AddResult::kAdded);
    DropSummary s = AddDroppedText(list, c.text);
    EXPECT_EQ(s.total, c.total) << c.name;
    EXPECT_EQ(s.added, c.added) << c.name;
    EXPECT_EQ(s.duplicates, c.duplicates) << c.name;
    EXPECT_EQ(s.errors, c.errors) << c.name;
    EXPECT_EQ(list.size(), size_t(1 + c.added)) << c.name;
    if (c.added > 0) {
      EXPECT_FALSE(list.row(list.size() - 1).favorite) << c.name;
      EXPECT_TRUE(list.row(list.size() - 1).selected) << c.name;
    }
  }
}

TEST(DropIntakeTest, TextWithoutProxyLinesGoesThroughTheExtractor) {
  ProxyList list;
  ASSERT_EQ(list.AddProxy("1.1.1.1:80", true), AddResult::kAdded);
  DropSummary s = AddDroppedText(list, "可用代理：\nhttp://5.5.5.5:8080 and socks5://6.6.6.6:1080\n"
                                       "1.1.1.1 80\n");
  EXPECT_EQ(s.added, 2);
  EXPECT_EQ(s.duplicates, 1);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list.RowFullLine(2), "6.6.6.6:1080@SOCKS5");
  EXPECT_EQ(s.message.rfind("拖动进来的文字不是ip数据列表，从中找到3个代理地址\n", 0), 0u) << s.message;
  // One good line is enough: the rest are counted as errors, as always (a proxy
  // URL is a proxy line of its own, a URL of another scheme is not).
  DropSummary mixed = AddDroppedText(list, "7.7.7.7:80\nhttp://8.8.8.8:80\nftp://9.9.9.9:21\n");
  EXPECT_EQ(mixed.added, 2);
  EXPECT_EQ(mixed.errors, 1);
}

TEST(DropIntakeTest, SummaryTextIsExact) {
  ProxyList list;
  ASSERT_EQ(list.AddProxy("1.1.1.1:80", false), AddResult::kAdded);
  DropSummary s = AddDroppedText(list, "5.5.5.5:80\n1.1.1.1:80\nword");
  EXPECT_EQ(s.message,
            "拖动进来的代理共3条，其中\n  成功加入：  1条\n  重复项目：  1条\n  错误项目：  1条");
  EXPECT_EQ(s.caption, "添加结果");
}

}  // namespace
}  // namespace core
