#include "win/platform/verify_worker_timers.h"

namespace win {

void VerifyWindowTimers::StartWatchdog(int slot, uint32_t ms) {
  if (slot < 0 || slot >= core::kWorkerSlots) return;
  SetTimer(window_, kTimerWatchdogFirst + UINT_PTR(slot), ms, nullptr);
}

void VerifyWindowTimers::StopWatchdog(int slot) {
  if (slot < 0 || slot >= core::kWorkerSlots) return;
  KillTimer(window_, kTimerWatchdogFirst + UINT_PTR(slot));
}

void VerifyWindowTimers::StartVerifyNew(uint32_t ms) {
  SetTimer(window_, kTimerVerifyNew, ms, nullptr);
}

void VerifyWindowTimers::StopVerifyNew() { KillTimer(window_, kTimerVerifyNew); }

void VerifyWindowTimers::StartGateTimer(uint32_t ms) {
  SetTimer(window_, kTimerConnectGate, ms, nullptr);
}

void VerifyWindowTimers::StopGateTimer() { KillTimer(window_, kTimerConnectGate); }

void VerifyWindowTimers::StartReaping() {
  SetTimer(window_, kTimerReapWorkers, kReapPeriodMs, nullptr);
}

bool DispatchVerifyTimer(UINT_PTR id, core::VerifyScheduler& scheduler) {
  if (id == kTimerReapWorkers) {
    scheduler.OnReapTimer();
    return true;
  }
  if (id == kTimerConnectGate) {
    scheduler.OnGateTimer();
    return true;
  }
  if (id == kTimerVerifyNew) {
    scheduler.OnVerifyNewTimer();
    return true;
  }
  if (id >= kTimerWatchdogFirst && id < kTimerWatchdogFirst + core::kWorkerSlots) {
    // One-shot: Windows timers repeat, so the scheduler stops it first thing.
    scheduler.OnWatchdog(int(id - kTimerWatchdogFirst));
    return true;
  }
  return false;
}

}  // namespace win
