// Protocol detection against the servers scripts/verify-servers.sh starts on
// 127.0.0.1: the protocols raced on sockets of their own, and a whole verify run
// of an untyped row through the verification's own fetcher.
// Winsock before windows.h.
#include "win/platform/handshake_probe.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/net/type_detection.h"
#include "core/verify/verify_run.h"
#include "core/verify/verify_testing.h"
#include "win/platform/relayed_site_fetcher.h"
#include "win/platform/unique_socket.h"
#include "win/platform/win_clock.h"
#include "win/platform/wininet_site_fetcher.h"
#include "win/testing/test_servers.h"

namespace win {
namespace {

using core::ProxyProtocol;

core::UpstreamProxy Proxy(const char* server, ProxyProtocol protocol) {
  return {{"127.0.0.1", uint16_t(std::stoi(TestPort(server)))}, protocol, std::nullopt};
}

TEST(HandshakeProbeTest, EachServerIsTypedByItsFirstAnswerInOrder) {
  REQUIRE_TEST_PORTS("WEB", "MICROSOCKS", "DANTE", "TINYPROXY", "SILENT", "DEAD");
  const core::NetTarget web{"127.0.0.1", uint16_t(std::stoi(TestPort("WEB")))};
  const HandshakeTimeouts quick{2000, 1500};
  struct Case {
    const char* server;
    std::optional<ProxyProtocol> found;
    bool connected;
  } cases[] = {
      {"MICROSOCKS", ProxyProtocol::kSocks5, true},
      {"DANTE", ProxyProtocol::kSocks5, true},  // it speaks SOCKS4 too; SOCKS5 comes first
      {"TINYPROXY", ProxyProtocol::kHttp, true},
      {"SILENT", std::nullopt, true},
      {"DEAD", std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    core::DetectionOutcome out =
        RaceProxyHandshakes(Proxy(c.server, ProxyProtocol::kHttp), web, quick);
    EXPECT_EQ(out.protocol, c.found) << int(out.attempt.failure);
    EXPECT_EQ(out.connected, c.connected);
    if (c.found) EXPECT_EQ(out.attempt.state, core::HandshakeState::kTunnelUp);
  }
}

TEST(HandshakeProbeTest, AnAbortedRaceGetsNoAnswer) {
  REQUIRE_TEST_PORTS("WEB", "MICROSOCKS");
  const core::NetTarget web{"127.0.0.1", uint16_t(std::stoi(TestPort("WEB")))};
  for (bool aborted : {false, true}) {
    UniqueKernelHandle abort(CreateEventW(nullptr, TRUE, aborted, nullptr));
    core::DetectionOutcome out =
        RaceProxyHandshakes(Proxy("MICROSOCKS", ProxyProtocol::kSocks5), web, {}, abort.get());
    EXPECT_EQ(out.protocol.has_value(), !aborted);
  }
}

// Untyped rows are verified in the protocol found; a refused log-in and a row
// typed with a protocol its proxy does not speak each say so.
TEST(HandshakeProbeTest, UntypedRowsAreVerifiedInTheProtocolFound) {
  REQUIRE_TEST_PORTS("WEB", "MICROSOCKS", "MICROSOCKS_AUTH", "DANTE", "TINYPROXY");
  auto engine = std::make_shared<RelayEngine>(RelayEngineOptions{});
  std::string error;
  ASSERT_TRUE(engine->Start(&error)) << error;
  struct Case {
    const char* server;
    const char* type;
    bool wrong_login;
    std::optional<ProxyProtocol> found;
    int status;
  } cases[] = {
      {"MICROSOCKS", "", false, ProxyProtocol::kSocks5, core::kSiteUsable},
      {"DANTE", "", false, ProxyProtocol::kSocks5, core::kSiteUsable},
      {"TINYPROXY", "", false, ProxyProtocol::kHttp, core::kSiteUsable},
      {"MICROSOCKS_AUTH", "", true, ProxyProtocol::kSocks5, core::kSiteWrongPassword},
      {"MICROSOCKS_AUTH", "@SOCKS5", true, std::nullopt, core::kSiteWrongPassword},
      // A SOCKS5 server closes on a SOCKS4 request: no answer in the row's protocol.
      {"MICROSOCKS", "@SOCKS4", false, std::nullopt, core::kSiteNoProtocol},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.server) + c.type);
    core::VerifyRun run;
    ASSERT_TRUE(run.SetProxyLine("127.0.0.1:" + TestPort(c.server) + c.type));
    if (c.wrong_login) run.SetCredentials(core::ProxyCredentials{"nobody", "wrong"});
    run.set_detect_type(true);
    ASSERT_TRUE(run.AddSite(TestUrl("WEB", "/verify.html"), "RELAYMOTH-VERIFY-7731"));
    RelayedSiteFetcher fetcher(std::make_unique<WinInetSiteFetcher>(), engine);
    WinClock clock;
    core::QuietObserver quiet;
    run.RunTests(fetcher, clock, quiet);
    EXPECT_EQ(run.detected_protocol(), c.found);
    ASSERT_EQ(run.Outcomes().size(), 1u);
    EXPECT_EQ(run.Outcomes()[0].status, c.status);
  }
}

}  // namespace
}  // namespace win
