// SkinnedButton: gives an existing push button the program's look. The button is
// made owner-drawn and subclassed (hover tracking, default-button state); its
// parent is subclassed once to draw every skinned child on WM_DRAWITEM. The
// subclasses remove themselves when the windows are destroyed. UI thread only.
#pragma once

#include <windows.h>

namespace win {

// Skins `button` when it is a push button (plain, default or already
// owner-drawn); returns false, changing nothing, for any other window. Calling
// it again on a skinned button does nothing and returns true.
bool SkinButton(HWND button);

// True when `button` has been skinned and not yet destroyed.
bool IsSkinnedButton(HWND button);

// What a skinned button shows now, for tests and for drawing: the mouse is over
// it (after the hover notification), it is the dialog's default button.
struct SkinnedButtonState {
  bool hover = false;
  bool is_default = false;
};
// False when `button` is not skinned.
bool GetSkinnedButtonState(HWND button, SkinnedButtonState* state);

}  // namespace win
