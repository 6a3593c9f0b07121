#include "core/verify/verify_scheduler.h"

#include <algorithm>

#include "core/verify/row_result.h"

namespace core {
namespace {

constexpr std::string_view kNothingToDo = "操作无效";
constexpr std::string_view kNoRows = "您的列表中没有一个ip数据，没什么可验证的……";
constexpr std::string_view kNoSelection = "您没有在列表中选择要验证的ip，没什么可验证的……";
constexpr std::string_view kNoSite = "您没有设定一个验证网站，没办法验证的……";
constexpr std::string_view kNoWorkerText = "创建验证线程中发生异常";
constexpr std::string_view kNoWorkerCaption = "验证失败";

}  // namespace

std::vector<ControlState> RunControlStates(bool running) {
  std::vector<ControlState> states;
  for (RunControl control :
       {RunControl::kProxyList, RunControl::kVerifyAll, RunControl::kVerifySelected,
        RunControl::kVerifySettings, RunControl::kDownloadList, RunControl::kAddProxy,
        RunControl::kImportList, RunControl::kDeleteSelected}) {
    states.push_back({control, !running});
  }
  states.push_back({RunControl::kStopVerify, running});
  return states;
}

VerifyScheduler::VerifyScheduler(ProxyList& list, const VerifySettings& settings, WorkerPool& pool,
                                 VerifyTimers& timers, VerifyHost& host, Clock& clock,
                                 uint32_t watchdog_per_site_ms)
    : list_(list),
      settings_(settings),
      pool_(pool),
      timers_(timers),
      host_(host),
      clock_(clock),
      watchdog_per_site_ms_(watchdog_per_site_ms) {}

void VerifyScheduler::VerifyAllCommand() {
  if (list_.empty()) return host_.ShowMessage(kNoRows, kNothingToDo);
  if (settings_.FavoriteSiteCount() == 0) return host_.ShowMessage(kNoSite, kNothingToDo);
  // The proxies are tested directly, not through a proxy the machine may be
  // using; the best one found becomes the system proxy again at the end.
  host_.ClearSystemProxy();
  StartVerifyAll();
}

void VerifyScheduler::VerifySelectedCommand() {
  if (list_.selected_count() == 0) return host_.ShowMessage(kNoSelection, kNothingToDo);
  if (settings_.FavoriteSiteCount() == 0) return host_.ShowMessage(kNoSite, kNothingToDo);
  StartVerifySelected();
}

void VerifyScheduler::StartVerifyAll() { Start(true); }
void VerifyScheduler::StartVerifySelected() { Start(false); }

void VerifyScheduler::Start(bool all) {
  if (active_ != 0) return;
  size_t rows = all ? list_.size() : list_.selected_count();
  if (rows == 0 || settings_.sites.empty() || settings_.FavoriteSiteCount() == 0) return;
  next_row_ = 0;
  if (!all) {
    while (next_row_ < list_.size() && !list_.row(next_row_).selected) ++next_row_;
  }
  verify_all_ = all;
  counters_ = RunCounters{0, 0, int(rows)};
  host_.SetRunControls(true);

  size_t workers = std::min<size_t>(size_t(std::clamp(settings_.threads, 1, kWorkerSlots)), rows);
  for (size_t s = 0; s < workers; ++s) {
    Arm arm = ArmSlot(int(s), false);
    if (arm == Arm::kNoWorker) return WorkerCreationFailed();
    if (arm == Arm::kNoRow) break;
  }
  // A start that hands out no row (every row refused) ends at once, so that the
  // controls do not stay disabled with nothing running.
  if (active_ == 0) EndRunCleanup();
  host_.RefreshCaption();
}

VerifyScheduler::Arm VerifyScheduler::ArmSlot(int slot, bool scroll) {
  while (next_row_ < list_.size()) {
    size_t row = next_row_++;
    if (!verify_all_ && !list_.row(row).selected) continue;
    // Workers get the row's host:port text (WorkerProxyLine); a row the worker
    // refuses is skipped and left as it was.
    VerifyRun run;
    if (!run.SetProxyLine(WorkerProxyLine(list_, row))) continue;
    uint32_t favorites = 0;
    for (const VerifySite& site : settings_.sites) {
      if (!site.favorite) continue;
      run.AddSite(site.url, site.verify_string);
      ++favorites;
    }
    uint64_t generation = ++next_generation_;
    StartResult started = pool_.Start(slot, generation, std::move(run));
    if (started == StartResult::kNoWorker) return Arm::kNoWorker;
    if (started == StartResult::kNotStarted) continue;

    Slot& s = slots_[size_t(slot)];
    s.busy = true;
    s.generation = generation;
    s.row = row;
    s.started_ms = clock_.NowMs();
    s.period_ms = std::max<uint32_t>(favorites, 1) * watchdog_per_site_ms_;
    ++active_;
    list_.SetStatusText(row, std::string(kStatusVerifying));
    if (scroll) host_.ShowRow(row);
    timers_.StartWatchdog(slot, s.period_ms);
    return Arm::kArmed;
  }
  return Arm::kNoRow;
}

void VerifyScheduler::OnWorkerDone(int slot, uint64_t generation,
                                   const std::vector<SiteOutcome>& outcomes) {
  // A report is taken from any slot that holds the current hand-out, also when
  // "Verify threads number" was lowered during the run: otherwise its row would
  // never finish and the run would never end. A report from an abandoned worker
  // (stop, watchdog) carries an older generation and is ignored.
  if (slot < 0 || slot >= kWorkerSlots) return;
  const Slot& s = slots_[size_t(slot)];
  if (!s.busy || s.generation != generation) return;
  timers_.StopWatchdog(slot);
  FinishRow(slot, outcomes);
  ContinueAfterRow(slot);
}

void VerifyScheduler::OnWatchdog(int slot) {
  if (slot < 0 || slot >= kWorkerSlots) return;
  const Slot& s = slots_[size_t(slot)];
  if (!s.busy) return timers_.StopWatchdog(slot);
  // A timer tick queued just before the worker reported belongs to the previous
  // hand-out; the new hand-out's own timer is still running.
  if (uint32_t(clock_.NowMs() - s.started_ms) < s.period_ms / 2) return;
  timers_.StopWatchdog(slot);
  // The row is finished with what the hung worker reached; the slot gets a fresh
  // worker for the next row.
  std::vector<SiteOutcome> reached = pool_.Abandon(slot);
  FinishRow(slot, reached);
  ContinueAfterRow(slot);
}

void VerifyScheduler::FinishRow(int slot, const std::vector<SiteOutcome>& outcomes) {
  Slot& s = slots_[size_t(slot)];
  s.busy = false;
  --active_;
  ++counters_.done;
  --counters_.remaining;
  if (outcomes.empty()) {
    // The worker accepted none of the favorite sites: the row is finished as
    // not verified instead of being left hanging (and the run with it).
    list_.SetStatusText(s.row, std::string(kStatusNotVerified));
  } else {
    last_run_sites_ = int(outcomes.size());
    if (WriteRowResult(list_, s.row, outcomes)) ++counters_.usable;
  }
  host_.RefreshCaption();
}

void VerifyScheduler::ContinueAfterRow(int slot) {
  if (ArmSlot(slot, true) == Arm::kNoWorker) return WorkerCreationFailed();
  if (active_ > 0) return;
  EndRunCleanup();
  std::optional<std::string> best = ApplyEndOfRunRules(list_, settings_, last_run_sites_);
  if (best) host_.UseProxy(*best);
  host_.RefreshCaption();
}

void VerifyScheduler::WorkerCreationFailed() {
  host_.ShowMessage(kNoWorkerText, kNoWorkerCaption);
  StopVerify();
}

void VerifyScheduler::StopVerify() {
  for (int slot = 0; slot < kWorkerSlots; ++slot) {
    Slot& s = slots_[size_t(slot)];
    if (!s.busy) continue;
    pool_.Abandon(slot);
    list_.SetStatusText(s.row, std::string(kStatusNotVerified));
  }
  active_ = 0;
  EndRunCleanup();
  host_.RefreshCaption();
}

void VerifyScheduler::EndRunCleanup() {
  for (int slot = 0; slot < kWorkerSlots; ++slot) {
    timers_.StopWatchdog(slot);
    slots_[size_t(slot)].busy = false;
  }
  active_ = 0;
  pool_.ReleaseAll();
  host_.SetRunControls(false);
}

void VerifyScheduler::OnReapTimer() { pool_.ReapEnded(); }

void VerifyScheduler::OnProxyAdded() {
  if (settings_.verify_new_proxy) timers_.StartVerifyNew(kVerifyNewDelayMs);
}

void VerifyScheduler::OnVerifyNewTimer() {
  timers_.StopVerifyNew();
  StartVerifySelected();
}

void VerifyScheduler::ReverifyTick() {
  ++minutes_;
  if (!settings_.reverify_by_time || minutes_ < settings_.reverify_interval) return;
  minutes_ = 0;
  if (!settings_.only_favorite_rows) return StartVerifyAll();
  {
    ProxyList::Batch batch(list_);
    for (size_t i = 0; i < list_.size(); ++i) list_.SetSelected(i, list_.row(i).favorite);
  }
  StartVerifySelected();
}

}  // namespace core
