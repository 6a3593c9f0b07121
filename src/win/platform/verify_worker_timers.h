// VerifyWindowTimers: the scheduler's timers as window timers of one window of
// the UI thread (the verification's own): a watchdog per slot, verify-new, the
// connect gate's deadline and the reaping timer. The window's WM_TIMER handler
// hands the identifier to DispatchVerifyTimer. UI thread only.
#pragma once

#include <windows.h>

#include "core/verify/verify_scheduler.h"

namespace win {

inline constexpr UINT_PTR kTimerReapWorkers = 2;
inline constexpr UINT_PTR kTimerVerifyNew = 5;
inline constexpr UINT_PTR kTimerConnectGate = 6;
inline constexpr UINT_PTR kTimerWatchdogFirst = 1100;  // + slot, 1100..1299
inline constexpr UINT kReapPeriodMs = 3000;

class VerifyWindowTimers final : public core::VerifyTimers {
 public:
  explicit VerifyWindowTimers(HWND window) : window_(window) {}

  void StartWatchdog(int slot, uint32_t ms) override;
  void StopWatchdog(int slot) override;
  void StartVerifyNew(uint32_t ms) override;
  void StopVerifyNew() override;
  void StartGateTimer(uint32_t ms) override;
  void StopGateTimer() override;
  // The repeating reaping timer; started once, with the window.
  void StartReaping();

 private:
  HWND window_;
};

// Routes a WM_TIMER identifier of the verification to the scheduler. False for
// identifiers that are not the verification's.
bool DispatchVerifyTimer(UINT_PTR id, core::VerifyScheduler& scheduler);

}  // namespace win
