#include "win/app/verify_controller.h"

#include <utility>

#include "win/platform/verify_worker_pool.h"
#include "win/platform/win_clock.h"
#include "win/platform/wininet_site_fetcher.h"

namespace win {

VerifyController::VerifyController(HWND dialog, core::ProxyList& list, core::ProfileStore& profile,
                                   core::VerifyHost& host, VerifyEnv env)
    : settings_dialog_(profile),
      clock_(env.clock ? std::move(env.clock) : std::make_shared<WinClock>()),
      timers_(dialog) {
  if (env.make_pool) {
    pool_ = env.make_pool();
  } else {
    auto pool = std::make_unique<VerifyWorkerPool>(
        [] { return std::make_unique<WinInetSiteFetcher>(); }, clock_);
    // Without its report window the pool refuses every start, which the
    // scheduler reports as "创建验证线程中发生异常" at the first run.
    pool_ready_ = pool->Create();
    pool->SetDoneHandler([this](int slot, uint64_t generation, const auto& outcomes) {
      OnWorkerDone(slot, generation, outcomes);
    });
    pool_ = std::move(pool);
  }
  scheduler_ = std::make_unique<core::VerifyScheduler>(
      list, settings_dialog_.settings(), *pool_, timers_, host, *clock_, env.watchdog_per_site_ms);
  settings_dialog_.Create(dialog);
  timers_.StartReaping();
}

VerifyController::~VerifyController() {
  // The scheduler goes first; the pool then lets its workers go without waiting.
  scheduler_.reset();
}

void VerifyController::ShowSettings() {
  if (settings_dialog_.hwnd() != nullptr) settings_dialog_.ShowCentred();
}

bool VerifyController::OnTimer(UINT_PTR id) { return DispatchVerifyTimer(id, *scheduler_); }

void VerifyController::OnWorkerDone(int slot, uint64_t generation,
                                    const std::vector<core::SiteOutcome>& outcomes) {
  scheduler_->OnWorkerDone(slot, generation, outcomes);
}

void VerifyController::ReleaseWorkers() { scheduler_->EndRunCleanup(); }

}  // namespace win
