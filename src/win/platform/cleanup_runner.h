// CleanupRunner: automatic switching's "clean, then switch" without freezing
// the program. CleanThenSwitch starts the browser cleanup on a thread of its
// own; when the cleanup ends, the thread posts the report to the runner's
// thread, which hands the row to `done` to apply the proxy. The runner is
// owned and called on the UI thread; its thread only runs the cleanup and
// posts, and once the runner is gone its report is dropped.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/sysproxy/auto_switch.h"
#include "win/platform/dispatcher.h"
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

  // Called on the runner's thread with the row of a finished cleanup, to
  // switch to now.
  using Done = std::function<void(core::RowId row)>;

  CleanupRunner(Done done, Cleanup cleanup);
  // Abandons a cleanup still running, without waiting for it.
  ~CleanupRunner() override;
  CleanupRunner(const CleanupRunner&) = delete;
  CleanupRunner& operator=(const CleanupRunner&) = delete;

  // Starts the cleanup for a switch to `row` and returns at once. Should the
  // thread not start, the cleanup runs here instead; the report is posted in
  // both cases. A call while a cleanup runs is refused (AutoSwitch never makes
  // one): the row is dropped and nothing is posted for it.
  void CleanThenSwitch(core::RowId row) override;

  // A cleanup has been started and its report not taken yet.
  bool running() const { return pending_; }
  // The thread of the last run (null when it ran here); for waiting at the end
  // of tests. Owned by the runner.
  HANDLE thread() const { return thread_.get(); }

 private:
  static DWORD WINAPI ThreadMain(void* param);
  // The report of run `generation`; a stale one is dropped.
  void Finished(uint32_t generation);

  Done done_;
  Cleanup cleanup_;
  uint32_t generation_ = 0;
  bool pending_ = false;
  core::RowId row_ = core::kNoRow;
  UniqueKernelHandle thread_;
  Inbox inbox_;  // last: gone first, before what its reports use
};

}  // namespace win
