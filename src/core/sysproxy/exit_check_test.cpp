#include "core/sysproxy/exit_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/verify/verify_testing.h"

namespace core {
namespace {

TEST(FindFirstIpv4Test, FindsTheFirstAddressShapedText) {
  struct Case {
    std::string_view text;
    std::string_view want;
  };
  const Case cases[] = {
      {"5.6.7.8\n", "5.6.7.8"},
      {"  203.0.113.255\r\n", "203.0.113.255"},
      {"0.0.0.0", "0.0.0.0"},
      {"<html><body><p>Your IP: <b>5.6.7.8</b></p> 9.9.9.9</body></html>", "5.6.7.8"},
      {R"({"ip":"198.51.100.7","country":"US"})", "198.51.100.7"},
      {R"({"version":"1.2.3","ip":"198.51.100.7"})", "198.51.100.7"},
      {"您的IP是5.6.7.8，来自美国", "5.6.7.8"},
      {"Your address is 5.6.7.8.", "5.6.7.8"},
      {"5.6.7.8:443", "5.6.7.8"},
      {"v1.2.3.4 then 5.6.7.8", "5.6.7.8"},
      {"1.2.3.4.5 then 5.6.7.8", "5.6.7.8"},
      {"1.2.3.4x 5.6.7.8", "5.6.7.8"},
      {"256.1.1.1 01.2.3.4 1.2.3.04 5.6.7.8", "5.6.7.8"},
      {"1234.1.1.1 5.6.7.8", "5.6.7.8"},
      {"2024.01.02 5.6.7.8", "5.6.7.8"},
      {"::ffff:1.2.3.4 and 64:ff9b::9.9.9.9 then IP:5.6.7.8", "5.6.7.8"},
      {"2001:db8::1", ""},
      {"", ""},
      {"1.2.3", ""},
      {"1.2.3.", ""},
      {"....1...2", ""},
      {"<html>Service Unavailable</html>", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindFirstIpv4(c.text), c.want) << "text: " << c.text;
  }
}

TEST(FindFirstIpv4Test, HugeInputWithoutAnAddressEnds) {
  std::string text(1 << 20, '9');
  text += std::string(1 << 20, '.');
  for (int i = 0; i < 100000; ++i) text += "1.2.3.";
  EXPECT_EQ(FindFirstIpv4(text), "");
  EXPECT_EQ(FindFirstIpv4(text + " 5.6.7.8"), "5.6.7.8");
}

// Records the fetches the check starts; answers come from the test.
class RecordingFetcher final : public ExitFetcher {
 public:
  struct Fetch {
    uint64_t id;
    std::string page;
    ExitRoute route;
  };
  void StartFetch(uint64_t id, const std::string& page, ExitRoute route) override {
    fetches.push_back({id, page, route});
  }
  // The id of the last fetch by `route`; 0 when none.
  uint64_t Last(ExitRoute route) const {
    for (auto it = fetches.rbegin(); it != fetches.rend(); ++it) {
      if (it->route == route) return it->id;
    }
    return 0;
  }
  std::vector<Fetch> fetches;
};

// The locator hands back a fresh string each time, longer than a string keeps
// inside itself: a tip that held on to it past the call reads freed memory.
constexpr std::string_view kLongLocation = "中国 江苏南京 南京信息工程大学";

class ExitCheckTest : public ::testing::Test {
 protected:
  // One page unless a test asks for more (ExitCheckFallbackTest does).
  ExitCheckTest()
      : check_(fetcher_, clock_, [](std::string_view a) {
          return a == "5.6.7.8" ? " " + std::string(kLongLocation) + " " : std::string();
        }) {
    ExitCheckSettings one_page;
    one_page.fallback_pages.clear();
    check_.ApplySettings(one_page);
  }

  // Switches and answers the direct fetch with `own` (when one starts).
  uint64_t SwitchKnowingOwn(std::string_view proxy, std::string_view own = "9.9.9.9") {
    uint64_t id = check_.OnSwitched(proxy);
    uint64_t direct = fetcher_.Last(ExitRoute::kDirect);
    if (direct != 0) check_.OnFetchDone(direct, true, own);
    return id;
  }

