// AppWindowTest: builds the program's services (AppServices, wired as the
// program wires them) on a memory profile, a scripted prompt, a manual clock, a
// scripted worker pool (or the real one) and a registry key of its own for the
// system proxy, so window tests never touch the program's profile or the
// machine's proxy. Then either the real FloatingWindow (and so the main dialog)
// or the main dialog alone.
#pragma once

#include <gtest/gtest.h>
#include <ole2.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/base/codepage.h"
#include "core/base/profile_store.h"
#include "core/base/text.h"
#include "core/verify/verify_testing.h"
#include "win/app/app_services.h"
#include "win/app/floating_window.h"
#include "win/app/proxy_list_dialog.h"
#include "win/platform/dpapi_secret_codec.h"
#include "win/platform/registry.h"
#include "win/platform/run_settings_platform.h"
#include "win/platform/unique_handle.h"
#include "win/platform/verify_worker_pool.h"
#include "win/platform/wide_text.h"
#include "win/platform/win_clock.h"
#include "win/platform/wininet_site_fetcher.h"
#include "win/platform/winsock_connect_prober.h"
#include "win/testing/scripted_exit_fetcher.h"
#include "win/testing/scripted_pool.h"
#include "win/testing/scripted_prompt.h"

namespace win {

// Makes the row whose proxy text is `text` (letter case aside) the proxy in
// use, adding it unticked and unselected first when the list has no such row.
// False when the line does not parse or the switch was refused.
inline bool UseRowOf(Switcher& switcher, std::string_view text) {
  core::ProxyList& list = switcher.list();
  for (size_t i = 0; i < list.size(); ++i) {
    if (core::EqualsIgnoreAsciiCase(list.RowProxyText(int64_t(i)), text)) {
      return switcher.Use(list.IdAt(i));
    }
  }
  if (list.AddProxy(text, false) != core::AddResult::kAdded) return false;
  list.SetSelected(list.size() - 1, false);
  return switcher.Use(list.IdAt(list.size() - 1));
}

class AppWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    proxy_key_ = "Software\\Quillworks\\RelaymothTest\\Proxy_" +
                 std::string(testing::UnitTest::GetInstance()->current_test_info()->name());
    DeleteRegistryTree(HKEY_CURRENT_USER, proxy_key_);
    // The exit check asks no public page from the tests.
    ASSERT_TRUE(profile_.WriteText("Exit Check", "Fallback pages", ""));
  }
  void TearDown() override {
    window_.reset();
    dialog_.reset();
    app_.reset();
    switcher_ = nullptr;
    pool_ = nullptr;
    exit_fetcher_ = nullptr;
    DeleteRegistryTree(HKEY_CURRENT_USER, proxy_key_);
  }

  // Builds the services and runs their start; the system proxy read back at
  // start comes from these values. The pool is a ScriptedPool (pool_), or the
  // real worker threads on WinInet (with the real connect prober) with
  // real_workers_.
  AppServices& MakeServices(const std::string& proxy_server = "", uint32_t enable = 0) {
    if (!proxy_server.empty() || enable != 0) {
      EXPECT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, proxy_key_, "ProxyServer", proxy_server));
      EXPECT_TRUE(WriteRegistryDword(HKEY_CURRENT_USER, proxy_key_, "ProxyEnable", enable));
    }
    AppParts parts;
    parts.platform = {GetModuleHandleW(nullptr), &profile_, &prompt_, &codec_, &run_key_,
                      &shortcuts_, "C:\\Program Files\\Relaymoth\\relaymoth.exe"};
    parts.platform.secrets = &secrets_;
    parts.proxy_place.key = proxy_key_;
    parts.verify.watchdog_per_site_ms = watchdog_per_site_ms_;
    // The browser's cache is left alone; each cleanup is counted.
    parts.cleanup = [counter = cleanups_] { ++*counter; };
    // The exit check asks a scripted fetcher (exit_fetcher_), or WinInet.
    parts.make_exit_fetcher = [this](PostingExitFetcher::Report report,
                                     uint32_t deadline_ms) -> std::unique_ptr<PostingExitFetcher> {
      if (real_exit_fetcher_) {
        return std::make_unique<WinInetExitFetcher>(std::move(report), deadline_ms);
      }
      auto fetcher = std::make_unique<ScriptedExitFetcher>(std::move(report));
      exit_fetcher_ = fetcher.get();
      return fetcher;
    };
    // Real downloads, from the local test servers, into a file of the tests.
    parts.download_job = MakeWinInetDownloadJob(core::kDownloadDeadlineMs, mirrors_);
    parts.download_path = WideToUtf8(GetModuleFolder()) + "test-Download.txt";
    if (real_workers_) {
      parts.verify.clock = std::make_shared<WinClock>();
      auto pool = std::make_unique<VerifyWorkerPool>(
          [] { return std::make_unique<WinInetSiteFetcher>(); }, parts.verify.clock);
      EXPECT_TRUE(pool->Create());
      parts.verify.pool = std::move(pool);
      auto prober = std::make_unique<WinsockConnectProber>();
      EXPECT_TRUE(prober->Create());
      parts.verify.prober = std::move(prober);
    } else {
      parts.verify.clock = clock_;
      auto pool = std::make_unique<ScriptedPool>();
      pool_ = pool.get();
      parts.verify.pool = std::move(pool);
    }
    app_ = std::make_unique<AppServices>(std::move(parts));
    switcher_ = &app_->switcher();
    app_->Start();
    return *app_;
  }

  // The whole program: the services and the floating window (with the main dialog).
  FloatingWindow& Start(const std::string& proxy_server = "", uint32_t enable = 0) {
    MakeServices(proxy_server, enable);
    FloatingWindowEnv env;
    env.tray_icon = tray_icon_;
    env.quit_on_destroy = false;
    env.end_process = [this](int code) { exit_codes_.push_back(code); };
    window_ = std::make_unique<FloatingWindow>(*app_, std::move(env));
    EXPECT_TRUE(window_->Create()) << GetLastError();
    return *window_;
  }

  // The services and the main dialog alone, shown.
  ProxyListDialog& OpenDialog(const std::string& proxy_server = "", uint32_t enable = 0) {
    MakeServices(proxy_server, enable);
    dialog_ = std::make_unique<ProxyListDialog>(*app_);
    EXPECT_TRUE(dialog_->Create(nullptr)) << GetLastError();
    dialog_->Show();
    return *dialog_;
  }

  std::string ProxyValue(const char* name) const {
    return ReadRegistryText(HKEY_CURRENT_USER, proxy_key_, name);
  }

  // Handles whatever is queued (posted messages, a pending drop).
  static void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  OleScope ole_;  // made first, gone last
  std::string proxy_key_;
  core::MemoryProfileStore profile_;
  ScriptedPrompt prompt_;
  core::GbkCodec codec_;
  DpapiSecretCodec secrets_;
  std::shared_ptr<core::ManualClock> clock_ = std::make_shared<core::ManualClock>(5000);
  std::shared_ptr<std::atomic<int>> cleanups_ = std::make_shared<std::atomic<int>>(0);
  // The Run values and the desktop of the tests: a key and a folder of their own.
  RegistryRunKeyStore run_key_{"Software\\Quillworks\\RelaymothTest\\Run"};
  ShellDesktopShortcuts shortcuts_{WideToUtf8(GetModuleFolder()) + "test-desktop"};
  uint32_t watchdog_per_site_ms_ = core::kWatchdogPerSiteMs;
  bool real_workers_ = false;
  // Where the list download looks for a URL's mirrors (tests point a built-in
  // source at the local servers).
  DownloadJob::MirrorList mirrors_ = core::MirrorUrls;
  bool real_exit_fetcher_ = false;
  ScriptedExitFetcher* exit_fetcher_ = nullptr;  // unless real_exit_fetcher_
  bool tray_icon_ = true;
  ScriptedPool* pool_ = nullptr;  // the verification's pool unless real_workers_
  std::vector<int> exit_codes_;
  std::unique_ptr<AppServices> app_;
  Switcher* switcher_ = nullptr;  // app_'s
  std::unique_ptr<FloatingWindow> window_;
  std::unique_ptr<ProxyListDialog> dialog_;
};

}  // namespace win
