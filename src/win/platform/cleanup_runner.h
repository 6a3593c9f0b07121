// CleanupRunner: automatic switching's "clean, then switch" without freezing
// the program. CleanThenSwitch starts the browser cleanup on a thread of its
// own; when the cleanup ends, the thread posts WM_CLEANUP_DONE to the report
// window and the UI thread applies the proxy. The runner is owned and called
// on the UI thread; its thread only runs the cleanup and posts, and once the
// runner is gone it never posts again.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "win/platform/app_messages.h"
#include "core/sysproxy/auto_switch.h"
#include "win/platform/unique_handle.h"

namespace win {

class CleanupRunner final : public core::ProxySwitchAction {
 public:
  // Runs on the cleanup thread. It must own everything it uses: it may still
  // run after the runner has been destroyed.
  using Cleanup = std::function<void()>;

  // The program's cleanup: the browser cache, then the cookies, with the
  // folders the shell names.
  static Cleanup BrowserCleanup();

  // `report_window` receives WM_CLEANUP_DONE (or `report_message`).
  CleanupRunner(HWND report_window, Cleanup cleanup, UINT report_message = WM_CLEANUP_DONE);
  // Abandons a cleanup still running, without waiting for it.
  ~CleanupRunner() override;
  CleanupRunner(const CleanupRunner&) = delete;
  CleanupRunner& operator=(const CleanupRunner&) = delete;

  // Starts the cleanup for a switch to `row` and returns at once. Should the
  // thread not start, the cleanup runs here instead; the report is posted in
  // both cases. A call while a cleanup runs is refused (AutoSwitch never makes
  // one): the row is dropped and nothing is posted for it.
  void CleanThenSwitch(core::RowId row) override;

  // On WM_CLEANUP_DONE: the row of the finished run `wparam`, to switch to
  // now. False for a report that is not the last run's or was taken already.
  bool TakeFinished(WPARAM wparam, core::RowId* row);

  // A cleanup has been started and its report not taken yet.
  bool running() const { return pending_; }
  // The thread of the last run (null when it ran here); for waiting at the end
  // of tests. Owned by the runner.
  HANDLE thread() const { return thread_.get(); }

 private:
  struct Shared;
  static DWORD WINAPI ThreadMain(void* param);

  HWND report_window_;
  UINT report_message_;
  Cleanup cleanup_;
  std::shared_ptr<Shared> shared_;  // the report's way to the window; cut on destruction
  uint32_t generation_ = 0;
  bool pending_ = false;
  core::RowId row_ = core::kNoRow;
  UniqueKernelHandle thread_;
};

}  // namespace win
