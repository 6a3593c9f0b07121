// WinInetSiteFetcher against the local servers that scripts/verify-servers.sh
// starts before the Windows tests (ports in RELAYMOTH_TEST_*_PORT). Under Wine,
// WinInet ignores socks= entries and takes FTP past any proxy, so SOCKS kinds are
// covered by the core's fetcher seam only and FTP here runs direct.
#include "win/platform/wininet_site_fetcher.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/verify/verify_run.h"
#include "win/platform/wide_text.h"
#include "win/platform/win_clock.h"
#include "win/testing/test_servers.h"

namespace win {
namespace {

constexpr const char* kVerifyText = "RELAYMOTH-VERIFY-7731";

class Recorder final : public core::RunObserver {
 public:
  std::vector<std::string> progress;
  void OnProgress(std::string_view text) override { progress.emplace_back(text); }
  void OnSiteDone(int, const core::SiteOutcome&) override {}
};

// A site reachable only through the test proxies: they fetch the path from the
// web server whatever host and port the URL names, while nothing listens on the
// URL's own port.
std::string ProxiedSite() { return "http://127.0.0.1:" + TestPort("DEAD") + "/verify.html"; }

struct Site {
  std::string url;
  std::string verify;
};

std::vector<int> RunThrough(const std::string& proxy_line, const std::vector<Site>& sites,
                            core::VerifyRun* out = nullptr, Recorder* recorder = nullptr) {
  core::VerifyRun run;
  EXPECT_TRUE(run.SetProxyLine(proxy_line)) << proxy_line;
  for (const Site& site : sites) EXPECT_TRUE(run.AddSite(site.url, site.verify)) << site.url;
  WinInetSiteFetcher fetcher;
  WinClock clock;
  Recorder local;
  run.RunTests(fetcher, clock, recorder ? *recorder : local);
  std::vector<int> statuses;
  for (const core::SiteOutcome& o : run.Outcomes()) statuses.push_back(o.status);
  if (out) *out = std::move(run);
  return statuses;
}

TEST(WinInetSiteFetcherTest, StatusesThroughRealProxies) {
  REQUIRE_TEST_PORTS("PROXY", "OTHER", "DEAD", "WEB");
  struct Case {
    const char* name;
    std::string proxy;
    std::vector<Site> sites;
    std::vector<int> expected;
  };
  const std::string proxy = "127.0.0.1:" + TestPort("PROXY");
  const std::string direct_page = "http://127.0.0.1:" + TestPort("WEB") + "/verify.html";
  const std::vector<Case> cases = {
      {"page with the verify string", proxy, {{ProxiedSite(), kVerifyText}}, {9}},
      {"typed HTTP proxy", proxy + "@HTTP", {{ProxiedSite(), kVerifyText}}, {9}},
      {"verify string missing", proxy, {{ProxiedSite(), "NOT-IN-THE-PAGE"}}, {8}},
      {"empty verify string", proxy, {{ProxiedSite(), ""}}, {9}},
      {"proxy returns another page",
       "127.0.0.1:" + TestPort("OTHER"),
       {{ProxiedSite(), kVerifyText}},
       {8}},
      {"nothing listens: the run ends early",
       "127.0.0.1:" + TestPort("DEAD"),
       {{ProxiedSite(), kVerifyText}, {direct_page, kVerifyText}},
       {4, 0}},
      {"HTTP proxy cannot serve an ftp site",
       proxy + "@HTTP",
       {{"ftp://127.0.0.1:1/", ""}, {ProxiedSite(), kVerifyText}},
       {2, 9}},
      {"bad site URL",
       proxy,
       {{"http://127.0.0.1:0/", kVerifyText}, {ProxiedSite(), kVerifyText}},
       {3, 9}},
      {"three sites in order",
       proxy,
       {{ProxiedSite(), kVerifyText}, {ProxiedSite(), "absent"}, {direct_page, kVerifyText}},
       {9, 8, 9}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunThrough(c.proxy, c.sites), c.expected) << c.name;
  }
}

// The test proxy answers whatever it is asked with the page that holds the
// verify string: over http it passes, over https it would have to answer
// inside the tunnel with the site's certificate, and cannot.
TEST(WinInetSiteFetcherTest, AProxyAnsweringInTheSitesPlaceFailsAnHttpsSite) {
  REQUIRE_TEST_PORTS("PROXY", "DEAD");
  const std::string proxy = "127.0.0.1:" + TestPort("PROXY");
  const std::string path = "127.0.0.1:" + TestPort("DEAD") + "/verify.html";
  EXPECT_EQ(RunThrough(proxy, {{"http://" + path, kVerifyText}}), std::vector<int>{9});
  std::vector<int> secure = RunThrough(proxy, {{"https://" + path, kVerifyText}});
  ASSERT_EQ(secure.size(), 1u);
  EXPECT_NE(secure[0], core::kSiteUsable);
}

TEST(WinInetSiteFetcherTest, RealTinyproxyServesThePage) {
  REQUIRE_TEST_PORTS("TINYPROXY", "WEB");
  std::string site = "http://127.0.0.1:" + TestPort("WEB") + "/verify.html";
  EXPECT_EQ(RunThrough("127.0.0.1:" + TestPort("TINYPROXY"), {{site, kVerifyText}}),
            std::vector<int>{9});
}

TEST(WinInetSiteFetcherTest, FindsTheVerifyStringAndTimesTheFetch) {
  REQUIRE_TEST_PORTS("SLOW", "DEAD");
  core::VerifyRun run;
  Recorder recorder;
  ASSERT_EQ(
      RunThrough("127.0.0.1:" + TestPort("SLOW"), {{ProxiedSite(), kVerifyText}}, &run, &recorder),
      std::vector<int>{9});
  // The slow proxy waits 0.6 s before it answers; the time covers that wait.
  EXPECT_GE(run.site(0).outcome.seconds, 0.5);
  EXPECT_LT(run.site(0).outcome.seconds, 50.0);
  ASSERT_EQ(recorder.progress.size(), 2u);
  EXPECT_EQ(recorder.progress[0], "连接站点1    (" + ProxiedSite() + ")");
  EXPECT_EQ(recorder.progress[1].rfind("可用(", 0), 0u) << recorder.progress[1];
}

TEST(WinInetSiteFetcherTest, FtpLoginAndWrongPassword) {
  REQUIRE_TEST_PORTS("FTP", "PROXY", "DEAD");
  const std::string ftp = "127.0.0.1:" + TestPort("FTP");
  const std::string proxy = "127.0.0.1:" + TestPort("PROXY");
  // A refused login is status 7 and the run goes on with the next site.
  EXPECT_EQ(RunThrough(proxy, {{"ftp://relay:moth@" + ftp + "/", ""},
                               {"ftp://relay:wrong@" + ftp + "/", ""},
                               {ProxiedSite(), kVerifyText}}),
            (std::vector<int>{9, 7, 9}));
}

TEST(WinInetSiteFetcherTest, SilentProxyEndsWithTheReceiveTimeout) {
  REQUIRE_TEST_PORTS("SILENT", "DEAD");
  // Wine honours the receive time-out only on the connection and request
  // handles; without it this run would never end.
  EXPECT_EQ(RunThrough("127.0.0.1:" + TestPort("SILENT"),
                       {{ProxiedSite(), kVerifyText}, {ProxiedSite(), kVerifyText}}),
            (std::vector<int>{4, 0}));
}

TEST(WinInetSiteFetcherTest, AbortEndsATricklingPageAndRefusesNewRequests) {
  REQUIRE_TEST_PORTS("TRICKLE", "PROXY", "DEAD");
  core::VerifyRun run;
  ASSERT_TRUE(run.SetProxyLine("127.0.0.1:" + TestPort("TRICKLE")));
  ASSERT_TRUE(run.AddSite(ProxiedSite(), kVerifyText));
  WinInetSiteFetcher fetcher;
  WinClock clock;
  Recorder recorder;
  std::thread worker([&] { run.RunTests(fetcher, clock, recorder); });
  Sleep(1500);  // the page is trickling by now
  fetcher.Abort();
  worker.join();
  EXPECT_EQ(run.site(0).outcome.status, core::kSiteUnreachable);

  core::SiteRequest request;
  request.proxy = "127.0.0.1:" + TestPort("PROXY");
  request.host = "127.0.0.1";
  request.port = 80;
  EXPECT_EQ(fetcher.OpenHttp(request), nullptr);
  EXPECT_EQ(fetcher.OpenFtp(request.proxy), nullptr);
}

TEST(WinInetSiteFetcherTest, AnAbortedRequestIsNeverSentOnAHandleAnotherWorkerGot) {
  REQUIRE_TEST_PORTS("PROXY", "DEAD");
  core::SiteRequest request;
  request.proxy = "127.0.0.1:" + TestPort("PROXY");
  request.host = "127.0.0.1";
  request.port = uint16_t(std::stoi(TestPort("DEAD")));
  request.path = "/verify.html";
  WinInetSiteFetcher aborted;
  std::unique_ptr<core::HttpRequest> stale = aborted.OpenHttp(request);
  ASSERT_NE(stale, nullptr);
  aborted.Abort();
  // Another worker opens its request now; WinInet may hand it the handle
  // values just closed.
  WinInetSiteFetcher other;
  std::unique_ptr<core::HttpRequest> fresh = other.OpenHttp(request);
  ASSERT_NE(fresh, nullptr);
  std::string page;
  EXPECT_EQ(stale->SendAndRead([&](std::string_view piece) {
    page.append(piece);
    return true;
  }),
            core::TransferResult::kFailed);
  EXPECT_TRUE(page.empty()) << page.substr(0, 200);
  stale.reset();
  // The other worker's request is intact.
  std::string mine;
  EXPECT_EQ(fresh->SendAndRead([&](std::string_view piece) {
    mine.append(piece);
    return true;
  }),
            core::TransferResult::kComplete);
  EXPECT_NE(mine.find(kVerifyText), std::string::npos);
}

// The cookies WinInet keeps for `url`; the browser sees the same jar.
std::string CookiesFor(const std::string& url) {
  wchar_t text[4096] = {};
  DWORD size = ARRAYSIZE(text);
  if (!InternetGetCookieW(Utf8ToWide(url).c_str(), nullptr, text, &size)) return "";
  return WideToUtf8(text);
}

// What a hostile proxy may answer: a cookie for the site (the page is right),
// a redirect whose own body carries the verify string, and log-in challenges
// that let the proxy's page through once answered (the site URL gives a user
// and password).
TEST(WinInetSiteFetcherTest, HostileAnswersAreNotTakenUp) {
  REQUIRE_TEST_PORTS("COOKIE", "REDIRECT", "CHALLENGE", "DEAD");
  const std::string site = "127.0.0.1:" + TestPort("DEAD");
  struct Case {
    const char* name;
    const char* proxy;
    std::string url;
    int status;
  };
  const Case cases[] = {
      {"cookie", "COOKIE", "http://" + site + "/verify.html", core::kSiteUsable},
      {"redirect", "REDIRECT", "http://" + site + "/moved/verify.html", core::kSiteNoMatch},
      {"401", "CHALLENGE", "http://relay:moth@" + site + "/auth401/verify.html",
       core::kSiteNoMatch},
      {"407", "CHALLENGE", "http://relay:moth@" + site + "/auth407/verify.html",
       core::kSiteNoMatch},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunThrough("127.0.0.1:" + TestPort(c.proxy), {{c.url, kVerifyText}}),
              std::vector<int>{c.status})
        << c.name;
  }
  EXPECT_EQ(CookiesFor("http://" + site + "/verify.html").find("relaymoth_jar"), std::string::npos);
}

}  // namespace
}  // namespace win
