#include "win/app/main_window.h"

#include <string>

#include "win/platform/resources.h"
#include "win/res/resource.h"

namespace win {
namespace {

// Logical size at 96 DPI; scaled to the monitor the window opens on.
constexpr int kWidth = 480;
constexpr int kHeight = 320;

HICON LoadSharedIcon(HINSTANCE instance, int size) {
  return static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, size, size, LR_SHARED));
}

}  // namespace

bool MainWindow::Create(int show_command) {
  WindowClassInfo window_class;
  window_class.name = kClassName;
  window_class.icon = LoadSharedIcon(instance_, GetSystemMetrics(SM_CXICON));
  window_class.small_icon = LoadSharedIcon(instance_, GetSystemMetrics(SM_CXSMICON));
  window_class.background = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));

  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen) ReleaseDC(nullptr, screen);

  WindowPlacement placement;
  placement.style = WS_OVERLAPPEDWINDOW;
  placement.width = MulDiv(kWidth, dpi, 96);
  placement.height = MulDiv(kHeight, dpi, 96);

  std::wstring title = LoadResourceString(instance_, IDS_APP_TITLE);
  if (!WindowBase::Create(instance_, window_class, title.c_str(), placement)) return false;
  ShowWindow(hwnd(), show_command);
  UpdateWindow(hwnd());
  return true;
}

LRESULT MainWindow::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_DESTROY:
      OnDestroy();
      return 0;
  }
  return DefaultHandle(msg, wparam, lparam);
}

void MainWindow::OnDestroy() {
  // WM_CLOSE reaches DefWindowProc, which destroys the window; the program ends
  // with it.
  PostQuitMessage(0);
}

}  // namespace win
