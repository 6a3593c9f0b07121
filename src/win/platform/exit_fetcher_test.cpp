// The exit check against the local servers of scripts/verify-servers.sh: the
// web server's /ip page echoes the requester's address, and the test proxies
// reach it from 127.0.0.2, so a fetch through a proxy and a direct one see
// different addresses. These tests set the real system proxy of the Wine
// prefix and put the previous values back afterwards.
#include "win/platform/exit_fetcher.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "core/proxylist/proxy_list.h"
#include "win/platform/registry.h"
#include "win/platform/system_proxy.h"
#include "win/platform/wide_text.h"
#include "win/platform/win_clock.h"
#include "win/testing/test_servers.h"

namespace win {
namespace {

std::string EchoPage() { return "http://127.0.0.1:" + TestPort("WEB") + "/ip"; }
std::string ProxyAt(const char* name) { return "127.0.0.1:" + TestPort(name); }

class ExitFetcherTest : public ::testing::Test {
 protected:
  ExitFetcherTest() {
    place_.wininet = &WinInetSettings();
    saved_server_ = ReadRegistryText(place_.root, place_.key, "ProxyServer");
    saved_enable_ = ReadRegistryText(place_.root, place_.key, "ProxyEnable");
  }
  ~ExitFetcherTest() override {
    EXPECT_TRUE(WriteRegistryString(place_.root, place_.key, "ProxyServer", saved_server_));
    EXPECT_TRUE(
        WriteRegistryDword(place_.root, place_.key, "ProxyEnable", saved_enable_ == "1" ? 1 : 0));
  }

  void UseSystemProxy(const std::string& text) {
    ASSERT_TRUE(SetSystemProxy(text, place_).ok()) << text;
  }

  // What the test's fetchers report to: the current Pump's `deliver`, timed.
  PostingExitFetcher::Report Report() {
    return [this](const ExitFetchResult& r) {
      auto t0 = std::chrono::steady_clock::now();
      if (deliver_) deliver_(r);
      auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::steady_clock::now() - t0)
                    .count();
      longest_us_ = std::max<long long>(longest_us_, us);
    };
  }

  // Runs the UI thread's messages until `done` holds or `limit_ms` passes;
  // each result goes to `deliver`. Returns the longest time one delivery took
  // on this thread, in microseconds.
  long long Pump(const std::function<bool()>& done,
                 std::function<void(const ExitFetchResult&)> deliver, DWORD limit_ms) {
    deliver_ = std::move(deliver);
    longest_us_ = 0;
    PumpUntil(done, limit_ms);
    deliver_ = nullptr;
    return longest_us_;
  }

  std::vector<ExitFetchResult> Collect(size_t count, DWORD limit_ms = 20000) {
    std::vector<ExitFetchResult> results;
    Pump([&] { return results.size() >= count; },
         [&](const ExitFetchResult& r) { results.push_back(r); }, limit_ms);
    std::sort(results.begin(), results.end(),
              [](const ExitFetchResult& a, const ExitFetchResult& b) { return a.id < b.id; });
    return results;
  }

  SystemProxyPlace place_;
  std::string saved_server_;
  std::string saved_enable_;
  std::function<void(const ExitFetchResult&)> deliver_;
  long long longest_us_ = 0;
};

TEST_F(ExitFetcherTest, SystemRouteFollowsTheProxySettingAndDirectRouteIgnoresIt) {
  REQUIRE_TEST_PORTS("WEB", "PROXY");
  UseSystemProxy(ProxyAt("PROXY"));
  WinInetExitFetcher fetcher(Report(), 10000);
  fetcher.StartFetch(1, EchoPage(), core::ExitRoute::kSystem);
  fetcher.StartFetch(2, EchoPage(), core::ExitRoute::kDirect);
  std::vector<ExitFetchResult> r = Collect(2);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_TRUE(r[0].ok);
  EXPECT_EQ(r[0].body, "127.0.0.2\n") << "through the proxy";
  EXPECT_TRUE(r[1].ok);
  EXPECT_EQ(r[1].body, "127.0.0.1\n") << "direct";

  // Cleared: the system route goes direct too.
  UseSystemProxy("");
  fetcher.StartFetch(3, EchoPage(), core::ExitRoute::kSystem);
  r = Collect(1);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].body, "127.0.0.1\n");
}

