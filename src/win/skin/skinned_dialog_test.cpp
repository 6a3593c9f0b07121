// The skin on a real dialog (the about box template): the frame it draws on
// screen, hit-testing and dragging by the caption band, the caption boxes, the
// buttons' hover, focus and pressed looks through real mouse input and
// messages, keyboard use, colour requests and a framed edit.
#include "win/skin/skinned_dialog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "win/platform/unique_handle.h"
#include "win/res/resource.h"
#include "win/skin/skin_paint.h"
#include "win/skin/skin_testing.h"
#include "win/skin/skinned_button.h"
#include "win/skin/skinned_edit.h"

namespace win {
namespace {

using skin_testing::MouseDown;
using skin_testing::MouseTo;
using skin_testing::MouseUp;
using skin_testing::Pump;
using skin_testing::PumpUntil;

std::vector<int> g_commands;

// A bare dialog procedure: skins itself when asked (lparam != 0) and records
// the commands it receives; it never ends itself.
INT_PTR CALLBACK TestDialogProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) {
    if (lparam != 0) ApplySkin(hwnd);
    return TRUE;
  }
  if (msg == WM_COMMAND) {
    g_commands.push_back(LOWORD(wparam));
    return TRUE;
  }
  return FALSE;
}

HWND CreateAbout(bool skinned) {
  return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT), nullptr,
                            &TestDialogProc, skinned ? 1 : 0);
}

RECT WindowRect(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return r;
}

std::string Rgb(COLORREF c) {
  return std::to_string(GetRValue(c)) + "," + std::to_string(GetGValue(c)) + "," +
         std::to_string(GetBValue(c));
}

class SkinnedDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    g_commands.clear();
    SetCursorPos(0, GetSystemMetrics(SM_CYSCREEN) - 1);
    dialog_ = CreateAbout(true);
    ASSERT_NE(dialog_, nullptr);
    SetWindowPos(dialog_, HWND_TOP, 100, 100, 0, 0, SWP_NOSIZE);
    ShowWindow(dialog_, SW_SHOW);
    SetForegroundWindow(dialog_);
    Redraw();
  }
  void TearDown() override {
    if (IsWindow(dialog_)) DestroyWindow(dialog_);
    MouseTo({0, GetSystemMetrics(SM_CYSCREEN) - 1});
    Pump();
  }
  void Redraw() {
    RedrawWindow(dialog_, nullptr, nullptr,
                 RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump();
  }
  // A point given relative to the window's top-left corner, on screen.
  POINT At(int x, int y) const {
    const RECT r = WindowRect(dialog_);
    return {r.left + x, r.top + y};
  }
  COLORREF WindowPixel(HWND hwnd, int x, int y) const {
    return GetPixel(WindowDc::WholeWindow(hwnd).get(), x, y);
  }
  HWND dialog_ = nullptr;
};

TEST_F(SkinnedDialogTest, KeepsTheClientSizeAndDrawsItsOwnFrame) {
  HWND plain = CreateAbout(false);
  ASSERT_NE(plain, nullptr);
  RECT plain_client{}, client{};
  GetClientRect(plain, &plain_client);
  DestroyWindow(plain);
  GetClientRect(dialog_, &client);
  EXPECT_EQ(client.right, plain_client.right);
  EXPECT_EQ(client.bottom, plain_client.bottom);
  const RECT window = WindowRect(dialog_);
  EXPECT_EQ(window.right - window.left, client.right + 8);
  EXPECT_EQ(window.bottom - window.top, client.bottom + 28);
  EXPECT_FALSE(GetWindowLongPtrW(dialog_, GWL_STYLE) & WS_CAPTION);
  EXPECT_TRUE(IsSkinned(dialog_));
  EXPECT_TRUE(ApplySkin(dialog_)) << "a second call is harmless";

  const int w = window.right - window.left;
  struct Fact {
    const char* what;
    int x, y;
    COLORREF color;
  } facts[] = {
      {"outer ring", 0, 60, kCaptionBlue},
      {"band", 40, 10, kCaptionBlue},
      {"line under the caption", 40, 23, kSkinWhite},
      {"close glyph", w - 14, 13, kGlyphBlue},
      {"no minimise box on the about box", w - 50, 17, kSkinWhite},
  };
  for (const Fact& f : facts) {
    EXPECT_EQ(Rgb(WindowPixel(dialog_, f.x, f.y)), Rgb(f.color)) << f.what;
  }
  // Activation does not repaint the caption in the system's colours.
  SendMessageW(dialog_, WM_NCACTIVATE, FALSE, 0);
  EXPECT_EQ(Rgb(WindowPixel(dialog_, 40, 10)), Rgb(kCaptionBlue));
}

