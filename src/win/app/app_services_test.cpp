// The services together, as the program wires them: automatic switching, the
// exit check's failover, list downloads and the system proxy, each seen beside
// the others on the real timers and threads.
#include "win/app/app_services.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "core/base/file_path.h"
#include "core/download/source_rows.h"
#include "core/verify/verify_settings.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/testing/app_fixture.h"
#include "win/testing/dialog_driver.h"
#include "win/testing/test_servers.h"
#include "win/ui/dialog_text.h"

namespace win {
namespace {

// Automatic switching for real: the button, the one-second timer, the cleanup
// thread and the system proxy; a row whose last verification failed is passed
// over within the tick.
TEST_F(AppWindowTest, AutomaticSwitchingWalksTheListEverySecond) {
  ProxyListDialog& dialog = OpenDialog();
  core::ProxyList& list = switcher_->list();
  for (const char* line : {"10.0.0.1:80", "10.0.0.2:80", "10.0.0.3:1080@SOCKS5"}) {
    ASSERT_EQ(list.AddProxy(line, false), core::AddResult::kAdded);
  }
  list.SetVerifyResult(1, "不可用", "[0]", 0);
  HWND dlg = dialog.hwnd();
  auto click = [dlg](int id) { ClickButton(dlg, id); };
  auto text = [dlg](int id) { return DialogItemText(dlg, id); };

  // A bad interval: the message, the kept interval back in the edit, and
  // switching still goes on.
  SetDialogItemText(dlg, IDC_AUTO_SWITCH_SECONDS, "abc");
  click(IDC_AUTO_SWITCH);
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].text, "请键入一个整数。");
  EXPECT_EQ(text(IDC_AUTO_SWITCH_SECONDS), "60");
  EXPECT_TRUE(app_->auto_switch().state().on());
  std::string on_text = text(IDC_AUTO_SWITCH);
  click(IDC_AUTO_SWITCH);
  EXPECT_FALSE(app_->auto_switch().state().on());
  EXPECT_NE(text(IDC_AUTO_SWITCH), on_text);

  SetDialogItemText(dlg, IDC_AUTO_SWITCH_SECONDS, "1");
  click(IDC_AUTO_SWITCH);
  std::vector<std::string> applied;
  PumpUntil([&] {
    std::string server = ProxyValue("ProxyServer");
    if (!server.empty() && (applied.empty() || applied.back() != server)) applied.push_back(server);
    return applied.size() >= 3;
  });
  click(IDC_AUTO_SWITCH);
  // The SOCKS5 row goes in as the local relay, which speaks SOCKS5 to it.
  EXPECT_EQ(applied,
            (std::vector<std::string>{"10.0.0.1:80", app_->relay().address(), "10.0.0.1:80"}));
  EXPECT_GE(cleanups_->load(), 3);  // cleaned before each switch
}

// The start-up download from a local list server, silent, imported as the
// download settings say; and a list site's page downloaded by the user, whose
// proxies are found in its table and reported.
TEST_F(AppWindowTest, DownloadsAtStartAndByTheUserAreImported) {
  if (TestPort("WEB").empty()) GTEST_SKIP() << "the verify test servers are not running";
  std::string base = "http://127.0.0.1:" + TestPort("WEB");
  EXPECT_TRUE(
      profile_.WriteText("Download Settings", "Proxy File List URL", base + "/dl/list.txt"));
  EXPECT_TRUE(profile_.WriteInt("Download Settings", "Auto download Proxy List when start", 1));
  EXPECT_TRUE(profile_.WriteInt("Download Settings", "Add to favorite after download", 1));
  ProxyListDialog& dialog = OpenDialog();
  core::ProxyList& list = switcher_->list();
  ASSERT_TRUE(PumpUntil([&] { return list.size() == 3; })) << list.size();
  EXPECT_EQ(list.RowFullLine(1), "10.0.0.2:3128@HTTP");
  EXPECT_EQ(list.favorite_count(), 3);
  EXPECT_TRUE(prompt_.shown.empty());  // automatic downloads say nothing

  ASSERT_TRUE(dialog.download_progress_dialog().StartVisible(base + "/dl/table.html",
                                                             app_->downloads().path()));
  ASSERT_TRUE(PumpUntil([&] { return !prompt_.shown.empty(); }));
  EXPECT_EQ(prompt_.shown[0].text.rfind("文件不是ip数据列表，从中找到2个代理地址\n", 0), 0u)
      << prompt_.shown[0].text;
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list.RowFullLine(4), "10.0.1.2:1080@SOCKS5");
  DeleteFileW(Utf8ToWide(app_->downloads().path()).c_str());
}

