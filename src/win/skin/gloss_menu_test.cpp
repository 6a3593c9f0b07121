// GlossMenu: menu templates and appended items turned owner-drawn, measured and
// drawn through the owner window, access keys, records that die with the menu,
// and a tracked menu on screen.
#include "win/skin/gloss_menu.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/skin/skin_paint.h"
#include "win/skin/skin_testing.h"

namespace win {
namespace {

std::string Rgb(COLORREF c) {
  return std::to_string(GetRValue(c)) + "," + std::to_string(GetGValue(c)) + "," +
         std::to_string(GetBValue(c));
}

ULONG_PTR ItemData(HMENU menu, int position) {
  MENUITEMINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_DATA | MIIM_FTYPE;
  GetMenuItemInfoW(menu, UINT(position), TRUE, &info);
  return (info.fType & MFT_OWNERDRAW) ? info.dwItemData : 0;
}

// A hidden top-level window that draws GlossMenus by itself.
class OwnerWindow {
 public:
  OwnerWindow() {
    hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"owner", WS_POPUP, 40, 40, 60, 20,
                            nullptr, nullptr, nullptr, nullptr);
    AttachGlossMenuHandler(hwnd_);
  }
  ~OwnerWindow() { DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_ = nullptr;
};

TEST(GlossMenuTest, MenuTemplateAndAppendedFavoritesBecomeOwnerDrawn) {
  GlossMenu menu = GlossMenu::Load(GetModuleHandleW(nullptr), IDR_SYSTEM_MENU);
  ASSERT_TRUE(menu);
  HMENU popup = menu.SubMenu(0);
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(ItemData(menu.get(), 0), 0u) << "the top level stays as it is";
  ASSERT_TRUE(menu.AppendItem(popup, MF_CHECKED, 40001, "1.2.3.4:8080"));
  // Items appended with the plain functions are converted on request.
  AppendMenuW(popup, MF_STRING, 40002, L"5.6.7.8:3128");
  menu.Convert();
  struct Row {
    const char* text;
    bool separator;
  } rows[] = {{"参数设置", false}, {"验证全部ip", false}, {"", true},
              {"退出程序", false}, {"", true},          {"不使用ip", false},
              {"1.2.3.4:8080", false}, {"5.6.7.8:3128", false}};
  ASSERT_EQ(GetMenuItemCount(popup), 8);
  for (int i = 0; i < 8; ++i) {
    const auto* record = reinterpret_cast<const GlossItemRecord*>(ItemData(popup, i));
    ASSERT_NE(record, nullptr) << "item " << i;
    EXPECT_EQ(WideToUtf8(record->text), rows[i].text) << "item " << i;
    EXPECT_EQ(record->separator, rows[i].separator) << "item " << i;
  }
  EXPECT_EQ(GetMenuState(popup, 40001, MF_BYCOMMAND) & MF_CHECKED, UINT(MF_CHECKED));
  EXPECT_EQ(GetMenuItemID(popup, 6), 40001u);
}

TEST(GlossMenuTest, OwnerMeasuresAndDrawsOnlyLiveGlossItems) {
  OwnerWindow owner;
  ULONG_PTR item_data = 0;
  ULONG_PTR separator_data = 0;
  {
    GlossMenu menu = GlossMenu::Load(GetModuleHandleW(nullptr), IDR_LIST_MENU);
    HMENU popup = menu.SubMenu(0);
    item_data = ItemData(popup, 0);
    separator_data = ItemData(popup, 3);
    ASSERT_NE(item_data, 0u);

    MEASUREITEMSTRUCT item{ODT_MENU, 0, 0, 0, 0, item_data};
    EXPECT_EQ(SendMessageW(owner.hwnd(), WM_MEASUREITEM, 0, LPARAM(&item)), TRUE);
    MEASUREITEMSTRUCT separator{ODT_MENU, 0, 0, 0, 0, separator_data};
    EXPECT_EQ(SendMessageW(owner.hwnd(), WM_MEASUREITEM, 0, LPARAM(&separator)), TRUE);
    EXPECT_GE(item.itemHeight, 22u);
    EXPECT_GT(item.itemWidth, 31u);
    EXPECT_EQ(separator.itemWidth, 0u);
    EXPECT_LT(separator.itemHeight, item.itemHeight) << "a separator is about half an item";
    EXPECT_GE(2 * separator.itemHeight + 2, item.itemHeight);

    // Drawn selected and checked into a memory bitmap through the owner.
    const WindowDc screen(nullptr);
    UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), 160, 22));
    const HDC dc = memory.get();
    SelectedObject selected(dc, bitmap.get());
    DRAWITEMSTRUCT draw{ODT_MENU, 0, 0, ODA_DRAWENTIRE, ODS_SELECTED | ODS_CHECKED,
                        HWND(popup), dc, {0, 0, 160, 22}, item_data};
    EXPECT_EQ(SendMessageW(owner.hwnd(), WM_DRAWITEM, 0, LPARAM(&draw)), TRUE);
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    EXPECT_EQ(Rgb(GetPixel(dc, 0, 11)), Rgb(highlight)) << "selection frame";
    EXPECT_EQ(Rgb(GetPixel(dc, 150, 11)), Rgb(Lighten(highlight, 85))) << "selection fill";
    EXPECT_EQ(Rgb(GetPixel(dc, 8, 10)), Rgb(GetSysColor(COLOR_MENUTEXT))) << "tick";
    draw.itemState = 0;
    SendMessageW(owner.hwnd(), WM_DRAWITEM, 0, LPARAM(&draw));
    EXPECT_EQ(Rgb(GetPixel(dc, 2, 11)), Rgb(Lighten(GetSysColor(COLOR_BTNFACE), 25))) << "column";
    EXPECT_EQ(Rgb(GetPixel(dc, 150, 11)), Rgb(GetSysColor(COLOR_WINDOW))) << "item area";

