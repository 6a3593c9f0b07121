// VerifySchedulerTimers: the scheduler's timers as Timer objects of the UI
// thread: a watchdog per slot, verify-new, the connect gate's deadline and the
// reaping timer, each handing its tick to the scheduler. Like the window
// timers they are, they repeat until the scheduler stops them. UI thread only.
#pragma once

#include <windows.h>

#include <array>

#include "core/verify/verify_scheduler.h"
#include "win/platform/dispatcher.h"

namespace win {

inline constexpr UINT kReapPeriodMs = 3000;

class VerifySchedulerTimers final : public core::VerifyTimers {
 public:
  // The scheduler that hears the ticks; null (before it is made, once it is
  // gone): the ticks go nowhere.
  void Attach(core::VerifyScheduler* scheduler) { scheduler_ = scheduler; }

  void StartWatchdog(int slot, uint32_t ms) override;
  void StopWatchdog(int slot) override;
  void StartVerifyNew(uint32_t ms) override;
  void StopVerifyNew() override { verify_new_.Stop(); }
  void StartGateTimer(uint32_t ms) override;
  void StopGateTimer() override { gate_.Stop(); }
  // The repeating reaping timer; started once, with the scheduler.
  void StartReaping();

  // For tests.
  const Timer& watchdog(int slot) const { return watchdogs_.at(size_t(slot)); }
  const Timer& verify_new() const { return verify_new_; }
  const Timer& gate() const { return gate_; }
  const Timer& reaping() const { return reaping_; }

 private:
  core::VerifyScheduler* scheduler_ = nullptr;
  std::array<Timer, core::kWorkerSlots> watchdogs_;
  Timer verify_new_;
  Timer gate_;
  Timer reaping_;
};

}  // namespace win