// Failover: the exit check of an automatic switch fails, and the next usable
// row is applied within the same tick; a row that failed verification is
// passed over.
TEST_F(AppWindowTest, AFailedExitCheckMovesAutomaticSwitchingOnAtOnce) {
  EXPECT_TRUE(profile_.WriteInt("Exit Check", "Failover on failed check", 1));
  MakeServices();
  core::ProxyList& list = switcher_->list();
  for (const char* line : {"10.0.0.1:80", "10.0.0.2:80", "10.0.0.3:80", "10.0.0.4:80"}) {
    ASSERT_EQ(list.AddProxy(line, false), core::AddResult::kAdded);
  }
  list.SetVerifyResult(1, "不可用", "[0]", 0);
  app_->auto_switch().Toggle("3600");  // the ticks are sent by hand
  SendMessageW(app_->auto_switch().window(), WM_TIMER, AutoSwitchService::kTimerSwitch, 0);
  ASSERT_TRUE(PumpUntil([this] { return ProxyValue("ProxyServer") == "10.0.0.1:80"; }));
  exit_fetcher_->Answer(core::ExitRoute::kDirect, true, "9.9.9.9");
  exit_fetcher_->Answer(core::ExitRoute::kSystem, false, "");  // 10.0.0.1 does not answer
  Pump();
  EXPECT_EQ(ProxyValue("ProxyServer"), "10.0.0.3:80");  // 10.0.0.2 failed verification
  exit_fetcher_->Answer(core::ExitRoute::kSystem, true, "5.6.7.8");
  Pump();
  EXPECT_EQ(ProxyValue("ProxyServer"), "10.0.0.3:80");
  EXPECT_FALSE(app_->exit_check().check().failed());
  // The next tick goes on after the row failover chose.
  EXPECT_EQ(app_->auto_switch().state().index(), 3);
  app_->auto_switch().Toggle("3600");
}

// A built-in SOCKS5 source through the program's download: the first mirror
// refuses, the second serves the list, and its bare lines arrive as SOCKS5 rows
// (the mirrors are local stand-ins for the CDN's hosts).
TEST_F(AppWindowTest, ASocks5SourceComesFromTheMirrorThatServesItTyped) {
  if (TestPort("WEB").empty()) GTEST_SKIP() << "the verify test servers are not running";
  const std::string source =
      "https://cdn.jsdelivr.net/gh/monosans/proxy-list@main/proxies/socks5.txt";
  std::string base = "http://127.0.0.1:" + TestPort("WEB");
  mirrors_ = [source, base](std::string_view url) {
    std::vector<std::string> urls = core::MirrorUrls(url);
    if (url == source) urls = {base + "/no-such-list.txt", base + "/dl/list.txt"};
    return urls;
  };
  EXPECT_TRUE(profile_.WriteText("Download Settings", "Proxy File List URL", source));
  EXPECT_TRUE(profile_.WriteInt("Download Settings", "Append download proxies into list", 0));
  MakeServices();
  core::ProxyList& list = switcher_->list();
  app_->downloads().StartAutomaticDownload();
  ASSERT_TRUE(PumpUntil([&] { return list.size() == 3; })) << list.size();
  EXPECT_EQ(list.RowFullLine(0), "10.0.0.1:8080@SOCKS5");
  EXPECT_EQ(list.RowFullLine(1), "10.0.0.2:3128@HTTP");  // typed lines keep their type
  DeleteFileW(Utf8ToWide(app_->downloads().path()).c_str());
}

// Turning automatic switching on and off leaves the list downloads' schedule
// alone: the hourly download stays armed.
TEST_F(AppWindowTest, TogglingAutomaticSwitchingKeepsTheHourlyDownload) {
  MakeServices();
  HWND downloads = app_->downloads().window();
  ASSERT_NE(downloads, nullptr);
  app_->auto_switch().Toggle("60");
  app_->auto_switch().Toggle("60");
  ASSERT_FALSE(app_->auto_switch().state().on());
  // KillTimer finds only a timer that is still set.
  EXPECT_TRUE(KillTimer(downloads, ListDownloads::kTimerHour));
}

