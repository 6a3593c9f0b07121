#include "win/skin/skinned_edit.h"

#include <commctrl.h>

#include "win/platform/unique_handle.h"
#include "win/skin/skin_paint.h"
#include "win/ui/subclass.h"

namespace win {
namespace {

constexpr UINT_PTR kEditSubclassId = 0x534B4531;

LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR,
                          DWORD_PTR) {
  switch (msg) {
    case WM_NCPAINT: {
      // The frame goes on the border, after the system has drawn it: painted
      // from WM_PAINT it would be clipped to the client area and erased by the
      // edit's own painting.
      LRESULT r = CallNextSubclass(hwnd, msg, wparam, lparam);
      RECT window{};
      GetWindowRect(hwnd, &window);
      if (WindowDc dc = WindowDc::WholeWindow(hwnd)) {
        PaintEditFrame(dc.get(), window.right - window.left, window.bottom - window.top);
      }
      return r;
    }
    case WM_NCDESTROY:
      RemoveSubclass(hwnd, &EditProc, kEditSubclassId);
      break;
  }
  return CallNextSubclass(hwnd, msg, wparam, lparam);
}

}  // namespace

bool SkinEdit(HWND edit) {
  wchar_t cls[16] = {};
  if (edit == nullptr || GetClassNameW(edit, cls, 16) == 0 || lstrcmpiW(cls, WC_EDITW) != 0) {
    return false;
  }
  // AddSubclass with the same procedure and id again only replaces the
  // reference data, so a second call changes nothing.
  if (!AddSubclass(edit, &EditProc, kEditSubclassId, 0)) return false;
  RedrawWindow(edit, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
  return true;
}

}  // namespace win
