// The verification seen through the real main dialog and floating window: the
// buttons, the menu command, the service's timers and the end of a run, driven
// with the messages a user's clicks and the timers send. The workers are a
// scripted pool (each report is handed in by the test) and the clock is manual;
// two tests run the real worker threads against the local test servers when
// they are up.
#include "win/app/verify_service.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/verify/verify_settings.h"
#include "core/verify/verify_testing.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/testing/app_fixture.h"
#include "win/testing/dialog_driver.h"
#include "win/testing/test_servers.h"
#include "win/ui/dialog_text.h"

namespace win {
namespace {

constexpr core::SiteOutcome Usable(double seconds) { return {core::kSiteUsable, seconds}; }
constexpr core::SiteOutcome kUnreachable{core::kSiteUnreachable, core::kUntimedSeconds};
constexpr core::SiteOutcome kNoMatch{core::kSiteNoMatch, core::kUntimedSeconds};
constexpr core::SiteOutcome kNotTested{core::kSiteNotTested, core::kUntimedSeconds};

class VerifyServiceTest : public AppWindowTest {
 protected:
  void SetUp() override {
    AppWindowTest::SetUp();
    watchdog_per_site_ms_ = 1000;
    settings_.sites = {{"http://a.example/", "va", true},
                       {"http://b.example/", "vb", false},
                       {"http://c.example/", "vc", true}};
  }

  // Stores the settings, then creates the window (and so loads them).
  FloatingWindow& Open(const std::string& proxy_server = "", uint32_t enable = 0) {
    EXPECT_TRUE(core::SaveVerifySettings(settings_, profile_));
    FloatingWindow& w = Start(proxy_server, enable);
    dlg_ = w.dialog().hwnd();
    view_ = w.dialog().list_view();
    return w;
  }

  core::ProxyList& list() { return switcher_->list(); }
  core::VerifyScheduler& scheduler() { return app_->verify().scheduler(); }
  const VerifySchedulerTimers& timers() { return app_->verify().timers(); }
  void Add(std::initializer_list<const char*> lines) {
    for (const char* line : lines) ASSERT_EQ(list().AddProxy(line, false), core::AddResult::kAdded) << line;
  }
  void Click(int id) { ClickButton(dlg_, id); }
  // The report of the worker in `slot` for its current hand-out.
  void Report(int slot, const std::vector<core::SiteOutcome>& outcomes) {
    ASSERT_TRUE(pool_->current.count(slot)) << "slot " << slot << " holds no hand-out";
    app_->verify().scheduler().OnWorkerDone(slot, pool_->current[slot], outcomes);
  }
  // The caption as it stands, before the view's next refresh tick.
  std::string ShownCaption() {
    wchar_t text[256] = {};
    GetDlgItemTextW(dlg_, IDC_LIST_GROUP, text, 256);
    return WideToUtf8(text);
  }
  // The caption once the view has caught up with the run.
  std::string Caption() {
    FireTimer(window_->dialog().refresh_timer());
    return ShownCaption();
  }
  std::string Cell(int row, int column) {
    wchar_t text[256] = {};
    ListView_GetItemText(view_, row, column, text, 256);
    return WideToUtf8(text);
  }
  bool Enabled(int id) { return IsWindowEnabled(GetDlgItem(dlg_, id)) != FALSE; }
  // Every control a run switches, with the state it should have.
  void ExpectRunControls(bool running) {
    for (int id : {IDC_PROXY_LIST, IDC_VERIFY_ALL, IDC_VERIFY_SELECTED, IDC_VERIFY_SETTINGS,
                   IDC_ADD_PROXY, IDC_IMPORT_LIST, IDC_DELETE_SELECTED, IDC_DOWNLOAD_LIST}) {
      EXPECT_EQ(Enabled(id), !running) << "control " << id;
    }
    EXPECT_EQ(Enabled(IDC_STOP_VERIFY), running);
  }
  void SelectOnly(std::initializer_list<int> rows) {
    list().SelectAll(false);
    for (int r : rows) list().SetSelected(size_t(r), true);
  }

