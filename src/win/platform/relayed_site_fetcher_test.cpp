// Verification of rows in their own protocol under Wine: WinInet through a relay
// port bound to the row, against the SOCKS5 servers and the HTTP proxies that
// scripts/verify-servers.sh starts on 127.0.0.1.
#include "win/platform/relayed_site_fetcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/verify/verify_run.h"
#include "core/verify/verify_testing.h"
#include "win/platform/win_clock.h"
#include "win/platform/wininet_site_fetcher.h"
#include "win/testing/test_servers.h"

namespace win {
namespace {

TEST(RelayedSiteFetcherTest, Socks5RowsAreCheckedInTheirOwnProtocol) {
  REQUIRE_TEST_PORTS("WEB", "MICROSOCKS", "DANTE", "PROXY", "DEAD");
  RelayEngineOptions options;
  options.upstream_timeout_ms = 3000;  // the silent HTTP proxy below is given up soon
  auto engine = std::make_shared<RelayEngine>(options);
  std::string error;
  ASSERT_TRUE(engine->Start(&error)) << error;
  struct Case {
    std::string line;
    bool usable;
  };
  const std::string page = "http://127.0.0.1:" + TestPort("WEB") + "/verify.html";
  const Case cases[] = {
      {"127.0.0.1:" + TestPort("MICROSOCKS") + "@SOCKS5", true},
      {"127.0.0.1:" + TestPort("DANTE") + "@SOCKS5", true},
      // An HTTP proxy typed SOCKS5 fails: it waits for an HTTP head and never
      // answers the SOCKS5 greeting.
      {"127.0.0.1:" + TestPort("PROXY") + "@SOCKS5", false},
      // An HTTP row keeps WinInet's own path.
      {"127.0.0.1:" + TestPort("PROXY"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    core::VerifyRun run;
    ASSERT_TRUE(run.SetProxyLine(c.line));
    ASSERT_TRUE(run.AddSite(page, "RELAYMOTH-VERIFY-7731"));
    RelayedSiteFetcher fetcher(std::make_unique<WinInetSiteFetcher>(), engine);
    WinClock clock;
    core::QuietObserver quiet;
    run.RunTests(fetcher, clock, quiet);
    ASSERT_EQ(run.Outcomes().size(), 1u);
    EXPECT_EQ(run.Outcomes()[0].status == core::kSiteUsable, c.usable) << run.Outcomes()[0].status;
  }
  // Nothing stays behind once the last proxy was given up.
  for (int i = 0; i < 600 && engine->open_connections() != 0; ++i) Sleep(10);
  EXPECT_EQ(engine->open_connections(), 0u);
}

}  // namespace
}  // namespace win
