// The skinned dialog frame: ApplySkin gives an existing dialog the program's own
// caption band and frame, white backgrounds, skinned push buttons and framed
// edits, and draws the GlossMenus the dialog tracks. It subclasses the dialog,
// so the dialog's own procedure stays as it is; the subclass and its state go
// away with the window. UI thread only.
#pragma once

#include <windows.h>

#include <initializer_list>

namespace win {

// Call once from the dialog's WM_INITDIALOG. Removes the system caption, keeps
// the client area's size (the window grows or shrinks around it), loads icon
// IDI_MAIN of the dialog's module as its icon, skins every push button and frames
// the edits `framed_edit_ids` name. False when the dialog could not be
// subclassed (nothing is changed then); a second call does nothing and
// returns true.
bool ApplySkin(HWND dialog, std::initializer_list<int> framed_edit_ids = {});

// True when `dialog` carries the skin.
bool IsSkinned(HWND dialog);

// The brush every skinned dialog answers its colour requests with: white, the
// stock brush, so it lives as long as the process and is never deleted.
HBRUSH SkinWhiteBrush();

}  // namespace win