  core::VerifySettings settings_;
  HWND dlg_ = nullptr;
  HWND view_ = nullptr;
};

TEST_F(VerifyServiceTest, VerifyAllRunsToTheEndAndUsesTheBestProxy) {
  settings_.auto_delete_failed = true;
  FloatingWindow& w = Open("7.7.7.7:8080", 1);  // read back as a ticked row 0
  Add({"1.1.1.1:80", "2.2.2.2:80", "3.3.3.3:80"});
  ExpectRunControls(false);
  // Idle, with the pointer away from it, the window fades.
  SetCursorPos(0, GetSystemMetrics(SM_CYSCREEN) - 1);
  for (int i = 0; i < 3; ++i) FireTimer(w.fade_timer());
  EXPECT_LT(w.alpha(), 255);

  Click(IDC_VERIFY_ALL);
  // The button turns the system proxy off before the run.
  EXPECT_EQ(ProxyValue("ProxyServer"), "7.7.7.7:8080");
  EXPECT_EQ(ProxyValue("ProxyEnable"), "0");
  EXPECT_EQ(switcher_->current_proxy(), "");
  EXPECT_TRUE(prompt_.shown.empty());
  ASSERT_EQ(pool_->handed.size(), 4u);
  EXPECT_EQ(pool_->Proxies(),
            (std::vector<std::string>{"7.7.7.7:8080", "1.1.1.1:80", "2.2.2.2:80", "3.3.3.3:80"}));
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(pool_->handed[size_t(i)].slot, i);
    EXPECT_EQ(pool_->handed[size_t(i)].sites, 2);  // the two ticked sites only
    EXPECT_EQ(Cell(i, 3), "验证中...");
  }
  ExpectRunControls(true);
  EXPECT_EQ(Caption(), "proxy服务器列表(已验证:0, 可用:0, 未验证:4)");
  EXPECT_EQ(app_->verify().active_workers(), 4);

  // While the run is on the tray blinks and the window stays opaque.
  FireTimer(w.blink_timer());
  EXPECT_TRUE(w.tray_alternate_frame());
  for (int i = 0; i < 5; ++i) FireTimer(w.fade_timer());
  EXPECT_EQ(w.alpha(), 255);

  struct Step {
    int slot;
    std::vector<core::SiteOutcome> outcomes;
    int row;
    const char* status;
    const char* result;
    const char* caption;
  };
  const Step steps[] = {
      {1,
       {Usable(3.0), Usable(3.0)},
       1,
       "3.0;3.0",
       "[1995]3.0;3.0;",
       "(已验证:1, 可用:1, 未验证:3)"},
      {0,
       {kUnreachable, kNotTested},
       0,
       "不可用",
       "[0]无法连接proxy服务器;未验证;",
       "(已验证:2, 可用:1, 未验证:2)"},
      {3,
       {Usable(1.5), Usable(3.0)},
       3,
       "1.5;3.0",
       "[2025]1.5;3.0;",
       "(已验证:3, 可用:2, 未验证:1)"},
  };
  for (const Step& step : steps) {
    std::string before = ShownCaption();
    Report(step.slot, step.outcomes);
    // While the run is on the caption follows on the view's refresh tick, not
    // with every row.
    EXPECT_EQ(ShownCaption(), before);
    EXPECT_EQ(Cell(step.row, 3), step.status) << "slot " << step.slot;
    EXPECT_EQ(Cell(step.row, 5), step.result) << "slot " << step.slot;
    EXPECT_EQ(Caption(), std::string("proxy服务器列表") + step.caption);
    ExpectRunControls(true);
  }
  EXPECT_EQ(pool_->handed.size(), 4u);  // no row left to hand out

