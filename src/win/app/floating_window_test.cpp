#include "win/app/floating_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/proxylist/favorite_menu.h"
#include "core/proxylist/list_profile.h"
#include "core/verify/verify_settings.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/testing/app_fixture.h"
#include "win/testing/dialog_driver.h"
#include "win/testing/fake_data_object.h"

namespace win {
namespace {

struct MenuItem {
  UINT id;
  std::wstring text;
  bool checked;
};

std::vector<MenuItem> PopupItems(HMENU menu) {
  std::vector<MenuItem> items;
  HMENU popup = GetSubMenu(menu, 0);
  int count = GetMenuItemCount(popup);
  for (int i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_ID | MIIM_STATE | MIIM_STRING | MIIM_FTYPE;
    info.dwTypeData = text;
    info.cch = 255;
    GetMenuItemInfoW(popup, UINT(i), TRUE, &info);
    if (info.fType & MFT_SEPARATOR) continue;
    items.push_back({info.wID, text, (info.fState & MFS_CHECKED) != 0});
  }
  return items;
}

using FloatingWindowTest = AppWindowTest;

TEST_F(FloatingWindowTest, IsARoundedToolWindowAtItsPlaceWithTheMainDialogShown) {
  FloatingWindow& w = Start();
  HWND hwnd = w.hwnd();
  RECT r{};
  GetWindowRect(hwnd, &r);
  EXPECT_EQ(r.right - r.left, 33);
  EXPECT_EQ(r.bottom - r.top, 33);
  EXPECT_EQ(r.left, 730);
  EXPECT_EQ(r.top, 38);
  LONG_PTR ex = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  EXPECT_TRUE(ex & WS_EX_TOOLWINDOW);
  EXPECT_TRUE(ex & WS_EX_TOPMOST);
  wchar_t title[64] = {};
  GetWindowTextW(hwnd, title, 64);
  EXPECT_STREQ(title, L"紫晶梨自动换IP软件");
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  EXPECT_NE(GetWindowRgn(hwnd, region), ERROR);
  // The corner pixel lies outside the rounded region, the centre inside.
  EXPECT_FALSE(PtInRegion(region, 0, 0));
  EXPECT_TRUE(PtInRegion(region, 16, 16));
  DeleteObject(region);
  EXPECT_TRUE(IsWindowVisible(w.dialog().hwnd()));
  EXPECT_TRUE(GetWindowLongPtrW(w.dialog().hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  // The dialog stands beside the floating window, not over it.
  RECT dialog{}, both{};
  GetWindowRect(w.dialog().hwnd(), &dialog);
  EXPECT_FALSE(IntersectRect(&both, &dialog, &r));
  EXPECT_FALSE(w.proxy_icon_on());
  EXPECT_TRUE(prompt_.shown.empty());  // the drop target registered
}

// Width of the image the icon group `id` of this program offers for `size`.
int IconImageWidth(int id, int size) {
  const HMODULE module = GetModuleHandleW(nullptr);
  HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
  if (group == nullptr) return -1;
  auto* dir = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
  const int image_id = LookupIconIdFromDirectoryEx(dir, TRUE, size, size, LR_DEFAULTCOLOR);
  HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(image_id), MAKEINTRESOURCEW(3));  // RT_ICON
  if (image == nullptr) return -1;
  const auto* header =
      static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, image)));
  return header->biSize == sizeof(BITMAPINFOHEADER) ? int(header->biWidth) : -1;
}

TEST(ProgramIconsTest, EachIconHasAnImageDrawnAtEachSizeAWindowAsksFor) {
  for (int id : {IDI_MAIN, IDI_PROXY_ON, IDI_PROXY_OFF, IDI_TRAY_BUSY}) {
    for (int size : {16, 20, 24, 32, 40, 48, 64}) {
      EXPECT_EQ(IconImageWidth(id, size), size) << "icon " << id << " at " << size;
    }
  }
}

