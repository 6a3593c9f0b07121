// The about box (IDD_ABOUT): a short description and two buttons that open
// the help page shipped next to the program. Modal; UI thread only.
#pragma once

#include <windows.h>

#include <string>

#include "win/app/prompt.h"

namespace win {

// Runs the about box; `help_page` is the file both links open.
void RunAboutDialog(HINSTANCE instance, HWND owner, Prompt& prompt, const std::string& help_page);

}  // namespace win