    // An outcome strip after an item's text: measured in, one cell a mark in
    // order (green for ok, then red for failed).
    ASSERT_TRUE(menu.AppendItem(popup, MF_GRAYED, 0, "x"));
    ASSERT_TRUE(menu.AppendItem(popup, MF_GRAYED, 0, "x", "+-"));
    const int last = GetMenuItemCount(popup) - 1;
    MEASUREITEMSTRUCT bare{ODT_MENU, 0, 0, 0, 0, ItemData(popup, last - 1)};
    MEASUREITEMSTRUCT strip{ODT_MENU, 0, 0, 0, 0, ItemData(popup, last)};
    SendMessageW(owner.hwnd(), WM_MEASUREITEM, 0, LPARAM(&bare));
    SendMessageW(owner.hwnd(), WM_MEASUREITEM, 0, LPARAM(&strip));
    EXPECT_EQ(strip.itemWidth, bare.itemWidth + 8 + 2 * 7);
    draw.itemData = strip.itemData;
    draw.itemState = ODS_GRAYED;
    SendMessageW(owner.hwnd(), WM_DRAWITEM, 0, LPARAM(&draw));
    std::string cells;
    for (int x = 0; x < 160; ++x) {
      COLORREF c = GetPixel(dc, x, 11);
      char mark = c == RGB(0x2E, 0xA0, 0x43) ? '+' : c == RGB(0xD0, 0x31, 0x2D) ? '-' : 0;
      if (mark && (cells.empty() || cells.back() != mark)) cells += mark;
    }
    EXPECT_EQ(cells, "+-");
  }
  // The menu is gone: its item data is no longer trusted.
  MEASUREITEMSTRUCT stale{ODT_MENU, 0, 0, 0, 0, item_data};
  EXPECT_EQ(SendMessageW(owner.hwnd(), WM_MEASUREITEM, 0, LPARAM(&stale)), 0);
  EXPECT_EQ(stale.itemWidth, 0u);
}