TEST_F(FloatingWindowTest, SavedPositionsAreKeptInsideTheWorkArea) {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  struct Case {
    int left, top, want_left, want_top;
  };
  const Case cases[] = {
      {100, 200, 100, 200},
      {-500, -7, int(work.left), int(work.top)},
      {100000, 100000, int(work.right) - 33, int(work.bottom) - 33},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(core::SaveWindowPosition({c.left, c.top}, profile_));
    FloatingWindow& w = Start();
    RECT r{};
    GetWindowRect(w.hwnd(), &r);
    EXPECT_EQ(r.left, c.want_left) << c.left;
    EXPECT_EQ(r.top, c.want_top) << c.top;
    window_.reset();
  }
}

TEST_F(FloatingWindowTest, StartReadsTheSystemProxyBackThenTheSavedList) {
  EXPECT_TRUE(profile_.WriteInt("Proxy List", "FavoriteProxy", 3));
  EXPECT_TRUE(profile_.WriteText("Proxy List", "FavoriteProxy_000", "1.2.3.4:80"));
  EXPECT_TRUE(profile_.WriteText("Proxy List", "FavoriteProxy_001", "not a proxy"));
  EXPECT_TRUE(profile_.WriteText("Proxy List", "FavoriteProxy_002", "9.9.9.9:99"));
  EXPECT_TRUE(profile_.WriteInt("Proxy List", "UnfavoriteProxy", 2));
  EXPECT_TRUE(profile_.WriteText("Proxy List", "UnfavoriteProxy_000", "9.9.9.9:99"));
  EXPECT_TRUE(profile_.WriteText("Proxy List", "UnfavoriteProxy_001", "8.8.8.8:8080"));
  // The setting names the saved 1.2.3.4:80: that row is in use and nothing is added.
  FloatingWindow& w = Start("http=1.2.3.4:80;ftp=5.6.7.8:21", 1);
  EXPECT_EQ(switcher_->current_proxy(), "1.2.3.4:80");
  EXPECT_TRUE(w.proxy_icon_on());
  const core::ProxyList& list = switcher_->list();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list.RowFullLine(0), "1.2.3.4:80");
  EXPECT_EQ(list.RowHostPort(1), "9.9.9.9:99");
  EXPECT_EQ(list.RowHostPort(2), "8.8.8.8:8080");
  EXPECT_EQ(list.favorite_count(), 2);
  // Nothing is written at start.
  EXPECT_EQ(ProxyValue("ProxyServer"), "http=1.2.3.4:80;ftp=5.6.7.8:21");
  wchar_t caption[128] = {};
  GetDlgItemTextW(w.dialog().hwnd(), IDC_LIST_GROUP, caption, 128);
  EXPECT_EQ(WideToUtf8(caption), "proxy服务器列表(ip总数:3, 常用ip:2)");
}

TEST_F(FloatingWindowTest, ADisabledSystemProxyIsListedButNotInUse) {
  FloatingWindow& w = Start("1.2.3.4:80", 0);
  EXPECT_EQ(switcher_->current_proxy(), "");
  EXPECT_FALSE(w.proxy_icon_on());
  ASSERT_EQ(switcher_->list().size(), 1u);
  EXPECT_TRUE(switcher_->list().row(0).favorite);
}

