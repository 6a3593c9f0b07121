// Keeping windows reachable: a window is moved so that it lies inside the work
// area of the monitor it belongs to (its title bar never above the screen).
// UI thread.
#pragma once

#include <windows.h>

namespace win {

// The rectangle `r` moved (not resized) into `area`; a rectangle larger than
// the area keeps its top-left corner on the area's.
RECT MoveRectInside(const RECT& r, const RECT& area);

// Moves `window` inside the work area of the monitor nearest to it.
void KeepInsideWorkArea(HWND window);

}  // namespace win
