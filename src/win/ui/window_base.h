// WindowBase: the base of every top-level and child window the program creates.
// The window procedure is a static thunk that finds the C++ object through
// GWLP_USERDATA and calls its HandleMessage. An object owns its HWND: destroying
// the object destroys the window. UI thread only.
#pragma once

#include <windows.h>


namespace win {

// What a window class needs beyond its procedure. Classes are registered on the
// first Create that names them and stay registered for the life of the process.
struct WindowClassInfo {
  const wchar_t* name = nullptr;
  UINT style = CS_HREDRAW | CS_VREDRAW;
  HICON icon = nullptr;
  HICON small_icon = nullptr;
  HCURSOR cursor = nullptr;     // nullptr: the standard arrow
  HBRUSH background = nullptr;  // nullptr: COLOR_WINDOW
};

// Position, size and styles of a window to create.
struct WindowPlacement {
  DWORD style = WS_OVERLAPPEDWINDOW;
  DWORD ex_style = 0;
  int x = CW_USEDEFAULT;
  int y = CW_USEDEFAULT;
  int width = CW_USEDEFAULT;
  int height = CW_USEDEFAULT;
  HWND parent = nullptr;
  HMENU menu_or_id = nullptr;
};

class WindowBase {
 public:
  WindowBase() = default;
  WindowBase(const WindowBase&) = delete;
  WindowBase& operator=(const WindowBase&) = delete;
  // Destroys a window that still exists. The window is detached first, so
  // the messages of that destruction go to DefWindowProc, never to a half
  // destroyed derived object.
  virtual ~WindowBase();

  // nullptr before Create succeeds and after the window has been destroyed.
  HWND hwnd() const { return hwnd_; }

  // The object behind a window created by WindowBase::Create; nullptr for any
  // other window and for a window that is being or has been destroyed.
  static WindowBase* FromHandle(HWND hwnd);

 protected:
  // Registers the class if needed and creates the window. Returns false (with
  // GetLastError set) when registration or creation fails, including when
  // HandleMessage refuses WM_NCCREATE (FALSE) or WM_CREATE (-1); hwnd() is then
  // nullptr again. HandleMessage already runs for WM_NCCREATE, with hwnd() set.
  bool Create(HINSTANCE instance, const WindowClassInfo& window_class, const wchar_t* title,
              const WindowPlacement& placement);

  // One switch per derived class that routes to named On... methods; anything
  // it does not handle goes to DefaultHandle.
  virtual LRESULT HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT DefaultHandle(UINT msg, WPARAM wparam, LPARAM lparam);

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

  HWND hwnd_ = nullptr;
};

}  // namespace win