TEST_F(SkinnedDialogTest, HitTestFindsTheCaptionBand) {
  const RECT r = WindowRect(dialog_);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  struct Case {
    int x, y;
    LRESULT hit;
  } cases[] = {
      {40, 4, HTCAPTION},       // first row of the band
      {40, 23, HTCAPTION},      // last row of the band
      {0, 10, HTCAPTION},       // the band spans the full width
      {w - 13, 12, HTCAPTION},  // the close box is part of the band
      {40, 24, HTCLIENT},
      {w / 2, h - 5, HTCLIENT},
  };
  for (const Case& c : cases) {
    const POINT p = At(c.x, c.y);
    EXPECT_EQ(SendMessageW(dialog_, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y)), c.hit)
        << "(" << c.x << ", " << c.y << ")";
  }
  for (POINT frame : {POINT{40, 2}, POINT{1, 60}, POINT{w / 2, h - 2}}) {
    const POINT p = At(frame.x, frame.y);
    const LRESULT hit = SendMessageW(dialog_, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
    EXPECT_NE(hit, HTCAPTION) << "frame (" << frame.x << ", " << frame.y << ")";
    EXPECT_NE(hit, HTCLIENT) << "frame (" << frame.x << ", " << frame.y << ")";
  }
}

TEST_F(SkinnedDialogTest, DraggingTheCaptionBandMovesTheDialog) {
  const RECT before = WindowRect(dialog_);
  const POINT grab = At(60, 12);
  MouseTo(grab);
  MouseDown(grab);
  MouseTo({grab.x + 20, grab.y + 15});
  MouseTo({grab.x + 40, grab.y + 30});
  MouseUp({grab.x + 40, grab.y + 30});
  EXPECT_TRUE(PumpUntil([&] { return WindowRect(dialog_).left == before.left + 40; }));
  const RECT after = WindowRect(dialog_);
  EXPECT_EQ(after.left - before.left, 40);
  EXPECT_EQ(after.top - before.top, 30);
  EXPECT_TRUE(g_commands.empty());
}

TEST_F(SkinnedDialogTest, TheCloseBoxClosesAndAbsentBoxesOnlyMove) {
  const int w = WindowRect(dialog_).right - WindowRect(dialog_).left;
  // The minimise box's place: the about box has none, so a click there is a
  // click on the band.
  const POINT minimise = At(w - 50, 12);
  MouseTo(minimise);
  MouseDown(minimise);
  MouseUp(minimise);
  Pump();
  EXPECT_FALSE(IsIconic(dialog_));
  EXPECT_TRUE(g_commands.empty());

  const POINT close = At(w - 13, 12);
  MouseTo(close);
  MouseDown(close);
  MouseUp(close);
  // The dialog manager turns the posted WM_CLOSE into IDCANCEL.
  EXPECT_TRUE(PumpUntil([] { return !g_commands.empty(); }));
  EXPECT_EQ(g_commands, std::vector<int>{IDCANCEL});
}

