// The UI thread's message loop. UI thread only.
#pragma once

namespace win {

// Pumps messages until WM_QUIT and returns its exit code (the PostQuitMessage
// argument). Returns -1 if GetMessage fails.
int RunMessageLoop();

}  // namespace win