TEST_F(FloatingWindowTest, MenuListsFavoritesWithTheCheckMark) {
  FloatingWindow& w = Start();
  core::ProxyList& list = switcher_->list();
  ASSERT_EQ(list.AddProxy("1.1.1.1:80", true), core::AddResult::kAdded);
  ASSERT_EQ(list.AddProxy("2.2.2.2:80", false), core::AddResult::kAdded);
  ASSERT_EQ(list.AddProxy("Gate.Example:3128$上海", true), core::AddResult::kAdded);
  SendMessageW(w.hwnd(), WM_COMMAND, IDM_FAVORITE_FIRST + 1, 0);
  EXPECT_EQ(switcher_->current_proxy(), "Gate.Example:3128");
  list.SetChecked(2, true);
  std::vector<MenuItem> items = PopupItems(w.BuildMenu().get());
  ASSERT_EQ(items.size(), 7u);
  EXPECT_EQ(items[0].text, L"参数设置");
  EXPECT_EQ(items[3].id, UINT(IDM_NO_PROXY));
  EXPECT_FALSE(items[3].checked);
  EXPECT_EQ(items[4].id, UINT(IDM_ROTATE));
  EXPECT_FALSE(items[4].checked);
  EXPECT_EQ(items[5].id, 1124u);
  EXPECT_EQ(items[5].text, L"1.1.1.1:80");
  EXPECT_FALSE(items[5].checked);
  EXPECT_EQ(items[6].id, 1125u);
  EXPECT_EQ(items[6].text, L"Gate.Example:3128(上海)");
  EXPECT_TRUE(items[6].checked);

  SendMessageW(w.hwnd(), WM_COMMAND, IDM_NO_PROXY, 0);
  EXPECT_EQ(switcher_->current_proxy(), "");
  EXPECT_EQ(ProxyValue("ProxyServer"), "Gate.Example:3128");  // only the proxy bit goes
  EXPECT_EQ(ProxyValue("ProxyEnable"), "0");
  items = PopupItems(w.BuildMenu().get());
  EXPECT_TRUE(items[3].checked);
  EXPECT_FALSE(items[4].checked || items[5].checked || items[6].checked);
}

TEST_F(FloatingWindowTest, WithoutFavoritesTheMenuEndsWithTheHint) {
  FloatingWindow& w = Start();
  ASSERT_EQ(switcher_->list().AddProxy("2.2.2.2:80", false), core::AddResult::kAdded);
  std::vector<MenuItem> items = PopupItems(w.BuildMenu().get());
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[5].id, UINT(IDM_SHOW_MAIN_DIALOG));
  EXPECT_EQ(items[5].text, L"(只有ip列表中打勾的“常用ip”才会在菜单中)");
  ShowWindow(w.dialog().hwnd(), SW_HIDE);
  SendMessageW(w.hwnd(), WM_COMMAND, items[5].id, 0);
  EXPECT_TRUE(IsWindowVisible(w.dialog().hwnd()));
}

TEST_F(FloatingWindowTest, SixtyFavoritesShowFiftyAndTheCommandsSwitchTheProxy) {
  FloatingWindow& w = Start();
  for (int i = 0; i < 60; ++i) {
    ASSERT_EQ(switcher_->list().AddProxy("10.0.0." + std::to_string(i) + ":80", true), core::AddResult::kAdded);
  }
  std::vector<MenuItem> items = PopupItems(w.BuildMenu().get());
  ASSERT_EQ(items.size(), 5u + 50u);
  EXPECT_EQ(items.back().id, 1173u);
  EXPECT_EQ(items.back().text, L"10.0.0.49:80");
  SendMessageW(w.hwnd(), WM_COMMAND, 1130, 0);
  EXPECT_EQ(ProxyValue("ProxyServer"), "10.0.0.6:80");
  EXPECT_EQ(ProxyValue("ProxyEnable"), "1");
  EXPECT_TRUE(w.proxy_icon_on());
  // 1174 is routed but never holds an entry: the proxy is cleared.
  SendMessageW(w.hwnd(), WM_COMMAND, 1174, 0);
  EXPECT_EQ(ProxyValue("ProxyEnable"), "0");
  EXPECT_FALSE(w.proxy_icon_on());
}