TEST_F(SkinnedDialogTest, ButtonsShowHoverFocusAndPress) {
  HWND site = GetDlgItem(dialog_, IDC_ABOUT_SITE);
  ASSERT_TRUE(IsSkinnedButton(site));
  EXPECT_EQ(GetWindowLongPtrW(site, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
  RECT r{};
  GetClientRect(site, &r);
  const int edge = GetSystemMetrics(SM_CXEDGE);
  const int mid = r.bottom / 2;
  // Away from the button under test first: the dialog focused it at start.
  SendMessageW(dialog_, WM_NEXTDLGCTL, WPARAM(GetDlgItem(dialog_, IDOK)), TRUE);
  Pump();
  auto left_border = [&] {
    RedrawWindow(site, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    return Rgb(WindowPixel(site, edge, mid));
  };
  const std::string plain = left_border();
  EXPECT_NE(plain, Rgb(kHotLeft));
  EXPECT_NE(plain, Rgb(kFocusLeft));

  POINT centre{r.right / 2, mid};
  ClientToScreen(site, &centre);
  MouseTo(centre);
  SkinnedButtonState state;
  EXPECT_TRUE(PumpUntil([&] { return GetSkinnedButtonState(site, &state) && state.hover; }));
  EXPECT_EQ(left_border(), Rgb(kHotLeft)) << "hovered";

  MouseTo({0, GetSystemMetrics(SM_CYSCREEN) - 1});
  EXPECT_TRUE(PumpUntil([&] { return GetSkinnedButtonState(site, &state) && !state.hover; }));
  EXPECT_EQ(left_border(), plain) << "left again";

  SendMessageW(dialog_, WM_NEXTDLGCTL, WPARAM(site), TRUE);
  Pump();
  EXPECT_EQ(GetFocus(), site);
  EXPECT_EQ(left_border(), Rgb(kFocusLeft)) << "focused";

  // Pressed: the caption moves one pixel right and down.
  auto caption_box = [&] {
    RedrawWindow(site, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    RECT box{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    const WindowDc dc = WindowDc::WholeWindow(site);
    for (int y = 4; y < r.bottom - 4; ++y) {
      for (int x = 4; x < r.right - 4; ++x) {
        if (GetPixel(dc.get(), x, y) != RGB(0, 0, 0)) continue;
        box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x),
               std::max<LONG>(box.bottom, y)};
      }
    }
    return box;
  };
  const RECT up = caption_box();
  ASSERT_NE(up.left, INT_MAX) << "a black caption";
  SendMessageW(site, BM_SETSTATE, TRUE, 0);
  const RECT down = caption_box();
  SendMessageW(site, BM_SETSTATE, FALSE, 0);
  EXPECT_EQ(down.left - up.left, 1);
  EXPECT_EQ(down.top - up.top, 1);
}

TEST_F(SkinnedDialogTest, KeyboardStillWorks) {
  HWND ok = GetDlgItem(dialog_, IDOK);
  HWND site = GetDlgItem(dialog_, IDC_ABOUT_SITE);
  SkinnedButtonState state;
  ASSERT_TRUE(GetSkinnedButtonState(ok, &state));
  EXPECT_TRUE(state.is_default) << "the template's default button";

  // Focus on another button makes it the default: Enter presses it, and the
  // buttons stay owner-drawn while the dialog manager moves the default.
  SendMessageW(dialog_, WM_NEXTDLGCTL, WPARAM(site), TRUE);
  Pump();
  ASSERT_TRUE(GetSkinnedButtonState(site, &state));
  EXPECT_TRUE(state.is_default);
  ASSERT_TRUE(GetSkinnedButtonState(ok, &state));
  EXPECT_FALSE(state.is_default);
  EXPECT_EQ(GetWindowLongPtrW(ok, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
  PostMessageW(site, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_TRUE(PumpUntil([] { return !g_commands.empty(); }, dialog_));
  EXPECT_EQ(g_commands, std::vector<int>{IDC_ABOUT_SITE});

  g_commands.clear();
  PostMessageW(site, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_TRUE(PumpUntil([] { return !g_commands.empty(); }, dialog_));
  EXPECT_EQ(g_commands, std::vector<int>{IDCANCEL});

  g_commands.clear();
  PostMessageW(site, WM_KEYDOWN, VK_TAB, 0);
  EXPECT_TRUE(PumpUntil([&] { return GetFocus() != site; }, dialog_));
  EXPECT_EQ(GetFocus(), GetDlgItem(dialog_, IDC_ABOUT_HELP)) << "Tab order unchanged";
}

TEST_F(SkinnedDialogTest, ColourRequestsAnswerWhite) {
  const WindowDc window_dc(dialog_);
  const HDC dc = window_dc.get();
  for (UINT msg : {WM_CTLCOLORDLG, WM_CTLCOLORSTATIC, WM_CTLCOLORBTN, WM_CTLCOLOREDIT,
                   WM_CTLCOLORLISTBOX}) {
    SetBkColor(dc, RGB(1, 2, 3));
    const LRESULT brush = SendMessageW(dialog_, msg, WPARAM(dc), LPARAM(dialog_));
    EXPECT_EQ(brush, LRESULT(SkinWhiteBrush())) << "message " << msg;
    EXPECT_EQ(Rgb(GetBkColor(dc)), Rgb(kSkinWhite)) << "message " << msg;
  }
}

TEST_F(SkinnedDialogTest, FramedEditAndRunTimeButton) {
  HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"1.2.3.4:80", WS_CHILD | WS_VISIBLE,
                              10, 10, 120, 22, dialog_, HMENU(3001), nullptr, nullptr);
  HWND button = CreateWindowExW(0, L"BUTTON", L"Run", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 140,
                                10, 60, 22, dialog_, HMENU(3002), nullptr, nullptr);
  HWND check = CreateWindowExW(0, L"BUTTON", L"Box", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX,
                               210, 10, 60, 22, dialog_, HMENU(3003), nullptr, nullptr);
  EXPECT_TRUE(SkinEdit(edit));
  EXPECT_FALSE(SkinEdit(button)) << "only edits";
  EXPECT_TRUE(SkinButton(button));
  EXPECT_FALSE(SkinButton(check)) << "only push buttons";
  Redraw();
  EXPECT_EQ(Rgb(WindowPixel(edit, 1, 11)), Rgb(kEditFrameBlue));
  EXPECT_EQ(Rgb(WindowPixel(edit, 60, 1)), Rgb(kEditFrameBlue));
  EXPECT_NE(Rgb(WindowPixel(edit, 0, 11)), Rgb(kEditFrameBlue)) << "the outer line stays";
  // A button created at run time draws like one from the template.
  EXPECT_EQ(Rgb(WindowPixel(button, 30, 0)), Rgb(RGB(0, 0, 0))) << "outline";
  EXPECT_EQ(Rgb(WindowPixel(button, 30, 22 - GetSystemMetrics(SM_CYEDGE))),
            Rgb(ButtonGradientColor(63, false, false)))
      << "darkest gradient row";
}

TEST_F(SkinnedDialogTest, OnScreenLookAndScreenshot) {
  // Hover over the default button for the picture.
  HWND ok = GetDlgItem(dialog_, IDOK);
  RECT r{};
  GetWindowRect(ok, &r);
  MouseTo({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
  SkinnedButtonState state;
  PumpUntil([&] { return GetSkinnedButtonState(ok, &state) && state.hover; });
  Redraw();
  const RECT window = WindowRect(dialog_);
  const WindowDc screen(nullptr);
  const COLORREF band = GetPixel(screen.get(), window.left + 40, window.top + 10);
  const COLORREF ring = GetPixel(screen.get(), window.left, window.top + 60);
  EXPECT_EQ(Rgb(band), Rgb(kCaptionBlue)) << "on screen";
  EXPECT_EQ(Rgb(ring), Rgb(kCaptionBlue)) << "on screen";
  RECT area = window;
  InflateRect(&area, 10, 10);
  skin_testing::SaveScreenshot(area, "skinned_about_dialog");
}

}  // namespace
}  // namespace win
