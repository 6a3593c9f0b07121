#include "win/platform/verify_worker_timers.h"

namespace win {

void VerifySchedulerTimers::StartWatchdog(int slot, uint32_t ms) {
  if (slot < 0 || slot >= core::kWorkerSlots) return;
  // One-shot for the scheduler, which stops it first thing.
  watchdogs_[size_t(slot)].Start(ms, [this, slot] {
    if (scheduler_) scheduler_->OnWatchdog(slot);
  });
}

void VerifySchedulerTimers::StopWatchdog(int slot) {
  if (slot < 0 || slot >= core::kWorkerSlots) return;
  watchdogs_[size_t(slot)].Stop();
}

void VerifySchedulerTimers::StartVerifyNew(uint32_t ms) {
  verify_new_.Start(ms, [this] {
    if (scheduler_) scheduler_->OnVerifyNewTimer();
  });
}

void VerifySchedulerTimers::StartGateTimer(uint32_t ms) {
  gate_.Start(ms, [this] {
    if (scheduler_) scheduler_->OnGateTimer();
  });
}

void VerifySchedulerTimers::StartReaping() {
  reaping_.Start(kReapPeriodMs, [this] {
    if (scheduler_) scheduler_->OnReapTimer();
  });
}

}  // namespace win
