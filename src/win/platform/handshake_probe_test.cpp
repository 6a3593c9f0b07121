// Protocol detection against the servers scripts/verify-servers.sh starts on
// 127.0.0.1: one handshake per protocol on a socket of its own, and a whole
// verify run of an untyped row through the verification's own fetcher.
// Winsock before windows.h.
#include "win/platform/handshake_probe.h"

#include <gtest/gtest.h>

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

TEST(HandshakeProbeTest, EachServerAnswersInItsOwnProtocolsOnly) {
  REQUIRE_TEST_PORTS("WEB", "MICROSOCKS", "DANTE", "TINYPROXY", "SILENT", "DEAD");
  const core::NetTarget web{"127.0.0.1", uint16_t(std::stoi(TestPort("WEB")))};
  const HandshakeTimeouts quick{2000, 1500};
  struct Case {
    const char* server;
    ProxyProtocol protocol;
    bool answered;
    core::ProxyFailure failure;  // when not answered
  } cases[] = {
      {"MICROSOCKS", ProxyProtocol::kSocks5, true, {}},
      {"MICROSOCKS", ProxyProtocol::kSocks4, false, {}},
      {"DANTE", ProxyProtocol::kSocks5, true, {}},
      {"DANTE", ProxyProtocol::kSocks4, true, {}},
      // An HTTP proxy waits for the end of a request line that never comes.
      {"TINYPROXY", ProxyProtocol::kSocks5, false, core::ProxyFailure::kTimeout},
      {"TINYPROXY", ProxyProtocol::kHttp, true, {}},
      {"SILENT", ProxyProtocol::kSocks5, false, core::ProxyFailure::kTimeout},
      {"DEAD", ProxyProtocol::kSocks5, false, core::ProxyFailure::kProxyUnreachable},
  };
  for (const Case& c : cases) {
    core::HandshakeAttempt a = TryProxyHandshake(Proxy(c.server, c.protocol), web, quick);
    SCOPED_TRACE(std::string(c.server) + " as " + std::string(core::TypeWordOf(c.protocol)));
    EXPECT_EQ(core::AnsweredInProtocol(a.state, a.failure), c.answered) << int(a.failure);
    if (c.answered) {
      EXPECT_EQ(a.state, core::HandshakeState::kTunnelUp) << int(a.failure);
    } else if (c.failure != core::ProxyFailure::kNone) {
      EXPECT_EQ(a.failure, c.failure);
    }
  }
}

TEST(HandshakeProbeTest, AnAbortedAttemptGetsNoAnswer) {
  REQUIRE_TEST_PORTS("WEB", "MICROSOCKS");
  const core::NetTarget web{"127.0.0.1", uint16_t(std::stoi(TestPort("WEB")))};
  for (bool aborted : {false, true}) {
    std::atomic<bool> abort{aborted};
    core::HandshakeAttempt a =
        TryProxyHandshake(Proxy("MICROSOCKS", ProxyProtocol::kSocks5), web, {}, &abort);
    EXPECT_EQ(a.state == core::HandshakeState::kTunnelUp, !aborted) << int(a.failure);
  }
}

TEST(HandshakeProbeTest, UntypedRowsAreVerifiedInTheProtocolFound) {
  REQUIRE_TEST_PORTS("WEB", "MICROSOCKS", "DANTE", "TINYPROXY");
  auto engine = std::make_shared<RelayEngine>(RelayEngineOptions{});
  std::string error;
  ASSERT_TRUE(engine->Start(&error)) << error;
  struct Case {
    const char* server;
    ProxyProtocol found;
  } cases[] = {
      {"MICROSOCKS", ProxyProtocol::kSocks5},
      {"DANTE", ProxyProtocol::kSocks5},  // it speaks SOCKS4 too; SOCKS5 comes first
      {"TINYPROXY", ProxyProtocol::kHttp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    core::VerifyRun run;
    ASSERT_TRUE(run.SetProxyLine("127.0.0.1:" + TestPort(c.server)));
    run.set_detect_type(true);
    ASSERT_TRUE(run.AddSite(TestUrl("WEB", "/verify.html"), "RELAYMOTH-VERIFY-7731"));
    RelayedSiteFetcher fetcher(std::make_unique<WinInetSiteFetcher>(), engine);
    WinClock clock;
    core::QuietObserver quiet;
    run.RunTests(fetcher, clock, quiet);
    EXPECT_EQ(run.detected_protocol(), c.found);
    ASSERT_EQ(run.Outcomes().size(), 1u);
    EXPECT_EQ(run.Outcomes()[0].status, core::kSiteUsable);
  }
}

}  // namespace
}  // namespace win
