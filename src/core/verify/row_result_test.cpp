#include "core/verify/row_result.h"

#include <gtest/gtest.h>

namespace core {
namespace {

SiteOutcome Usable(double s) { return {kSiteUsable, s}; }
SiteOutcome Status(int status) { return {status, kUntimedSeconds}; }

TEST(RowResultTest, Texts) {
  struct Case {
    std::vector<SiteOutcome> outcomes;
    bool reserved;
    const char* status;
    const char* result;
    int32_t score;
  } cases[] = {
      {{Usable(1.2)}, false, "1.2", "[1176]1.2;", 1176},
      {{Usable(1.2), Status(8), Usable(3.0)}, false, "1.2;?;3.0", "[1746]1.2;不匹配;3.0;", 1746},
      {{Status(4), Status(0), Status(0)},
       false,
       "不可用",
       "[0]无法连接proxy服务器;未验证;未验证;",
       0},
      {{Status(1)}, false, "不可用", "[0]超时;", 0},   // the penalty never goes below 0
      {{Usable(61.0)}, false, "61.0", "[1]61.0;", 1},  // -20 points, but usable scores 1
      {{Usable(1.0), Status(1), Status(1)}, false, "1.0;X;X", "[1055]1.0;超时;超时;", 1055},
      {{Status(2), Status(3), Status(5), Status(6), Status(7), Status(42)},
       false,
       "不可用",
       "[0]目的网站不支持此协议的验证;目的网站地址无效;协议不可用;无法取回目的文件;密码不匹配;"
       "超时;",
       0},
      {{Status(0)}, true, "不可用", "[100]未验证;", 100},
      {{Usable(0.04)}, true, "0.0", "[1299]0.0;", 1299},
      {{Usable(59.99)}, false, "60.0", "[1]60.0;", 1},  // 0.2 points truncate to 0
  };
  for (const Case& c : cases) {
    RowResult r = ComputeRowResult(c.outcomes, c.reserved);
    EXPECT_EQ(r.status, c.status) << c.result;
    EXPECT_EQ(r.result, c.result) << c.result;
    EXPECT_EQ(r.score, c.score) << c.result;
    EXPECT_EQ(r.usable, std::string(c.status) != "不可用") << c.result;
  }
}

TEST(RowResultTest, ShortCodesAppearWhenSomeSiteIsUsable) {
  RowResult r =
      ComputeRowResult({Usable(2.0), Status(0), Status(2), Status(7), Status(3), Status(6)}, false);
  EXPECT_EQ(r.status, "2.0;-;-;*;X;X");
  // 58 × 20 for the usable site; only "not created" and unknown statuses cost points.
  EXPECT_EQ(r.score, 1160);
}

TEST(RowResultTest, NonsenseTimesCannotOverflow) {
  RowResult r = ComputeRowResult({Usable(-1e300), Usable(-1e300)}, true);
  EXPECT_GT(r.score, 0);
  RowResult s = ComputeRowResult({Usable(1e300)}, false);
  EXPECT_EQ(s.score, 1);
}

TEST(RowResultTest, WriteRowResultOnReservedAndOutsideRows) {
  ProxyList list;
  list.AddProxy("1.1.1.1:80$<保留ip>家里", false);
  EXPECT_FALSE(WriteRowResult(list, 0, {Status(4)}));
  EXPECT_EQ(list.row(0).status, "不可用");
  EXPECT_EQ(list.row(0).score, 100);
  EXPECT_EQ(list.row(0).result, "[100]无法连接proxy服务器;");
  EXPECT_FALSE(WriteRowResult(list, 1, {Usable(1.0)}));  // no such row: nothing happens
  EXPECT_EQ(list.size(), 1u);
}

TEST(RowResultTest, Weights) {
  const int expected[] = {20, 15, 10, 7, 5, 3, 2, 1, 1};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(SiteWeight(i), expected[i]) << i;
  EXPECT_EQ(SiteWeight(-1), 1);
}

TEST(RowResultTest, LinkTimeThresholds) {
  const int32_t expected[] = {0, 1110, 1942, 2497, 2885, 3162};
  for (int m = 0; m <= 5; ++m) EXPECT_EQ(LinkTimeThreshold(4.5, m), expected[m]) << m;
}

// A list with rows of the given scores ("h<i>:80"), reserved where asked.
struct Row {
  int32_t score;
  bool reserved = false;
  bool ticked = false;
  const char* type = "";
};

class EndOfRunTest : public ::testing::Test {
 protected:
  void Fill(const std::vector<Row>& rows) {
    for (size_t i = 0; i < rows.size(); ++i) {
      std::string line = "10.0.0." + std::to_string(i) + ":80";
      if (*rows[i].type) line += std::string("@") + rows[i].type;
      ASSERT_EQ(list.AddProxy(line, rows[i].ticked), AddResult::kAdded);
      if (rows[i].reserved) list.SetReserved(i, true);
      if (rows[i].score >= 0) list.SetVerifyResult(i, "", "", rows[i].score);
    }
  }
  // Row addresses' last numbers, in list order.
  std::vector<int> Order() const {
    std::vector<int> out;
    for (size_t i = 0; i < list.size(); ++i)
      out.push_back(std::stoi(std::string(list.row(i).address.substr(7))));
    return out;
  }
  std::vector<bool> Ticks() const {
    std::vector<bool> out;
    for (size_t i = 0; i < list.size(); ++i) out.push_back(list.row(i).favorite);
    return out;
  }