TEST_F(FloatingWindowTest, ARefusedRowShowsTheErrorAndChangesNothing) {
  Start();
  switcher_->SetRelayPorts({8118});
  UseRowOf(*switcher_, "5.5.5.5:80");
  EXPECT_FALSE(UseRowOf(*switcher_, "127.0.0.1:8118@SOCKS5"));
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].caption, "发现错误");
  EXPECT_EQ(prompt_.shown[0].text, "[127.0.0.1:8118]是本程序自己的本地中转，不能用作代理");
  EXPECT_EQ(switcher_->current_proxy(), "5.5.5.5:80");
  EXPECT_EQ(ProxyValue("ProxyServer"), "5.5.5.5:80");
  // A row removed since it was shown switches nothing, silently.
  core::RowId gone = switcher_->list().IdAt(0);
  switcher_->list().RemoveAll();
  EXPECT_FALSE(switcher_->Use(gone));
  EXPECT_EQ(prompt_.shown.size(), 1u);
}

TEST_F(FloatingWindowTest, DroppedTextIsAddedAndSummarised) {
  FloatingWindow& w = Start();
  ASSERT_EQ(switcher_->list().AddProxy("1.1.1.1:80", false), core::AddResult::kAdded);
  // Unicode preferred over the ANSI form when both are offered.
  FakeTextDataObject data(L"5.5.5.5:80\r\n1.1.1.1:80\r\n\r\n广告", "6.6.6.6:80");
  // Through OLE's entry points: the text is copied, whatever the source offers.
  IDropTarget& target = w.drop_target();
  struct Offer {
    DWORD allowed;
    DWORD key_state;
    DWORD effect;
  };
  const Offer offers[] = {
      {DROPEFFECT_COPY | DROPEFFECT_MOVE, 0, DROPEFFECT_COPY},
      {DROPEFFECT_COPY, 0, DROPEFFECT_COPY},  // a source that only lets copy
      {DROPEFFECT_MOVE, 0, DROPEFFECT_NONE},  // moving would delete the user's text
      {DROPEFFECT_COPY | DROPEFFECT_MOVE, MK_CONTROL, DROPEFFECT_NONE},
  };
  for (const Offer& o : offers) {
    DWORD effect = o.allowed;
    EXPECT_EQ(target.DragEnter(&data, o.key_state, POINTL{}, &effect), S_OK);
    effect = o.allowed;
    target.DragOver(o.key_state, POINTL{}, &effect);
    EXPECT_EQ(effect, o.effect) << o.allowed << " " << o.key_state;
    target.DragLeave();
  }
  DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
  target.DragEnter(&data, MK_CONTROL, POINTL{}, &effect);
  effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
  EXPECT_EQ(target.Drop(&data, MK_CONTROL, POINTL{}, &effect), S_OK);
  EXPECT_EQ(effect, DWORD(DROPEFFECT_NONE));  // Ctrl held: nothing is taken
  Pump();
  EXPECT_TRUE(prompt_.shown.empty());

  effect = DROPEFFECT_COPY;
  target.DragEnter(&data, 0, POINTL{}, &effect);
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(target.Drop(&data, 0, POINTL{}, &effect), S_OK);
  EXPECT_EQ(effect, DWORD(DROPEFFECT_COPY));
  Pump();
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].caption, "添加结果");
  EXPECT_EQ(prompt_.shown[0].text,
            "拖动进来的代理共3条，其中\n  成功加入：  1条\n  重复项目：  1条\n  错误项目：  1条");
  const core::ProxyList& list = switcher_->list();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list.RowHostPort(1), "5.5.5.5:80");
  EXPECT_FALSE(list.row(1).favorite);

  FakeTextDataObject ansi_only(L"", "7.7.7.7:80\n");
  EXPECT_TRUE(w.drop_target().HandleDrop(&ansi_only, 0));
  Pump();
  EXPECT_EQ(list.RowHostPort(2), "7.7.7.7:80");
  FakeTextDataObject no_text(L"", "");
  EXPECT_EQ(w.drop_target().HandleDragEnter(&no_text, 0), DWORD(DROPEFFECT_NONE));
  EXPECT_FALSE(w.drop_target().HandleDrop(&no_text, 0));
}

