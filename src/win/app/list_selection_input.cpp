#include "win/app/list_selection_input.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include "core/proxylist/proxy_list.h"
#include "win/ui/subclass.h"

namespace win {
namespace {

constexpr UINT_PTR kSubclassId = 1;

bool KeyDown(int key) { return GetKeyState(key) < 0; }

}  // namespace

ListSelectionInput::~ListSelectionInput() {
  // The view may outlive this object by a few messages of its destruction.
  if (view_ != nullptr) RemoveSubclass(view_, &Proc, kSubclassId);
}

bool ListSelectionInput::Attach(HWND view) {
  if (view_ != nullptr || view == nullptr) return false;
  if (!AddSubclass(view, &Proc, kSubclassId, DWORD_PTR(this))) return false;
  view_ = view;
  ListView_SetCallbackMask(view, ListView_GetCallbackMask(view) | LVIS_SELECTED);
  return true;
}

int ListSelectionInput::RowCount() const { return int(list_.size()); }

int ListSelectionInput::RowAt(LPARAM point, bool* check_box) const {
  LVHITTESTINFO hit{};
  hit.pt = {GET_X_LPARAM(point), GET_Y_LPARAM(point)};
  int row = ListView_HitTest(view_, &hit);
  // LVHT_ONITEM has the state-icon bit too: only the check box alone counts.
  *check_box = row >= 0 && (hit.flags & LVHT_ONITEM) == LVHT_ONITEMSTATEICON;
  return row >= 0 && row < RowCount() ? row : -1;
}

void ListSelectionInput::Select(int row, bool shift, bool ctrl, bool ctrl_toggles) {
  int mark = ListView_GetSelectionMark(view_);
  if (shift) {
    if (mark < 0 || mark >= RowCount()) {
      mark = row;
      ListView_SetSelectionMark(view_, mark);
    }
    list_.SelectRange(size_t(mark), size_t(row), ctrl);
  } else if (!ctrl || ctrl_toggles) {
    if (ctrl) {
      list_.ToggleSelected(size_t(row));
    } else {
      list_.SelectRange(size_t(row), size_t(row), false);
    }
    ListView_SetSelectionMark(view_, row);
  }
  // The control keeps the focus and redraws the rows it leaves and reaches;
  // it does not scroll to the row by itself on every system.
  ListView_SetItemState(view_, row, LVIS_FOCUSED, LVIS_FOCUSED);
  ListView_EnsureVisible(view_, row, FALSE);
}

void ListSelectionInput::OnRightButtonDown(int row) {
  // A right click keeps a selection it falls into, for the menu to act on.
  if (row < 0) {
    list_.SelectAll(false);
  } else if (list_.selection().Contains(size_t(row))) {
    ListView_SetItemState(view_, row, LVIS_FOCUSED, LVIS_FOCUSED);
  } else {
    Select(row, false, false, false);
  }
}

bool ListSelectionInput::OnKeyDown(WPARAM key) {
  int count = RowCount();
  int focus = ListView_GetNextItem(view_, -1, LVNI_FOCUSED);
  int top = ListView_GetTopIndex(view_);
  int page = std::max(ListView_GetCountPerPage(view_), 1);
  int row = -1;
  switch (key) {
    case VK_SPACE:
      if (!KeyDown(VK_CONTROL)) {
        host_.OnTickSelected();
      } else if (focus >= 0) {
        Select(focus, false, true, true);
      }
      return true;
    case VK_UP:
      row = focus - 1;
      break;
    case VK_DOWN:
      row = focus + 1;
      break;
    case VK_HOME:
      row = 0;
      break;
    case VK_END:
      row = count - 1;
      break;
    // A page key goes to the edge of the page first, then a page further.
    case VK_PRIOR:
      row = focus == top ? top - page + 1 : top;
      break;
    case VK_NEXT:
      row = focus == top + page - 1 ? focus + page - 1 : top + page - 1;
      break;
    default:
      return false;
  }
  if (count == 0) return true;
  Select(std::clamp(row, 0, count - 1), KeyDown(VK_SHIFT), KeyDown(VK_CONTROL), false);
  return true;
}

LRESULT CALLBACK ListSelectionInput::Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                          UINT_PTR, DWORD_PTR ref) {
  auto* self = reinterpret_cast<ListSelectionInput*>(ref);
  bool check_box = false;
  switch (msg) {
    case WM_LBUTTONDOWN: {
      int row = self->RowAt(lparam, &check_box);
      // The control ticks a check box and tells the dialog (NM_CLICK).
      if (check_box) break;
      SetFocus(hwnd);
      if (row < 0) {
        // Beside the rows a plain click unselects all; with Shift or Ctrl it keeps them.
        if (!(wparam & (MK_SHIFT | MK_CONTROL))) self->list_.SelectAll(false);
        return 0;
      }
      self->Select(row, (wparam & MK_SHIFT) != 0, (wparam & MK_CONTROL) != 0, true);
      self->host_.OnRowClicked(row);
      return 0;
    }
    case WM_RBUTTONDOWN:
      SetFocus(hwnd);
      self->OnRightButtonDown(self->RowAt(lparam, &check_box));
      return 0;
    case WM_RBUTTONUP:
      self->host_.OnListContextMenu();
      return 0;
    case WM_KEYDOWN:
      if (self->OnKeyDown(wparam)) return 0;
      break;
    case WM_CHAR:
      // The control's type-to-find selects through its own walk; the list has
      // no use for typed letters.
      return 0;
    case WM_NCDESTROY:
      RemoveSubclass(hwnd, &Proc, kSubclassId);
      self->view_ = nullptr;
      break;
  }
  return CallNextSubclass(hwnd, msg, wparam, lparam);
}

}  // namespace win
