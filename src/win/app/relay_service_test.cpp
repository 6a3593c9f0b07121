// The local relay as the program wires it: its port kept in the profile, the
// system setting naming it for the rows the setting cannot carry, and a
// connection through it carried by the next row (and automatic switching moved
// on) when the row in use fails. Against the local test servers.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include "win/app/relay_service.h"

#include <gtest/gtest.h>

#include <string>

#include "core/verify/verify_run.h"
#include "core/verify/verify_testing.h"
#include "win/app/app_services.h"
#include "win/platform/unique_socket.h"
#include "win/platform/win_clock.h"
#include "win/platform/wininet_site_fetcher.h"
#include "win/testing/app_fixture.h"
#include "win/testing/loopback_client.h"
#include "win/testing/test_servers.h"

namespace win {
namespace {

constexpr const char* kVerifyText = "RELAYMOTH-VERIFY-7731";

// The status of one fetch of the local page through `proxy` with WinInet.
int FetchThrough(const std::string& proxy) {
  core::VerifyRun run;
  if (!run.SetProxyLine(proxy) ||
      !run.AddSite("http://127.0.0.1:" + TestPort("WEB") + "/verify.html", kVerifyText)) {
    return -1;
  }
  WinInetSiteFetcher fetcher;
  WinClock clock;
  core::QuietObserver quiet;
  run.RunTests(fetcher, clock, quiet);
  return run.Outcomes().empty() ? -1 : run.Outcomes()[0].status;
}

// What the relay at `port` answers a plain GET of the local page, whole.
std::string GetThroughRelay(uint16_t port) {
  WinsockScope wsa;
  std::string web = "127.0.0.1:" + TestPort("WEB");
  return Exchange(port, "GET http://" + web + "/verify.html HTTP/1.1\r\nHost: " + web + "\r\n\r\n");
}

int KeptPort(core::ProfileStore& profile) {
  return profile.ReadInt(core::kLocalRelaySection, core::kLocalRelayPortValue, 0);
}

TEST_F(AppWindowTest, TheRelayPortIsKeptAndReplacedWhenTaken) {
  MakeServices();
  uint16_t first = app_->relay().port();
  ASSERT_NE(first, 0) << app_->relay().error();
  EXPECT_EQ(KeptPort(profile_), first);
  app_.reset();

  // Someone else holds the kept port at the next start.
  WinsockScope wsa;
  UniqueSocket holder(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(first);
  ASSERT_EQ(bind(holder.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  ASSERT_EQ(listen(holder.get(), 1), 0);
  MakeServices();
  uint16_t second = app_->relay().port();
  EXPECT_NE(second, 0);
  EXPECT_NE(second, first);
  EXPECT_EQ(KeptPort(profile_), second);
  app_.reset();
  holder.reset();

  MakeServices();
  EXPECT_EQ(app_->relay().port(), second);
}

TEST_F(AppWindowTest, TheSettingNamesTheRelayOnlyForRowsItCannotCarry) {
  MakeServices();
  const std::string relay = app_->relay().address();
  ASSERT_FALSE(relay.empty());
  struct Case {
    const char* row;
    bool all_through_relay;
    std::string written;
  };
  const Case cases[] = {
      {"10.0.0.1:80", false, "10.0.0.1:80"},
      {"10.0.0.3:1080@SOCKS5", false, relay},
      {"10.0.0.4:1080@SOCKS4", false, "socks=10.0.0.4:1080"},
      // The box applies to the proxy in use at once, both ways.
      {"10.0.0.4:1080@SOCKS4", true, relay},
      {"10.0.0.1:80", true, relay},
      {"10.0.0.1:80", false, "10.0.0.1:80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.row) + (c.all_through_relay ? " all through the relay" : ""));
    core::RunSettings settings = app_->run_settings().settings();
    if (settings.all_through_relay != c.all_through_relay) {
      settings.all_through_relay = c.all_through_relay;
      app_->run_settings().Apply(settings);
    }
    if (switcher_->current_proxy() != c.row) {
      ASSERT_TRUE(UseRowOf(*switcher_, c.row));
    }
    EXPECT_EQ(ProxyValue("ProxyServer"), c.written);
    // The views and the exit check name the row, never the relay.
    EXPECT_EQ(switcher_->current_proxy(), c.row);
  }
  // The relay itself is no proxy: a switch to it is refused with one message,
  // and automatic switching passes it over.
  prompt_.shown.clear();
  EXPECT_FALSE(UseRowOf(*switcher_, relay + "@SOCKS5"));
  EXPECT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(app_->auto_switch().state().relay_ports(), switcher_->relay_ports());
}

TEST_F(AppWindowTest, ASettingLeftNamingTheRelayIsNoRow) {
  MakeServices();
  std::string relay = app_->relay().address();
  app_.reset();
  MakeServices(relay, 1);
  EXPECT_EQ(switcher_->list().size(), 0u);
  EXPECT_EQ(switcher_->current_proxy(), "");
}

TEST_F(AppWindowTest, AFailingSocks5RowInUseIsCarriedByTheNextAndSwitchingMovesOn) {
  REQUIRE_TEST_PORTS("WEB", "DEAD", "MICROSOCKS");
  EXPECT_TRUE(profile_.WriteInt("Exit Check", "Failover on failed check", 1));
  MakeServices();
  core::ProxyList& list = switcher_->list();
  const std::string dead = "127.0.0.1:" + TestPort("DEAD") + "@SOCKS5";
  const std::string good = "127.0.0.1:" + TestPort("MICROSOCKS") + "@SOCKS5";
  ASSERT_EQ(list.AddProxy(dead, false), core::AddResult::kAdded);
  ASSERT_EQ(list.AddProxy(good, false), core::AddResult::kAdded);
  app_->auto_switch().Toggle("3600");  // the tick is sent by hand
  FireTimer(app_->auto_switch().switch_timer());
  ASSERT_TRUE(PumpUntil([&] { return switcher_->current_proxy() == dead; }));
  EXPECT_EQ(ProxyValue("ProxyServer"), app_->relay().address());

  // The browser's request through the system setting still gets its page.
  EXPECT_EQ(FetchThrough(ProxyValue("ProxyServer")), 9);
  ASSERT_TRUE(PumpUntil([&] { return switcher_->current_proxy() == good; }));
  ASSERT_FALSE(app_->relay().reports().empty());
  EXPECT_NE(app_->relay().reports().back().find("无法连接到代理服务器"), std::string::npos);
  // The dead row shows its failure in the list.
  EXPECT_EQ(list.row(0).score, 0);
  EXPECT_EQ(list.row(0).status, core::kRelayFailedStatus);
  EXPECT_EQ(FetchThrough(ProxyValue("ProxyServer")), 9);
  app_->auto_switch().Toggle("3600");

  // Chosen by hand, the dead row stays in use; the tips name the row that
  // carries its connections.
  ASSERT_TRUE(switcher_->Use(list.IdAt(0)));
  EXPECT_EQ(FetchThrough(ProxyValue("ProxyServer")), 9);
  ASSERT_TRUE(PumpUntil([&] { return switcher_->InUseName() != dead; }));
  EXPECT_EQ(switcher_->current_proxy(), dead);
  EXPECT_EQ(switcher_->InUseName().rfind(list.RowHostPort(1), 0), 0u) << switcher_->InUseName();
}

// "每个连接换一个IP": three connections leave through three rows, best first,
// told apart by what each local proxy does to the answer.
TEST_F(AppWindowTest, EachConnectionLeavesThroughTheNextRowOfTheRotation) {
  REQUIRE_TEST_PORTS("WEB", "PROXY", "COOKIE", "OTHER");
  MakeServices();
  core::ProxyList& list = switcher_->list();
  const struct {
    const char* name;
    int32_t score;
  } rows[] = {{"OTHER", 70}, {"PROXY", 90}, {"COOKIE", 80}};
  for (const auto& r : rows) {
    ASSERT_EQ(list.AddProxy("127.0.0.1:" + TestPort(r.name) + "@HTTP", false),
              core::AddResult::kAdded);
    list.SetVerifyResult(list.size() - 1, "", "", r.score);
  }
  ASSERT_TRUE(switcher_->UseRotation());
  EXPECT_EQ(ProxyValue("ProxyServer"), app_->relay().address());
  EXPECT_EQ(switcher_->current_proxy(), "每个连接换一个IP（3个IP）");
  std::string answers[4];
  for (std::string& a : answers) a = GetThroughRelay(app_->relay().port());
  EXPECT_NE(answers[0].find(kVerifyText), std::string::npos) << answers[0];
  EXPECT_EQ(answers[0].find("relaymoth_jar"), std::string::npos);
  EXPECT_NE(answers[1].find("relaymoth_jar"), std::string::npos) << answers[1];
  EXPECT_NE(answers[2].find("some other page entirely"), std::string::npos) << answers[2];
  EXPECT_EQ(answers[3], answers[0]);  // round again
  EXPECT_EQ(app_->relay().rotation().chosen(), 4u);

  // Automatic switching and the rotation take turns, with a message.
  prompt_.shown.clear();
  EXPECT_FALSE(app_->auto_switch().Toggle("60").on);
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].text, kAutoSwitchWhileRotation);
}

}  // namespace
}  // namespace win
