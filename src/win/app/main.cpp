// Entry point of relaymoth.exe: the composition root is ProxySwitcherApp.
#include <windows.h>

#include "win/app/proxy_switcher_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  win::ProxySwitcherApp app(instance);
  return app.Run();
}