  ManualClock clock_{0xFFFFF000u};  // close to the wrap of the tick count
  RecordingFetcher fetcher_;
  ExitCheck check_;
};

TEST_F(ExitCheckTest, PassedCheckShowsTheExitWithItsLocation) {
  uint64_t id = SwitchKnowingOwn("1.2.3.4:8080");
  ASSERT_EQ(fetcher_.fetches.size(), 2u);
  EXPECT_EQ(fetcher_.fetches[0].page, kDefaultExitCheckPage);
  EXPECT_EQ(fetcher_.fetches[0].route, ExitRoute::kSystem);
  EXPECT_EQ(check_.TipText(), "1.2.3.4:8080 → 正在检测出口…");
  EXPECT_FALSE(check_.failed());

  EXPECT_TRUE(check_.OnFetchDone(id, true, "5.6.7.8\n"));
  EXPECT_EQ(check_.phase(), ExitPhase::kPassed);
  EXPECT_EQ(check_.TipText(), "1.2.3.4:8080 → 出口 5.6.7.8 " + std::string(kLongLocation));
  EXPECT_FALSE(check_.waiting());
}

TEST_F(ExitCheckTest, RedStateRules) {
  struct Case {
    const char* name;
    bool ok;
    std::string_view body;
    bool late;  // the deadline passes before the answer
    ExitFailure want;
    std::string_view tip;
  };
  const Case cases[] = {
      {"answer", true, "8.8.4.4", false, ExitFailure::kNone, "p:1 → 出口 8.8.4.4"},
      {"fetch failed", false, "", false, ExitFailure::kNoAnswer,
       "p:1 → 出口检测失败（超时或无法连接）"},
      {"no address", true, "<html>Bad Gateway</html>", false, ExitFailure::kNoAddress,
       "p:1 → 出口检测失败（网页中没有IP地址）"},
      {"own address", true, "9.9.9.9", false, ExitFailure::kSameAsDirect,
       "p:1 → 出口 9.9.9.9（与本机直连相同，代理未生效）"},
      {"too late", true, "8.8.4.4", true, ExitFailure::kNoAnswer,
       "p:1 → 出口检测失败（超时或无法连接）"},
  };
  for (const Case& c : cases) {
    uint64_t id = SwitchKnowingOwn("p:1");
    if (c.late) {
      clock_.Advance(9999);
      EXPECT_FALSE(check_.OnTick()) << c.name;
      clock_.Advance(1);
      EXPECT_TRUE(check_.OnTick()) << c.name;
    }
    check_.OnFetchDone(id, c.ok, c.body);
    EXPECT_EQ(check_.failure(), c.want) << c.name;
    EXPECT_EQ(check_.failed(), c.want != ExitFailure::kNone) << c.name;
    EXPECT_EQ(check_.TipText(), c.tip) << c.name;
  }
}

TEST_F(ExitCheckTest, AnEarlierCheckNeverOverwritesALaterOne) {
  uint64_t first = SwitchKnowingOwn("1.1.1.1:80");
  uint64_t second = check_.OnSwitched("2.2.2.2:80");
  ASSERT_NE(first, second);
  EXPECT_FALSE(check_.OnFetchDone(first, true, "5.6.7.8"));
  EXPECT_EQ(check_.phase(), ExitPhase::kChecking);
  // The first check's deadline passing changes nothing either.
  clock_.Advance(5000);
  check_.OnSwitched("3.3.3.3:80");
  clock_.Advance(6000);
  EXPECT_FALSE(check_.OnTick());
  EXPECT_FALSE(check_.OnFetchDone(second, false, ""));
  EXPECT_EQ(check_.phase(), ExitPhase::kChecking);
  EXPECT_EQ(check_.proxy(), "3.3.3.3:80");
}

TEST_F(ExitCheckTest, OwnAddressLearntOnceAndAppliedWhenItComesLate) {
  uint64_t id = check_.OnSwitched("1.2.3.4:8080");
  uint64_t direct = fetcher_.Last(ExitRoute::kDirect);
  ASSERT_NE(direct, 0u);
  // The check answers first with what turns out to be the direct address.
  check_.OnFetchDone(id, true, "5.6.7.8");
  EXPECT_FALSE(check_.failed());
  EXPECT_TRUE(check_.OnFetchDone(direct, true, "<p>5.6.7.8</p>"));
  EXPECT_EQ(check_.failure(), ExitFailure::kSameAsDirect);

  size_t before = fetcher_.fetches.size();
  check_.OnSwitched("4.3.2.1:80");
  EXPECT_EQ(fetcher_.fetches.size(), before + 1) << "a second direct fetch started";
}

TEST_F(ExitCheckTest, FailedDirectFetchIsRetriedAtTheNextSwitchButNeverTwiceAtOnce) {
  check_.OnSwitched("a:1");
  uint64_t direct = fetcher_.Last(ExitRoute::kDirect);
  check_.OnSwitched("b:1");  // the direct fetch still runs
  EXPECT_EQ(fetcher_.Last(ExitRoute::kDirect), direct);
  check_.OnFetchDone(direct, false, "");
  check_.OnSwitched("c:1");
  EXPECT_NE(fetcher_.Last(ExitRoute::kDirect), direct);
  // A direct fetch that never answers is given up at the deadline.
  uint64_t again = fetcher_.Last(ExitRoute::kDirect);
  clock_.Advance(10000);
  check_.OnTick();
  EXPECT_FALSE(check_.waiting());
  EXPECT_FALSE(check_.OnFetchDone(again, true, "9.9.9.9"));
  EXPECT_EQ(check_.own_address(), "");
}

TEST_F(ExitCheckTest, NoProxyChecksNothingAndShowsTheOwnAddress) {
  SwitchKnowingOwn("1.2.3.4:80", "5.6.7.8");
  size_t before = fetcher_.fetches.size();
  EXPECT_EQ(check_.OnSwitched("  "), 0u);
  EXPECT_EQ(fetcher_.fetches.size(), before);
  EXPECT_FALSE(check_.failed());
  EXPECT_FALSE(check_.waiting());
  EXPECT_EQ(check_.TipText(), "未使用代理 → 本机 5.6.7.8 " + std::string(kLongLocation));
}

TEST_F(ExitCheckTest, SettingsGiveThePageAndTheDeadline) {
  ExitCheckSettings s;
  s.page = "https://echo.example/ip.json";
  s.fallback_pages.clear();
  s.deadline_seconds = 3;
  check_.ApplySettings(s);
  uint64_t id = SwitchKnowingOwn("1.2.3.4:80");
  EXPECT_EQ(fetcher_.fetches.back().page, s.page);
  clock_.Advance(2999);
  check_.OnTick();
  EXPECT_FALSE(check_.failed());
  clock_.Advance(1);
  check_.OnTick();
  EXPECT_TRUE(check_.failed());
  EXPECT_FALSE(check_.OnFetchDone(id, true, "8.8.8.8"));
}

// Pages that fail, or answer without an address, hand over to the next page;
// the check fails only when every page did, and says whether any answered.
TEST_F(ExitCheckTest, FallbackPagesAreAskedInTurn) {
  ExitCheckSettings s;
  s.page = "https://mine.example/";
  s.fallback_pages = {"https://a.example/", "HTTPS://MINE.EXAMPLE/", "ftp://no/",
                      "https://b.example/"};
  check_.ApplySettings(s);
  struct Answer {
    bool ok;
    const char* body;
  };
  struct Case {
    const char* name;
    std::vector<Answer> answers;  // page by page
    ExitFailure want;
    size_t pages_asked;
  };
  const Case cases[] = {
      {"the first page answers", {{true, "5.6.7.8"}}, ExitFailure::kNone, 1},
      {"the second answers", {{false, ""}, {true, "5.6.7.8"}}, ExitFailure::kNone, 2},
      {"a page without an address hands over",
       {{true, "<html>busy</html>"}, {false, ""}, {true, "ip 5.6.7.8"}},
       ExitFailure::kNone,
       3},
      {"every page fails", {{false, ""}, {false, ""}, {false, ""}}, ExitFailure::kNoAnswer, 3},
      {"none gave an address", {{false, ""}, {true, "x"}, {false, ""}}, ExitFailure::kNoAddress, 3},
      {"the own address is an answer", {{true, "9.9.9.9"}}, ExitFailure::kSameAsDirect, 1},
  };
  for (const Case& c : cases) {
    size_t first = fetcher_.fetches.size();
    SwitchKnowingOwn("p:1");
    for (const Answer& a : c.answers)
      check_.OnFetchDone(fetcher_.Last(ExitRoute::kSystem), a.ok, a.body);
    std::vector<std::string> asked;
    for (size_t i = first; i < fetcher_.fetches.size(); ++i) {
      if (fetcher_.fetches[i].route == ExitRoute::kSystem)
        asked.push_back(fetcher_.fetches[i].page);
    }
    const std::vector<std::string> order = {"https://mine.example/", "https://a.example/",
                                            "https://b.example/"};
    EXPECT_EQ(asked, std::vector<std::string>(order.begin(), order.begin() + long(c.pages_asked)))
        << c.name;
    EXPECT_EQ(check_.failure(), c.want) << c.name;
    EXPECT_EQ(check_.phase() == ExitPhase::kChecking, false) << c.name;
    EXPECT_FALSE(check_.waiting()) << c.name;
  }
  // The own address is learnt from a later page too.
  ExitCheck fresh(fetcher_, clock_);
  fresh.ApplySettings(s);
  fresh.OnSwitched("q:1");
  fresh.OnFetchDone(fetcher_.Last(ExitRoute::kDirect), false, "");
  fresh.OnFetchDone(fetcher_.Last(ExitRoute::kDirect), true, "own 7.7.7.7");
  EXPECT_EQ(fresh.own_address(), "7.7.7.7");
}

TEST(ExitCheckSettingsTest, LoadRefusesBadValuesAndSaveRoundTrips) {
  struct Case {
    std::string_view page;
    int32_t seconds;
    std::string_view want_page;
    int32_t want_seconds;
  };
  const Case cases[] = {
      {"http://127.0.0.1:8000/ip", 5, "http://127.0.0.1:8000/ip", 5},
      {" HTTPS://echo.example/ ", 60, "HTTPS://echo.example/", 60},
      {"ftp://echo.example/ip", 0, kDefaultExitCheckPage, 10},
      {"http://", -4, kDefaultExitCheckPage, 10},
      {"http:///ip", 61, kDefaultExitCheckPage, 60},
      {"http://a b/ip", 1, kDefaultExitCheckPage, 1},
      {"", 10, kDefaultExitCheckPage, 10},
  };
  for (const Case& c : cases) {
    MemoryProfileStore store;
    EXPECT_TRUE(store.WriteText(kExitCheckSection, kExitCheckPageKey, c.page));
    EXPECT_TRUE(store.WriteInt(kExitCheckSection, kExitCheckDeadlineKey, c.seconds));
    ExitCheckSettings s = LoadExitCheckSettings(store);
    EXPECT_EQ(s.page, c.want_page) << "page: " << c.page;
    EXPECT_EQ(s.deadline_seconds, c.want_seconds) << "seconds: " << c.seconds;
    EXPECT_FALSE(s.failover);
  }

  MemoryProfileStore store;
  ExitCheckSettings s;
  s.page = "http://127.0.0.1:1/ip";
  s.deadline_seconds = 4;
  s.failover = true;
  s.fallback_pages = {"http://127.0.0.1:2/", "http://127.0.0.1:3/"};
  ASSERT_TRUE(SaveExitCheckSettings(store, s));
  ExitCheckSettings back = LoadExitCheckSettings(store);
  EXPECT_EQ(back.page, s.page);
  EXPECT_EQ(back.deadline_seconds, 4);
  EXPECT_TRUE(back.failover);
  EXPECT_EQ(back.fallback_pages, s.fallback_pages);
  // Fallback pages: missing gives the default ones, an empty text none, and
  // refused pages are left out.
  MemoryProfileStore fresh;
  EXPECT_EQ(LoadExitCheckSettings(fresh).fallback_pages, ExitCheckSettings().fallback_pages);
  EXPECT_TRUE(fresh.WriteText(kExitCheckSection, kExitCheckFallbackKey, ""));
  EXPECT_TRUE(LoadExitCheckSettings(fresh).fallback_pages.empty());
  EXPECT_TRUE(fresh.WriteText(kExitCheckSection, kExitCheckFallbackKey,
                              " https://a/ ftp://b/;https://c/ "));
  EXPECT_EQ(LoadExitCheckSettings(fresh).fallback_pages,
            (std::vector<std::string>{"https://a/", "https://c/"}));

  s.page = "not a page";
  EXPECT_FALSE(SaveExitCheckSettings(store, s));
  EXPECT_EQ(LoadExitCheckSettings(store).page, "http://127.0.0.1:1/ip");
  store.set_read_only(true);
  s.page = "http://x/";
  EXPECT_FALSE(SaveExitCheckSettings(store, s));
}

TEST(NextFailoverRowTest, OnePassSkippingFailedAndTriedRows) {
  ProxyList list;
  for (int i = 0; i < 5; ++i) {
    list.AddProxy("10.0.0." + std::to_string(i + 1) + (i == 3 ? ":80$广东 电信" : ":80"), false);
  }
  list.SetVerifyResult(2, "", "", 0);  // row 2's last verification failed
  list.AddProxy("127.0.0.1:8118@SOCKS5", false);  // the program's own relay, never tried
  struct Case {
    int32_t failed;
    std::vector<int32_t> tried;
    int32_t want;
    PlaceFilter places = {};
  };
  const PlaceFilter guangdong{{{PlaceKind::kProvince, "广东"}}};
  const Case cases[] = {
      {0, {0}, 1},
      {1, {0, 1}, 3},  // row 2 failed its verification
      {3, {3}, 4},
      {4, {3, 4}, 0},         // wraps to the first row, past the relay's row
      {1, {3, 4, 0, 1}, -1},  // back at the tick's first row
      {1, {}, 3},             // no record: the failed row was the first
      {4, {0, 4}, -1},        // wrapping reaches the tick's first row
      {9, {9}, 0},            // rows were deleted meanwhile
      {0, {1, 3, 4, 0}, -1},
      {0, {0}, 3, guangdong},   // rows outside the places are passed over
      {3, {3}, -1, guangdong},  // nothing else in the places
  };
  for (const Case& c : cases) {
    std::string tried;
    for (int32_t r : c.tried) tried += std::to_string(r) + " ";
    EXPECT_EQ(NextFailoverRow(list, c.failed, c.tried, {8118}, c.places), c.want)
        << "failed " << c.failed << " tried " << tried;
  }
  ProxyList empty;
  EXPECT_EQ(NextFailoverRow(empty, 0, {0}), -1);
}

}  // namespace
}  // namespace core
