#include "win/ui/dialog_base.h"

namespace win {

DialogBase::~DialogBase() {
  if (hwnd_ != nullptr && modeless_) {
    HWND hwnd = hwnd_;
    // Detach first: the messages of this destruction must not reach a derived
    // object that is already gone.
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    hwnd_ = nullptr;
    DestroyWindow(hwnd);
  }
}

bool DialogBase::CreateModeless(HINSTANCE instance, int template_id, HWND parent) {
  if (hwnd_ != nullptr) return false;
  modeless_ = true;
  HWND hwnd = CreateDialogParamW(instance, MAKEINTRESOURCEW(template_id), parent, &DialogProc,
                                 reinterpret_cast<LPARAM>(this));
  return hwnd != nullptr;
}

INT_PTR DialogBase::RunModal(HINSTANCE instance, int template_id, HWND parent) {
  if (hwnd_ != nullptr) return -1;
  modeless_ = false;
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(template_id), parent, &DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR DialogBase::SetResult(LRESULT result) {
  SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR CALLBACK DialogBase::DialogProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  DialogBase* self = nullptr;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<DialogBase*>(lparam);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
  } else {
    self = reinterpret_cast<DialogBase*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (self == nullptr) return FALSE;
  INT_PTR result = self->HandleMessage(msg, wparam, lparam);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

}  // namespace win
