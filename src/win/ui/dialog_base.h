// DialogBase: the base of every dialog made from a resource template, modeless
// or modal. The dialog procedure is a static thunk that finds the object through
// DWLP_USER and calls its HandleMessage. A modeless dialog is destroyed with its
// object. UI thread only.
#pragma once

#include <windows.h>

namespace win {

class DialogBase {
 public:
  DialogBase() = default;
  DialogBase(const DialogBase&) = delete;
  DialogBase& operator=(const DialogBase&) = delete;
  virtual ~DialogBase();

  // nullptr before creation and after the dialog has been destroyed.
  HWND hwnd() const { return hwnd_; }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

 protected:
  // Creates the dialog hidden or shown as its template says; false on failure.
  bool CreateModeless(HINSTANCE instance, int template_id, HWND parent);
  // Runs the dialog modally; returns the EndDialog code, or -1 on failure.
  INT_PTR RunModal(HINSTANCE instance, int template_id, HWND parent);

  // Return TRUE when the message was handled (with SetResult for notifications
  // that carry a result), FALSE for the default dialog handling.
  virtual INT_PTR HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) = 0;
  INT_PTR SetResult(LRESULT result);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

  HWND hwnd_ = nullptr;
  bool modeless_ = false;
};

}  // namespace win