// A switch that the registry refuses is a failure the user is told of, and the
// proxy in use stays what the registry says, not what was asked for.
TEST_F(AppWindowTest, ARefusedSwitchIsReportedAndNotShownAsDone) {
  // A lasting key cannot be made under a volatile one.
  std::string parent = proxy_key_ + "_volatile";
  HKEY raw = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Utf8ToWide(parent).c_str(), 0, nullptr,
                            REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(raw);
  proxy_key_ = parent + "\\Proxy";
  MakeServices();
  prompt_.shown.clear();
  EXPECT_FALSE(UseRowOf(*switcher_, "10.0.0.1:80"));
  DeleteRegistryTree(HKEY_CURRENT_USER, parent);
  EXPECT_EQ(switcher_->current_proxy(), "");
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].text.rfind("设置系统代理失败\nwriting ProxyServer: ", 0), 0u)
      << prompt_.shown[0].text;
}

// A list download that ends while a verification runs replaces nothing under
// it: the import comes once the run has ended (its results stay on the rows
// it tested).
TEST_F(AppWindowTest, ADownloadEndingDuringAVerificationWaitsForItsEnd) {
  EXPECT_TRUE(profile_.WriteInt("Download Settings", "Append download proxies into list", 0));
  core::VerifySettings settings;
  settings.sites = {{"http://a.example/", "va", true}};
  ASSERT_TRUE(core::SaveVerifySettings(settings, profile_));
  MakeServices();
  core::ProxyList& list = switcher_->list();
  ASSERT_EQ(list.AddProxy("10.0.0.1:80", false), core::AddResult::kAdded);
  std::string path = app_->downloads().path();
  std::ofstream(core::PathFromUtf8(path), std::ios::binary) << "10.9.9.1:80\r\n10.9.9.2:80\r\n";
  app_->verify().VerifyAllQuietly();
  ASSERT_TRUE(app_->verify().running());

  app_->downloads().OnDownloadDone(WPARAM(core::kDownloadOk), 0);
  Pump();
  EXPECT_TRUE(app_->downloads().import_waiting());
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.RowHostPort(0), "10.0.0.1:80");

  app_->verify().Stop();
  Pump();
  EXPECT_FALSE(app_->downloads().import_waiting());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list.RowHostPort(0), "10.9.9.1:80");
  DeleteFileW(Utf8ToWide(path).c_str());
}

// A large downloaded list is read on the list imports' worker; it then
// replaces the list as the settings say, still as a list from outside.
TEST_F(AppWindowTest, ALargeDownloadIsReadAwayAndReplacesTheList) {
  EXPECT_TRUE(profile_.WriteInt("Download Settings", "Append download proxies into list", 0));
  MakeServices();
  core::ProxyList& list = switcher_->list();
  ASSERT_EQ(list.AddProxy("10.0.0.1:80", false), core::AddResult::kAdded);
  std::string path = app_->downloads().path();
  constexpr int kRows = 150000;
  {
    std::ofstream file(core::PathFromUtf8(path), std::ios::binary);
    file << "10.9.9.9:80$<保留ip>x\r\n";
    for (int i = 1; i < kRows; ++i) {
      file << "10." << (i >> 16 & 255) << '.' << (i >> 8 & 255) << '.' << (i & 255) << ":3128\r\n";
    }
  }
  ASSERT_TRUE(ListImports::IsLarge(path));
  app_->downloads().OnDownloadDone(WPARAM(core::kDownloadOk), 0);
  EXPECT_TRUE(app_->imports().busy());
  EXPECT_EQ(list.RowHostPort(0), "10.0.0.1:80");
  for (int i = 0; i < 1200 && app_->imports().busy(); ++i) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    Pump();
  }
  ASSERT_FALSE(app_->imports().busy());
  ASSERT_EQ(list.size(), size_t(kRows));
  EXPECT_EQ(list.RowFullLine(0), "10.9.9.9:80$x");
  EXPECT_FALSE(list.IsReserved(0));
  EXPECT_TRUE(prompt_.shown.empty());  // an automatic download says nothing
  DeleteFileW(Utf8ToWide(path).c_str());
}

