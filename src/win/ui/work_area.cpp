#include "win/ui/work_area.h"

#include <algorithm>

namespace win {

RECT MoveRectInside(const RECT& r, const RECT& area) {
  LONG width = r.right - r.left;
  LONG height = r.bottom - r.top;
  // Right and bottom edges first, then left and top: the title bar wins when
  // the window is larger than the area.
  LONG left = std::max(std::min(r.left, area.right - width), area.left);
  LONG top = std::max(std::min(r.top, area.bottom - height), area.top);
  return RECT{left, top, left + width, top + height};
}

namespace {

bool Overlap(const RECT& a, const RECT& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool Inside(const RECT& r, const RECT& area) {
  return r.left >= area.left && r.top >= area.top && r.right <= area.right &&
         r.bottom <= area.bottom;
}

}  // namespace

RECT PlaceBeside(const RECT& r, const RECT& keep_clear, const RECT& area) {
  if (!Overlap(r, keep_clear)) return r;
  constexpr LONG kGap = 8;
  LONG width = r.right - r.left;
  LONG height = r.bottom - r.top;
  const RECT tries[] = {
      {keep_clear.left - kGap - width, r.top, keep_clear.left - kGap, r.top + height},
      {keep_clear.right + kGap, r.top, keep_clear.right + kGap + width, r.top + height},
      {r.left, keep_clear.bottom + kGap, r.left + width, keep_clear.bottom + kGap + height},
      {r.left, keep_clear.top - kGap - height, r.left + width, keep_clear.top - kGap},
  };
  for (const RECT& t : tries) {
    // Slid along the side it was put on, as far as the area needs.
    RECT placed = MoveRectInside(t, area);
    if (Inside(placed, area) && !Overlap(placed, keep_clear)) return placed;
  }
  return r;
}

void MoveBeside(HWND window, HWND other) {
  RECT self{}, clear{};
  if (!GetWindowRect(window, &self) || !GetWindowRect(other, &clear)) return;
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (!GetMonitorInfoW(MonitorFromWindow(other, MONITOR_DEFAULTTONEAREST), &info)) return;
  RECT placed = PlaceBeside(self, clear, info.rcWork);
  if (placed.left != self.left || placed.top != self.top) {
    SetWindowPos(window, nullptr, placed.left, placed.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void KeepInsideWorkArea(HWND window) {
  RECT r{};
  if (!GetWindowRect(window, &r)) return;
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info)) return;
  RECT inside = MoveRectInside(r, info.rcWork);
  if (inside.left != r.left || inside.top != r.top) {
    SetWindowPos(window, nullptr, inside.left, inside.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void CentreOnOwner(HWND window) {
  RECT self{}, area{};
  GetWindowRect(window, &self);
  HWND owner = GetWindow(window, GW_OWNER);
  if (owner == nullptr || !IsWindowVisible(owner) || !GetWindowRect(owner, &area)) {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  LONG width = self.right - self.left, height = self.bottom - self.top;
  SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  // Centred on a small owner near the top, a taller dialog would put its title
  // bar above the screen.
  KeepInsideWorkArea(window);
}

void ShowCentredOnOwner(HWND window) {
  CentreOnOwner(window);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
}

}  // namespace win