  Report(2, {Usable(1.5), kNoMatch});
  // The end: the failed row is deleted, the rest sorted best first and ticked,
  // the best one becomes the system proxy, and the controls come back.
  ExpectRunControls(false);
  EXPECT_EQ(app_->verify().active_workers(), 0);
  ASSERT_EQ(ListView_GetItemCount(view_), 3);
  const char* order[] = {"3.3.3.3", "1.1.1.1", "2.2.2.2"};
  const int scores[] = {2025, 1995, 1170};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Cell(i, 0), order[i]);
    EXPECT_EQ(list().row(size_t(i)).score, scores[i]) << order[i];
    EXPECT_EQ(ListView_GetCheckState(view_, i), TRUE) << order[i];
  }
  EXPECT_EQ(Cell(2, 3), "1.5;?");
  EXPECT_EQ(Cell(2, 5), "[1170]1.5;不匹配;");
  EXPECT_EQ(Caption(), "proxy服务器列表(ip总数:3, 常用ip:3)");
  EXPECT_EQ(ProxyValue("ProxyServer"), "3.3.3.3:80");
  EXPECT_EQ(ProxyValue("ProxyEnable"), "1");
  EXPECT_EQ(switcher_->current_proxy(), "3.3.3.3:80");
  EXPECT_GE(pool_->released, 1);

  // The tray ends on its normal frame.
  FireTimer(w.blink_timer());
  FireTimer(w.blink_timer());
  EXPECT_FALSE(w.tray_alternate_frame());
}

TEST_F(VerifyServiceTest, EachReportHandsTheNextRowToTheSameSlot) {
  settings_.threads = 2;
  settings_.sites = {{"http://a.example/", "va", true}};
  settings_.auto_use_best = false;
  Open();
  Add({"10.0.0.1:80", "10.0.0.2:80", "10.0.0.3:80", "10.0.0.4:80", "10.0.0.5:80"});
  Click(IDC_VERIFY_ALL);
  ASSERT_EQ(pool_->handed.size(), 2u);
  uint64_t first_generation = pool_->current[1];

  Report(1, {Usable(1.5)});
  ASSERT_EQ(pool_->handed.size(), 3u);
  EXPECT_EQ(pool_->handed[2].slot, 1);
  EXPECT_EQ(pool_->handed[2].proxy, "10.0.0.3:80");
  EXPECT_EQ(Cell(1, 3), "1.5");
  EXPECT_EQ(Cell(2, 3), "验证中...");
  EXPECT_EQ(Caption(), "proxy服务器列表(已验证:1, 可用:1, 未验证:4)");

  // A late report of the slot's earlier hand-out is not taken.
  app_->verify().scheduler().OnWorkerDone(1, first_generation, {Usable(2.0)});
  EXPECT_EQ(scheduler().doneCount(), 1);
  EXPECT_EQ(pool_->handed.size(), 3u);

  Report(0, {kUnreachable});
  EXPECT_EQ(pool_->handed.back().slot, 0);
  EXPECT_EQ(pool_->handed.back().proxy, "10.0.0.4:80");
  Report(0, {kUnreachable});
  EXPECT_EQ(pool_->handed.back().proxy, "10.0.0.5:80");
  Report(1, {Usable(2.0)});
  EXPECT_TRUE(scheduler().running());
  Report(0, {Usable(3.0)});
  EXPECT_FALSE(scheduler().running());
  EXPECT_EQ(pool_->handed.size(), 5u);
  EXPECT_EQ(ProxyValue("ProxyServer"), "");  // "Auto use the best proxy" is off
  ExpectRunControls(false);
}

TEST_F(VerifyServiceTest, TheRowHandedOutIsScrolledIntoView) {
  settings_.threads = 1;
  settings_.sites = {{"http://a.example/", "va", true}};
  Open();
  for (int i = 1; i <= 80; ++i) {
    ASSERT_EQ(list().AddProxy("10.0.0." + std::to_string(i) + ":80", false), core::AddResult::kAdded);
  }
  Click(IDC_VERIFY_ALL);
  ListView_EnsureVisible(view_, 0, FALSE);
  for (int i = 0; i < 70; ++i) Report(0, {kUnreachable});
  EXPECT_EQ(pool_->handed.back().proxy, "10.0.0.71:80");
  EXPECT_EQ(ListView_GetTopIndex(view_), 0);  // not before the refresh tick
  FireTimer(window_->dialog().refresh_timer());
  int top = ListView_GetTopIndex(view_);
  int per_page = ListView_GetCountPerPage(view_);
  EXPECT_GT(top, 0);
  EXPECT_LE(top, 70);
  EXPECT_GT(top + per_page, 70);
}

