#include "core/sysproxy/auto_switch.h"

#include <gtest/gtest.h>

#include <vector>

namespace core {
namespace {

// Records what was applied; finishes each switch at once unless told to hold it.
class RecordingAction final : public ProxySwitchAction {
 public:
  void CleanThenSwitch(RowId row) override {
    std::optional<size_t> at = list->IndexOf(row);
    applied.push_back(at ? list->RowProxyText(int64_t(*at)) : "gone");
    if (!hold && owner != nullptr) owner->SwitchFinished();
  }
  AutoSwitch* owner = nullptr;
  const ProxyList* list = nullptr;
  bool hold = false;
  std::vector<std::string> applied;
};

struct Row {
  const char* line;
  int32_t score;
  bool expired = false;  // its provider's expiry has passed (the score set after)
};

// A list, the recording action and the switching over them.
struct Switching {
  Switching() {
    action.owner = &sw;
    action.list = &list;
    sw.SetRelayPorts({8118});
  }

  void Fill(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
      ASSERT_EQ(list.AddProxy(r.line, false), AddResult::kAdded) << r.line;
      if (r.expired) {
        list.SetRowExpiry(list.size() - 1, 1);
        list.MarkExpiredRows(2);
      }
      list.SetVerifyResult(list.size() - 1, "", "", r.score);
    }
  }
  // Runs `n` ticks within `places` and gives, per tick, the applied text, or
  // "-" when none was ("none in places" when no usable row passed `places`).
  std::vector<std::string> Ticks(int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
      size_t before = action.applied.size();
      bool outside = sw.Tick(places) == AutoSwitchTick::kNoRowInPlaces;
      out.push_back(action.applied.size() > before ? action.applied.back()
                    : outside                      ? "none in places"
                                                   : "-");
    }
    return out;
  }
  void Start() { ASSERT_TRUE(sw.Toggle("60").on); }

  ProxyList list;
  RecordingAction action;
  AutoSwitch sw{list, action};
  PlaceFilter places;
};

class AutoSwitchTest : public ::testing::Test, protected Switching {};

TEST(AutoSwitchSequenceTest, TickSequences) {
  struct Case {
    const char* name;
    std::vector<Row> rows;
    std::vector<std::string> expected;  // per tick: the applied text, "-" for none
    PlaceFilter places = {};
  };
  const PlaceFilter guangdong{{{PlaceKind::kProvince, "广东"}}};
  const Case cases[] = {
      {"three usable rows wrap around",
       {{"1.1.1.1:80", 5}, {"2.2.2.2:80", -1}, {"3.3.3.3:80", 105}},
       {"1.1.1.1:80", "2.2.2.2:80", "3.3.3.3:80", "1.1.1.1:80", "2.2.2.2:80"}},
      {"expired rows are passed over, verified or not",
       {{"1.1.1.1:80", 5}, {"2.2.2.2:80", 5, true}, {"3.3.3.3:80", -1}},
       {"1.1.1.1:80", "3.3.3.3:80", "1.1.1.1:80"}},
      {"failed rows are passed over within the tick",
       {{"1.1.1.1:80", 5}, {"2.2.2.2:80", 0}, {"3.3.3.3:80", 0}, {"4.4.4.4:80", 5}},
       {"1.1.1.1:80", "4.4.4.4:80", "1.1.1.1:80", "4.4.4.4:80"}},
      {"failed rows at the end wrap to the first usable one",
       {{"1.1.1.1:80", 0}, {"2.2.2.2:80", 5}, {"3.3.3.3:80", 0}},
       {"2.2.2.2:80", "2.2.2.2:80", "2.2.2.2:80"}},
      {"every row failed", {{"1.1.1.1:80", 0}, {"2.2.2.2:80", 0}}, {"-", "-", "-"}},
      {"the program's own relay is passed over",
       {{"127.0.0.1:8118@SOCKS5", 5}, {"127.0.0.1:8119", 5}},
       {"127.0.0.1:8119", "127.0.0.1:8119"}},
      {"SOCKS rows keep their type",
       {{"1.1.1.1:1080@SOCKS5", 1},
        {"2.2.2.2:1080@SOCKS4", 1},
        {"3.3.3.3:1080@SOCKS", 1},
        {"4.4.4.4:443@HTTPS", 1},
        {"5.5.5.5:21@FTP", 1},
        {"6.6.6.6:80@HTTP", 1}},
       {"1.1.1.1:1080@SOCKS5", "2.2.2.2:1080@SOCKS4", "3.3.3.3:1080@SOCKS", "4.4.4.4:443",
        "5.5.5.5:21", "6.6.6.6:80"}},
      {"rows outside the places are passed over",
       {{"1.1.1.1:80$广东 电信", 5}, {"2.2.2.2:80$北京", 5}, {"3.3.3.3:80$广东广州 移动", -1}},
       {"1.1.1.1:80", "3.3.3.3:80", "1.1.1.1:80"},
       guangdong},
      {"no usable row in the places: no other row instead",
       {{"1.1.1.1:80$北京", 5}, {"2.2.2.2:80$广东", 0}},
       {"none in places", "none in places"},
       guangdong},
  };
  for (const Case& c : cases) {
    Switching s;
    s.places = c.places;
    s.Start();
    s.Fill(c.rows);
    EXPECT_EQ(s.Ticks(int(c.expected.size())), c.expected) << c.name;
  }
}

