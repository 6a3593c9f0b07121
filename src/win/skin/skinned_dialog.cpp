#include "win/skin/skinned_dialog.h"

#include <commctrl.h>

#include <string>

#include "win/platform/unique_handle.h"
#include "win/res/resource.h"
#include "win/skin/gloss_menu.h"
#include "win/skin/skin_dpi.h"
#include "win/skin/skin_paint.h"
#include "win/skin/skinned_button.h"
#include "win/skin/skinned_edit.h"
#include "win/ui/subclass.h"

namespace win {
namespace {

constexpr UINT_PTR kDialogSubclassId = 0x534B4431;

struct DialogSkin {
  bool has_minimize = false;
  bool has_maximize = false;
  bool maximized = false;
  int dpi = kBaseDpi;
  UniqueIcon small_icon;
  UniqueIcon large_icon;
};

LRESULT CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

DialogSkin* SkinOf(HWND dialog) {
  return SubclassData<DialogSkin>(dialog, &DialogProc, kDialogSubclassId);
}

void PaintFrame(HWND hwnd, const DialogSkin& skin) {
  RECT window{};
  GetWindowRect(hwnd, &window);
  const int w = window.right - window.left;
  const int h = window.bottom - window.top;
  if (w <= 0 || h <= 0) return;
  WindowDc window_dc = WindowDc::WholeWindow(hwnd);
  if (!window_dc) return;
  const HDC dc = window_dc.get();
  // The client area is left to the dialog: exclude it before copying.
  RECT client{};
  GetClientRect(hwnd, &client);
  MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
  OffsetRect(&client, -window.left, -window.top);
  ExcludeClipRect(dc, client.left, client.top, client.right, client.bottom);

  wchar_t title[512] = {};
  const int length = GetWindowTextW(hwnd, title, 512);
  FrameLook look;
  look.title = std::wstring_view(title, size_t(length));
  look.icon = skin.small_icon.get();
  look.has_minimize = skin.has_minimize;
  look.has_maximize = skin.has_maximize;
  look.dpi = skin.dpi;

  // Painted off screen and copied in one transfer, so a resize never shows
  // the frame half drawn.
  UniqueMemoryDc memory(CreateCompatibleDC(dc));
  UniqueBitmap bitmap(memory ? CreateCompatibleBitmap(dc, w, h) : nullptr);
  if (bitmap) {
    SelectedObject selected(memory.get(), bitmap.get());
    PaintDialogFrame(memory.get(), w, h, client.top, look);
    BitBlt(dc, 0, 0, w, h, memory.get(), 0, 0, SRCCOPY);
  } else {
    PaintDialogFrame(dc, w, h, client.top, look);
  }
}

void RedrawFrame(HWND hwnd) {
  RedrawWindow(hwnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_NOCHILDREN);
}

void ShrinkToClient(RECT* rect, int dpi) {
  rect->left += kFrameThickness;
  rect->right -= kFrameThickness;
  rect->top += SkinnedClientTop(dpi);
  rect->bottom -= kFrameThickness;
  if (rect->right < rect->left) rect->right = rect->left;
  if (rect->bottom < rect->top) rect->bottom = rect->top;
}

bool IsSystemColorBrush(HBRUSH brush) {
  return brush == GetSysColorBrush(COLOR_BTNFACE) || brush == GetSysColorBrush(COLOR_WINDOW);
}

LRESULT HitTest(HWND hwnd, const DialogSkin& skin, POINT screen, WPARAM wparam, LPARAM lparam) {
  RECT window{};
  GetWindowRect(hwnd, &window);
  RECT client{};
  GetClientRect(hwnd, &client);
  MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
  // The band lies one frame (as thick as the bottom frame) below the top.
  const int band_top = window.top + (window.bottom - client.bottom);
  if (screen.x >= window.left && screen.x < window.right && screen.y >= band_top &&
      screen.y < band_top + CaptionBandHeight(skin.dpi)) {
    return HTCAPTION;
  }
  if (PtInRect(&client, screen)) return HTCLIENT;
  return CallNextSubclass(hwnd, WM_NCHITTEST, wparam, lparam);
}

// A press on a caption button acts at once; returns true when the press must
// not go on to start a move of the window.
bool PressCaptionButton(HWND hwnd, const DialogSkin& skin, POINT screen) {
  RECT window{};
  GetWindowRect(hwnd, &window);
  const POINT at{screen.x - window.left, screen.y - window.top};
  const int w = window.right - window.left;
  auto in = [&](CaptionButton button) {
    const RECT box = CaptionButtonBox(button, w, skin.dpi);
    return PtInRect(&box, at) != FALSE;
  };
  if (in(CaptionButton::kClose)) {
    // Posted: the close is handled once the mouse button is released.
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    return false;
  }
  if (skin.has_minimize && in(CaptionButton::kMinimize)) {
    ShowWindow(hwnd, SW_MINIMIZE);
    return true;
  }
  if (skin.has_maximize && in(CaptionButton::kMaximize)) {
    ShowWindow(hwnd, skin.maximized ? SW_RESTORE : SW_MAXIMIZE);
    return true;
  }
  return false;
}

LRESULT CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR,
                            DWORD_PTR ref) {
  DialogSkin* skin = reinterpret_cast<DialogSkin*>(ref);
  LRESULT result = 0;
  if (HandleGlossMenuMessage(hwnd, msg, wparam, lparam, &result)) return result;
  switch (msg) {
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORMSGBOX: {
      // A dialog that colours a control itself keeps its colours; only the
      // system's default answers turn white.
      LRESULT brush = CallNextSubclass(hwnd, msg, wparam, lparam);
      if (brush != 0 && !IsSystemColorBrush(reinterpret_cast<HBRUSH>(brush))) return brush;
      SetBkColor(reinterpret_cast<HDC>(wparam), kSkinWhite);
      return reinterpret_cast<LRESULT>(SkinWhiteBrush());
    }
    case WM_NCCALCSIZE:
      // Our own frame, whatever frame the template asked for: the rings are
      // drawn exactly on it and never reach into the client area.
      ShrinkToClient(wparam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lparam)->rgrc[0]
                            : reinterpret_cast<RECT*>(lparam),
                     skin->dpi);
      return 0;
    case WM_NCPAINT:
      PaintFrame(hwnd, *skin);
      return 0;
    case WM_NCACTIVATE:
      return TRUE;  // the caption looks the same active or not
    case WM_NCHITTEST:
      return HitTest(hwnd, *skin, {short(LOWORD(lparam)), short(HIWORD(lparam))}, wparam, lparam);
    case WM_NCLBUTTONDOWN:
      if (wparam == HTCAPTION &&
          PressCaptionButton(hwnd, *skin, {short(LOWORD(lparam)), short(HIWORD(lparam))})) {
        return 0;
      }
      break;
    case WM_SIZE:
      result = CallNextSubclass(hwnd, msg, wparam, lparam);
      skin->maximized = wparam == SIZE_MAXIMIZED;
      RedrawFrame(hwnd);
      return result;
    case WM_SETTEXT:
      result = CallNextSubclass(hwnd, msg, wparam, lparam);
      RedrawFrame(hwnd);
      return result;
    case WM_DPICHANGED:
      skin->dpi = HIWORD(wparam);
      result = CallNextSubclass(hwnd, msg, wparam, lparam);
      SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
      return result;
    case WM_NCDESTROY:
      RemoveSubclass(hwnd, &DialogProc, kDialogSubclassId);
      delete skin;
      break;
  }
  return CallNextSubclass(hwnd, msg, wparam, lparam);
}

