#include "core/verify/verify_run.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/net/type_detection.h"
#include "core/verify/verify_testing.h"

namespace core {
namespace {

struct RecordingObserver : RunObserver {
  std::vector<std::string> progress;
  std::vector<int> sites_done;
  void OnProgress(std::string_view text) override { progress.emplace_back(text); }
  void OnSiteDone(int index, const SiteOutcome&) override { sites_done.push_back(index); }
};

class VerifyRunTest : public ::testing::Test {
 protected:
  SiteScript Page(std::string text, uint32_t ms) {
    SiteScript s;
    s.pieces = {std::move(text)};
    s.takes_ms = ms;
    return s;
  }
  std::vector<int> Statuses() const {
    std::vector<int> out;
    for (const SiteOutcome& o : run.Outcomes()) out.push_back(o.status);
    return out;
  }
  void Run() { run.RunTests(fetcher, clock, observer); }

  ManualClock clock{1000};
  ScriptedFetcher fetcher{clock};
  RecordingObserver observer;
  VerifyRun run;
};

TEST_F(VerifyRunTest, ProxyAccepted) {
  struct Case {
    const char* address;
    const char* port;
    const char* type;
    int kind;
  } cases[] = {
      {"1.2.3.4", "80", "", 0},   {"1.2.3.4", " 8080 ", "http", 1}, {"h", "1", "HTTPS", 2},
      {"h", "65535", "Socks", 3}, {"h", "0080", "socks4", 4},       {"h", "1080", "SOCKS5", 5},
      {"h", "21", "ftp", 6},
  };
  for (const Case& c : cases) {
    VerifyRun r;
    EXPECT_TRUE(r.SetProxy(c.address, c.port, c.type)) << c.address << ":" << c.port << c.type;
    EXPECT_EQ(r.proxy_kind(), c.kind) << c.type;
  }
}

TEST_F(VerifyRunTest, ProxyRefusedAndPreviousKept) {
  struct Case {
    const char* address;
    const char* port;
    const char* type;
  } cases[] = {
      {"h", "0", ""},        {"h", "65536", ""},    {"h", "", ""},
      {"h", "80abc", ""},    {"h", "-80", ""},      {"h", "99999999999999999999", ""},
      {"h", "80", "GOPHER"}, {"h", "80", "TELNET"}, {"", "80", ""},
      {"a b", "80", ""},     {"a;b", "80", ""},     {"http=a", "80", ""},
  };
  for (const Case& c : cases) {
    VerifyRun r;
    ASSERT_TRUE(r.SetProxy("keep", "3128", "FTP"));
    EXPECT_FALSE(r.SetProxy(c.address, c.port, c.type))
        << "'" << c.address << "' '" << c.port << "' '" << c.type << "'";
    EXPECT_TRUE(r.proxy_set());
    EXPECT_EQ(r.proxy_kind(), 6) << c.address << c.port << c.type;
    EXPECT_EQ(r.ProxyTextFor(SiteScheme::kFtp), "ftp=keep:3128");
  }
}

TEST_F(VerifyRunTest, ProxyLineGoesThroughTheLineParser) {
  EXPECT_TRUE(run.SetProxyLine(" 61.135.1.2 : 8080 @ http $中国 北京"));
  EXPECT_EQ(run.ProxyTextFor(SiteScheme::kHttp), "http=61.135.1.2:8080");
  VerifyRun other;
  EXPECT_FALSE(other.SetProxyLine("1.2.3.4:80@gopher"));  // parsed, but not in the kind table
  EXPECT_FALSE(other.SetProxyLine("1.2.3.4"));
  EXPECT_FALSE(other.proxy_set());
}

TEST_F(VerifyRunTest, AddSiteRules) {
  EXPECT_FALSE(run.AddSite("gopher://h/", "x"));
  EXPECT_FALSE(run.AddSite(" http://h/", "x"));
  EXPECT_FALSE(run.AddSite("h/", "x"));
  EXPECT_TRUE(run.AddSite("HTTPS://h/", "x"));
  EXPECT_TRUE(run.AddSite("ftp://h/", ""));
  EXPECT_TRUE(run.AddSite("Ftp://h/", ""));
  EXPECT_TRUE(run.AddSite("http://h/4", "x"));
  EXPECT_TRUE(run.AddSite("http://h/5", "x"));
  EXPECT_FALSE(run.AddSite("http://h/6", "x"));  // a sixth site
  EXPECT_EQ(run.site_count(), 5);
  run.ClearSites();
  EXPECT_EQ(run.site_count(), 0);
  EXPECT_TRUE(run.AddSite("http://h/again", "x"));
  EXPECT_EQ(run.site(0).url, "http://h/again");
}

TEST_F(VerifyRunTest, KindDispatch) {
  struct Case {
    const char* line;
    const char* url;
    const char* proxy;  // "" when the kind cannot serve the site
  } cases[] = {
      {"1.2.3.4:80@HTTP", "http://h/", "http=1.2.3.4:80"},
      {"1.2.3.4:80@HTTPS", "http://h/", "http=1.2.3.4:80"},
      {"1.2.3.4:80@HTTP", "ftp://h/", ""},
      {"1.2.3.4:1080@SOCKS", "http://h/", "socks=1.2.3.4:1080"},
      {"1.2.3.4:1080@SOCKS4", "ftp://h/", "socks=1.2.3.4:1080"},
      {"1.2.3.4:1080@SOCKS5", "ftp://h/", "socks=1.2.3.4:1080"},
      {"1.2.3.4:1080@SOCKS4A", "https://h/", "socks=1.2.3.4:1080"},
      {"1.2.3.4:21@FTP", "ftp://h/", "ftp=1.2.3.4:21"},
      {"1.2.3.4:21@FTP", "http://h/", ""},
      {"1.2.3.4:3128", "http://h/", "1.2.3.4:3128"},
      {"1.2.3.4:3128", "ftp://h/", "1.2.3.4:3128"},
      // https goes through the "https=" entry, which WinInet tunnels with CONNECT.
      {"1.2.3.4:80@HTTP", "https://h/", "https=1.2.3.4:80"},
      {"1.2.3.4:1080@SOCKS5", "https://h/", "socks=1.2.3.4:1080"},
      {"1.2.3.4:3128", "https://h/", "1.2.3.4:3128"},
      {"1.2.3.4:21@FTP", "https://h/", ""},
  };
  for (const Case& c : cases) {
    ManualClock clk;
    ScriptedFetcher f(clk);
    f.scripts["h"] = Page("x", 100);
    RecordingObserver obs;
    VerifyRun r;
    ASSERT_TRUE(r.SetProxyLine(c.line)) << c.line;
    ASSERT_TRUE(r.AddSite(c.url, "x"));
    r.RunTests(f, clk, obs);
    std::string used = f.http_requests.empty() ? "" : f.http_requests[0].proxy;
    if (!f.ftp_proxies.empty()) used = f.ftp_proxies[0];
    EXPECT_EQ(used, c.proxy) << c.line << " " << c.url;
    // Every SOCKS protocol is spoken by the relay for http and https pages, never
    // by WinInet.
    bool own = !f.http_requests.empty() && f.http_requests[0].own_protocol.has_value();
    std::string line = c.line;
    EXPECT_EQ(own,
              line.find("SOCKS") != std::string::npos && std::string(c.url).rfind("ftp", 0) != 0)
        << c.line << " " << c.url;
    if (own) {
      ProxyProtocol expected = line.find("SOCKS5") != std::string::npos    ? ProxyProtocol::kSocks5
                               : line.find("SOCKS4A") != std::string::npos ? ProxyProtocol::kSocks4a
                                                                           : ProxyProtocol::kSocks4;
      EXPECT_EQ(f.http_requests[0].own_protocol->protocol, expected);
      EXPECT_EQ(HostPortText(f.http_requests[0].own_protocol->proxy), "1.2.3.4:1080");
    }
    if (*c.proxy == '\0') {
      EXPECT_EQ(r.Outcomes()[0].status, kSiteKindMismatch) << c.line << " " << c.url;
      EXPECT_TRUE(obs.progress.empty()) << c.line << " " << c.url;
    } else {
      EXPECT_EQ(r.Outcomes()[0].status, kSiteUsable) << c.line << " " << c.url;
    }
  }
}

TEST_F(VerifyRunTest, DetectsTheTypeOfAnUntypedProxy) {
  using HA = HandshakeAttempt;
  using P = ProxyProtocol;
  const HA kUp{HandshakeState::kTunnelUp, ProxyFailure::kNone};
  const HA kRefused{HandshakeState::kFailed, ProxyFailure::kRefused};
  const HA kUnreachable{HandshakeState::kFailed, ProxyFailure::kProxyUnreachable};
  const HA kTimeout{HandshakeState::kFailed, ProxyFailure::kTimeout};
  const HA kLoginRefused{HandshakeState::kFailed, ProxyFailure::kAuthRefused};
  struct Case {
    const char* name;
    const char* line;
    bool detect;
    std::map<ProxyProtocol, HA> answers;  // the others reply in another protocol
    std::optional<ProxyProtocol> found;   // the type it gets
    const char* proxy;                    // the first site test's session proxy; null: none
    int first_status;
  } cases[] = {
      {"socks5",
       "1.2.3.4:1080",
       true,
       {{P::kSocks5, kUp}},
       P::kSocks5,
       "socks=1.2.3.4:1080",
       kSiteUsable},
      // A refusal in the protocol's own words is an answer too.
      {"socks5 refusing",
       "1.2.3.4:1080",
       true,
       {{P::kSocks5, kRefused}},
       P::kSocks5,
       "socks=1.2.3.4:1080",
       kSiteUsable},
      {"socks4",
       "1.2.3.4:1080",
       true,
       {{P::kSocks4, kUp}, {P::kSocks5, kTimeout}},
       P::kSocks4,
       "socks=1.2.3.4:1080",
       kSiteUsable},
      {"http",
       "1.2.3.4:1080",
       true,
       {{P::kSocks5, kTimeout}, {P::kHttp, kUp}},
       P::kHttp,
       "http=1.2.3.4:1080",
       kSiteUsable},
      // A mixed port answers every protocol: HTTP comes first.
      {"mixed port",
       "1.2.3.4:1080",
       true,
       {{P::kSocks5, kUp}, {P::kSocks4, kUp}, {P::kHttp, kUp}},
       P::kHttp,
       "http=1.2.3.4:1080",
       kSiteUsable},
      // No answer, and no port: the sites are not asked to wait again.
      {"silent",
       "1.2.3.4:1080",
       true,
       {{P::kSocks5, kTimeout}, {P::kSocks4, kTimeout}, {P::kHttp, kTimeout}},
       std::nullopt,
       nullptr,
       kSiteNoProtocol},
      {"dead port",
       "1.2.3.4:1080",
       true,
       {{P::kSocks5, kUnreachable}, {P::kSocks4, kUnreachable}, {P::kHttp, kUnreachable}},
       std::nullopt,
       nullptr,
       kSiteUnreachable},
      // Typed by its answer, but the log-in it was given is refused.
      {"log-in refused",
       "1.2.3.4:1080",
       true,
       {{P::kSocks5, kLoginRefused}},
       P::kSocks5,
       nullptr,
       kSiteWrongPassword},
      {"setting off",
       "1.2.3.4:1080",
       false,
       {{P::kSocks5, kUp}},
       std::nullopt,
       "1.2.3.4:1080",
       kSiteUsable},
      {"typed row",
       "1.2.3.4:1080@HTTP",
       true,
       {{P::kSocks5, kUp}},
       std::nullopt,
       "http=1.2.3.4:1080",
       kSiteUsable},
  };
  for (const Case& c : cases) {
    ManualClock clk;
    ScriptedFetcher f(clk);
    f.scripts["h"] = Page("x", 100);
    f.handshakes = c.answers;
    RecordingObserver obs;
    VerifyRun r;
    ASSERT_TRUE(r.SetProxyLine(c.line)) << c.name;
    r.set_detect_type(c.detect);
    ASSERT_TRUE(r.AddSite("http://h:8080/p", "x"));
    ASSERT_TRUE(r.AddSite("https://other/", "x"));
    r.RunTests(f, clk, obs);
    bool detects = c.detect && std::string(c.line).find('@') == std::string::npos;
    ASSERT_EQ(f.detections.size(), detects ? 1u : 0u) << c.name;
    if (detects) {
      EXPECT_EQ(HostPortText(f.detections[0].first.proxy), "1.2.3.4:1080") << c.name;
      EXPECT_EQ(HostPortText(f.detections[0].second), "h:8080") << c.name;
    }
    EXPECT_EQ(r.detected_protocol(), c.found) << c.name;
    EXPECT_EQ(r.Outcomes()[0].status, c.first_status) << c.name;
    if (!c.proxy) {
      EXPECT_TRUE(f.http_requests.empty()) << c.name;
      EXPECT_EQ(r.Outcomes()[1].status, kSiteNotTested) << c.name;
      continue;
    }
    ASSERT_FALSE(f.http_requests.empty()) << c.name;
    EXPECT_EQ(f.http_requests[0].proxy, c.proxy) << c.name;
    bool socks = c.found && *c.found != ProxyProtocol::kHttp;
    ASSERT_EQ(f.http_requests[0].own_protocol.has_value(), socks) << c.name;
    if (socks) {
      EXPECT_EQ(f.http_requests[0].own_protocol->protocol, *c.found) << c.name;
    }
  }
}

TEST_F(VerifyRunTest, DetectionTriesTheSchemesDefaultPort) {
  for (auto [url, port] : {std::pair{"http://h/", 80}, {"https://h/", 443}, {"ftp://h/", 21}}) {
    ManualClock clk;
    ScriptedFetcher f(clk);
    RecordingObserver obs;
    VerifyRun r;
    ASSERT_TRUE(r.SetProxyLine("1.2.3.4:1080"));
    r.set_detect_type(true);
    ASSERT_TRUE(r.AddSite(url, "x"));
    r.RunTests(f, clk, obs);
    ASSERT_EQ(f.detections.size(), 1u) << url;
    EXPECT_EQ(f.detections[0].second.port, port) << url;
  }
}

// The relay that carried a request tells why the proxy failed it in its own
// protocol: a refused log-in, or a reply of another protocol, holds for every site.
TEST_F(VerifyRunTest, TheProxysOwnRefusalGivesTheReason) {
  struct Case {
    std::optional<ProxyFailure> failure;
    int status;
    int second;  // the second site's status
  } cases[] = {
      {ProxyFailure::kAuthRefused, kSiteWrongPassword, kSiteNotTested},
      {ProxyFailure::kNotSocks5, kSiteNoProtocol, kSiteNotTested},
      {ProxyFailure::kBadReply, kSiteNoProtocol, kSiteNotTested},
      // Slow says nothing of the protocol: the page decides.
      {ProxyFailure::kTimeout, kSiteUsable, kSiteUsable},
      // Said no to this target only, in its own words: the page decides.
      {ProxyFailure::kTargetRefused, kSiteUsable, kSiteUsable},
      {std::nullopt, kSiteUsable, kSiteUsable},
  };
  for (const Case& c : cases) {
    ManualClock clk;
    ScriptedFetcher f(clk);
    f.scripts["h"] = Page("x", 100);
    f.proxy_failure = c.failure;
    QuietObserver obs;
    VerifyRun r;
    ASSERT_TRUE(r.SetProxyLine("1.2.3.4:1080@SOCKS5"));
    ASSERT_TRUE(r.AddSite("http://h/", "x"));
    ASSERT_TRUE(r.AddSite("http://h/2", "x"));
    r.RunTests(f, clk, obs);
    int failure = c.failure ? int(*c.failure) : -1;
    EXPECT_EQ(r.Outcomes()[0].status, c.status) << failure;
    EXPECT_EQ(r.Outcomes()[1].status, c.second) << failure;
  }
}

TEST_F(VerifyRunTest, OtherSchemeIsAKindMismatchForEveryProxy) {
  ASSERT_TRUE(run.SetProxyLine("1.2.3.4:80"));
  EXPECT_EQ(run.ProxyTextFor(SiteScheme::kOther), "");
}

TEST_F(VerifyRunTest, HttpOutcomesProgressAndTimes) {
  fetcher.scripts["good"] = Page("<html>ifconfig.me 1.2.3.4</html>", 1200);
  fetcher.scripts["wrong"] = Page("<html>blocked</html>", 3000);
  SiteScript broken;
  broken.open_fails = true;
  fetcher.scripts["broken"] = broken;
  ASSERT_TRUE(run.SetProxyLine("1.2.3.4:80"));
  ASSERT_TRUE(run.AddSite("http://good/", "ifconfig.me"));
  ASSERT_TRUE(run.AddSite("http://wrong/", "ifconfig.me"));
  ASSERT_TRUE(run.AddSite("http://broken/", "x"));
  ASSERT_TRUE(run.AddSite("http://h:0/", "x"));
  Run();
  EXPECT_EQ(Statuses(),
            (std::vector<int>{kSiteUsable, kSiteNoMatch, kSiteNotCreated, kSiteBadUrl}));
  EXPECT_DOUBLE_EQ(run.Outcomes()[0].seconds, 1.2);
  EXPECT_DOUBLE_EQ(run.Outcomes()[1].seconds, 3.0);
  EXPECT_DOUBLE_EQ(run.Outcomes()[2].seconds, kUntimedSeconds);
  EXPECT_EQ(observer.progress,
            (std::vector<std::string>{"连接站点1    (http://good/)", "可用(1.2)",
                                      "连接站点2    (http://wrong/)", "不匹配(3.0)", "异常错误",
                                      "地址无效    (http://h:0/)"}));
  EXPECT_EQ(observer.sites_done, (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(VerifyRunTest, RequestCarriesHostPortPathAndCredentials) {
  fetcher.scripts["h"] = Page("ok", 10);
  ASSERT_TRUE(run.SetProxyLine("9.9.9.9:3128"));
  ASSERT_TRUE(run.AddSite("http://u:p@h:8080/x", "ok"));
  ASSERT_TRUE(run.AddSite("http://u@h", "ok"));
  ASSERT_TRUE(run.AddSite("https://h/s", "ok"));
  Run();
  ASSERT_EQ(fetcher.http_requests.size(), 3u);
  EXPECT_FALSE(fetcher.http_requests[0].secure);
  EXPECT_TRUE(fetcher.http_requests[2].secure);
  const SiteRequest& a = fetcher.http_requests[0];
  EXPECT_EQ(a.host, "h");
  EXPECT_EQ(a.port, 8080);
  EXPECT_EQ(a.path, "/x");
  EXPECT_EQ(a.user, "u");
  EXPECT_EQ(a.password, "p");
  const SiteRequest& b = fetcher.http_requests[1];
  EXPECT_EQ(b.port, 0);
  EXPECT_EQ(b.path, "");  // an empty object name
  EXPECT_EQ(b.user, "u");
  EXPECT_EQ(b.password, "");
}

TEST_F(VerifyRunTest, UnreachableProxyEndsTheRunEarly) {
  SiteScript dead = Page("", 5000);
  dead.transfer = TransferResult::kFailed;
  fetcher.scripts["dead"] = dead;
  fetcher.scripts["h"] = Page("x", 10);
  ASSERT_TRUE(run.SetProxyLine("1.2.3.4:80"));
  ASSERT_TRUE(run.AddSite("http://dead/", "x"));
  ASSERT_TRUE(run.AddSite("http://h/", "x"));
  ASSERT_TRUE(run.AddSite("ftp://h/", ""));
  Run();
  EXPECT_EQ(Statuses(), (std::vector<int>{kSiteUnreachable, kSiteNotTested, kSiteNotTested}));
  EXPECT_EQ(fetcher.http_requests.size(), 1u);
  EXPECT_TRUE(fetcher.ftp_proxies.empty());
  EXPECT_EQ(observer.progress.back(), "无法连接proxy");
  EXPECT_DOUBLE_EQ(run.Outcomes()[0].seconds, kUntimedSeconds);
}

TEST_F(VerifyRunTest, FtpOutcomes) {
  SiteScript refused;
  refused.login = FtpLoginResult::kWrongPassword;
  fetcher.scripts["refused"] = refused;
  SiteScript nothing;
  nothing.login = FtpLoginResult::kNoConnection;
  fetcher.scripts["nothing"] = nothing;
  SiteScript fine;
  fine.takes_ms = 2500;
  fetcher.scripts["fine"] = fine;
  SiteScript dead;
  dead.login = FtpLoginResult::kFailed;
  fetcher.scripts["dead"] = dead;
  ASSERT_TRUE(run.SetProxyLine("1.2.3.4:1080@SOCKS5"));
  ASSERT_TRUE(run.AddSite("ftp://u:p@refused:2121/pub", "ignored"));
  ASSERT_TRUE(run.AddSite("ftp://nothing/", ""));
  ASSERT_TRUE(run.AddSite("ftp://fine/", ""));
  ASSERT_TRUE(run.AddSite("ftp://dead/", ""));
  ASSERT_TRUE(run.AddSite("ftp://fine/", ""));
  Run();
  EXPECT_EQ(Statuses(), (std::vector<int>{kSiteWrongPassword, kSiteNotCreated, kSiteUsable,
                                          kSiteUnreachable, kSiteNotTested}));
  EXPECT_DOUBLE_EQ(run.Outcomes()[2].seconds, 2.5);
  EXPECT_TRUE(observer.progress.empty());  // FTP tests send no progress
  ASSERT_EQ(fetcher.ftp_logins.size(), 4u);
  EXPECT_EQ(fetcher.ftp_logins[0].user, "u");
  EXPECT_EQ(fetcher.ftp_logins[0].password, "p");
  EXPECT_EQ(fetcher.ftp_logins[0].port, 2121);
}

TEST_F(VerifyRunTest, FtpWithoutSessionIsNotCreated) {
  fetcher.ftp_session_fails = true;
  ASSERT_TRUE(run.SetProxyLine("1.2.3.4:80"));
  ASSERT_TRUE(run.AddSite("ftp://h/", ""));
  ASSERT_TRUE(run.AddSite("ftp://h/", ""));
  Run();
  EXPECT_EQ(Statuses(), (std::vector<int>{kSiteNotCreated, kSiteNotCreated}));
  EXPECT_TRUE(fetcher.ftp_logins.empty());
}

TEST_F(VerifyRunTest, EmptyVerifyStringMatchesEveryPage) {
  fetcher.scripts["h"] = Page("", 10);
  ASSERT_TRUE(run.SetProxyLine("1.2.3.4:80"));
  ASSERT_TRUE(run.AddSite("http://h/", ""));
  Run();
  EXPECT_EQ(Statuses(), (std::vector<int>{kSiteUsable}));
}

TEST_F(VerifyRunTest, TimeSurvivesTickCounterWrap) {
  ManualClock late(0xFFFFFF00u);
  ScriptedFetcher f(late);
  f.scripts["h"] = Page("x", 1500);
  RecordingObserver obs;
  ASSERT_TRUE(run.SetProxyLine("1.2.3.4:80"));
  ASSERT_TRUE(run.AddSite("http://h/", "x"));
  run.RunTests(f, late, obs);
  EXPECT_LT(late.NowMs(), 0xFFFFFF00u);  // the counter did wrap
  EXPECT_DOUBLE_EQ(run.Outcomes()[0].seconds, 1.5);
  EXPECT_DOUBLE_EQ(ElapsedSeconds(0xFFFFFFFFu, 0), 0.001);
}

TEST_F(VerifyRunTest, VerifyStringAcrossPieces) {
  struct Case {
    std::vector<std::string> pieces;
    const char* needle;
    bool found;
  } cases[] = {
      {{"abc", "def"}, "cd", true},
      {{"a", "b", "c", "d"}, "abcd", true},
      {{"xxab", "c"}, "abc", true},
      {{"ab", "xc"}, "abc", false},
      {{"ABC"}, "abc", false},  // case-sensitive
      {{}, "a", false},
      {{"中国", "北京"}, "国北", true},
      {{"xa", "b", "c"}, "abc", true},    // through a piece shorter than the needle
      {{"aab", "xabc"}, "abc", true},     // inside a later piece
      {{"ab", "ab", "ab"}, "bab", true},  // straddling a short piece
      {{"abcab", "d"}, "abd", true},      // the tail holds a partial match
      {{"a", "x", "bc"}, "abc", false},
  };
  for (const Case& c : cases) {
    ManualClock clk;
    ScriptedFetcher f(clk);
    SiteScript s;
    s.pieces = c.pieces;
    f.scripts["h"] = s;
    RecordingObserver obs;
    VerifyRun r;
    ASSERT_TRUE(r.SetProxyLine("1.2.3.4:80"));
    ASSERT_TRUE(r.AddSite("http://h/", c.needle));
    r.RunTests(f, clk, obs);
    EXPECT_EQ(r.Outcomes()[0].status, c.found ? kSiteUsable : kSiteNoMatch) << c.needle;
  }
}

TEST_F(VerifyRunTest, EndlessPageIsCutAndJudgedOnWhatWasRead) {
  SiteScript flood;
  flood.pieces = {std::string(64 * 1024, 'a')};
  flood.repeat_pieces = 1000;  // 64 MiB on offer
  fetcher.scripts["flood"] = flood;
  SiteScript late;  // the verify string arrives after the first MiB
  late.pieces = {std::string(3 << 20, 'b'), "needle"};
  fetcher.scripts["late"] = late;
  SiteScript too_late;  // and here only after 8 MiB
  too_late.pieces = {std::string(kMaxPageRead, 'c'), "needle"};
  fetcher.scripts["too_late"] = too_late;
  ASSERT_TRUE(run.SetProxyLine("1.2.3.4:80"));
  ASSERT_TRUE(run.AddSite("http://flood/", "needle"));
  ASSERT_TRUE(run.AddSite("http://late/", "needle"));
  ASSERT_TRUE(run.AddSite("http://too_late/", "needle"));
  Run();
  EXPECT_EQ(Statuses(), (std::vector<int>{kSiteNoMatch, kSiteUsable, kSiteNoMatch}));
  EXPECT_LE(fetcher.bytes_delivered, 2 * kMaxPageRead + (3 << 20) + 6 + 64 * 1024);
}

// A worker keeps none of the page: 200 workers against proxies that send
// endless pages must not hold megabytes each.
TEST(VerifyStringScannerTest, HoldsOnlyTheTailANeedleCanStraddle) {
  struct Case {
    std::string needle;
    size_t piece;
  } cases[] = {{"RELAYMOTH-VERIFY-7731", 8192}, {"x", 8192}, {"abcdefgh", 3}, {"", 100}};
  for (const Case& c : cases) {
    VerifyStringScanner scanner(c.needle);
    std::string piece(c.piece, 'z');
    size_t fed = 0;
    size_t most = 0;
    while (scanner.Feed(piece)) {
      fed += piece.size();
      most = std::max(most, scanner.held_bytes());
      if (fed > (size_t{2} << 20) && c.piece < 8192) break;  // enough for small pieces
    }
    EXPECT_EQ(scanner.found(), c.needle.empty()) << c.needle;
    // std::string keeps a small buffer of its own (15 bytes in libstdc++).
    EXPECT_LE(most, 2 * (2 * c.needle.size() + 16)) << c.needle << " " << c.piece;
  }
}

TEST_F(VerifyRunTest, RunWithoutSitesOrProxyTestsNothing) {
  fetcher.scripts["h"] = Page("x", 10);
  Run();  // neither
  ASSERT_TRUE(run.AddSite("http://h/", "x"));
  Run();  // no proxy
  EXPECT_EQ(Statuses(), (std::vector<int>{kSiteNotTested}));
  EXPECT_TRUE(fetcher.http_requests.empty());
  EXPECT_TRUE(observer.sites_done.empty());
}

TEST_F(VerifyRunTest, EachRunStartsFromUntestedSlots) {
  fetcher.scripts["h"] = Page("x", 700);
  ASSERT_TRUE(run.SetProxyLine("1.2.3.4:80"));
  ASSERT_TRUE(run.AddSite("http://h/", "x"));
  ASSERT_TRUE(run.AddSite("http://h/", "x"));
  Run();
  fetcher.scripts["h"].transfer = TransferResult::kFailed;
  Run();
  EXPECT_EQ(Statuses(), (std::vector<int>{kSiteUnreachable, kSiteNotTested}));
  EXPECT_DOUBLE_EQ(run.Outcomes()[1].seconds, kUntimedSeconds);
}

TEST_F(VerifyRunTest, AbortedFetcherFailsFast) {
  fetcher.scripts["h"] = Page("x", 10);
  fetcher.Abort();
  ASSERT_TRUE(run.SetProxyLine("1.2.3.4:80"));
  ASSERT_TRUE(run.AddSite("http://h/", "x"));
  Run();
  EXPECT_EQ(Statuses(), (std::vector<int>{kSiteNotCreated}));
}

}  // namespace
}  // namespace core
