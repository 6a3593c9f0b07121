#include "core/sysproxy/rotation.h"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(RotationTest, ThePoolIsTheUsableRowsBestFirst) {
  ProxyList list;
  const struct {
    const char* line;
    int32_t score;
  } rows[] = {
      {"10.0.0.1:80$中国 北京 联通", -1},         {"10.0.0.2:80$中国 广东广州 电信", 50},
      {"10.0.0.3:80$中国 广东深圳 电信", 0},      {"10.0.0.4:1080@SOCKS5$中国 广东深圳 电信", 90},
      {"10.0.0.5:21@FTP$中国 广东广州 电信", 99}, {"127.0.0.1:8118$中国 广东广州 电信", 99},
      {"10.0.0.7:80$中国 广东广州 电信", -1},     {"10.0.0.8:80$中国 广东广州 电信", 80}};
  for (const auto& r : rows) {
    ASSERT_EQ(list.AddProxy(r.line, false), AddResult::kAdded) << r.line;
    if (r.score >= 0) list.SetVerifyResult(list.size() - 1, "", "", r.score);
  }
  // 10.0.0.8 has expired since its verification: never in the pool.
  list.SetRowExpiry(7, 1);
  list.MarkExpiredRows(2);
  list.SetVerifyResult(7, "", "", 80);
  auto labels = [&](const PlaceFilter& filter) {
    std::vector<std::string> out;
    for (const RelayCandidate& c : RotationPool(list, filter, {8118})) {
      out.push_back(c.label);
      EXPECT_EQ(list.RowHostPort(int64_t(*list.IndexOf(RowId(c.row)))), c.label);
    }
    return out;
  };
  EXPECT_EQ(labels({}), (std::vector<std::string>{"10.0.0.4:1080", "10.0.0.2:80", "10.0.0.1:80",
                                                  "10.0.0.7:80"}));
  EXPECT_EQ(labels({{{PlaceKind::kCity, "广州"}}}),
            (std::vector<std::string>{"10.0.0.2:80", "10.0.0.7:80"}));
}

TEST(RotationTest, EachConnectionTakesTheNextRowAndASiteMayKeepItsRow) {
  std::vector<RelayCandidate> pool(4);
  for (size_t i = 0; i < pool.size(); ++i) pool[i].row = 1 + i;
  Rotation r;
  EXPECT_TRUE(r.Choose("a", 0).empty());
  r.SetPool(pool);
  struct Step {
    const char* host;
    uint64_t now_ms;
    uint64_t drop;  // dropped before the choice; 0: none
    std::vector<uint64_t> rows;
  };
  const Step plain[] = {{"a", 0, 0, {1, 2, 3}}, {"a", 0, 0, {2, 3, 4}}, {"b", 0, 3, {4, 1, 2}},
                        {"c", 0, 0, {1, 2, 4}}};
  // With a minute's stickiness: "a" keeps row 2 until its minute ran out or
  // the row left the pool.
  const Step sticky[] = {{"a", 0, 0, {2, 4, 1}},      {"b", 10, 0, {4, 1, 2}},
                         {"A", 59999, 0, {2, 4, 1}},  {"a", 60000, 0, {1, 2, 4}},
                         {"a", 60001, 1, {2, 4}},      {"a", 60002, 0, {2, 4}}};
  auto run = [&](const Step* steps, size_t n) {
    for (size_t k = 0; k < n; ++k) {
      if (steps[k].drop) r.Drop(steps[k].drop);
      std::vector<uint64_t> rows;
      for (const RelayCandidate& c : r.Choose(steps[k].host, steps[k].now_ms)) rows.push_back(c.row);
      EXPECT_EQ(rows, steps[k].rows) << "step " << k << " " << steps[k].host;
    }
  };
  run(plain, std::size(plain));
  r.SetStickyMinutes(1);
  run(sticky, std::size(sticky));
  EXPECT_EQ(r.size(), 2u);
  r.SetPool(pool);  // a verification brought the dropped rows back
  EXPECT_EQ(r.size(), 4u);
}

}  // namespace
}  // namespace core