TEST_F(FloatingWindowTest, ALongDroppedPageIsSearchedAwayFromTheWindow) {
  // Megabytes of a copied page froze the window while they were searched; now
  // a worker searches them and the rows come in one step.
  FloatingWindow& w = Start();
  ASSERT_EQ(switcher_->list().AddProxy("10.0.0.0:3128", false), core::AddResult::kAdded);
  std::wstring page = L"<html><body><table>\r\n";
  constexpr int kRows = 100000;
  for (int i = 0; i < kRows; ++i) {
    page += L"<tr><td>10." + std::to_wstring(i >> 16 & 255) + L"." + std::to_wstring(i >> 8 & 255) +
            L"." + std::to_wstring(i & 255) + L"</td><td>3128</td><td>高匿</td></tr>\r\n";
  }
  ASSERT_GE(WideToUtf8(page).size(), size_t(core::kStagedImportBytes));
  FakeTextDataObject data(page, "");
  EXPECT_TRUE(w.drop_target().HandleDrop(&data, 0));
  Pump();
  EXPECT_TRUE(prompt_.shown.empty());
  EXPECT_EQ(switcher_->list().size(), 1u);
  for (int i = 0; i < 1200 && app_->imports().busy(); ++i) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    Pump();
  }
  ASSERT_FALSE(app_->imports().busy());
  EXPECT_EQ(switcher_->list().size(), size_t(kRows));
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].text,
            "拖动进来的文字不是ip数据列表，从中找到100000个代理地址\nip服务器信息共100000条，其中\n"
            "  成功加入：99999条\n  重复项目：  1条\n  错误项目：  0条");
}

