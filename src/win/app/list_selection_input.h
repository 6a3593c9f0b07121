// ListSelectionInput: the clicks and keys of the main dialog's list view, as
// changes of the list's selection. The view is virtual and asks the list for
// each row's selection (LVIS_SELECTED is in its callback mask); left to itself
// it would still walk every row on a plain click to unselect the others, so
// the input that selects is taken here instead, before the control sees it,
// and becomes one change of the list's ranges. The focused row and the anchor
// of a shift-click (the selection mark) stay the control's. UI thread only.
#pragma once

#include <windows.h>

namespace core {
class ProxyList;
}

namespace win {

class ListSelectionInput {
 public:
  // What the dialog does besides selecting.
  class Host {
   public:
    // A left click on a row, not on its check box.
    virtual void OnRowClicked(int row) = 0;
    // The right button came up over the list.
    virtual void OnListContextMenu() = 0;
    // Space: the selected rows' ticks.
    virtual void OnTickSelected() = 0;

   protected:
    ~Host() = default;
  };

  // `list` and `host` must outlive this object.
  ListSelectionInput(core::ProxyList& list, Host& host) : list_(list), host_(host) {}
  ~ListSelectionInput();
  ListSelectionInput(const ListSelectionInput&) = delete;
  ListSelectionInput& operator=(const ListSelectionInput&) = delete;

  // Takes over the selecting input of `view`, a virtual report list view, and
  // has it ask for the selection with each row.
  bool Attach(HWND view);

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                               DWORD_PTR ref);
  // The row under a point of the view (-1: none) and whether it is the check box.
  int RowAt(LPARAM point, bool* check_box) const;
  // The selection for `row` reached by a click or a key: with `shift` the rows
  // from the anchor to it (added to the others with `ctrl`); with `ctrl` alone
  // a click toggles the row and a key only moves the focus; otherwise the row
  // alone. The focus goes to the row.
  void Select(int row, bool shift, bool ctrl, bool ctrl_toggles);
  void OnRightButtonDown(int row);
  // True when the key was handled here.
  bool OnKeyDown(WPARAM key);
  int RowCount() const;

  core::ProxyList& list_;
  Host& host_;
  HWND view_ = nullptr;
};

}  // namespace win