TEST_F(ExitFetcherTest, FailuresComeBackAsFailures) {
  REQUIRE_TEST_PORTS("WEB", "DEAD", "SILENT", "HOLE");
  struct Case {
    const char* name;
    std::string proxy;
    std::string page;
  };
  const Case cases[] = {
      {"dead proxy", ProxyAt("DEAD"), EchoPage()},
      {"silent proxy", ProxyAt("SILENT"), EchoPage()},
      // Comes back within the deadline, not when WinInet gives up on the connect.
      {"black-holed proxy", ProxyAt("HOLE"), EchoPage()},
      {"status 404", "", "http://127.0.0.1:" + TestPort("WEB") + "/no-such-page"},
      {"not a web page", "", "ftp://127.0.0.1/ip"},
  };
  for (const Case& c : cases) {
    UseSystemProxy(c.proxy);
    WinInetExitFetcher fetcher(Report(), 1500);
    fetcher.StartFetch(7, c.page, core::ExitRoute::kSystem);
    std::vector<ExitFetchResult> r = Collect(1, 15000);
    ASSERT_EQ(r.size(), 1u) << c.name << ": no report";
    EXPECT_FALSE(r[0].ok) << c.name;
    EXPECT_EQ(r[0].body, "") << c.name;
  }
}

// Hostile proxies in the system setting: a cookie for the echo page stays out
// of the user's jar; a redirect (to the echo page itself) and a log-in
// challenge fail the check.
TEST_F(ExitFetcherTest, HostileProxiesLeaveNoCookieAndRedirectsFail) {
  REQUIRE_TEST_PORTS("WEB", "COOKIE", "REDIRECT", "CHALLENGE");
  const std::string web = "http://127.0.0.1:" + TestPort("WEB");
  struct Case {
    const char* proxy;
    std::string page;
    bool ok;
  };
  const Case cases[] = {
      {"COOKIE", EchoPage(), true},
      {"REDIRECT", web + "/moved/ip", false},
      {"CHALLENGE", web + "/auth407/ip", false},
      {"CHALLENGE", web + "/auth401/ip", false},
  };
  for (const Case& c : cases) {
    UseSystemProxy(ProxyAt(c.proxy));
    WinInetExitFetcher fetcher(Report(), 5000);
    fetcher.StartFetch(1, c.page, core::ExitRoute::kSystem);
    std::vector<ExitFetchResult> r = Collect(1);
    ASSERT_EQ(r.size(), 1u) << c.page;
    EXPECT_EQ(r[0].ok, c.ok) << c.page << ": " << r[0].body;
  }
  wchar_t jar[4096] = {};
  DWORD size = ARRAYSIZE(jar);
  if (InternetGetCookieW(Utf8ToWide(EchoPage()).c_str(), nullptr, jar, &size)) {
    EXPECT_EQ(std::wstring(jar).find(L"relaymoth_jar"), std::wstring::npos);
  }
}

TEST_F(ExitFetcherTest, AnAbandonedFetchNeverReports) {
  REQUIRE_TEST_PORTS("WEB", "SLOW");
  UseSystemProxy(ProxyAt("SLOW"));  // answers after a moment
  int before = WinInetExitFetcher::ThreadsAlive();
  {
    WinInetExitFetcher fetcher(Report(), 10000);
    fetcher.StartFetch(1, EchoPage(), core::ExitRoute::kSystem);
  }
  bool posted = false;
  Pump([&] { return WinInetExitFetcher::ThreadsAlive() == before; },
       [&](const ExitFetchResult&) { posted = true; }, 20000);
  PumpFor(50);
  EXPECT_EQ(WinInetExitFetcher::ThreadsAlive(), before) << "the fetch thread did not end";
  EXPECT_FALSE(posted);
}

// The check as the program runs it: the system proxy is applied, the check
// starts, and the UI thread delivers results and ticks until it settles.
class ExitCheckWineTest : public ExitFetcherTest {
 protected:
  ExitCheckWineTest()
      : fetcher_(Report(), 3000), check_(fetcher_, clock_, [](std::string_view a) {
          return a == "127.0.0.2" ? std::string("回环") : std::string();
        }) {
    core::ExitCheckSettings settings;
    settings.page = EchoPage();
    settings.fallback_pages.clear();  // the tests ask nothing past this machine
    settings.deadline_seconds = 3;
    check_.ApplySettings(settings);
  }

  // Applies `text`, starts the check and waits until it has settled.
  void Switch(const std::string& text) {
    UseSystemProxy(text);
    check_.OnSwitched(text);
    Pump([&] { return !check_.waiting(); },
         [&](const ExitFetchResult& r) {
           check_.OnFetchDone(r.id, r.ok, r.body);
           check_.OnTick();
         },
         10000);
    check_.OnTick();
  }

