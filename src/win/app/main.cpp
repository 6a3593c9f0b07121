// Entry point of relaymoth.exe: the composition root. It creates the main window
// and runs the UI thread's message loop until the window is closed.
#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>

#include "win/app/main_window.h"
#include "win/ui/message_loop.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  win::MainWindow window(instance);
  if (!window.Create(show_command)) return 1;
  return win::RunMessageLoop();
}