TEST(GlossMenuTest, AccessKeys) {
  struct Case {
    const wchar_t* text;
    wchar_t key;
  } cases[] = {{L"&File", L'F'}, {L"e&xit", L'X'}, {L"a&&b", 0},  {L"a&&&b", L'B'},
               {L"x&", 0},       {L"", 0},         {L"&&", 0},    {L"none", 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(int(MenuAccessKey(c.text)), int(c.key)) << WideToUtf8(c.text);
  }

  UniqueMenu bar(CreateMenu());
  HMENU popup = CreatePopupMenu();
  AppendMenuW(popup, MF_STRING, 1, L"&Alpha");
  AppendMenuW(popup, MF_STRING, 2, L"&Beta");
  AppendMenuW(popup, MF_STRING, 3, L"&Bravo");
  AppendMenuW(popup, MF_STRING, 4, L"&&Literal");
  AppendMenuW(popup, MF_STRING, 5, L"E&xit");
  AppendMenuW(bar.get(), MF_POPUP, UINT_PTR(popup), L"menu");
  GlossMenu menu(std::move(bar));
  OwnerWindow owner;
  struct Char {
    wchar_t typed;
    LRESULT answer;  // -1: left to the system
  } chars[] = {{L'a', MAKELRESULT(0, MNC_EXECUTE)},
               {L'A', MAKELRESULT(0, MNC_EXECUTE)},
               {L'b', MAKELRESULT(1, MNC_SELECT)},  // two items share it
               {L'x', MAKELRESULT(4, MNC_EXECUTE)},
               {L'l', -1},
               {L'z', -1}};
  for (const Char& c : chars) {
    LRESULT result = -1;
    const bool handled =
        HandleGlossMenuMessage(owner.hwnd(), WM_MENUCHAR, MAKEWPARAM(c.typed, MF_POPUP),
                               LPARAM(popup), &result);
    EXPECT_EQ(handled ? result : -1, c.answer) << char(c.typed);
  }
}

// The proxy menu as the floating window shows it: tracked on screen, the
// first item selected from the keyboard, then photographed and closed.
struct TrackedMenu {
  HWND owner = nullptr;
  HMENU popup = nullptr;
  int ticks = 0;
  RECT selected{}, plain{}, checked{}, screen_area{};
  COLORREF selected_fill = 0, column = 0, item = 0, check_frame = 0;
};
TrackedMenu g_tracked;

void CALLBACK OnMenuTimer(HWND, UINT, UINT_PTR id, DWORD) {
  TrackedMenu& t = g_tracked;
  if (++t.ticks == 1) {
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = VK_DOWN;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
    return;
  }
  if (t.ticks < 4) return;  // let the selection be drawn
  KillTimer(nullptr, id);
  GetMenuItemRect(nullptr, t.popup, 0, &t.selected);
  GetMenuItemRect(nullptr, t.popup, 1, &t.plain);
  GetMenuItemRect(nullptr, t.popup, 6, &t.checked);
  {
    const WindowDc screen(nullptr);
    const int mid = (t.selected.top + t.selected.bottom) / 2;
    t.selected_fill = GetPixel(screen.get(), t.selected.right - 4, mid);
    const int plain_mid = (t.plain.top + t.plain.bottom) / 2;
    t.column = GetPixel(screen.get(), t.plain.left + 2, plain_mid);
    t.item = GetPixel(screen.get(), t.plain.right - 4, plain_mid);
    const int check_mid = (t.checked.top + t.checked.bottom) / 2;
    t.check_frame = GetPixel(screen.get(), t.checked.left + 3, check_mid);
  }
  HWND window = FindWindowW(L"#32768", nullptr);
  if (window != nullptr) GetWindowRect(window, &t.screen_area);
  InflateRect(&t.screen_area, 10, 10);
  skin_testing::SaveScreenshot(t.screen_area, "gloss_proxy_menu");
  EndMenu();
}

TEST(GlossMenuTest, TrackedMenuOnScreen) {
  OwnerWindow owner;
  ShowWindow(owner.hwnd(), SW_SHOW);
  SetForegroundWindow(owner.hwnd());
  GlossMenu menu = GlossMenu::Load(GetModuleHandleW(nullptr), IDR_SYSTEM_MENU);
  HMENU popup = menu.SubMenu(0);
  CheckMenuItem(popup, IDM_NO_PROXY, MF_BYCOMMAND | MF_UNCHECKED);
  menu.AppendItem(popup, MF_CHECKED, 40001, "127.0.0.1:8080");
  menu.AppendItem(popup, MF_UNCHECKED, 40002, "10.0.0.2:3128");
  g_tracked = TrackedMenu{};
  g_tracked.owner = owner.hwnd();
  g_tracked.popup = popup;
  SetTimer(nullptr, 0, 50, &OnMenuTimer);
  TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, 120, 120, 0,
                 owner.hwnd(), nullptr);
  ASSERT_GE(g_tracked.ticks, 4) << "the menu closed before it was looked at";
  const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
  EXPECT_EQ(Rgb(g_tracked.selected_fill), Rgb(Lighten(highlight, 85))) << "selected item";
  EXPECT_EQ(Rgb(g_tracked.column), Rgb(Lighten(GetSysColor(COLOR_BTNFACE), 25))) << "column";
  EXPECT_EQ(Rgb(g_tracked.item), Rgb(GetSysColor(COLOR_WINDOW))) << "item area";
  EXPECT_EQ(Rgb(g_tracked.check_frame), Rgb(highlight)) << "check box of the proxy in use";
}

}  // namespace
}  // namespace win