TEST_F(FloatingWindowTest, CloseSavesOnceAndLeavesTheProxy) {
  FloatingWindow& w = Start();
  core::ProxyList& list = switcher_->list();
  ASSERT_EQ(list.AddProxy("1.1.1.1:80", true), core::AddResult::kAdded);
  ASSERT_EQ(list.AddProxy("2.2.2.2:80", false), core::AddResult::kAdded);
  UseRowOf(*switcher_, "1.1.1.1:80");
  SetWindowPos(w.hwnd(), nullptr, 321, 123, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  HWND hwnd = w.hwnd();
  EXPECT_TRUE(SendMessageW(hwnd, WM_QUERYENDSESSION, 0, 0));
  SendMessageW(hwnd, WM_ENDSESSION, TRUE, 0);
  EXPECT_TRUE(w.final_saved());
  EXPECT_EQ(profile_.ReadInt("Window Position", "WindowPosLeft", 0), 321);
  EXPECT_EQ(profile_.ReadInt("Window Position", "WindowPosTop", 0), 123);
  EXPECT_EQ(profile_.ReadText("Proxy List", "FavoriteProxy_000", ""), "1.1.1.1:80");
  EXPECT_EQ(profile_.ReadText("Proxy List", "UnfavoriteProxy_000", ""), "2.2.2.2:80");
  // A later close does not save again.
  ASSERT_EQ(list.AddProxy("3.3.3.3:80", false), core::AddResult::kAdded);
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(profile_.ReadInt("Proxy List", "UnfavoriteProxy", 0), 1);
  EXPECT_EQ(ProxyValue("ProxyServer"), "1.1.1.1:80");
  EXPECT_EQ(ProxyValue("ProxyEnable"), "1");
  EXPECT_TRUE(exit_codes_.empty());
}

TEST_F(FloatingWindowTest, AVetoedLogOffKeepsTheTrayAndLaterChangesAreSaved) {
  FloatingWindow& w = Start();
  core::ProxyList& list = switcher_->list();
  ASSERT_EQ(list.AddProxy("1.1.1.1:80", false), core::AddResult::kAdded);
  EXPECT_TRUE(SendMessageW(w.hwnd(), WM_QUERYENDSESSION, 0, 0));
  EXPECT_EQ(profile_.ReadText("Proxy List", "UnfavoriteProxy_000", ""), "1.1.1.1:80");
  // Another program said no: the session goes on.
  SendMessageW(w.hwnd(), WM_ENDSESSION, FALSE, 0);
  EXPECT_FALSE(w.final_saved());
  EXPECT_TRUE(w.tray().added());
  ASSERT_EQ(list.AddProxy("2.2.2.2:80", false), core::AddResult::kAdded);
  SendMessageW(w.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_EQ(profile_.ReadInt("Proxy List", "UnfavoriteProxy", 0), 2);
}

// "不使用ip" turns the proxy off and leaves its server text; the exit puts back
// what the user had before the program's first switch, per-protocol text and all.
TEST_F(FloatingWindowTest, ExitRestoresTheUsersProxySavesAndEndsWithOne) {
  const std::string kUsers = "http=7.7.7.7:8080;ftp=5.6.7.8:21";
  FloatingWindow& w = Start(kUsers, 1);
  EXPECT_EQ(switcher_->current_proxy(), "7.7.7.7:8080");
  UseRowOf(*switcher_, "1.1.1.1:80");
  SendMessageW(w.hwnd(), WM_COMMAND, IDM_NO_PROXY, 0);
  EXPECT_EQ(ProxyValue("ProxyServer"), "1.1.1.1:80");
  EXPECT_EQ(ProxyValue("ProxyEnable"), "0");
  SendMessageW(w.hwnd(), WM_COMMAND, IDM_QUIT, 0);
  EXPECT_EQ(ProxyValue("ProxyServer"), kUsers);
  EXPECT_EQ(ProxyValue("ProxyEnable"), "1");
  EXPECT_EQ(switcher_->current_proxy(), "7.7.7.7:8080");
  EXPECT_TRUE(w.final_saved());
  EXPECT_EQ(profile_.ReadText("Proxy List", "FavoriteProxy_000", ""), "7.7.7.7:8080@HTTP");
  ASSERT_EQ(exit_codes_.size(), 1u);
  EXPECT_EQ(exit_codes_[0], 1);
}

TEST_F(FloatingWindowTest, TheFadeStepsTowardItsTarget) {
  FloatingWindow& w = Start();
  std::vector<int> seen;
  for (int i = 0; i < 9; ++i) {
    w.StepWindowAlpha(80, 24);
    seen.push_back(w.alpha());
  }
  EXPECT_EQ(seen, (std::vector<int>{231, 207, 183, 159, 135, 111, 87, 80, 80}));
  seen.clear();
  for (int i = 0; i < 4; ++i) {
    w.StepWindowAlpha(300, 57);
    seen.push_back(w.alpha());
  }
  EXPECT_EQ(seen, (std::vector<int>{137, 194, 251, 255}));
  EXPECT_TRUE(GetWindowLongPtrW(w.hwnd(), GWL_EXSTYLE) & WS_EX_LAYERED);
}

TEST_F(FloatingWindowTest, WhileWorkersRunTheTrayBlinksAndTheWindowStaysOpaque) {
  core::VerifySettings settings;
  settings.sites = {{"http://a.example/", "va", true}};
  ASSERT_TRUE(core::SaveVerifySettings(settings, profile_));
  FloatingWindow& w = Start();
  ASSERT_EQ(switcher_->list().AddProxy("1.1.1.1:80", false), core::AddResult::kAdded);
  HICON normal = w.tray().icon();
  SetCursorPos(0, GetSystemMetrics(SM_CYSCREEN) - 1);  // away from the window
  FireTimer(w.blink_timer());
  EXPECT_FALSE(w.tray_alternate_frame());
  FireTimer(w.fade_timer());
  EXPECT_EQ(w.alpha(), 231);

  app_->verify().scheduler().StartVerifyAll();
  ASSERT_EQ(app_->verify().active_workers(), 1);
  std::vector<bool> frames;
  for (int i = 0; i < 4; ++i) {
    FireTimer(w.blink_timer());
    frames.push_back(w.tray_alternate_frame());
  }
  EXPECT_EQ(frames, (std::vector<bool>{true, false, true, false}));
  FireTimer(w.blink_timer());
  EXPECT_NE(w.tray().icon(), normal);
  for (int i = 0; i < 5; ++i) FireTimer(w.fade_timer());
  EXPECT_EQ(w.alpha(), 255);

  app_->verify().scheduler().StopVerify();
  FireTimer(w.blink_timer());  // back to 128
  FireTimer(w.blink_timer());
  EXPECT_FALSE(w.tray_alternate_frame());
  EXPECT_EQ(w.tray().icon(), normal);
}

TEST_F(FloatingWindowTest, TrayIconIsAddedAndComesBackWhenTheTaskbarDoes) {
  FloatingWindow& w = Start();
  EXPECT_TRUE(w.tray().added());
  SendMessageW(w.hwnd(), WM_TRAY_NOTIFY, ID_TRAY_ICON_UID, WM_MOUSEMOVE);
  ShowWindow(w.dialog().hwnd(), SW_HIDE);
  SendMessageW(w.hwnd(), WM_TRAY_NOTIFY, ID_TRAY_ICON_UID, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(IsWindowVisible(w.dialog().hwnd()));
  SendMessageW(w.hwnd(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(w.tray().added());
  w.FinalSave();
  EXPECT_FALSE(w.tray().added());
  // Removed for good: Explorer restarting now does not bring it back.
  SendMessageW(w.hwnd(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_FALSE(w.tray().added());
}

TEST_F(FloatingWindowTest, TheExitCheckShowsInTheTipsAndTurnsTheDotRed) {
  FloatingWindow& w = Start();
  EXPECT_EQ(w.tooltip_text(), L"未使用代理");
  UseRowOf(*switcher_, "1.1.1.1:80");
  ASSERT_NE(exit_fetcher_, nullptr);
  ASSERT_EQ(exit_fetcher_->fetches.size(), 2u);  // through the system settings, and direct
  EXPECT_EQ(w.tooltip_text(), L"1.1.1.1:80 → 正在检测出口…");
  exit_fetcher_->Answer(core::ExitRoute::kDirect, true, "9.9.9.9\n");
  exit_fetcher_->Answer(core::ExitRoute::kSystem, true, "<html>5.6.7.8</html>");
  Pump();
  EXPECT_EQ(w.tooltip_text(), L"1.1.1.1:80 → 出口 5.6.7.8");
  EXPECT_EQ(w.tray().tip(), L"1.1.1.1:80 → 出口 5.6.7.8");
  EXPECT_FALSE(app_->exit_check().check().failed());
  wchar_t title[128] = {};
  GetWindowTextW(w.dialog().hwnd(), title, 128);
  EXPECT_EQ(std::wstring(title), L"紫晶梨自动换IP软件  1.1.1.1:80 → 出口 5.6.7.8");

  // The next proxy lets the machine's own address through: red, no message box.
  UseRowOf(*switcher_, "2.2.2.2:80");
  exit_fetcher_->Answer(core::ExitRoute::kSystem, true, "9.9.9.9");
  Pump();
  EXPECT_TRUE(app_->exit_check().check().failed());
  EXPECT_EQ(w.tooltip_text().rfind(L"2.2.2.2:80 → 出口 9.9.9.9", 0), 0u);
  EXPECT_TRUE(prompt_.shown.empty());
  // The dot's middle is painted red, over the "no proxy" icon, not the green one.
  UpdateWindow(w.hwnd());
  EXPECT_EQ(GetPixel(WindowDc(w.hwnd()).get(), 16, 17), RGB(220, 30, 30));
  EXPECT_FALSE(w.proxy_icon_on());

  // Turning the check off drops the red state and the stale tips.
  core::ExitCheckSettings off = app_->exit_check().settings();
  off.enabled = false;
  app_->exit_check().ApplySettings(off);
  EXPECT_TRUE(w.proxy_icon_on());
  EXPECT_EQ(w.tooltip_text(), L"紫晶梨代理软件");
  EXPECT_EQ(w.tray().tip(), L"紫晶梨代理软件");
  UpdateWindow(w.hwnd());
  EXPECT_NE(GetPixel(WindowDc(w.hwnd()).get(), 16, 17), RGB(220, 30, 30));
}

// The tooltip sizes itself by the width its font measures for the tip and
// clips what it draws there: the font must not draw the tip any wider.
TEST_F(FloatingWindowTest, TheTooltipsFontDrawsTheTipWithinTheWidthItMeasures) {
  FloatingWindow& w = Start();
  UseRowOf(*switcher_, "101.102.103.104:8080");
  ASSERT_NE(exit_fetcher_, nullptr);
  exit_fetcher_->Answer(core::ExitRoute::kDirect, true, "9.9.9.9");
  exit_fetcher_->Answer(core::ExitRoute::kSystem, true, "127.0.0.4");
  Pump();
  const std::wstring tip = w.tooltip_text();
  ASSERT_EQ(tip, L"101.102.103.104:8080 → 出口 127.0.0.4");

  const WindowDc screen(nullptr);
  UniqueMemoryDc dc(CreateCompatibleDC(screen.get()));
  UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), 600, 60));
  SelectedObject selected_bitmap(dc.get(), bitmap.get());
  SelectedObject font(dc.get(),
                      reinterpret_cast<HFONT>(SendMessageW(w.tooltip(), WM_GETFONT, 0, 0)));
  RECT all{0, 0, 600, 60};
  FillRect(dc.get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  RECT measured{0, 0, 0, 0};
  DrawTextW(dc.get(), tip.c_str(), -1, &measured, DT_CALCRECT | DT_EXTERNALLEADING);
  DrawTextW(dc.get(), tip.c_str(), -1, &all, DT_EXTERNALLEADING);
  int ink_right = -1;
  for (int x = 0; x < 600; ++x) {
    for (int y = 0; y < 60; ++y) {
      if (GetPixel(dc.get(), x, y) != RGB(255, 255, 255)) ink_right = x;
    }
  }
  EXPECT_LT(ink_right, measured.right) << "measured " << measured.right;
}

TEST_F(FloatingWindowTest, RunSettingsTakeEffectAtOnceTrayAndExitCheck) {
  FloatingWindow& w = Start();
  ASSERT_TRUE(w.tray().added());
  HWND main = w.dialog().hwnd();
  ClickButton(main, IDC_RUN_SETTINGS);
  HWND settings = w.dialog().run_settings_dialog().hwnd();
  ASSERT_TRUE(IsWindowVisible(settings));
  EXPECT_EQ(IsDlgButtonChecked(settings, IDC_EXIT_CHECK), UINT(BST_CHECKED));
  CheckDlgButton(settings, IDC_TRAY_ICON, BST_UNCHECKED);
  CheckDlgButton(settings, IDC_EXIT_FAILOVER, BST_CHECKED);
  ClickButton(settings, IDOK);
  EXPECT_FALSE(w.tray().added());
  EXPECT_TRUE(app_->exit_check().settings().failover);
  EXPECT_EQ(profile_.ReadInt("Exit Check", "Failover on failed check", 0), 1);
  CheckDlgButton(settings, IDC_TRAY_ICON, BST_CHECKED);
  ClickButton(settings, IDOK);
  EXPECT_TRUE(w.tray().added());
}

}  // namespace
}  // namespace win