TEST_F(AutoSwitchTest, EmptyListTicksThenRowsArrive) {
  Start();
  EXPECT_EQ(sw.Tick(), AutoSwitchTick::kNoRow);
  EXPECT_EQ(sw.index(), 1);
  EXPECT_EQ(sw.Tick(), AutoSwitchTick::kNoRow);  // wraps to 0, steps to 1 again
  EXPECT_EQ(sw.index(), 1);
  Fill({{"1.1.1.1:80", -1}, {"2.2.2.2:80", -1}});
  EXPECT_EQ(Ticks(2), (std::vector<std::string>{"2.2.2.2:80", "1.1.1.1:80"}));
}

TEST_F(AutoSwitchTest, RowsDeletedUnderThePositionRestartAtTheFirst) {
  Start();
  Fill({{"1.1.1.1:80", 1}, {"2.2.2.2:80", 1}, {"3.3.3.3:80", 1}, {"4.4.4.4:80", 1}});
  Ticks(3);
  ASSERT_EQ(sw.index(), 3);
  list.RemoveRowsIf([](const ProxyRow& r) { return r.address != "4.4.4.4"; });
  EXPECT_EQ(Ticks(2), (std::vector<std::string>{"4.4.4.4:80", "4.4.4.4:80"}));
  list.RemoveAll();
  EXPECT_EQ(Ticks(1), std::vector<std::string>{"-"});
}

TEST_F(AutoSwitchTest, TheScoreIsReadAtTheTick) {
  Start();
  Fill({{"1.1.1.1:80", 1}, {"2.2.2.2:80", 1}});
  Ticks(1);
  list.SetVerifyResult(1, "", "", 0);  // a verification fails it between ticks
  EXPECT_EQ(Ticks(1), std::vector<std::string>{"1.1.1.1:80"});
  EXPECT_EQ(sw.switched_row(), 0);
}

TEST_F(AutoSwitchTest, TicksWhileASwitchRunsAreSkippedNotQueued) {
  Start();
  Fill({{"1.1.1.1:80", 1}, {"2.2.2.2:80", 1}});
  action.hold = true;
  EXPECT_EQ(sw.Tick(), AutoSwitchTick::kSwitched);
  EXPECT_EQ(sw.Tick(), AutoSwitchTick::kBusy);
  EXPECT_EQ(sw.Tick(), AutoSwitchTick::kBusy);
  EXPECT_EQ(sw.index(), 1);
  sw.SwitchFinished();
  EXPECT_EQ(sw.Tick(), AutoSwitchTick::kSwitched);
  EXPECT_EQ(action.applied, (std::vector<std::string>{"1.1.1.1:80", "2.2.2.2:80"}));
}

TEST_F(AutoSwitchTest, StoppingKeepsThePositionAndIgnoresLateTicks) {
  Fill({{"1.1.1.1:80", 1}, {"2.2.2.2:80", 1}, {"3.3.3.3:80", 1}});
  EXPECT_EQ(sw.Tick(), AutoSwitchTick::kOff);  // never started
  Start();
  Ticks(2);
  AutoSwitchToggle off = sw.Toggle("60");
  EXPECT_FALSE(off.on);
  EXPECT_EQ(off.button_text, "开启自动换IP");
  EXPECT_EQ(sw.Tick(), AutoSwitchTick::kOff);
  AutoSwitchToggle on = sw.Toggle("60");
  EXPECT_EQ(on.button_text, "停止自动换IP");
  EXPECT_EQ(action.applied.size(), 2u) << "turning on must not switch at once";
  EXPECT_EQ(Ticks(1), std::vector<std::string>{"3.3.3.3:80"});
}

TEST_F(AutoSwitchTest, IntervalTextOnToggle) {
  struct Case {
    const char* text;
    int32_t interval;  // after the press, starting from 60
    uint32_t period_ms;
    bool error;
  };
  auto error_of = [](const char* text) {
    return std::string(text) == "0" || std::string(text) == "-5" ? "自动换IP间隔至少为1秒。"
                                                                 : "请键入一个整数。";
  };
  const Case cases[] = {
      {"30", 30, 30000, false},
      {" 45 ", 45, 45000, false},
      {"+7", 7, 7000, false},
      {"1", 1, 1000, false},
      {"2147483", 2147483, 2147483000u, false},
      {"2147484", 2147484, kMaxTimerPeriodMs, false},
      {"0", 60, 60000, true},
      {"-5", 60, 60000, true},
      {"", 60, 60000, true},
      {"abc", 60, 60000, true},
      {"12x", 60, 60000, true},
      {"1.5", 60, 60000, true},
      {"2147483648", 60, 60000, true},
      {"99999999999999999999", 60, 60000, true},
      {"--1", 60, 60000, true},
  };
  for (const Case& c : cases) {
    Switching s;
    AutoSwitchToggle t = s.sw.Toggle(c.text);
    EXPECT_TRUE(t.on) << c.text;  // a refused interval does not stop the toggle
    EXPECT_EQ(t.button_text, "停止自动换IP") << c.text;
    EXPECT_EQ(s.sw.interval(), c.interval) << c.text;
    EXPECT_EQ(t.period_ms, c.period_ms) << c.text;
    EXPECT_EQ(t.error, c.error ? error_of(c.text) : "") << c.text;
  }
}

TEST_F(AutoSwitchTest, AnIntervalTypedWhileOnWaitsForTheNextStart) {
  Start();
  AutoSwitchToggle off = sw.Toggle("5");
  EXPECT_EQ(off.period_ms, 0u);  // the timer is killed
  EXPECT_EQ(sw.Toggle("bad").period_ms, 5000u);
}

}  // namespace
}  // namespace core
