#include "win/skin/skinned_button.h"

#include <commctrl.h>

#include <string>

#include "win/skin/skin_dpi.h"
#include "win/skin/skin_paint.h"
#include "win/ui/subclass.h"

namespace win {
namespace {

constexpr UINT_PTR kButtonSubclassId = 0x534B4231;  // one per button
constexpr UINT_PTR kParentSubclassId = 0x534B4232;  // one per parent window

struct ButtonData {
  bool hover = false;
  bool tracking = false;
  bool is_default = false;
};

LRESULT CALLBACK ButtonProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

ButtonData* DataOf(HWND button) {
  return SubclassData<ButtonData>(button, &ButtonProc, kButtonSubclassId);
}

bool IsPushButton(HWND hwnd) {
  wchar_t cls[16] = {};
  if (GetClassNameW(hwnd, cls, 16) == 0 || lstrcmpiW(cls, WC_BUTTONW) != 0) return false;
  const LONG_PTR type = GetWindowLongPtrW(hwnd, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_OWNERDRAW;
}

void DrawButton(const DRAWITEMSTRUCT& item, const ButtonData& data) {
  wchar_t caption[260] = {};
  const int length = GetWindowTextW(item.hwndItem, caption, 260);
  ButtonLook look;
  look.hover = data.hover;
  look.focus = (item.itemState & ODS_FOCUS) != 0;
  look.pressed = (item.itemState & ODS_SELECTED) != 0;
  look.is_default = data.is_default || (item.itemState & ODS_DEFAULT) != 0;
  look.disabled = (item.itemState & ODS_DISABLED) != 0;
  look.caption = std::wstring_view(caption, size_t(length));
  look.font = reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0));
  look.edge_x = GetSystemMetrics(SM_CXEDGE);
  look.edge_y = GetSystemMetrics(SM_CYEDGE);
  look.dpi = DpiOfWindow(item.hwndItem);
  PaintButton(item.hDC, item.rcItem, look);
}

// The parent draws its skinned children: an owner-drawn button asks its parent
// to draw it, and this keeps the parent's own procedure unaware of the skin.
LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR,
                            DWORD_PTR) {
  switch (msg) {
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item != nullptr && item->CtlType == ODT_BUTTON) {
        if (ButtonData* data = DataOf(item->hwndItem)) {
          DrawButton(*item, *data);
          return TRUE;
        }
      }
      break;
    }
    case WM_NCDESTROY:
      RemoveSubclass(hwnd, &ParentProc, kParentSubclassId);
      break;
  }
  return CallNextSubclass(hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR,
                            DWORD_PTR ref) {
  ButtonData* data = reinterpret_cast<ButtonData*>(ref);
  switch (msg) {
    case WM_MOUSEMOVE:
      if (!data->tracking) {
        // The border turns hot as the mouse comes in. Only the leave is
        // tracked: Wine watches for it by polling the cursor every "hover
        // time" (a round trip to its server each time), so the poll is kept
        // at 100 ms; Windows reports the leave at once whatever the time.
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd, 100};
        data->tracking = TrackMouseEvent(&track) != FALSE;
        data->hover = true;
        InvalidateRect(hwnd, nullptr, TRUE);
      }
      break;
    case WM_MOUSELEAVE:
      data->hover = false;
      data->tracking = false;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the drawing covers the whole button
    case WM_GETDLGCODE: {
      // Answer as a push button does, so that the dialog manager still moves
      // the default state with the focus and Enter presses the focused button.
      LRESULT code = CallNextSubclass(hwnd, msg, wparam, lparam);
      code &= ~(DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON);
      return code | (data->is_default ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    }
    case BM_SETSTYLE: {
      // The dialog manager switches BS_DEFPUSHBUTTON on and off; the button
      // keeps its owner-draw type and remembers the default state instead.
      const bool is_default = (wparam & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
      const bool changed = is_default != data->is_default;
      data->is_default = is_default;
      LRESULT r = CallNextSubclass(hwnd, msg, (wparam & ~WPARAM(BS_TYPEMASK)) | BS_OWNERDRAW, lparam);
      if (changed && lparam) InvalidateRect(hwnd, nullptr, FALSE);
      return r;
    }
    case WM_NCDESTROY:
      RemoveSubclass(hwnd, &ButtonProc, kButtonSubclassId);
      delete data;
      return CallNextSubclass(hwnd, msg, wparam, lparam);
  }
  return CallNextSubclass(hwnd, msg, wparam, lparam);
}

}  // namespace

bool SkinButton(HWND button) {
  if (button == nullptr || !IsPushButton(button)) return false;
  if (DataOf(button) != nullptr) return true;
  HWND parent = GetParent(button);
  if (parent == nullptr) return false;
  auto* data = new ButtonData;
  const LONG_PTR style = GetWindowLongPtrW(button, GWL_STYLE);
  data->is_default = (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
  if (!AddSubclass(parent, &ParentProc, kParentSubclassId, 0) ||
      !AddSubclass(button, &ButtonProc, kButtonSubclassId, DWORD_PTR(data))) {
    delete data;
    return false;
  }
  SetWindowLongPtrW(button, GWL_STYLE, (style & ~LONG_PTR(BS_TYPEMASK)) | BS_OWNERDRAW);
  InvalidateRect(button, nullptr, TRUE);
  return true;
}

bool IsSkinnedButton(HWND button) { return button != nullptr && DataOf(button) != nullptr; }

bool GetSkinnedButtonState(HWND button, SkinnedButtonState* state) {
  const ButtonData* data = button != nullptr ? DataOf(button) : nullptr;
  if (data == nullptr) return false;
  state->hover = data->hover;
  state->is_default = data->is_default;
  return true;
}

}  // namespace win
