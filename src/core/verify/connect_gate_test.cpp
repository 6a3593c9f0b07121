#include "core/verify/connect_gate.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>
#include <type_traits>
#include <utility>

#include "core/verify/row_result.h"
#include "core/verify/verify_testing.h"

namespace core {
namespace {

// Rows are named "h<row as first given>", so a host tells which row it was.
std::string Host(int row, const std::string& prefix = "h") { return prefix + std::to_string(row); }
int RowOfHost(const std::string& host) { return std::stoi(host.substr(1)); }

class FakeProber final : public ConnectProber {
 public:
  void SetReportTarget(ProbeReportTarget*) override {}
  std::vector<int> started;               // rows, in start order
  std::map<std::string, uint64_t> id_of;  // host → id of its latest started probe
  std::vector<uint16_t> ports;
  std::vector<int> cancelled;  // rows
  int cancel_all = 0;
  std::vector<ProbeStart> script;  // results of the next Start calls; then kStarted
  bool connect_at_once = false;    // report kStarted probes from inside Start
  ConnectGate* gate = nullptr;

  ProbeStart Start(uint64_t id, std::string_view host, uint16_t port) override {
    ProbeStart r = ProbeStart::kStarted;
    if (!script.empty()) {
      r = script.front();
      script.erase(script.begin());
    }
    if (r != ProbeStart::kStarted) return r;
    started.push_back(RowOfHost(std::string(host)));
    id_of[std::string(host)] = id;
    hosts_[id] = std::string(host);
    ports.push_back(port);
    if (connect_at_once) gate->OnConnected(id);
    return r;
  }
  void Cancel(uint64_t id) override { cancelled.push_back(RowOfHost(hosts_.at(id))); }
  void CancelAll() override { ++cancel_all; }

 private:
  std::map<uint64_t, std::string> hosts_;
};

const char* Why(ConnectFailure f) {
  switch (f) {
    case ConnectFailure::kRefused:
      return "refused";
    case ConnectFailure::kTimedOut:
      return "timeout";
    case ConnectFailure::kNotStarted:
      return "not-started";
    case ConnectFailure::kUnusableAddress:
      return "unusable";
  }
  return "?";
}

struct GateRig : ConnectGateListener {
  explicit GateRig(GateSettings settings = {}) : gate(prober, clock, *this, settings) {
    prober.gate = &gate;
  }
  static std::vector<GateRow> Rows(int n, const std::string& prefix = "h") {
    std::vector<GateRow> rows;
    for (int i = 0; i < n; ++i) rows.push_back({size_t(i), Host(i, prefix), "80"});
    return rows;
  }
  void Run(std::vector<GateRow> rows) {
    gate.Begin(std::move(rows));
    gate.Pump();
  }
  uint64_t Id(int row) const { return prober.id_of.at(Host(row)); }
  std::vector<size_t> DrainReady() {
    std::vector<size_t> rows;
    while (std::optional<GateRow> r = gate.TakeReady()) rows.push_back(r->row);
    return rows;
  }
  void OnRowUnreachable(const GateRow& row, ConnectFailure failure) override {
    failed.push_back(std::to_string(row.row) + ":" + Why(failure));
    if (on_unreachable) on_unreachable(row);
  }
  void OnRowsReady() override { ++ready_calls; }

