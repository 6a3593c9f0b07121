#include "win/app/proxy_switcher_app.h"

#include <commctrl.h>
#include <ole2.h>

#include <memory>

#include "core/proxylist/ip_location.h"
#include "win/app/floating_window.h"
#include "win/app/prompt.h"
#include "win/platform/registry_profile_store.h"
#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"
#include "win/ui/message_loop.h"

namespace win {
namespace {

// OLE for the life of the program; undone only if it was done.
class OleScope {
 public:
  OleScope() : ok_(SUCCEEDED(OleInitialize(nullptr))) {}
  ~OleScope() {
    if (ok_) OleUninitialize();
  }
  OleScope(const OleScope&) = delete;
  OleScope& operator=(const OleScope&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

}  // namespace

int ProxySwitcherApp::Run() {
  UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, kSingleInstanceMutex));
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    // A copy runs already: end silently, without activating it.
    return 0;
  }
  OleScope ole;
  DesktopPrompt prompt;
  if (!ole.ok()) {
    prompt.Ask(nullptr, "Ole Initialization Failed!", "", MB_OK);
    return 0;
  }
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  RegistryProfileStore profile(HKEY_CURRENT_USER, std::string(kProfileRoot));
  core::IpLocationDb locations(GetModuleFolder() + L"wry.dll");

  FloatingWindowEnv env;
  env.instance = instance_;
  env.profile = &profile;
  env.prompt = &prompt;
  env.locator = [&locations](std::string_view address) {
    core::IpLocation loc;
    return locations.LookupIpLocation(address, &loc) ? core::LocationText(loc) : std::string();
  };
  // The exit command ends the process at once: no window is destroyed and
  // nothing else is saved (FinalSave has run).
  env.end_process = [](int code) { ExitProcess(UINT(code)); };

  auto window = std::make_unique<FloatingWindow>(std::move(env));
  // The start goes on even when the window cannot be created; the loop then
  // waits for nothing, so end instead of hanging.
  if (!window->Create()) return 0;
  ShowWindow(window->hwnd(), SW_SHOWNORMAL);
  // Tab and Enter work in the main dialog and in the settings dialogs shown
  // next to it, whichever is active.
  int code = RunDialogMessageLoop();
  window.reset();
  return code;
}

}  // namespace win