  ProxyList list;
  VerifySettings settings;
};

TEST_F(EndOfRunTest, DeleteSortResetAndChooseTheBest) {
  Fill({{0}, {1746}, {-1}, {0, true}, {500}, {0}});
  list.SetVerifyResult(3, "", "", 100);  // a reserved row with no usable site
  settings.auto_delete_failed = true;
  std::optional<RowId> best = ApplyEndOfRunRules(list, settings, 3);
  EXPECT_EQ(Order(), (std::vector<int>{1, 4, 3, 2}));
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, true, true, false}));
  EXPECT_EQ(list.favorite_count(), 3);
  ASSERT_TRUE(best.has_value());
  EXPECT_EQ(list.IndexOf(*best), std::optional<size_t>(0));
  EXPECT_EQ(list.RowHostPort(0), "10.0.0.1:80");
  // The deleted rows' keys are gone: they can be added again.
  EXPECT_EQ(list.AddProxy("10.0.0.0:80", false), AddResult::kAdded);
  EXPECT_EQ(list.AddProxy("10.0.0.1:80", false), AddResult::kDuplicate);
}

TEST_F(EndOfRunTest, EqualScoresPutTheLaterRowFirst) {
  Fill({{300}, {300}, {300}});
  settings.reset_favorites = false;
  ApplyEndOfRunRules(list, settings, 1);
  EXPECT_EQ(Order(), (std::vector<int>{2, 1, 0}));
}

TEST_F(EndOfRunTest, FavoriteResetRules) {
  struct Case {
    const char* name;
    std::vector<Row> rows;
    VerifySettings settings;
    int sites;
    std::vector<bool> ticks;  // after the sort, best first
  };
  VerifySettings best2;
  best2.best_count = 2;
  VerifySettings best0;
  best0.best_count = 0;
  VerifySettings fast;
  fast.add_best = false;
  fast.add_link_time_less = true;  // threshold for one site at 4.5 s: 1110
  VerifySettings no_kinds;
  no_kinds.add_http = no_kinds.add_socks = no_kinds.add_ftp = false;
  VerifySettings no_kinds_no_filter = no_kinds;
  no_kinds_no_filter.only_selected_types = false;
  VerifySettings off;
  off.reset_favorites = false;
  Case cases[] = {
      {"best two", {{900}, {800}, {700}, {0, false, true}}, best2, 1, {true, true, false, false}},
      {"best zero", {{900, false, true}, {800}}, best0, 1, {false, false}},
      {"reserved keeps its tick", {{50}, {900}, {20, true}}, best2, 1, {true, true, true}},
      {"time limit", {{1110}, {1109}, {2000}}, fast, 1, {true, true, false}},
      {"no kind ticked", {{900}, {800}}, no_kinds, 1, {false, false}},
      {"kind filter off", {{900}, {800}}, no_kinds_no_filter, 1, {true, true}},
      {"reset off keeps ticks", {{900}, {800, false, true}}, off, 1, {false, true}},
      // The type rule reads the host:port text, so a typed row counts as untyped.
      {"typed row passes as untyped", {{900, false, false, "FTP"}}, VerifySettings{}, 1, {true}},
  };
  for (Case& c : cases) {
    list.RemoveAll();
    Fill(c.rows);
    ApplyEndOfRunRules(list, c.settings, c.sites);
    EXPECT_EQ(Ticks(), c.ticks) << c.name;
  }
}

TEST_F(EndOfRunTest, NoBestProxyWithoutAUsableTopRow) {
  struct Case {
    std::vector<Row> rows;
    bool auto_use;
  } cases[] = {
      {{{0}, {0}}, true},
      {{{-1}}, true},
      {{}, true},
      {{{900}}, false},
  };
  for (const Case& c : cases) {
    list.RemoveAll();
    Fill(c.rows);
    settings.auto_use_best = c.auto_use;
    EXPECT_FALSE(ApplyEndOfRunRules(list, settings, 1).has_value()) << c.rows.size();
  }
}

TEST_F(EndOfRunTest, DeletionKeepsUnverifiedAndReservedRows) {
  Fill({{-1}, {0}, {0, true}});
  list.SetVerifyResult(2, "", "", 100);
  settings.auto_delete_failed = true;
  settings.reset_favorites = false;
  ApplyEndOfRunRules(list, settings, 1);
  EXPECT_EQ(Order(), (std::vector<int>{2, 0}));
}

}  // namespace
}  // namespace core
