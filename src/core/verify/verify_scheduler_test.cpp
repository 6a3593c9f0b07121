#include "core/verify/verify_scheduler.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "core/verify/verify_testing.h"

namespace core {
namespace {

struct Handout {
  int slot;
  uint64_t generation;
  std::string line;  // the proxy the worker was given, as its session proxy text
  int sites;
};

class FakePool final : public WorkerPool {
 public:
  std::vector<Handout> handouts;
  std::map<int, uint64_t> current;  // slot → generation of its worker's job
  std::vector<int> abandoned;
  int releases = 0;
  int reaps = 0;
  std::vector<StartResult> script;   // results of the next Start calls; then kStarted
  std::vector<SiteOutcome> reached;  // what Abandon reports

  StartResult Start(int slot, uint64_t generation, VerifyRun run) override {
    StartResult r = StartResult::kStarted;
    if (!script.empty()) {
      r = script.front();
      script.erase(script.begin());
    }
    if (r != StartResult::kStarted) return r;
    handouts.push_back({slot, generation, run.ProxyTextFor(SiteScheme::kHttp), run.site_count()});
    current[slot] = generation;
    return r;
  }
  std::vector<SiteOutcome> Abandon(int slot) override {
    abandoned.push_back(slot);
    current.erase(slot);
    return reached;
  }
  void ReleaseAll() override {
    ++releases;
    current.clear();
  }
  void ReapEnded() override { ++reaps; }
};

class FakeTimers final : public VerifyTimers {
 public:
  std::map<int, uint32_t> watchdogs;
  uint32_t verify_new = 0;  // 0: stopped
  int verify_new_starts = 0;
  void StartWatchdog(int slot, uint32_t ms) override { watchdogs[slot] = ms; }
  void StopWatchdog(int slot) override { watchdogs.erase(slot); }
  void StartVerifyNew(uint32_t ms) override {
    verify_new = ms;
    ++verify_new_starts;
  }
  void StopVerifyNew() override { verify_new = 0; }
};

class FakeHost final : public VerifyHost {
 public:
  std::vector<std::string> messages;
  bool controls_running = false;
  int cleared = 0;
  std::vector<std::string> used;
  void ShowMessage(std::string_view text, std::string_view caption) override {
    messages.push_back(std::string(caption) + ":" + std::string(text));
  }
  void SetRunControls(bool running) override { controls_running = running; }
  void ClearSystemProxy() override { ++cleared; }
  void UseProxy(const std::string& host_port) override { used.push_back(host_port); }
  void ShowRow(size_t) override {}
  void RefreshCaption() override {}
};

constexpr uint32_t kPerSite = 1000;  // a short watchdog period for the tests

// A scheduler over fakes, with helpers to drive it.
struct SchedulerRig {
  SchedulerRig() {
    settings.sites = {
        {"http://a/", "A", true}, {"http://off/", "X", false}, {"ftp://b/", "", true}};
  }
  void AddRows(int n) {
    for (int i = 0; i < n; ++i) {
      Add("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ":80");
    }
    list.SelectAll(false);
  }
  // Rows handed out so far, as their index at the time they were added.
  std::vector<int> HandedRows() const {
    std::vector<int> rows;
    for (const Handout& h : pool.handouts) {
      auto it = row_of.find(h.line);
      rows.push_back(it == row_of.end() ? -1 : it->second);
    }
    return rows;
  }
  void Add(const std::string& host_port) {
    ASSERT_EQ(list.AddProxy(host_port, false), AddResult::kAdded) << host_port;
    row_of[host_port] = int(list.size()) - 1;
  }
  void Report(int slot,
              std::vector<SiteOutcome> outcomes = {{kSiteUsable, 1.0}, {kSiteUsable, 2.0}}) {
    uint64_t generation = pool.current.at(slot);
    pool.current.erase(slot);  // the job is done; a new hand-out puts it back
    scheduler.OnWorkerDone(slot, generation, outcomes);
  }
  // Reports every busy worker, lowest slot first, until the run ends.
  void FinishAll() {
    for (int guard = 0; scheduler.running() && guard < 100000; ++guard) {
      Report(pool.current.begin()->first);
    }
  }

  std::map<std::string, int> row_of;  // host:port → index when added
  ProxyList list;
  VerifySettings settings;
  FakePool pool;
  FakeTimers timers;
  FakeHost host;
  ManualClock clock{5};
  VerifyScheduler scheduler{list, settings, pool, timers, host, clock, kPerSite};
};

class SchedulerTest : public ::testing::Test, public SchedulerRig {};

// Every edge case of the scheduler, one row each.
struct Scenario {
  const char* name;
  int rows;
  std::function<void(SchedulerRig&)> script;
  std::vector<int> handed;  // rows handed out in order
  int active;               // activeWorkers afterwards
  bool controls_running;
  int end_of_run;  // times the best proxy was used
  std::vector<std::string> messages;
};

TEST(SchedulerScenarioTest, Table) {
  const std::string busy = "验证失败:创建验证线程中发生异常";
  const std::string no_rows = "操作无效:您的列表中没有一个ip数据，没什么可验证的……";
  const std::string no_sel = "操作无效:您没有在列表中选择要验证的ip，没什么可验证的……";
  const std::string no_site = "操作无效:您没有设定一个验证网站，没办法验证的……";
  std::vector<int> first30;
  for (int i = 0; i < 30; ++i) first30.push_back(i);
  std::vector<int> first30_then = first30;
  first30_then.push_back(30);
  first30_then.push_back(31);

  Scenario scenarios[] = {
      {"3 rows, 30 threads: three workers",
       3,
       [](SchedulerRig& t) { t.scheduler.VerifyAllCommand(); },
       {0, 1, 2},
       3,
       true,
       0,
       {}},
      {"100 rows, 30 threads: each finishing worker takes the next row",
       100,
       [](SchedulerRig& t) {
         t.scheduler.StartVerifyAll();
         t.Report(7);
         t.Report(3);
       },
       first30_then,
       30,
       true,
       0,
       {}},
      {"selection 10, 20, 30",
       40,
       [](SchedulerRig& t) {
         for (int r : {10, 20, 30}) t.list.SetSelected(size_t(r), true);
         t.scheduler.VerifySelectedCommand();
       },
       {10, 20, 30},
       3,
       true,
       0,
       {}},
      {"the last report ends the run once",
       3,
       [](SchedulerRig& t) {
         t.scheduler.StartVerifyAll();
         t.FinishAll();
         t.scheduler.OnWorkerDone(0, 1, {{kSiteUsable, 1.0}});  // late, stale
       },
       {0, 1, 2},
       0,
       false,
       1,
       {}},
      {"stop: no end-of-run rules, a new run starts at once",
       5,
       [](SchedulerRig& t) {
         t.scheduler.StartVerifyAll();
         t.scheduler.StopVerify();
         t.scheduler.StartVerifyAll();
       },
       {0, 1, 2, 3, 4, 0, 1, 2, 3, 4},
       5,
       true,
       0,
       {}},
      {"no rows",
       0,
       [](SchedulerRig& t) { t.scheduler.VerifyAllCommand(); },
       {},
       0,
       false,
       0,
       {no_rows}},
      {"no selection",
       3,
       [](SchedulerRig& t) { t.scheduler.VerifySelectedCommand(); },
       {},
       0,
       false,
       0,
       {no_sel}},
      {"no favorite site (button)",
       3,
       [](SchedulerRig& t) {
         for (VerifySite& s : t.settings.sites) s.favorite = false;
         t.scheduler.VerifyAllCommand();
         t.list.SetSelected(0, true);
         t.scheduler.VerifySelectedCommand();
       },
       {},
       0,
       false,
       0,
       {no_site, no_site}},
      {"no favorite site (silent)",
       3,
       [](SchedulerRig& t) {
         t.settings.sites.clear();
         t.scheduler.StartVerifyAll();
       },
       {},
       0,
       false,
       0,
       {}},
      {"a start during a run does nothing",
       3,
       [](SchedulerRig& t) {
         t.scheduler.StartVerifyAll();
         t.scheduler.StartVerifyAll();
         t.list.SelectAll(true);
         t.scheduler.StartVerifySelected();
       },
       {0, 1, 2},
       3,
       true,
       0,
       {}},
      {"a thread that does not start: the row is skipped, same slot",
       3,
       [](SchedulerRig& t) {
         t.pool.script = {StartResult::kNotStarted};
         t.settings.threads = 2;
         t.scheduler.StartVerifyAll();
       },
       {1, 2},
       2,
       true,
       0,
       {}},
      {"no worker at the start: torn down",
       3,
       [](SchedulerRig& t) {
         t.pool.script = {StartResult::kStarted, StartResult::kNoWorker};
         t.scheduler.StartVerifyAll();
       },
       {0},
       0,
       false,
       0,
       {busy}},
      {"no worker on re-arming: torn down",
       5,
       [](SchedulerRig& t) {
         t.settings.threads = 2;
         t.scheduler.StartVerifyAll();
         t.pool.script = {StartResult::kNoWorker};
         t.Report(0);
       },
       {0, 1},
       0,
       false,
       0,
       {busy}},
      {"threads lowered during the run: reports still taken",
       6,
       [](SchedulerRig& t) {
         t.scheduler.StartVerifyAll();
         t.settings.threads = 1;
         t.FinishAll();
       },
       {0, 1, 2, 3, 4, 5},
       0,
       false,
       1,
       {}},
      {"watchdog: the hung row finishes, the slot takes the next row",
       3,
       [](SchedulerRig& t) {
         t.settings.threads = 2;
         t.scheduler.StartVerifyAll();
         t.clock.Advance(2 * kPerSite);
         t.scheduler.OnWatchdog(1);
       },
       {0, 1, 2},
       2,
       true,
       0,
       {}},
      {"reverify with 常用ip: the selection becomes the ticked rows",
       6,
       [](SchedulerRig& t) {
         t.settings.only_favorite_rows = true;
         t.settings.reverify_interval = 2;
         t.list.SetChecked(1, true);
         t.list.SetChecked(4, true);
         t.list.SetSelected(0, true);
         t.scheduler.ReverifyTick();
         t.scheduler.ReverifyTick();
       },
       {1, 4},
       2,
       true,
       0,
       {}},
      {"reverify with 全部ip, not before the interval",
       2,
       [](SchedulerRig& t) {
         t.settings.reverify_interval = 3;
         t.scheduler.ReverifyTick();
         t.scheduler.ReverifyTick();
       },
       {},
       0,
       false,
       0,
       {}},
      {"reverify off",
       2,
       [](SchedulerRig& t) {
         t.settings.reverify_by_time = false;
         t.settings.reverify_interval = 0;
         t.scheduler.ReverifyTick();
       },
       {},
       0,
       false,
       0,
       {}},
      {"every row refused: the start cleans up at once",
       2,
       [](SchedulerRig& t) {
         t.list.RemoveAll();
         t.list.AddProxy("1.2.3.4 x:80", false);  // the worker refuses a blank in the address
         t.scheduler.StartVerifyAll();
       },
       {},
       0,
       false,
       0,
       {}},
      {"a worker without sites: the row finishes as not verified",
       2,
       [](SchedulerRig& t) {
         t.settings.sites = {{"https://secure/", "x", true}};
         t.scheduler.StartVerifyAll();
         t.Report(0, {});
         t.Report(1, {});
       },
       {0, 1},
       0,
       false,
       0,
       {}},
  };
  for (Scenario& sc : scenarios) {
    SchedulerRig t;
    t.AddRows(sc.rows);
    sc.script(t);
    EXPECT_EQ(t.HandedRows(), sc.handed) << sc.name;
    EXPECT_EQ(t.scheduler.activeWorkers(), sc.active) << sc.name;
    EXPECT_EQ(t.host.controls_running, sc.controls_running) << sc.name;
    EXPECT_EQ(int(t.host.used.size()), sc.end_of_run) << sc.name;
    EXPECT_EQ(t.host.messages, sc.messages) << sc.name;
  }
}

TEST_F(SchedulerTest, CountersCaptionAndResults) {
  AddRows(3);
  settings.threads = 1;
  scheduler.StartVerifyAll();
  EXPECT_EQ(list.row(0).status, "验证中...");
  EXPECT_EQ(list.row(1).status, "未验证");
  Report(0, {{kSiteUsable, 1.2}, {kSiteNoMatch, kUntimedSeconds}});
  EXPECT_EQ(list.row(0).status, "1.2;?");
  EXPECT_EQ(list.row(0).score, 1176);
  Report(0, {{kSiteUnreachable, kUntimedSeconds}, {kSiteNotTested, kUntimedSeconds}});
  EXPECT_EQ(scheduler.doneCount(), 2);
  EXPECT_EQ(scheduler.usableCount(), 1);
  EXPECT_EQ(scheduler.remainingCount(), 1);
  EXPECT_EQ(scheduler.Caption(), "proxy服务器列表(已验证:2, 可用:1, 未验证:1)");
  Report(0, {{kSiteUsable, 3.0}, {kSiteUsable, 0.5}});
  EXPECT_FALSE(scheduler.running());
  EXPECT_EQ(scheduler.Caption(), "proxy服务器列表(ip总数:3, 常用ip:2)");
  // End-of-run rules ran: best first, the best becomes the system proxy.
  EXPECT_EQ(list.row(0).address, "10.0.0.2");
  EXPECT_EQ(host.used, (std::vector<std::string>{"10.0.0.2:80"}));
  EXPECT_EQ(pool.releases, 1);
}

TEST_F(SchedulerTest, WorkersGetHostPortAndTheFavoriteSitesInOrder) {
  list.AddProxy("1.2.3.4:1080@SOCKS5", false);
  settings.sites.push_back({"http://c/", "C", true});
  scheduler.StartVerifyAll();
  ASSERT_EQ(pool.handouts.size(), 1u);
  EXPECT_EQ(pool.handouts[0].line, "1.2.3.4:1080");  // untyped: the type is not passed
  EXPECT_EQ(pool.handouts[0].sites, 3);
  EXPECT_EQ(timers.watchdogs.at(0), 3 * kPerSite);
}

TEST_F(SchedulerTest, ButtonClearsTheSystemProxyMenuDoesNot) {
  AddRows(1);
  scheduler.StartVerifyAll();
  EXPECT_EQ(host.cleared, 0);
  scheduler.StopVerify();
  scheduler.VerifyAllCommand();
  EXPECT_EQ(host.cleared, 1);
}

TEST_F(SchedulerTest, StopResetsRunningRowsAndKeepsFinishedOnes) {
  AddRows(4);
  settings.threads = 2;
  scheduler.StartVerifyAll();
  Report(0);  // row 0 finished, slot 0 takes row 2
  scheduler.StopVerify();
  EXPECT_NE(list.row(0).status, "未验证");
  EXPECT_EQ(list.row(1).status, "未验证");
  EXPECT_EQ(list.row(2).status, "未验证");
  EXPECT_EQ(list.row(2).score, -1);
  EXPECT_EQ(scheduler.doneCount(), 1);  // the counters keep their values
  EXPECT_TRUE(timers.watchdogs.empty());
  EXPECT_TRUE(host.used.empty());
  EXPECT_EQ(list.row(0).address, "10.0.0.0");  // not sorted
}

TEST_F(SchedulerTest, AbandonedWorkersAreNeverHeardAgain) {
  AddRows(4);
  settings.threads = 2;
  scheduler.StartVerifyAll();
  uint64_t hung = pool.current.at(1);
  pool.reached = {{kSiteUsable, 4.0}, {kSiteNotTested, kUntimedSeconds}};
  clock.Advance(2 * kPerSite);
  scheduler.OnWatchdog(1);
  EXPECT_EQ(pool.abandoned, (std::vector<int>{1}));
  EXPECT_EQ(list.row(1).status, "4.0;-");  // finished with what was reached
  EXPECT_EQ(list.row(2).status, "验证中...");
  // The hung worker's report arrives after all: ignored.
  scheduler.OnWorkerDone(1, hung, {{kSiteUsable, 0.1}, {kSiteUsable, 0.1}});
  EXPECT_EQ(list.row(1).status, "4.0;-");
  EXPECT_EQ(scheduler.doneCount(), 1);
  // Reports with a wrong slot are ignored too.
  scheduler.OnWorkerDone(-1, hung, {});
  scheduler.OnWorkerDone(kWorkerSlots, hung, {});
  scheduler.OnWorkerDone(7, hung, {});
  EXPECT_EQ(scheduler.activeWorkers(), 2);
}

TEST_F(SchedulerTest, WatchdogTickFromAnEarlierHandoutIsIgnored) {
  AddRows(3);
  settings.threads = 1;
  scheduler.StartVerifyAll();
  clock.Advance(2 * kPerSite - 1);
  Report(0);  // the timer fired just before this report; its tick is still queued
  scheduler.OnWatchdog(0);
  EXPECT_TRUE(pool.abandoned.empty());
  EXPECT_EQ(list.row(1).status, "验证中...");
  EXPECT_EQ(timers.watchdogs.count(0), 1u);  // the new hand-out's timer runs on
  clock.Advance(2 * kPerSite);
  scheduler.OnWatchdog(0);
  EXPECT_EQ(pool.abandoned, (std::vector<int>{0}));
}

TEST_F(SchedulerTest, WatchdogPeriodSurvivesClockWrap) {
  ManualClock late(0xFFFFFF00u);
  VerifyScheduler s(list, settings, pool, timers, host, late, kPerSite);
  AddRows(1);
  s.StartVerifyAll();
  late.Advance(2 * kPerSite);
  s.OnWatchdog(0);
  EXPECT_EQ(pool.abandoned, (std::vector<int>{0}));
  EXPECT_FALSE(s.running());
}

TEST_F(SchedulerTest, NewProxiesAreVerifiedAfterTheLastAddition) {
  settings.verify_new_proxy = true;
  AddRows(2);
  for (const char* line : {"7.7.7.1:80", "7.7.7.2:80", "7.7.7.3:80"}) {
    Add(line);
    scheduler.OnProxyAdded();
  }
  EXPECT_EQ(timers.verify_new_starts, 3);
  EXPECT_EQ(timers.verify_new, kVerifyNewDelayMs);
  scheduler.OnVerifyNewTimer();
  EXPECT_EQ(timers.verify_new, 0u);
  EXPECT_EQ(HandedRows(), (std::vector<int>{2, 3, 4}));
  settings.verify_new_proxy = false;
  scheduler.OnProxyAdded();
  EXPECT_EQ(timers.verify_new_starts, 3);
}

TEST_F(SchedulerTest, RowsOfAWorkerWithoutSitesFinishAsNotVerified) {
  AddRows(2);
  settings.sites = {{"https://secure/", "x", true}};  // no worker accepts it
  scheduler.StartVerifyAll();
  EXPECT_EQ(pool.handouts.at(0).sites, 0);
  Report(0, {});
  EXPECT_EQ(list.row(0).status, "未验证");
  EXPECT_EQ(list.row(0).score, -1);
  EXPECT_EQ(scheduler.doneCount(), 1);
  EXPECT_EQ(scheduler.remainingCount(), 1);
  Report(1, {});
  EXPECT_FALSE(scheduler.running());
  EXPECT_TRUE(host.used.empty());  // nothing usable to switch to
}

TEST_F(SchedulerTest, ReapingGoesToThePool) {
  scheduler.OnReapTimer();
  EXPECT_EQ(pool.reaps, 1);
}

TEST(RunControlStatesTest, RunningDisablesTheListCommandsAndEnablesStop) {
  for (bool running : {false, true}) {
    for (const ControlState& c : RunControlStates(running)) {
      EXPECT_EQ(c.enabled, c.control == RunControl::kStopVerify ? running : !running)
          << int(c.control) << " " << running;
    }
  }
}

}  // namespace
}  // namespace core
