#include "win/platform/verify_worker_pool.h"

#include <algorithm>

namespace win {
namespace {

constexpr size_t kSpawnBatch = 8;

}  // namespace

VerifyWorkerPool::VerifyWorkerPool(SiteFetcherFactory fetchers, std::shared_ptr<core::Clock> clock)
    : fetchers_(std::move(fetchers)), clock_(std::move(clock)) {}

VerifyWorkerPool::~VerifyWorkerPool() {
  ReleaseAll();
  // Workers that never got a thread have been abandoned; nothing runs them.
  to_spawn_.clear();
  // The abandoned threads keep their workers alive themselves.
  abandoned_.clear();
}

bool VerifyWorkerPool::Create() {
  // The inbox is of the thread that made the pool, so the reports run there.
  created_ = Dispatcher::ForThisThread().hwnd() != nullptr;
  return created_;
}

core::StartResult VerifyWorkerPool::Start(int slot, uint64_t generation, core::VerifyRun run) {
  if (slot < 0 || slot >= core::kWorkerSlots || !created_) {
    return core::StartResult::kNoWorker;
  }
  std::shared_ptr<VerifyWorker>& worker = slots_[size_t(slot)];
  if (worker && worker->ended()) worker.reset();
  if (!worker) {
    std::unique_ptr<core::SiteFetcher> fetcher = fetchers_ ? fetchers_() : nullptr;
    if (!fetcher) return core::StartResult::kNoWorker;
    // Called on the worker's thread; runs here while the pool lives.
    VerifyWorker::Report report = [this, to_pool = inbox_.poster()](int s, uint64_t generation) {
      to_pool.Post([this, s, generation] { HandleReport(s, generation); });
    };
    worker = std::make_shared<VerifyWorker>(slot, std::move(report), std::move(fetcher), clock_);
    to_spawn_.push_back(worker);
    if (!spawn_posted_ && inbox_.Post([this] { SpawnSome(); })) spawn_posted_ = true;
    if (!spawn_posted_) SpawnSome();
  }
  if (!worker->Run(generation, std::move(run))) {
    // A thread whose queue refuses messages is of no further use.
    abandoned_.push_back(std::move(worker));
    abandoned_.back()->Abandon();
    return core::StartResult::kNotStarted;
  }
  return core::StartResult::kStarted;
}

std::vector<core::SiteOutcome> VerifyWorkerPool::Abandon(int slot) {
  if (slot < 0 || slot >= core::kWorkerSlots) return {};
  std::shared_ptr<VerifyWorker> worker = std::move(slots_[size_t(slot)]);
  if (!worker) return {};
  std::vector<core::SiteOutcome> reached = worker->Abandon();
  if (!worker->ended()) abandoned_.push_back(std::move(worker));
  return reached;
}

void VerifyWorkerPool::ReleaseAll() {
  for (int slot = 0; slot < core::kWorkerSlots; ++slot) Abandon(slot);
}

void VerifyWorkerPool::ReapEnded() {
  abandoned_.erase(std::remove_if(abandoned_.begin(), abandoned_.end(),
                                  [](const auto& worker) { return worker->ended(); }),
                   abandoned_.end());
  // A worker whose thread never came into being has ended at once, but its
  // report may still be queued: the slot keeps it until the report is taken.
  for (auto& worker : slots_) {
    if (worker && worker->ended() && !worker->report_pending()) worker.reset();
  }
}

void VerifyWorkerPool::SpawnSome() {
  size_t n = std::min(to_spawn_.size(), kSpawnBatch);
  for (size_t i = 0; i < n; ++i) to_spawn_[i]->StartThread();
  to_spawn_.erase(to_spawn_.begin(), to_spawn_.begin() + ptrdiff_t(n));
  spawn_posted_ = false;
  if (!to_spawn_.empty() && inbox_.Post([this] { SpawnSome(); })) spawn_posted_ = true;
}

void VerifyWorkerPool::HandleReport(int slot_number, uint64_t generation) {
  size_t slot = size_t(slot_number);
  if (slot_number < 0 || slot >= slots_.size() || !slots_[slot]) return;
  // A report posted just before its worker was abandoned or re-armed finds a
  // different worker or generation in the slot and is dropped here.
  std::shared_ptr<VerifyWorker> worker = slots_[slot];
  std::vector<core::SiteOutcome> outcomes;
  std::optional<core::ProxyProtocol> detected;
  if (worker->TakeFinished(generation, &outcomes, &detected) && target_ != nullptr) {
    if (detected) target_->OnWorkerTypeDetected(int(slot), generation, *detected);
    target_->OnWorkerDone(int(slot), generation, outcomes);
  }
}

int VerifyWorkerPool::worker_count() const {
  return int(std::count_if(slots_.begin(), slots_.end(), [](const auto& w) { return bool(w); }));
}

bool VerifyWorkerPool::busy(int slot) const {
  if (slot < 0 || slot >= core::kWorkerSlots || !slots_[size_t(slot)]) return false;
  return slots_[size_t(slot)]->busy();
}

}  // namespace win
