// Entry point of relaymoth.exe: the composition root is ProxySwitcherApp; the
// same program started with "--guard" is the guard process of a running copy.
#include <windows.h>

#include "core/app/guard_command.h"
#include "win/app/proxy_switcher_app.h"
#include "win/platform/guard_process.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  core::GuardCommand guard;
  switch (core::ParseGuardCommand(win::CommandLineWords(), &guard)) {
    case core::GuardArguments::kGuard:
      return win::RunProgramGuard(guard);
    case core::GuardArguments::kBad:
      // Started by something that meant a guard: never a second program.
      return 2;
    case core::GuardArguments::kNone:
      break;
  }
  win::ProxySwitcherApp app(instance);
  return app.Run();
}
