#include "core/proxylist/list_sort.h"

#include <gtest/gtest.h>

#include <random>

#include "core/proxylist/natural_compare.h"
#include "core/proxylist/proxy_list.h"

namespace core {
namespace {

struct Row {
  size_t id;
  int32_t score;
  std::string key;
};

// The list's row-by-row ordering, written literally: for each row i, find the
// first earlier row j it beats and move row i there.
std::vector<size_t> InsertionOrder(std::vector<Row> rows, bool by_score, int flag) {
  for (size_t i = 1; i < rows.size(); ++i) {
    const Row& x = rows[i];
    if (by_score && x.score < 0) continue;
    for (size_t j = 0; j < i; ++j) {
      bool moves;
      if (by_score) {
        moves = flag == 1 ? x.score >= rows[j].score : x.score < rows[j].score;
      } else {
        int c = CompareNaturalBytes(x.key, rows[j].key);
        moves = flag == 1 ? c < 0 : c >= 0;
      }
      if (moves) {
        Row moved = rows[i];
        rows.erase(rows.begin() + std::ptrdiff_t(i));
        rows.insert(rows.begin() + std::ptrdiff_t(j), moved);
        break;
      }
    }
  }
  std::vector<size_t> ids;
  for (const Row& r : rows) ids.push_back(r.id);
  return ids;
}

std::string Describe(const std::vector<Row>& rows, bool by_score) {
  std::string s;
  for (const Row& r : rows) s += (by_score ? std::to_string(r.score) : "\"" + r.key + "\"") + " ";
  return s;
}

TEST(ListSortTest, ScoreOrderMatchesInsertionOnRandomLists) {
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    size_t n = rng() % 14;
    int range = 1 + int(rng() % 6);
    std::vector<Row> rows;
    std::vector<int32_t> scores;
    for (size_t i = 0; i < n; ++i) {
      int32_t s = int32_t(rng() % unsigned(range)) - 1;  // -1 (never verified) mixed in
      if (rng() % 7 == 0) s = -1;
      rows.push_back({i, s, ""});
      scores.push_back(s);
    }
    for (int flag : {0, 1}) {
      EXPECT_EQ(ScoreSortOrder(scores, flag), InsertionOrder(rows, true, flag))
          << "flag " << flag << " scores " << Describe(rows, true);
    }
  }
}

TEST(ListSortTest, TextOrderMatchesInsertionOnRandomLists) {
  // Pieces chosen to hit the comparison's corners: digit runs with leading zeros,
  // skipped punctuation, letter case, trailing separators and GBK lead bytes.
  const std::vector<std::string> pieces = {"", "1", "01", "10", "9", "a", "A", "b", "-", "_ ",
                                           " ", "(", ".", "\xD6\xD0", "\xC3\xC0", "x2", "[", "~"};
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    size_t n = rng() % 12;
    std::vector<Row> rows;
    std::vector<std::string> keys;
    for (size_t i = 0; i < n; ++i) {
      std::string key;
      for (size_t k = rng() % 4; k > 0; --k) key += pieces[rng() % pieces.size()];
      rows.push_back({i, 0, key});
      keys.push_back(key);
    }
    for (int flag : {0, 1}) {
      EXPECT_EQ(TextSortOrder(keys, flag), InsertionOrder(rows, false, flag))
          << "flag " << flag << " keys " << Describe(rows, false);
    }
  }
}

TEST(ListSortTest, ListSortKeepsRowStateAndRecordsSortState) {
  ProxyList list;
  list.AddProxy("3.3.3.3:80$北京", true);
  list.AddProxy("1.1.1.1:80$上海", false);
  list.AddProxy("2.2.2.2:80$广州", false);
  list.SetSelected(1, false);
  list.SortListColumn(kColAddress, 1);
  EXPECT_EQ(list.RowHostPort(0), "1.1.1.1:80");
  EXPECT_FALSE(list.row(0).selected);
  EXPECT_EQ(list.RowHostPort(2), "3.3.3.3:80");
  EXPECT_TRUE(list.row(2).favorite);
  EXPECT_EQ(list.sort_state(kColAddress), 1);
  EXPECT_EQ(list.ColumnClickFlag(kColAddress), 0);
  list.SortListColumn(kColAddress, list.ColumnClickFlag(kColAddress));
  EXPECT_EQ(list.RowHostPort(0), "3.3.3.3:80");
  EXPECT_EQ(list.sort_state(kColAddress), 2);
  // Locations sort by their GBK bytes: 北 (B1 B1) < 广 (B9 E3) < 上 (C9 CF).
  list.SortListColumn(kColLocation, 1);
  EXPECT_EQ(list.RowLocation(0), "北京");
  EXPECT_EQ(list.RowLocation(1), "广州");
  EXPECT_EQ(list.RowLocation(2), "上海");
  EXPECT_EQ(list.sort_state(kColAddress), 0);
  EXPECT_EQ(list.sort_state(kColLocation), 1);
}

}  // namespace
}  // namespace core