  ManualClock clock{1000};
  FakeProber prober;
  std::vector<std::string> failed;  // "row:why", in report order
  int ready_calls = 0;
  std::function<void(const GateRow&)> on_unreachable;
  ConnectGate gate;
};

template <typename T>
std::string Joined(const std::vector<T>& items) {
  std::string out;
  for (const T& item : items) {
    if (!out.empty()) out += ",";
    if constexpr (std::is_same_v<T, std::string>) {
      out += item;
    } else {
      out += std::to_string(item);
    }
  }
  return out;
}

// What a scenario left behind, in one line: rows probed (as first given), rows
// reported unreachable, TakeReady's order, probes cancelled, and the counts.
std::string Summary(GateRig& t) {
  return "started " + Joined(t.prober.started) + " | failed " + Joined(t.failed) + " | ready " +
         Joined(t.DrainReady()) + " | cancelled " + Joined(t.prober.cancelled) + " | in " +
         std::to_string(t.gate.in_flight()) + " pending " + std::to_string(t.gate.pending());
}

struct Scenario {
  const char* name;
  GateSettings settings;
  int rows;  // Rows(rows) are begun and pumped before the script
  std::function<void(GateRig&)> script;
  const char* expected;  // Summary afterwards
};

TEST(ConnectGateTest, Scenarios) {
  const GateSettings any{};
  const GateSettings bound1{kDefaultConnectTimeoutMs, 1};
  const GateSettings bound2{kDefaultConnectTimeoutMs, 2};
  const uint32_t timeout = kDefaultConnectTimeoutMs;
  Scenario scenarios[] = {
      {"connected just inside the time-out", any, 1,
       [&](GateRig& t) {
         t.clock.Advance(timeout - 1);
         t.gate.OnTick();
         t.gate.OnConnected(t.Id(0));
       },
       "started 0 | failed  | ready 0 | cancelled  | in 0 pending 0"},
      {"time-out: failed and cancelled, the late outcome ignored", any, 1,
       [&](GateRig& t) {
         t.clock.Advance(timeout);
         t.gate.OnTick();
         t.gate.OnConnected(t.Id(0));
       },
       "started 0 | failed 0:timeout | ready  | cancelled 0 | in 0 pending 0"},
      {"connected after the time-out, before the tick: taken", any, 1,
       [&](GateRig& t) {
         t.clock.Advance(timeout + 900);
         t.gate.OnConnected(t.Id(0));
       },
       "started 0 | failed  | ready 0 | cancelled  | in 0 pending 0"},
      {"refused, reported once", any, 1,
       [](GateRig& t) {
         t.gate.OnRefused(t.Id(0));
         t.gate.OnRefused(t.Id(0));
       },
       "started 0 | failed 0:refused | ready  | cancelled  | in 0 pending 0"},
      {"in-flight bound: the next row starts as one ends", bound2, 5,
       [](GateRig& t) { t.gate.OnRefused(t.Id(1)); },
       "started 0,1,2 | failed 1:refused | ready  | cancelled  | in 2 pending 2"},
      {"a bound of 0 still probes one at a time",
       {timeout, 0},
       2,
       [](GateRig&) {},
       "started 0 | failed  | ready  | cancelled  | in 1 pending 1"},
      {"each probe has its own deadline", bound2, 3,
       [&](GateRig& t) {
         t.clock.Advance(3000);
         t.gate.OnRefused(t.Id(0));  // row 2 starts 3 s after row 1
         t.clock.Advance(timeout - 3000);
         t.gate.OnTick();
       },
       "started 0,1,2 | failed 0:refused,1:timeout | ready  | cancelled 1 | in 1 pending 0"},
      {"ready in the order the connects completed", any, 3,
       [](GateRig& t) {
         for (int row : {2, 0, 1}) t.gate.OnConnected(t.Id(row));
       },
       "started 0,1,2 | failed  | ready 2,0,1 | cancelled  | in 0 pending 0"},
      {"unusable addresses fail in their turn without a probe", bound1, 0,
       [](GateRig& t) {
         t.Run({{0, "h0", "http"},
                {1, "h1", "80"},
                {2, "", "80"},
                {3, "h3", "0"},
                {4, "h4", " 8080 "}});
         t.gate.OnConnected(t.Id(1));
       },
       "started 1,4 | failed 0:unusable,2:unusable,3:unusable | ready 1 | cancelled  | in 1 "
       "pending 0"},
      {"the prober cannot start a connect", any, 0,
       [](GateRig& t) {
         t.prober.script = {ProbeStart::kFailed};
         t.Run(GateRig::Rows(2));
       },
       "started 1 | failed 0:not-started | ready  | cancelled  | in 1 pending 0"},
      {"out of sockets: the row keeps its turn until a probe ends", any, 0,
       [](GateRig& t) {
         t.prober.script = {ProbeStart::kStarted, ProbeStart::kBusy};
         t.Run(GateRig::Rows(3));
         EXPECT_EQ(t.gate.pending(), 2u);
         t.gate.OnRefused(t.Id(0));
       },
       "started 0,1,2 | failed 0:refused | ready  | cancelled  | in 2 pending 0"},
      {"out of sockets with nothing in flight: the row fails", any, 0,
       [](GateRig& t) {
         t.prober.script = {ProbeStart::kBusy};
         t.Run(GateRig::Rows(2));
       },
       "started 1 | failed 0:not-started | ready  | cancelled  | in 1 pending 0"},
      {"stop mid-sweep: nothing reported afterwards", bound2, 5,
       [&](GateRig& t) {
         t.gate.OnConnected(t.Id(0));
         t.gate.Stop();
         t.gate.OnConnected(t.Id(2));
         t.gate.OnRefused(t.Id(1));
         t.clock.Advance(2 * timeout);
         t.gate.OnTick();
         EXPECT_EQ(t.prober.cancel_all, 1);
       },
       "started 0,1,2 | failed  | ready  | cancelled  | in 0 pending 0"},
      {"restart while connects are in flight: old outcomes ignored", any, 2,
       [](GateRig& t) {
         uint64_t old0 = t.Id(0), old1 = t.Id(1);
         t.Run(GateRig::Rows(2));
         t.gate.OnConnected(old0);
         t.gate.OnRefused(old1);
         t.gate.OnRefused(t.Id(1));
       },
       "started 0,1,0,1 | failed 1:refused | ready  | cancelled  | in 1 pending 0"},
      {"rows removed under the run are dropped, the rest renumbered", bound2, 5,
       [](GateRig& t) {
         t.gate.OnConnected(t.Id(0));
         t.gate.OnConnected(t.Id(1));  // rows 2 and 3 in flight, row 4 pending
         t.gate.OnRowsRemoved({3, 0, 9, 3});
         t.gate.OnConnected(t.Id(3));  // removed: ignored
         t.gate.OnConnected(t.Id(4));
       },
       "started 0,1,2,3,4 | failed  | ready 0,2 | cancelled 3 | in 1 pending 0"},
  };
  for (Scenario& sc : scenarios) {
    GateRig t(sc.settings);
    if (sc.rows > 0) t.Run(GateRig::Rows(sc.rows));
    sc.script(t);
    EXPECT_EQ(Summary(t), sc.expected) << sc.name;
  }
}

TEST(ConnectGateTest, PortsAndHosts) {
  struct Case {
    const char* port;
    int value;  // -1: refused
  } cases[] = {{"80", 80},    {" 8080\t", 8080},
               {"1", 1},      {"65535", 65535},
               {"0080", 80},  {"0", -1},
               {"65536", -1}, {"", -1},
               {" ", -1},     {"80a", -1},
               {"-1", -1},    {"+80", -1},
               {"8 0", -1},   {"99999999999999999999", -1}};
  for (const Case& c : cases) {
    std::optional<uint16_t> port = ProbePort(c.port);
    EXPECT_EQ(port ? int(*port) : -1, c.value) << "'" << c.port << "'";
  }
  const std::string hosts[] = {"", "a b", "a\x01", std::string(kMaxProbeHostLength + 1, 'a')};
  for (const std::string& host : hosts) {
    GateRig t;
    t.Run({{0, host, "80"}});
    EXPECT_EQ(t.failed, std::vector<std::string>{"0:unusable"}) << "'" << host << "'";
  }
  GateRig t;
  t.Run({{0, "h0", "1080"}, {1, "h1" + std::string(kMaxProbeHostLength - 2, 'a'), " 443 "}});
  EXPECT_EQ(t.prober.ports, (std::vector<uint16_t>{1080, 443}));
  EXPECT_TRUE(t.failed.empty());
}

TEST(ConnectGateTest, ProberReportingFromInsideStartDoesNotRecurse) {
  GateRig t({kDefaultConnectTimeoutMs, 1});
  t.prober.connect_at_once = true;
  t.Run(GateRig::Rows(50000));
  std::vector<size_t> ready = t.DrainReady();
  ASSERT_EQ(ready.size(), 50000u);
  for (size_t i = 0; i < ready.size(); ++i) ASSERT_EQ(ready[i], i);
  EXPECT_EQ(t.ready_calls, 1);
  EXPECT_TRUE(t.gate.idle());
}

TEST(ConnectGateTest, ListenerMayStopOrRestartInsideAReport) {
  std::vector<GateRow> bad = {{0, "h0", "x"}, {1, "h1", "x"}, {2, "h2", "x"}};
  GateRig stop;
  stop.on_unreachable = [&](const GateRow&) { stop.gate.Stop(); };
  stop.Run(bad);
  EXPECT_EQ(stop.failed, std::vector<std::string>{"0:unusable"});
  EXPECT_TRUE(stop.gate.idle());

  GateRig restart;
  bool once = true;
  restart.on_unreachable = [&](const GateRow&) {
    if (!std::exchange(once, false)) return;
    restart.Run({{7, "h7", "x"}, {8, "h8", "80"}});
  };
  restart.Run(bad);
  EXPECT_EQ(restart.failed, (std::vector<std::string>{"0:unusable", "7:unusable"}));
  EXPECT_EQ(restart.prober.started, std::vector<int>{8});
}

TEST(ConnectGateTest, DeadlinesAcrossTheClockWrap) {
  GateRig t;
  t.clock.Advance(0xFFFFF000u - 1000);
  EXPECT_EQ(t.gate.MsUntilDeadline(), std::nullopt);
  t.Run(GateRig::Rows(1));
  EXPECT_EQ(t.gate.MsUntilDeadline(), std::optional<uint32_t>(kDefaultConnectTimeoutMs));
  t.clock.Advance(kDefaultConnectTimeoutMs - 1);  // past the wrap
  t.gate.OnTick();
  EXPECT_EQ(t.gate.MsUntilDeadline(), std::optional<uint32_t>(1));
  t.clock.Advance(1);
  EXPECT_EQ(t.gate.MsUntilDeadline(), std::optional<uint32_t>(0));
  t.gate.OnTick();
  EXPECT_EQ(t.failed, std::vector<std::string>{"0:timeout"});
}

// Outcomes, stale and repeated reports, ticks and removals in random order: every
// row ends exactly once, the bound holds throughout, and the run drains.
TEST(ConnectGateTest, EventsInAnyOrder) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    const int rows = 60;
    GateRig t({kDefaultConnectTimeoutMs, 7});
    t.Run(GateRig::Rows(rows));
    std::vector<std::string> live;  // hosts still in the list, in list order
    for (int i = 0; i < rows; ++i) live.push_back(Host(i));
    std::multiset<std::string> ended;
    t.on_unreachable = [&](const GateRow& r) {
      EXPECT_EQ(live.at(r.row), r.host) << "seed " << seed;
      ended.insert(r.host);
    };
    for (int step = 0; step < 5000 && !t.gate.idle(); ++step) {
      uint32_t pick = rng() % 100;
      if (pick < 70 && !t.prober.id_of.empty()) {
        auto it = std::next(t.prober.id_of.begin(), long(rng() % t.prober.id_of.size()));
        if (pick % 2)
          t.gate.OnConnected(it->second);
        else
          t.gate.OnRefused(it->second);
      } else if (pick < 90) {
        t.clock.Advance(rng() % 3000);
        t.gate.OnTick();
      } else if (pick < 95 && !live.empty()) {
        size_t at = rng() % live.size();
        live.erase(live.begin() + long(at));
        t.gate.OnRowsRemoved({at});
      } else if (std::optional<GateRow> r = t.gate.TakeReady()) {
        ASSERT_EQ(live.at(r->row), r->host) << "seed " << seed;
        ended.insert(r->host);
      }
      ASSERT_LE(t.gate.in_flight(), 7u) << "seed " << seed;
    }
    while (std::optional<GateRow> r = t.gate.TakeReady()) ended.insert(r->host);
    EXPECT_TRUE(t.gate.idle()) << "seed " << seed;
    for (const std::string& host : live)
      EXPECT_EQ(ended.count(host), 1u) << host << " seed " << seed;
  }
}

TEST(ConnectGateTest, UnreachableRowsReadAsTheEarlyEndOfARun) {
  struct Case {
    int sites;
    const char* result;
  } cases[] = {{1, "[0]无法连接proxy服务器;"}, {3, "[0]无法连接proxy服务器;未验证;未验证;"}};
  for (const Case& c : cases) {
    EXPECT_EQ(ComputeRowResult(UnreachableOutcomes(c.sites), false).result, c.result) << c.sites;
  }
  EXPECT_TRUE(UnreachableOutcomes(0).empty());
}

}  // namespace
}  // namespace core
