// Test support for the skin's window tests: real mouse input through SendInput,
// a message pump that runs until a condition holds (bounded, never a fixed
// sleep), pixel reading from a window and screenshots written as .bmp files
// when RELAYMOTH_SKIN_SHOTS names a folder. Test code only; UI thread.
#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "win/platform/unique_handle.h"

namespace win::skin_testing {

inline void SendMouse(DWORD flags, int x, int y) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  const int w = GetSystemMetrics(SM_CXSCREEN) - 1;
  const int h = GetSystemMetrics(SM_CYSCREEN) - 1;
  input.mi.dx = LONG((x * 65535LL + w / 2) / w);
  input.mi.dy = LONG((y * 65535LL + h / 2) / h);
  input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
  SendInput(1, &input, sizeof(input));
}
inline void MouseTo(POINT pt) { SendMouse(0, pt.x, pt.y); }
inline void MouseDown(POINT pt) { SendMouse(MOUSEEVENTF_LEFTDOWN, pt.x, pt.y); }
inline void MouseUp(POINT pt) { SendMouse(MOUSEEVENTF_LEFTUP, pt.x, pt.y); }

// Dispatches messages (through IsDialogMessage for `dialog` when given) until
// `done` holds or `limit_ms` have passed; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done, HWND dialog = nullptr,
                      DWORD limit_ms = 3000) {
  const ULONGLONG deadline = GetTickCount64() + limit_ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (dialog != nullptr && IsWindow(dialog) && IsDialogMessageW(dialog, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(std::min<ULONGLONG>(deadline - now, 20)),
                              QS_ALLINPUT);
  }
}

// Dispatches what is queued now.
inline void Pump() {
  PumpUntil([] { return true; });
}

// Writes the screen rectangle `area` as a 24-bit .bmp named `name` into the
// folder RELAYMOTH_SKIN_SHOTS names; does nothing without it. Returns the path
// written, or "".
inline std::string SaveScreenshot(const RECT& area, const char* name) {
  char folder[MAX_PATH] = {};
  if (GetEnvironmentVariableA("RELAYMOTH_SKIN_SHOTS", folder, MAX_PATH) == 0) return "";
  const int w = area.right - area.left;
  const int h = area.bottom - area.top;
  if (w <= 0 || h <= 0) return "";
  const WindowDc screen(nullptr);
  UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  UniqueBitmap bitmap(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  SelectedObject selected(memory.get(), bitmap.get());
  BitBlt(memory.get(), 0, 0, w, h, screen.get(), area.left, area.top, SRCCOPY);
  GdiFlush();
  const DWORD stride = DWORD((w * 3 + 3) & ~3);
  const DWORD size = stride * DWORD(h);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + size;
  std::string path = std::string(folder) + "\\" + name + ".bmp";
  UniqueFileHandle out(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!out) return "";
  DWORD written = 0;
  WriteFile(out.get(), &file, sizeof(file), &written, nullptr);
  WriteFile(out.get(), &info.bmiHeader, sizeof(BITMAPINFOHEADER), &written, nullptr);
  WriteFile(out.get(), bits, size, &written, nullptr);
  return path;
}

}  // namespace win::skin_testing
