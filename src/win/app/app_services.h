// AppServices: the program's state and features, built in order and wired
// together: the Switcher (the list, the proxy in use, the prompt owner) and the
// services beside it (verification, the exit check, automatic switching, list
// downloads, the run settings in force, the local relay, the list's saving). The composition root
// makes one from the real parts, tests from theirs; windows are views that take a reference. Built
// before any window and destroyed after the last. UI thread only.
#pragma once

#include <memory>
#include <string>

#include "core/proxylist/proxy_list.h"
#include "win/app/app_platform.h"
#include "win/app/auto_switch_service.h"
#include "win/app/download_job.h"
#include "win/app/exit_check_service.h"
#include "win/app/list_downloads.h"
#include "win/app/list_imports.h"
#include "win/app/list_save_service.h"
#include "win/app/relay_proxy_guard.h"
#include "win/app/relay_service.h"
#include "win/app/run_settings_holder.h"
#include "win/app/switcher.h"
#include "win/app/verify_service.h"
#include "win/platform/cleanup_runner.h"
#include "win/platform/system_proxy.h"

namespace win {

// What the program is made of: the real parts, or a test's. Every one is
// required unless it says otherwise.
struct AppParts {
  AppPlatform platform;
  // Where the system proxy lives (tests use a key of their own).
  SystemProxyPlace proxy_place;
  // Fills the location of new rows and of exit addresses; may be empty.
  core::ProxyList::Locator locator;
  // Told when a batch of list changes opens and closes (see ProxyList::BatchHook);
  // may be empty.
  core::ProxyList::BatchHook locator_batch;
  // Locates the rows of a large file read on a worker thread; may be empty.
  ListImports::LocateRows locate_rows;
  VerifyParts verify;
  // The browser cleanup before each automatic switch (runs off the UI thread).
  CleanupRunner::Cleanup cleanup;
  ExitCheckService::FetcherFactory make_exit_fetcher;
  // The list download and where it writes "Download.txt".
  std::unique_ptr<DownloadJob> download_job;
  std::string download_path;
  // Starts the guard process that puts the system proxy back should the
  // program be killed while it points at the local relay; may be empty.
  RelayProxyGuard::GuardLauncher start_guard;
  // Whether a crash of the process puts the system proxy back (the program:
  // one set of services per process).
  bool crash_restore = false;
};

class AppServices {
 public:
  explicit AppServices(AppParts parts);
  ~AppServices();
  AppServices(const AppServices&) = delete;
  AppServices& operator=(const AppServices&) = delete;

  // The start: a system proxy left pointing at the local relay is put back
  // (a damaged record of it is shown), then the run settings, the local relay,
  // the proxy in use read back into the list (ticked) and the saved list, then
  // the download schedule; from here on the list is saved as it changes.
  void Start();

  const AppPlatform& platform() const { return platform_; }
  Switcher& switcher() { return switcher_; }
  VerifyService& verify() { return verify_; }
  ExitCheckService& exit_check() { return exit_check_; }
  AutoSwitchService& auto_switch() { return auto_switch_; }
  ListImports& imports() { return imports_; }
  ListDownloads& downloads() { return downloads_; }
  RunSettingsHolder& run_settings() { return run_settings_; }
  RelayProxyGuard& relay_guard() { return relay_guard_; }
  RelayService& relay() { return relay_; }
  ListSaveService& list_save() { return list_save_; }

 private:
  AppPlatform platform_;
  std::shared_ptr<core::Clock> clock_;
  RelayProxyGuard relay_guard_;
  Switcher switcher_;
  VerifyService verify_;
  ExitCheckService exit_check_;
  AutoSwitchService auto_switch_;
  ListImports imports_;
  ListDownloads downloads_;
  RunSettingsHolder run_settings_;
  RelayService relay_;
  ListSaveService list_save_;
};

}  // namespace win