// Why nothing starts is the scheduler's to say; here: that it reaches the user
// over the dialog and leaves the system proxy alone.
TEST_F(VerifyServiceTest, TheButtonSaysWhyNothingStarts) {
  Open("9.9.9.9:99", 1);
  list().RemoveAll();
  prompt_.shown.clear();
  Click(IDC_VERIFY_ALL);
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].text, "您的列表中没有一个ip数据，没什么可验证的……");
  EXPECT_EQ(prompt_.shown[0].owner, dlg_);
  EXPECT_TRUE(pool_->handed.empty());
  ExpectRunControls(false);
  EXPECT_EQ(ProxyValue("ProxyServer"), "9.9.9.9:99");
}

TEST_F(VerifyServiceTest, StopPutsRunningRowsBackAndANewRunCanStart) {
  settings_.threads = 2;
  settings_.sites = {{"http://a.example/", "va", true}};
  Open();
  Add({"10.0.0.1:80", "10.0.0.2:80", "10.0.0.3:80"});
  Click(IDC_VERIFY_ALL);
  Report(0, {Usable(1.5)});  // slot 0 takes row 2
  ASSERT_EQ(pool_->handed.size(), 3u);
  Click(IDC_STOP_VERIFY);

  EXPECT_EQ(Cell(0, 3), "1.5");  // finished rows keep their result
  EXPECT_EQ(Cell(1, 3), "未验证");
  EXPECT_EQ(Cell(2, 3), "未验证");
  EXPECT_EQ(std::set<int>(pool_->abandoned.begin(), pool_->abandoned.end()), (std::set<int>{0, 1}));
  ExpectRunControls(false);
  EXPECT_FALSE(scheduler().running());
  // No end-of-run rule: no sort, no proxy, the favorites untouched.
  EXPECT_EQ(Cell(0, 0), "10.0.0.1");
  EXPECT_EQ(ProxyValue("ProxyServer"), "");
  EXPECT_EQ(list().favorite_count(), 0);
  EXPECT_EQ(Caption(), "proxy服务器列表(ip总数:3, 常用ip:0)");

  Click(IDC_VERIFY_ALL);
  EXPECT_TRUE(scheduler().running());
  EXPECT_EQ(pool_->handed.size(), 5u);
  ExpectRunControls(true);
}

TEST_F(VerifyServiceTest, AHungWorkerIsGivenUpByItsWatchdog) {
  settings_.threads = 1;
  settings_.sites = {{"http://a.example/", "va", true}};
  Open();
  Add({"10.0.0.1:80", "10.0.0.2:80"});
  Click(IDC_VERIFY_ALL);
  ASSERT_EQ(pool_->handed.size(), 1u);
  pool_->reached[0] = {Usable(2.0)};

  // A tick long before the watchdog period belongs to an earlier hand-out.
  FireTimer(timers().watchdog(0));
  EXPECT_TRUE(pool_->abandoned.empty());

  clock_->Advance(1000);  // one site: 1000 ms
  FireTimer(timers().watchdog(0));
  EXPECT_EQ(pool_->abandoned, (std::vector<int>{0}));
  EXPECT_EQ(Cell(0, 3), "2.0");
  EXPECT_EQ(Cell(0, 5), "[1160]2.0;");
  ASSERT_EQ(pool_->handed.size(), 2u);
  EXPECT_EQ(pool_->handed[1].slot, 0);
  EXPECT_EQ(pool_->handed[1].proxy, "10.0.0.2:80");
  // The new hand-out's watchdog runs.
  EXPECT_TRUE(timers().watchdog(0).active());
}

TEST_F(VerifyServiceTest, AWorkerThatCannotBeMadeEndsTheRunWithAMessage) {
  Open();
  Add({"10.0.0.1:80", "10.0.0.2:80"});
  pool_->no_worker = true;
  Click(IDC_VERIFY_ALL);
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].text, "创建验证线程中发生异常");
  EXPECT_EQ(prompt_.shown[0].caption, "验证失败");
  ExpectRunControls(false);
  EXPECT_FALSE(scheduler().running());
}

