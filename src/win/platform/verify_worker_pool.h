// VerifyWorkerPool: the scheduler's WorkerPool on threads. One VerifyWorker per
// slot 0..199, created on demand; the workers post their ends to the pool's
// inbox on the UI thread, which hands a finished run to the report target (the
// verify scheduler). The UI thread never waits for a worker:
// abandoned workers end by themselves and are reaped later. UI thread only.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/verify/verify_scheduler.h"
#include "win/platform/dispatcher.h"
#include "win/platform/verify_worker.h"

namespace win {

class VerifyWorkerPool final : public core::WorkerPool {
 public:
  // `clock` is used by the worker threads and must be safe on any thread.
  VerifyWorkerPool(SiteFetcherFactory fetchers, std::shared_ptr<core::Clock> clock);
  // Abandons every worker; waits for none.
  ~VerifyWorkerPool() override;
  VerifyWorkerPool(const VerifyWorkerPool&) = delete;
  VerifyWorkerPool& operator=(const VerifyWorkerPool&) = delete;

  // Checks that the workers' reports can reach this thread (its dispatcher
  // window). False when they cannot; Start then refuses with kNoWorker.
  bool Create();
  void SetReportTarget(core::WorkerReportTarget* target) override { target_ = target; }

  core::StartResult Start(int slot, uint64_t generation, core::VerifyRun run) override;
  std::vector<core::SiteOutcome> Abandon(int slot) override;
  void ReleaseAll() override;
  void ReapEnded() override;

  // A worker's report as it arrives: the run `generation` of `slot` ended. A
  // report that is not the slot's current run is dropped. Public for tests.
  void HandleReport(int slot, uint64_t generation);
  // Slots holding a worker, and abandoned workers whose thread has not been
  // reaped yet.
  int worker_count() const;
  int abandoned_count() const { return int(abandoned_.size()); }
  // True when slot `slot` holds a worker that is testing a row.
  bool busy(int slot) const;
  // New workers wait for their threads to be asked for.
  bool spawning() const { return !to_spawn_.empty(); }

 private:
  void SpawnSome();

  SiteFetcherFactory fetchers_;
  std::shared_ptr<core::Clock> clock_;
  bool created_ = false;
  std::array<std::shared_ptr<VerifyWorker>, core::kWorkerSlots> slots_{};
  std::vector<std::shared_ptr<VerifyWorker>> abandoned_;
  // New workers whose threads are still to be asked for. They are started a few
  // at a time from the UI thread's queue, so that a run's start does not
  // hold the UI thread while 200 threads come up.
  std::vector<std::shared_ptr<VerifyWorker>> to_spawn_;
  bool spawn_posted_ = false;
  core::WorkerReportTarget* target_ = nullptr;
  Inbox inbox_;  // the workers' reports and the spawn batches
};

}  // namespace win
