#include "core/download/source_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace core {
namespace {

constexpr std::string_view kLinkA = "http://127.0.0.1/a?key=1";
constexpr std::string_view kLinkB = "http://127.0.0.1/b";
constexpr int64_t kNow = 1'800'000'000;

std::vector<ProviderEntry> Answer(std::vector<std::string> lines, int64_t ttl = 0) {
  std::vector<ProviderEntry> out;
  for (std::string& l : lines) {
    out.push_back({std::move(l), ttl ? std::optional<int64_t>(kNow + ttl) : std::nullopt});
  }
  return out;
}

// "address:port" with the link's letter ("A", "B", "-" for none), "!" when expired.
std::vector<std::string> Rows(const ProxyList& list) {
  std::vector<std::string> out;
  for (size_t i = 0; i < list.size(); ++i) {
    ProxyRow r = list.row(i);
    std::string_view url = list.SourceUrl(r.source);
    out.push_back(list.RowHostPort(int64_t(i)) +
                  (url == kLinkA   ? "A"
                   : url == kLinkB ? "B"
                                   : "-") +
                  (r.expired ? "!" : ""));
  }
  return out;
}

// The user's row, link A's three and link B's one.
void Fill(ProxyList& list) {
  list.AddProxy("9.9.9.9:80", false);
  ReplaceSourceRows(list, kLinkA, Answer({"1.1.1.1:80", "1.1.1.2:80", "1.1.1.3:80"}, 60), false);
  ReplaceSourceRows(list, kLinkB, Answer({"2.2.2.2:80"}), true);
}

TEST(SourceRowsTest, AnAnswerReplacesOnlyItsLinksRows) {
  struct Case {
    std::string_view name;
    std::vector<std::string> answer;
    bool expire_first;  // link A's rows expire before the answer comes
    std::vector<std::string> rows;
    int added, kept, removed, elsewhere;
    int64_t ttl = 30;  // of the answer's entries; 0: none
  };
  const Case cases[] = {
      {"same answer",
       {"1.1.1.1:80", "1.1.1.2:80", "1.1.1.3:80"},
       false,
       {"9.9.9.9:80-", "1.1.1.1:80A", "1.1.1.2:80A", "1.1.1.3:80A", "2.2.2.2:80B"},
       0,
       3,
       0,
       0},
      {"partly new",
       {"1.1.1.2:80", "1.1.1.4:80", "1.1.1.2:80"},
       false,
       {"9.9.9.9:80-", "1.1.1.2:80A", "2.2.2.2:80B", "1.1.1.4:80A"},
       1,
       1,
       2,
       0},
      {"other rows named",
       {"9.9.9.9:80", "2.2.2.2:80"},
       false,
       {"9.9.9.9:80-", "2.2.2.2:80B"},
       0,
       0,
       3,
       2},
      {"expired rows handed out again",
       {"1.1.1.3:80"},
       true,
       {"9.9.9.9:80-", "1.1.1.3:80A", "2.2.2.2:80B"},
       0,
       1,
       2,
       0},
      {"expired rows named without a new expiry",
       {"1.1.1.3:80"},
       true,
       {"9.9.9.9:80-", "2.2.2.2:80B"},
       0,
       0,
       3,
       0,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProxyList list;
    Fill(list);
    if (c.expire_first) {
      EXPECT_EQ(list.MarkExpiredRows(kNow + 60), 3u);
      EXPECT_EQ(Rows(list)[1], "1.1.1.1:80A!");
    }
    RowId in_use = list.IdAt(2);  // 1.1.1.2, when it stays
    SourceRowsChange change = ReplaceSourceRows(list, kLinkA, Answer(c.answer, c.ttl), false);
    EXPECT_EQ(Rows(list), c.rows);
    EXPECT_EQ(change.added, c.added);
    EXPECT_EQ(change.kept, c.kept);
    EXPECT_EQ(change.removed, c.removed);
    EXPECT_EQ(change.elsewhere, c.elsewhere);
    if (c.rows[1] == "1.1.1.2:80A") {
      EXPECT_EQ(list.IndexOf(in_use), 1u);
    }
    EXPECT_EQ(list.favorite_count(), 1);  // link B's row alone
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_FALSE(list.IsReserved(i));
      if (list.RowSource(i) == list.SourceIdOf(kLinkA)) {
        EXPECT_EQ(list.RowExpiry(i), kNow + 30);
        EXPECT_EQ(list.row(i).status, kStatusNotVerified);
      }
    }
  }
}

TEST(SourceRowsTest, LinksAndExpiriesOutliveARestart) {
  MemoryProfileStore store;
  ProxyList list;
  Fill(list);
  auto all = [](std::string_view) { return true; };
  ASSERT_TRUE(SaveSourceRows(list, store, all));
  ReplaceSourceRows(list, kLinkA, Answer({"1.1.1.3:80"}, 60), false);
  // Link B is no longer short-lived: its rows need no keeping.
  ASSERT_TRUE(SaveSourceRows(list, store, [](std::string_view url) { return url == kLinkA; }));

  ProxyList loaded;  // the saved list comes back in another order
  for (std::string_view line : {"2.2.2.2:80", "1.1.1.3:80", "9.9.9.9:80", "1.1.1.1:80"}) {
    loaded.AddProxy(line, false);
  }
  LoadSourceRows(loaded, store);
  EXPECT_EQ(Rows(loaded),
            (std::vector<std::string>{"2.2.2.2:80-", "1.1.1.3:80A", "9.9.9.9:80-", "1.1.1.1:80-"}));
  EXPECT_EQ(loaded.RowExpiry(1), kNow + 60);
  EXPECT_EQ(loaded.RowExpiry(0), std::nullopt);
  EXPECT_EQ(store.ReadText(kProxySourcesSection, "Source_001", "gone"), "gone");
}

}  // namespace
}  // namespace core
