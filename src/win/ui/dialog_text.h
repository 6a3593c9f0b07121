// UTF-8 texts of windows and dialog controls. UI thread.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace win {

// The text of a window or control, as UTF-8.
std::string WindowTextUtf8(HWND window);
std::string DialogItemText(HWND dialog, int id);
void SetDialogItemText(HWND dialog, int id, std::string_view utf8);

}  // namespace win
