#include "win/ui/window_base.h"

namespace win {

WindowBase::~WindowBase() {
  if (hwnd_ != nullptr) {
    HWND hwnd = hwnd_;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    hwnd_ = nullptr;
    DestroyWindow(hwnd);
  }
}

WindowBase* WindowBase::FromHandle(HWND hwnd) {
  if (hwnd == nullptr) return nullptr;
  // GWLP_USERDATA is free for any window to use; only trust it on windows whose
  // procedure is ours.
  if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) != &WindowProc) {
    return nullptr;
  }
  return reinterpret_cast<WindowBase*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

bool WindowBase::Create(HINSTANCE instance, const WindowClassInfo& window_class,
                        const wchar_t* title, const WindowPlacement& placement) {
  if (hwnd_ != nullptr) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (!GetClassInfoExW(instance, window_class.name, &existing)) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = window_class.style;
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = instance;
    wc.hIcon = window_class.icon;
    wc.hIconSm = window_class.small_icon;
    wc.hCursor = window_class.cursor ? window_class.cursor : LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = window_class.background
                           ? window_class.background
                           : reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszClassName = window_class.name;
    if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  }
  HWND hwnd = CreateWindowExW(placement.ex_style, window_class.name, title, placement.style,
                              placement.x, placement.y, placement.width, placement.height,
                              placement.parent, placement.menu_or_id, instance, this);
  // WM_NCDESTROY has already cleared hwnd_ when creation was refused.
  return hwnd != nullptr;
}

LRESULT WindowBase::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  return DefaultHandle(msg, wparam, lparam);
}

LRESULT WindowBase::DefaultHandle(UINT msg, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(hwnd_, msg, wparam, lparam);
}

LRESULT CALLBACK WindowBase::WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  WindowBase* self = nullptr;
  if (msg == WM_NCCREATE) {
    // Messages before WM_NCCREATE (WM_GETMINMAXINFO) have no object yet and go to
    // DefWindowProc below.
    self = static_cast<WindowBase*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<WindowBase*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wparam, lparam);

  LRESULT result = self->HandleMessage(msg, wparam, lparam);
  if (msg == WM_NCDESTROY) {
    // Last message this window will ever receive: forget it on both sides so a
    // later destructor does not destroy an unrelated window reusing the handle.
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

}  // namespace win
