// Placing windows where they can be reached: centred on their owner and inside
// the work area of the monitor they belong to (a title bar never above the
// screen).
// UI thread.
#pragma once

#include <windows.h>

namespace win {

// The rectangle `r` moved (not resized) into `area`; a rectangle larger than
// the area keeps its top-left corner on the area's.
RECT MoveRectInside(const RECT& r, const RECT& area);

// The rectangle `r` moved, when it covers any of `keep_clear`, to the first of
// these places that lies inside `area` without covering it: left of it, right
// of it, below it, above it (each beside it with a small gap, at the same
// height or left edge as far as the area allows). Unmoved when it covers
// nothing or no such place exists.
RECT PlaceBeside(const RECT& r, const RECT& keep_clear, const RECT& area);
// Moves `window`, when it covers `other`, beside it inside the work area.
void MoveBeside(HWND window, HWND other);

// Moves `window` inside the work area of the monitor nearest to it.
void KeepInsideWorkArea(HWND window);

// Centres `window` over its owner (over the work area when it has no visible
// owner), then keeps it inside the work area. Neither shows nor activates it.
void CentreOnOwner(HWND window);

// Centres `window` on its owner as above, shows it and brings it to the front.
void ShowCentredOnOwner(HWND window);

}  // namespace win
