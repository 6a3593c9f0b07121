// The UI thread's message loop. UI thread only.
#pragma once

#include <windows.h>

namespace win {

// Pumps messages until WM_QUIT and returns its exit code (the PostQuitMessage
// argument). Returns -1 if GetMessage fails.
int RunMessageLoop();

// The same, giving `*modeless_dialog` (read for every message, may be null) its
// keyboard handling: Tab between controls, Enter for the default button.
int RunMessageLoop(const HWND* modeless_dialog);

// The same, giving whichever modeless dialog of the thread is active its
// keyboard handling (the main dialog, a settings dialog shown next to it).
int RunDialogMessageLoop();

}  // namespace win