TEST_F(VerifyServiceTest, RowsWhoseThreadDoesNotStartAreSkippedUnchanged) {
  settings_.sites = {{"http://a.example/", "va", true}};
  Open();
  Add({"10.0.0.1:80", "10.0.0.2:80", "10.0.0.3:80"});
  pool_->not_started = {"10.0.0.2:80"};
  Click(IDC_VERIFY_ALL);
  EXPECT_EQ(pool_->Proxies(), (std::vector<std::string>{"10.0.0.1:80", "10.0.0.3:80"}));
  EXPECT_EQ(Cell(1, 3), "未验证");
  Report(0, {Usable(1.5)});
  Report(1, {kUnreachable});
  EXPECT_FALSE(scheduler().running());
  bool found = false;
  for (size_t i = 0; i < list().size(); ++i) {
    if (list().row(i).address != "10.0.0.2") continue;
    found = true;
    EXPECT_EQ(list().row(i).score, -1);
    EXPECT_EQ(list().row(i).status, "未验证");
  }
  EXPECT_TRUE(found);
}

TEST_F(VerifyServiceTest, NewRowsAreVerifiedByTheVerifyNewTimer) {
  settings_.verify_new_proxy = true;
  settings_.sites = {{"http://a.example/", "va", true}};
  Open();
  Add({"10.0.0.1:80", "10.0.0.2:80", "10.0.0.3:80"});
  SelectOnly({1});
  SetDlgItemTextW(dlg_, IDC_PROXY_EDIT, L"10.0.0.4:80");
  Click(IDC_ADD_PROXY);
  ASSERT_EQ(list().size(), 4u);
  // The addition armed the verify-new timer; its tick verifies the rows
  // selected then.
  EXPECT_TRUE(timers().verify_new().active());
  EXPECT_TRUE(pool_->handed.empty());
  FireTimer(timers().verify_new());
  EXPECT_EQ(pool_->Proxies(), (std::vector<std::string>{"10.0.0.2:80", "10.0.0.4:80"}));
  EXPECT_EQ(Cell(0, 3), "未验证");
  EXPECT_EQ(Cell(1, 3), "验证中...");
}

TEST_F(VerifyServiceTest, WithoutVerifyNewAnAdditionArmsNoTimer) {
  settings_.verify_new_proxy = false;
  Open();
  Add({"10.0.0.1:80"});
  EXPECT_FALSE(timers().verify_new().active());
}

TEST_F(VerifyServiceTest, TheMenuCommandVerifiesAllAndLeavesTheProxy) {
  FloatingWindow& w = Open("7.7.7.7:8080", 1);
  Add({"10.0.0.1:80"});
  SelectOnly({});
  SendMessageW(w.hwnd(), WM_COMMAND, IDM_VERIFY_ALL, 0);
  EXPECT_EQ(pool_->Proxies(), (std::vector<std::string>{"7.7.7.7:8080", "10.0.0.1:80"}));
  EXPECT_EQ(ProxyValue("ProxyServer"), "7.7.7.7:8080");
  EXPECT_EQ(switcher_->current_proxy(), "7.7.7.7:8080");
  EXPECT_TRUE(prompt_.shown.empty());

  // From the menu an empty list starts nothing and says nothing.
  Click(IDC_STOP_VERIFY);
  list().RemoveAll();
  SendMessageW(w.hwnd(), WM_COMMAND, IDM_VERIFY_ALL, 0);
  EXPECT_FALSE(scheduler().running());
  EXPECT_TRUE(prompt_.shown.empty());
}

