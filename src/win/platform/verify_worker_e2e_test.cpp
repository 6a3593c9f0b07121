// A whole verification: VerifyScheduler with the thread pool, WinInet and window
// timers against the local servers of scripts/verify-servers.sh.
// Winsock before windows.h.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/verify/verify_scheduler.h"
#include "win/platform/relayed_site_fetcher.h"
#include "win/platform/unique_socket.h"
#include "win/platform/verify_worker_pool.h"
#include "win/platform/verify_worker_timers.h"
#include "win/platform/win_clock.h"
#include "win/platform/wininet_site_fetcher.h"
#include "win/testing/test_servers.h"

namespace win {
namespace {

class RecordingHost final : public core::VerifyHost {
 public:
  std::vector<std::string> messages;
  std::vector<std::string> used;
  int cleared = 0;
  bool controls_running = false;
  void ShowMessage(std::string_view text, std::string_view) override {
    messages.emplace_back(text);
  }
  void SetRunControls(bool running) override { controls_running = running; }
  void ClearSystemProxy() override { ++cleared; }
  void UseProxy(core::RowId row) override {
    std::optional<size_t> at = list ? list->IndexOf(row) : std::nullopt;
    used.push_back(at ? list->RowProxyText(int64_t(*at)) : "?");
  }
  const core::ProxyList* list = nullptr;
  bool ProxyInUse() const override { return !used.empty(); }
  void ShowRow(size_t) override {}
  void RefreshCaption() override {}
};

struct Rig {
  explicit Rig(
      uint32_t watchdog_per_site_ms,
      SiteFetcherFactory fetchers = [] { return std::make_unique<WinInetSiteFetcher>(); })
      : pool(std::move(fetchers), std::make_shared<WinClock>()),
        scheduler(list, settings, pool, timers, host, clock, watchdog_per_site_ms) {
    host.list = &list;
    timers.Attach(&scheduler);
  }
  ~Rig() { timers.Attach(nullptr); }