namespace core {
namespace {

TEST(ListSortTest, ScoreSortOfTheListPutsTheBestFirst) {
  ProxyList list;
  const int32_t scores[] = {-1, 5, 0, 5, 120, -1, 3};
  for (size_t i = 0; i < std::size(scores); ++i) {
    ASSERT_EQ(list.AddProxy("10.0.0." + std::to_string(i) + ":80", false), AddResult::kAdded);
    list.SetVerifyResult(i, "s", "r", scores[i]);
  }
  list.SortListColumn(kColStatus, 1);
  std::string order;
  for (size_t i = 0; i < list.size(); ++i) order += list.RowHostPort(int64_t(i)).substr(7, 1);
  // 120, then the later 5 before the earlier 5, 3, 0, then the unverified rows.
  EXPECT_EQ(order, "4316205");
  EXPECT_EQ(list.row(0).score, 120);
  EXPECT_EQ(list.row(0).status, "s");
}

}  // namespace
}  // namespace core

namespace core {
namespace {

TEST(ListSortTest, ColumnSortOfTheListMatchesTextOrder) {
  // The list ranks dotted addresses, ports and shared texts instead of comparing
  // texts; the order must be the one the texts give. Addresses mix dotted forms
  // (leading zeros, parts past what a rank holds) with names and GBK text.
  const std::vector<std::string> addresses = {
      "1.2.3.4",     "1.02.3.4",    "001.2.3.4",    "1.2.3.40", "10.2.3.4",  "9.255.255.255",
      "65535.1.1.1", "65536.1.1.1", "123456.1.1.1", "1.2.3",    "1.2.3.4.5", "gateway",
      "Gateway2",    "a-b",         "中.1",         "1.2.3.4x", "0.0.0.0"};
  const std::vector<std::string> ports = {"80", "080", "8080", "1", "00001", "65535", "443"};
  const std::vector<std::string> types = {"", "@HTTP", "@socks5", "@FTP", "@GOPHER", "@HTTPS"};
  const std::vector<std::string> remarks = {"", "$北京", "$01", "$1", "$上海 电信", "$a", "$-x"};
  const std::vector<std::string> results = {"", "[1] 10ms", "[01] 2ms", "不可用", "x"};
  std::mt19937 rng(17);
  for (int round = 0; round < 300; ++round) {
    ProxyList list;
    size_t n = rng() % 40;
    for (size_t i = 0; i < n; ++i) {
      std::string line = addresses[rng() % addresses.size()] + ":" + ports[rng() % ports.size()] +
                         types[rng() % types.size()] + remarks[rng() % remarks.size()];
      if (list.AddProxy(line, false) == AddResult::kAdded) {
        list.SetVerifyResult(list.size() - 1, "x", results[rng() % results.size()], 1);
      }
    }
    for (int column : {kColAddress, kColPort, kColType, kColLocation, kColResult}) {
      for (int flag : {0, 1}) {
        std::vector<std::string> lines;
        std::vector<std::string> keys;
        for (size_t i = 0; i < list.size(); ++i) {
          lines.push_back(list.RowFullLine(int64_t(i)));
          keys.push_back(NaturalSortKey(list.row(i).Column(column)));
        }
        std::vector<std::string> expected;
        for (size_t i : TextSortOrder(keys, flag)) expected.push_back(lines[i]);
        list.SortListColumn(column, flag);
        std::vector<std::string> sorted;
        for (size_t i = 0; i < list.size(); ++i) sorted.push_back(list.RowFullLine(int64_t(i)));
        ASSERT_EQ(sorted, expected) << "column " << column << " flag " << flag;
      }
    }
  }
}

TEST(ListSortTest, DottedAddressRanks) {
  struct Case {
    const char* text;
    bool ranked;
  } cases[] = {
      {"1.2.3.4", true},      {"001.002.003.004", true}, {"65535.0.0.65535", true},
      {"65536.0.0.0", false}, {"000001.2.3.4", false},   {"1.2.3", false},
      {"1.2.3.4.", false},    {".1.2.3.4", false},       {"1..2.3", false},
      {"1.2.3.4 ", false},    {"a.b.c.d", false},        {"", false},
  };
  for (const Case& c : cases) {
    uint64_t rank = 0;
    EXPECT_EQ(DottedAddressRank(c.text, &rank), c.ranked) << c.text;
  }
  uint64_t a = 0, b = 0;
  ASSERT_TRUE(DottedAddressRank("1.2.3.4", &a));
  ASSERT_TRUE(DottedAddressRank("01.2.3.04", &b));
  EXPECT_EQ(a, b);  // equal for sorting, as their texts are
}

}  // namespace
}  // namespace core