TEST_F(VerifyServiceTest, TheMinuteTimerReverifiesTheTickedRows) {
  settings_.reverify_by_time = true;
  settings_.reverify_interval = 2;
  settings_.only_favorite_rows = true;
  settings_.sites = {{"http://a.example/", "va", true}};
  Open();
  ASSERT_EQ(list().AddProxy("10.0.0.1:80", false), core::AddResult::kAdded);
  ASSERT_EQ(list().AddProxy("10.0.0.2:80", true), core::AddResult::kAdded);
  ASSERT_EQ(list().AddProxy("10.0.0.3:80", true), core::AddResult::kAdded);
  // Started with the service.
  EXPECT_TRUE(app_->verify().reverify_timer().active());
  FireTimer(app_->verify().reverify_timer());
  EXPECT_TRUE(pool_->handed.empty());
  FireTimer(app_->verify().reverify_timer());
  EXPECT_EQ(pool_->Proxies(), (std::vector<std::string>{"10.0.0.2:80", "10.0.0.3:80"}));
  EXPECT_EQ(ListView_GetSelectedCount(view_), 2u);
  EXPECT_EQ(ListView_GetItemState(view_, 0, LVIS_SELECTED), 0u);
}

TEST_F(VerifyServiceTest, QuittingLetsTheWorkersGoAndNoReportCountsAfterwards) {
  FloatingWindow& w = Open();
  Add({"10.0.0.1:80", "10.0.0.2:80"});
  Click(IDC_VERIFY_ALL);
  ASSERT_TRUE(scheduler().running());
  uint64_t generation = pool_->current[0];
  int released = pool_->released;
  SendMessageW(w.hwnd(), WM_COMMAND, IDM_QUIT, 0);
  EXPECT_GT(pool_->released, released);
  EXPECT_EQ(app_->verify().active_workers(), 0);
  app_->verify().scheduler().OnWorkerDone(0, generation, {Usable(1.5)});
  EXPECT_EQ(scheduler().doneCount(), 0);
  EXPECT_EQ(exit_codes_, (std::vector<int>{1}));
}

TEST_F(VerifyServiceTest, DestroyingTheWindowLetsTheWorkersGo) {
  FloatingWindow& w = Open();
  Add({"10.0.0.1:80", "10.0.0.2:80"});
  Click(IDC_VERIFY_ALL);
  ASSERT_TRUE(scheduler().running());
  int released = pool_->released;
  DestroyWindow(w.hwnd());
  EXPECT_GT(pool_->released, released);
  EXPECT_FALSE(scheduler().running());
  EXPECT_TRUE(pool_->current.empty());
}

TEST_F(VerifyServiceTest, TheReapingTimerRunsWithTheService) {
  Open();
  FireTimer(timers().reaping());
  EXPECT_EQ(pool_->reaped, 1);
  EXPECT_TRUE(timers().reaping().active());
}

TEST_F(VerifyServiceTest, TheSettingsButtonShowsTheSettingsDialog) {
  Open();
  VerifySettingsDialog& settings = window_->dialog().settings_dialog();
  ASSERT_NE(settings.hwnd(), nullptr);
  EXPECT_FALSE(IsWindowVisible(settings.hwnd()));
  EXPECT_EQ(GetWindow(settings.hwnd(), GW_OWNER), dlg_);
  Click(IDC_VERIFY_SETTINGS);
  EXPECT_TRUE(IsWindowVisible(settings.hwnd()));
  // The sites the run uses are the dialog's.
  EXPECT_EQ(app_->verify().settings().FavoriteSiteCount(), 2);
  ShowWindow(settings.hwnd(), SW_HIDE);
}

TEST_F(VerifyServiceTest, ConfirmedSettingsCountForTheNextRun) {
  Open();
  Add({"10.0.0.1:80", "10.0.0.2:80", "10.0.0.3:80"});
  HWND settings = window_->dialog().settings_dialog().hwnd();
  Click(IDC_VERIFY_SETTINGS);
  SetDlgItemTextW(settings, IDC_THREADS, L"1");
  ClickButton(settings, IDOK);
  EXPECT_FALSE(IsWindowVisible(settings));
  EXPECT_EQ(profile_.ReadInt("Verify Settings", "Verify threads number", 0), 1);
  Click(IDC_VERIFY_ALL);
  ASSERT_EQ(pool_->handed.size(), 1u);
  EXPECT_EQ(pool_->handed[0].slot, 0);
}