// A built-in source whose every mirror fails: the error window gives each
// host's answer in words. A provider's error answer gives the provider's
// words. Neither touches the list.
TEST_F(AppWindowTest, AFailedDownloadSaysWhatEachHostAnswered) {
  if (TestPort("WEB").empty() || TestPort("DEAD").empty()) {
    GTEST_SKIP() << "the verify test servers are not running";
  }
  const std::string source =
      "https://cdn.jsdelivr.net/gh/monosans/proxy-list@main/proxies/socks5.txt";
  const std::string web = "127.0.0.1:" + TestPort("WEB");
  const std::string dead = "127.0.0.1:" + TestPort("DEAD");
  mirrors_ = [&](std::string_view url) {
    if (url != source) return core::MirrorUrls(url);
    return std::vector<std::string>{"http://" + web + "/no-such-list.txt",
                                    "http://" + web + "/dl/error.html",
                                    "http://" + dead + "/list.txt"};
  };
  ProxyListDialog& dialog = OpenDialog();
  core::ProxyList& list = switcher_->list();
  ASSERT_EQ(list.AddProxy("10.9.9.9:80", false), core::AddResult::kAdded);
  std::vector<std::string> said;
  for (const std::string& url : {source, "http://" + web + "/dl/provider-error.json"}) {
    prompt_.shown.clear();
    ASSERT_TRUE(dialog.download_progress_dialog().StartVisible(url, app_->downloads().path()));
    ASSERT_TRUE(PumpUntil([&] { return !prompt_.shown.empty(); })) << url;
    said.push_back(prompt_.shown[0].text);
  }
  EXPECT_EQ(said, (std::vector<std::string>{
                      "下载中发生错误\n" + web + ": 服务器返回错误 (HTTP 404)\n" + web +
                          ": 服务器返回的是网页（可能是验证页面），不是代理列表\n" + dead +
                          ": 服务器拒绝连接",
                      "下载中发生错误\n服务商返回错误：余额不足（代码 121）"}));
  EXPECT_EQ(list.size(), 1u);
}

// A provider's short-lived link, refreshed every ten seconds (the ticks are
// sent by hand): each answer of 500 proxies replaces the link's rows and only
// those; a row still handed out stays where it is with its id, the user's own
// row is left alone, and the rows' link is kept in the profile.
TEST_F(AppWindowTest, AShortLivedLinkReplacesItsRowsOnEveryRefresh) {
  if (TestPort("WEB").empty()) GTEST_SKIP() << "the verify test servers are not running";
  const std::string url = "http://127.0.0.1:" + TestPort("WEB") + "/dl/short.json";
  const std::string_view section = core::kDownloadSettingsSection;
  EXPECT_TRUE(profile_.WriteText(section, "Proxy File List URL (00)", url));
  EXPECT_TRUE(profile_.WriteInt(section, "Proxy File List URL (00) short-lived", 1));
  EXPECT_TRUE(profile_.WriteInt(section, "Number of other Proxy File List URL", 1));
  EXPECT_TRUE(profile_.WriteInt(section, "Short-lived refresh seconds", 10));
  OpenDialog();  // the list view shows every change
  ListDownloads& downloads = app_->downloads();
  ASSERT_TRUE(KillTimer(downloads.window(), ListDownloads::kTimerSecond));
  core::ProxyList& list = switcher_->list();
  ASSERT_EQ(list.AddProxy("10.9.9.9:80", false), core::AddResult::kAdded);
  auto ten_seconds = [&] {
    for (int i = 0; i < 10; ++i) {
      SendMessageW(downloads.window(), WM_TIMER, ListDownloads::kTimerSecond, 0);
    }
  };

  ten_seconds();
  ASSERT_TRUE(PumpUntil([&] { return list.size() == 501; })) << list.size();
  const std::string first = list.RowHostPort(1);
  const core::RowId second = list.IdAt(2);
  const std::string second_text = list.RowHostPort(2);
  ASSERT_TRUE(list.RowExpiry(1).has_value());

  ten_seconds();
  ASSERT_TRUE(PumpUntil([&] { return list.RowHostPort(1) != first; })) << list.size();
  EXPECT_EQ(list.size(), 501u);  // one handed out no more, one new
  EXPECT_EQ(list.RowHostPort(0), "10.9.9.9:80");
  EXPECT_EQ(list.RowSource(0), 0);
  EXPECT_EQ(list.IndexOf(second), 1u);
  EXPECT_EQ(list.RowHostPort(1), second_text);
  EXPECT_FALSE(list.IsReserved(500));
  EXPECT_TRUE(prompt_.shown.empty());  // a refresh says nothing
  EXPECT_EQ(profile_.ReadInt(core::kProxySourcesSection, "Count", 0), 1);
  EXPECT_EQ(profile_.ReadText(core::kProxySourcesSection, "Source_000", "").rfind(url + "\n", 0),
            0u);
  // What the refresh of 500 rows kept the UI thread for (the answer read,
  // the rows replaced and shown, their links saved).
  std::printf("short-lived refresh of 500 rows on the UI thread: %.1f ms\n",
              double(downloads.last_done_us()) / 1000);
  EXPECT_LE(downloads.last_done_us(), 50'000);
  DeleteFileW(Utf8ToWide(downloads.path()).c_str());
}

}  // namespace
}  // namespace win