  VerifySchedulerTimers timers;
  core::ProxyList list;
  core::VerifySettings settings;
  RecordingHost host;
  WinClock clock;
  VerifyWorkerPool pool;
  core::VerifyScheduler scheduler;
};

TEST(VerifyEndToEndTest, VerifyAllThroughRealProxies) {
  for (const char* name : {"PROXY", "SLOW", "OTHER", "DEAD"}) {
    if (TestPort(name).empty()) GTEST_SKIP() << "the verify test servers are not running";
  }
  Rig rig(core::kWatchdogPerSiteMs);
  ASSERT_TRUE(rig.pool.Create());
  for (const char* name : {"DEAD", "OTHER", "SLOW", "PROXY"}) {
    ASSERT_EQ(rig.list.AddProxy("127.0.0.1:" + TestPort(name), false), core::AddResult::kAdded);
  }
  rig.settings.threads = 2;  // four rows on two workers: each worker takes a second row
  rig.settings.auto_delete_failed = true;
  rig.settings.sites = {
      {"http://127.0.0.1:" + TestPort("DEAD") + "/verify.html", "RELAYMOTH-VERIFY-7731", true}};

  rig.scheduler.VerifyAllCommand();
  EXPECT_EQ(rig.host.cleared, 1);
  ASSERT_TRUE(rig.scheduler.running());
  ASSERT_TRUE(PumpUntil([&] { return !rig.scheduler.running(); }, 30000));
  EXPECT_TRUE(rig.host.messages.empty());
  EXPECT_FALSE(rig.host.controls_running);
  EXPECT_EQ(rig.scheduler.doneCount(), 4);
  EXPECT_EQ(rig.scheduler.usableCount(), 2);

  // The unreachable proxy and the one with the wrong page are deleted; the
  // fast proxy sorts above the slow one, both become favorites, and the fast
  // one becomes the system proxy.
  ASSERT_EQ(rig.list.size(), 2u);
  const core::ProxyRow& first = rig.list.row(0);
  const core::ProxyRow& second = rig.list.row(1);
  EXPECT_EQ(first.port, TestPort("PROXY"));
  EXPECT_EQ(second.port, TestPort("SLOW"));
  EXPECT_GT(first.score, second.score);
  EXPECT_GT(second.score, 0);
  EXPECT_TRUE(first.favorite);
  EXPECT_TRUE(second.favorite);
  EXPECT_EQ(first.result.rfind("[" + std::to_string(first.score) + "]", 0), 0u) << first.result;
  ASSERT_EQ(rig.host.used.size(), 1u);
  EXPECT_EQ(rig.host.used[0], "127.0.0.1:" + TestPort("PROXY"));
}

TEST(VerifyEndToEndTest, TheWatchdogFinishesAHungRowAndTheRunGoesOn) {
  for (const char* name : {"PROXY", "SLOW", "TRICKLE", "DEAD"}) {
    if (TestPort(name).empty()) GTEST_SKIP() << "the verify test servers are not running";
  }
  Rig rig(1500);  // the watchdog gives each site 1.5 s instead of 120 s
  ASSERT_TRUE(rig.pool.Create());
  ASSERT_EQ(rig.list.AddProxy("127.0.0.1:" + TestPort("TRICKLE"), false), core::AddResult::kAdded);
  ASSERT_EQ(rig.list.AddProxy("127.0.0.1:" + TestPort("PROXY"), false), core::AddResult::kAdded);
  ASSERT_EQ(rig.list.AddProxy("127.0.0.1:" + TestPort("SLOW"), false), core::AddResult::kAdded);
  rig.settings.threads = 1;
  rig.settings.sites = {
      {"http://127.0.0.1:" + TestPort("DEAD") + "/verify.html", "RELAYMOTH-VERIFY-7731", true}};
  rig.scheduler.StartVerifyAll();
  ASSERT_TRUE(PumpUntil([&] { return !rig.scheduler.running(); }, 30000));
  EXPECT_EQ(rig.scheduler.doneCount(), 3);
  EXPECT_EQ(rig.scheduler.usableCount(), 2);
  // The trickling row was given up with nothing reached; it scores 0.
  bool found = false;
  for (size_t i = 0; i < rig.list.size(); ++i) {
    if (rig.list.row(i).port != TestPort("TRICKLE")) continue;
    found = true;
    EXPECT_EQ(rig.list.row(i).score, 0);
    EXPECT_EQ(rig.list.row(i).status, "不可用");
  }
  EXPECT_TRUE(found);
  // The abandoned thread ends by itself once its fetcher is aborted.
  EXPECT_TRUE(PumpUntil(
      [&] {
        rig.pool.ReapEnded();
        return rig.pool.abandoned_count() == 0;
      },
      10000));
}

TEST(VerifyEndToEndTest, AnUntypedSocks5RowIsTypedAndUsedAsSocks5) {
  REQUIRE_TEST_PORTS("WEB", "MICROSOCKS");
  auto engine = std::make_shared<RelayEngine>(RelayEngineOptions{});
  std::string error;
  ASSERT_TRUE(engine->Start(&error)) << error;
  Rig rig(core::kWatchdogPerSiteMs, [engine]() -> std::unique_ptr<core::SiteFetcher> {
    return std::make_unique<RelayedSiteFetcher>(std::make_unique<WinInetSiteFetcher>(), engine);
  });
  ASSERT_TRUE(rig.pool.Create());
  const std::string proxy = "127.0.0.1:" + TestPort("MICROSOCKS");
  ASSERT_EQ(rig.list.AddProxy(proxy, false), core::AddResult::kAdded);
  rig.settings.sites = {{TestUrl("WEB", "/verify.html"), "RELAYMOTH-VERIFY-7731", true}};

  rig.scheduler.VerifyAllCommand();
  ASSERT_TRUE(PumpUntil([&] { return !rig.scheduler.running(); }, 30000));
  ASSERT_EQ(rig.list.size(), 1u);
  EXPECT_EQ(rig.list.row(0).type, "SOCKS5");
  EXPECT_GT(rig.list.row(0).score, 0) << rig.list.row(0).result;
  EXPECT_EQ(rig.list.RowFullLine(0).rfind(proxy + "@SOCKS5", 0), 0u) << rig.list.RowFullLine(0);
  // The best row is applied in its own protocol.
  ASSERT_EQ(rig.host.used.size(), 1u);
  EXPECT_EQ(rig.host.used[0], proxy + "@SOCKS5");
}

}  // namespace
}  // namespace win
