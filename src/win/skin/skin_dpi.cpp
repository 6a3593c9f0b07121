#include "win/skin/skin_dpi.h"

#include "win/platform/unique_handle.h"

namespace win {

int DpiOfWindow(HWND hwnd) {
  if (hwnd == nullptr) return kBaseDpi;
  // GetDpiForWindow exists from Windows 10 1607 on; older systems are
  // system-DPI aware at most, where the DC's LOGPIXELSY is the answer.
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const GetDpiForWindowFn get_dpi_for_window = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (get_dpi_for_window != nullptr) {
    UINT dpi = get_dpi_for_window(hwnd);
    if (dpi != 0) return int(dpi);
  }
  const WindowDc dc(hwnd);
  if (!dc) return kBaseDpi;
  const int dpi = GetDeviceCaps(dc.get(), LOGPIXELSY);
  return dpi > 0 ? dpi : kBaseDpi;
}

int ScaleByDpi(int pixels, int dpi) {
  if (dpi <= 0 || dpi == kBaseDpi) return pixels;
  // MulDiv rounds half away from zero, so 125 % of 1 pixel is 1 and of 2 is 3.
  return MulDiv(pixels, dpi, kBaseDpi);
}

int ScaleForWindow(HWND hwnd, int pixels) { return ScaleByDpi(pixels, DpiOfWindow(hwnd)); }

}  // namespace win
