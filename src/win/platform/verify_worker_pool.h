// VerifyWorkerPool: the scheduler's WorkerPool on threads. One VerifyWorker per
// slot 0..199, created on demand; a message-only report window, owned by the
// pool, receives the workers' WM_VERIFY_DONE posts and hands a finished run to
// the report target (the verify scheduler). The UI thread never waits for a worker:
// abandoned workers end by themselves and are reaped later. UI thread only.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/verify/verify_scheduler.h"
#include "win/platform/verify_worker.h"

namespace win {

class MessageWindow;

class VerifyWorkerPool final : public core::WorkerPool {
 public:
  // `clock` is used by the worker threads and must be safe on any thread.
  VerifyWorkerPool(SiteFetcherFactory fetchers, std::shared_ptr<core::Clock> clock);
  // Abandons every worker; waits for none.
  ~VerifyWorkerPool() override;
  VerifyWorkerPool(const VerifyWorkerPool&) = delete;
  VerifyWorkerPool& operator=(const VerifyWorkerPool&) = delete;

  // Creates the report window. False (GetLastError set) when it could not be
  // created; Start then refuses with kNoWorker.
  bool Create();
  void SetReportTarget(core::WorkerReportTarget* target) override { target_ = target; }

  core::StartResult Start(int slot, uint64_t generation, core::VerifyRun run) override;
  std::vector<core::SiteOutcome> Abandon(int slot) override;
  void ReleaseAll() override;
  void ReapEnded() override;

  // A worker's report, as posted to the report window. Returns false for other
  // messages. Public for windows that prefer to forward reports themselves.
  bool HandleReport(UINT msg, WPARAM wparam, LPARAM lparam);

  HWND report_window() const;
  // Slots holding a worker, and abandoned workers whose thread has not been
  // reaped yet.
  int worker_count() const;
  int abandoned_count() const { return int(abandoned_.size()); }
  // True when slot `slot` holds a worker that is testing a row.
  bool busy(int slot) const;

 private:
  void SpawnSome();

  SiteFetcherFactory fetchers_;
  std::shared_ptr<core::Clock> clock_;
  std::unique_ptr<MessageWindow> window_;
  std::array<std::shared_ptr<VerifyWorker>, core::kWorkerSlots> slots_{};
  std::vector<std::shared_ptr<VerifyWorker>> abandoned_;
  // New workers whose threads are still to be asked for. They are started a few
  // at a time from the report window's queue, so that a run's start does not
  // hold the UI thread while 200 threads come up.
  std::vector<std::shared_ptr<VerifyWorker>> to_spawn_;
  bool spawn_posted_ = false;
  core::WorkerReportTarget* target_ = nullptr;
};

}  // namespace win
