// Pixel sizes at the display's DPI. Every size the program's look uses is given
// at 96 dpi; these helpers turn it into device pixels for one window. Stateless;
// UI thread (they read window DPI).
#pragma once

#include <windows.h>

namespace win {

inline constexpr int kBaseDpi = 96;

// The DPI a window is drawn at: GetDpiForWindow where the system has it (looked
// up at run time), else the LOGPIXELSY of the window's DC; 96 when `hwnd` is
// nullptr or nothing answers.
int DpiOfWindow(HWND hwnd);

// `pixels` at 96 dpi scaled to `dpi`, rounded to the nearest pixel (negative
// sizes round symmetrically). Identity at 96 dpi and for dpi <= 0.
int ScaleByDpi(int pixels, int dpi);

// ScaleByDpi(pixels, DpiOfWindow(hwnd)).
int ScaleForWindow(HWND hwnd, int pixels);

}  // namespace win
