// UTF-8 texts in the verify dialogs' controls and message boxes. UI thread.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace win {

// The text of a dialog control, as UTF-8.
std::string DialogItemText(HWND dialog, int id);
void SetDialogItemText(HWND dialog, int id, std::string_view utf8);

// MessageBoxW with UTF-8 texts; returns the button pressed. Tests replace the
// box with a hook that records the texts and answers for the user.
int VerifyMessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type);
using VerifyMessageBoxHook = int (*)(HWND owner, const std::string& text,
                                     const std::string& caption, UINT type);
// Null restores the real message box.
void SetVerifyMessageBoxHook(VerifyMessageBoxHook hook);

}  // namespace win
