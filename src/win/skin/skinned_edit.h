// SkinnedEdit: gives an existing edit box a 1-pixel blue frame, drawn over the
// inner line of its border each time the border is painted. The subclass
// removes itself when the edit is destroyed. UI thread only.
#pragma once

#include <windows.h>

namespace win {

// Skins `edit` when it is an edit control; false, changing nothing, otherwise.
// Calling it again on a skinned edit does nothing and returns true.
bool SkinEdit(HWND edit);

}  // namespace win