// The real worker threads and WinInet, from the button to the system proxy.
TEST_F(AppWindowTest, VerifyAllThroughTheRealWorkersEndToEnd) {
  for (const char* name : {"PROXY", "SLOW", "OTHER", "DEAD"}) {
    if (TestPort(name).empty()) GTEST_SKIP() << "the verify test servers are not running";
  }
  core::VerifySettings settings;
  settings.threads = 2;
  settings.auto_delete_failed = true;
  settings.sites = {
      {"http://127.0.0.1:" + TestPort("DEAD") + "/verify.html", "RELAYMOTH-VERIFY-7731", true}};
  ASSERT_TRUE(core::SaveVerifySettings(settings, profile_));
  real_workers_ = true;
  FloatingWindow& w = Start();
  ProxyListDialog& dialog = w.dialog();
  core::ProxyList& list = switcher_->list();
  for (const char* name : {"DEAD", "OTHER", "SLOW", "PROXY"}) {
    ASSERT_EQ(list.AddProxy("127.0.0.1:" + TestPort(name), false), core::AddResult::kAdded);
  }
  HWND dlg = dialog.hwnd();
  ClickButton(dlg, IDC_VERIFY_ALL);
  ASSERT_GT(app_->verify().active_workers(), 0);
  ASSERT_TRUE(PumpUntil([this] { return app_->verify().active_workers() == 0; }, 30000))
      << "the run did not end";
  EXPECT_TRUE(prompt_.shown.empty());
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, IDC_VERIFY_ALL)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, IDC_STOP_VERIFY)));
  std::string rows;
  for (size_t i = 0; i < list.size(); ++i) {
    const core::ProxyRow& row = list.row(i);
    rows.append(row.port).append(" ").append(row.status).append(" ").append(row.result) += "\n";
  }
  ASSERT_EQ(list.size(), 2u) << rows;
  EXPECT_EQ(list.row(0).port, TestPort("PROXY"));
  EXPECT_EQ(list.row(1).port, TestPort("SLOW"));
  EXPECT_TRUE(list.row(0).favorite && list.row(1).favorite);
  EXPECT_EQ(ProxyValue("ProxyServer"), "127.0.0.1:" + TestPort("PROXY"));
  EXPECT_EQ(switcher_->current_proxy(), "127.0.0.1:" + TestPort("PROXY"));
}

// The service's own watchdog timer gives up a proxy that trickles its answer;
// no window exists, the services work alone.
TEST_F(AppWindowTest, TheWatchdogEndsATricklingProxyEndToEndWithoutAnyWindow) {
  for (const char* name : {"PROXY", "TRICKLE", "DEAD"}) {
    if (TestPort(name).empty()) GTEST_SKIP() << "the verify test servers are not running";
  }
  core::VerifySettings settings;
  settings.threads = 1;
  settings.auto_use_best = false;
  settings.sites = {
      {"http://127.0.0.1:" + TestPort("DEAD") + "/verify.html", "RELAYMOTH-VERIFY-7731", true}};
  ASSERT_TRUE(core::SaveVerifySettings(settings, profile_));
  watchdog_per_site_ms_ = 1500;
  real_workers_ = true;
  MakeServices();
  core::ProxyList& list = switcher_->list();
  ASSERT_EQ(list.AddProxy("127.0.0.1:" + TestPort("TRICKLE"), false), core::AddResult::kAdded);
  ASSERT_EQ(list.AddProxy("127.0.0.1:" + TestPort("PROXY"), false), core::AddResult::kAdded);
  app_->verify().scheduler().StartVerifyAll();
  ASSERT_GT(app_->verify().active_workers(), 0);
  DWORD start = GetTickCount();
  ASSERT_TRUE(PumpUntil([this] { return app_->verify().active_workers() == 0; }, 30000))
      << "the run did not end";
  EXPECT_GE(GetTickCount() - start, 1400u);  // the trickling row held its worker
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list.row(0).port, TestPort("PROXY"));
  EXPECT_GT(list.row(0).score, 0);
  EXPECT_EQ(list.row(1).port, TestPort("TRICKLE"));
  EXPECT_EQ(list.row(1).status, "不可用");
  EXPECT_EQ(list.row(1).score, 0);
}

}  // namespace
}  // namespace win
