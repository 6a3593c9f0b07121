#include "win/platform/message_window.h"

namespace win {

MessageWindow::~MessageWindow() {
  if (hwnd_ == nullptr) return;
  HWND hwnd = hwnd_;
  // Detached first: the messages of the destruction go to DefWindowProc.
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  hwnd_ = nullptr;
  DestroyWindow(hwnd);
}

bool MessageWindow::Create(const wchar_t* class_name) {
  if (hwnd_ != nullptr) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (!GetClassInfoExW(instance, class_name, &existing)) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = class_name;
    if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  } else if (existing.lpfnWndProc != &WindowProc) {
    // A class of that name with another procedure would never reach the handler.
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return false;
  }
  return CreateWindowExW(0, class_name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                         this) != nullptr;
}

LRESULT CALLBACK MessageWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  MessageWindow* self = nullptr;
  if (msg == WM_NCCREATE) {
    self = static_cast<MessageWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<MessageWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wparam, lparam);
  if (msg == WM_NCDESTROY) {
    // The last message: a later destructor must not destroy a window that
    // reuses the handle.
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return DefWindowProcW(hwnd, msg, wparam, lparam);
  }
  if (self->handler_ && self->handler_(msg, wparam, lparam)) return 0;
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

}  // namespace win