BOOL CALLBACK SkinChild(HWND child, LPARAM) {
  SkinButton(child);  // refuses anything that is not a push button
  return TRUE;
}

}  // namespace

HBRUSH SkinWhiteBrush() { return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)); }

bool IsSkinned(HWND dialog) { return dialog != nullptr && SkinOf(dialog) != nullptr; }

bool ApplySkin(HWND dialog, std::initializer_list<int> framed_edit_ids) {
  if (dialog == nullptr) return false;
  if (IsSkinned(dialog)) return true;
  auto* skin = new DialogSkin;
  skin->dpi = DpiOfWindow(dialog);
  const LONG_PTR style = GetWindowLongPtrW(dialog, GWL_STYLE);
  skin->has_minimize = (style & WS_MINIMIZEBOX) != 0;
  skin->has_maximize = (style & WS_MAXIMIZEBOX) != 0;
  skin->maximized = (style & WS_MAXIMIZE) != 0;

  RECT client{};
  GetClientRect(dialog, &client);
  if (!AddSubclass(dialog, &DialogProc, kDialogSubclassId, DWORD_PTR(skin))) {
    delete skin;
    return false;
  }

  auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
  const int small = ScaleByDpi(16, skin->dpi);
  const int large = ScaleByDpi(32, skin->dpi);
  skin->small_icon.reset(static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, small, small, 0)));
  skin->large_icon.reset(static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, large, large, 0)));
  if (skin->small_icon) SendMessageW(dialog, WM_SETICON, ICON_SMALL, LPARAM(skin->small_icon.get()));
  if (skin->large_icon) SendMessageW(dialog, WM_SETICON, ICON_BIG, LPARAM(skin->large_icon.get()));

  // Without WS_CAPTION the system draws no caption of its own; the window is
  // resized so that the client area, and the layout in it, stays as it was.
  SetWindowLongPtrW(dialog, GWL_STYLE, style & ~LONG_PTR(WS_CAPTION));
  const int width = client.right + 2 * kFrameThickness;
  const int height = client.bottom + SkinnedClientTop(skin->dpi) + kFrameThickness;
  SetWindowPos(dialog, nullptr, 0, 0, width, height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);

  EnumChildWindows(dialog, &SkinChild, 0);
  for (int id : framed_edit_ids) SkinEdit(GetDlgItem(dialog, id));
  RedrawWindow(dialog, nullptr, nullptr,
               RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  return true;
}

}  // namespace win