  WinClock clock_;
  WinInetExitFetcher fetcher_;
  core::ExitCheck check_;
};

TEST_F(ExitCheckWineTest, EachSwitchGivesTheTipAndTheDot) {
  REQUIRE_TEST_PORTS("WEB", "PROXY", "DEAD", "OTHER");
  struct Case {
    std::string proxy;
    std::string tip;
    bool red;
  };
  const Case cases[] = {
      {ProxyAt("PROXY"), ProxyAt("PROXY") + " → 出口 127.0.0.2 回环", false},
      {ProxyAt("DEAD"), ProxyAt("DEAD") + " → 出口检测失败（超时或无法连接）", true},
      // Wine's WinInet takes socks= entries past the proxy: the page sees the
      // machine's own address, as a browser without SOCKS support would.
      {ProxyAt("PROXY") + "@SOCKS5",
       ProxyAt("PROXY") + "@SOCKS5 → 出口 127.0.0.1（与本机直连相同，代理未生效）", true},
      {ProxyAt("OTHER"), ProxyAt("OTHER") + " → 出口检测失败（网页中没有IP地址）", true},
      {"", "未使用代理 → 本机 127.0.0.1", false},
  };
  for (const Case& c : cases) {
    Switch(c.proxy);
    EXPECT_FALSE(check_.waiting()) << c.proxy;
    EXPECT_EQ(check_.TipText(), c.tip) << c.proxy;
    EXPECT_EQ(check_.failed(), c.red) << c.proxy;
  }
}

TEST_F(ExitCheckWineTest, FailoverSkipsTheDeadRowsWithinOneTick) {
  REQUIRE_TEST_PORTS("WEB", "PROXY", "DEAD", "OTHER");
  core::ProxyList list;
  list.AddProxy(ProxyAt("DEAD"), false);
  list.AddProxy(ProxyAt("OTHER"), false);
  list.AddProxy(ProxyAt("PROXY"), false);
  // The tick applies row 0; every failed check moves on at once.
  std::vector<int32_t> tried{0};
  Switch(list.RowProxyText(0));
  while (check_.failed()) {
    int32_t next = core::NextFailoverRow(list, tried.back(), tried);
    if (next < 0) break;
    tried.push_back(next);
    Switch(list.RowProxyText(next));
  }
  EXPECT_EQ(tried, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_FALSE(check_.failed());
  EXPECT_EQ(check_.proxy(), ProxyAt("PROXY"));
}

// Automatic switching's cost on the UI thread: 100 switches one second apart,
// over a working, a dead and a silent proxy in turn. Prints the longest time
// the check's own steps took on this thread (starting the fetches, taking and
// judging the results, the deadline tick) and, apart, the proxy write.
// Takes 100 s: run it with --gtest_also_run_disabled_tests.
TEST_F(ExitCheckWineTest, DISABLED_HundredAutomaticSwitchesStallNothing) {
  REQUIRE_TEST_PORTS("WEB", "PROXY", "DEAD", "SILENT");
  const std::string proxies[] = {ProxyAt("PROXY"), ProxyAt("DEAD"), ProxyAt("SILENT")};
  using Clock = std::chrono::steady_clock;
  auto us_since = [](Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
  };
  long long longest_check = 0;
  long long longest_apply = 0;
  int passed = 0;
  int red = 0;
  for (int i = 0; i < 100; ++i) {
    const std::string& text = proxies[i % 3];
    auto t0 = Clock::now();
    UseSystemProxy(text);
    longest_apply = std::max(longest_apply, us_since(t0));
    t0 = Clock::now();
    check_.OnSwitched(text);
    check_.TipText();
    longest_check = std::max(longest_check, us_since(t0));
    // The rest of the second: results and the deadline tick, as the program's
    // timer runs them.
    DWORD start = GetTickCount();
    long long deliver =
        Pump([&] { return GetTickCount() - start >= 1000; },
             [&](const ExitFetchResult& r) { check_.OnFetchDone(r.id, r.ok, r.body); }, 1000);
    t0 = Clock::now();
    check_.OnTick();
    longest_check = std::max({longest_check, deliver, us_since(t0)});
    if (check_.phase() == core::ExitPhase::kPassed) ++passed;
    if (check_.failed()) ++red;
  }
  std::printf(
      "100 switches: longest exit-check step on the UI thread %lld us; longest proxy apply %lld "
      "us; %d passed within the second, %d red; fetch threads alive at the end %d\n",
      longest_check, longest_apply, passed, red, WinInetExitFetcher::ThreadsAlive());
  EXPECT_GT(passed, 0);
}

}  // namespace
}  // namespace win
