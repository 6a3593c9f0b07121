#include "core/verify/verify_scheduler.h"

#include <algorithm>

#include "core/base/text.h"
#include "core/net/net_target.h"
#include "core/net/relay_session.h"
#include "core/net/type_detection.h"
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
                                 uint32_t watchdog_per_site_ms, ConnectProber* prober,
                                 uint32_t connect_timeout_ms)
    : list_(list),
      settings_(settings),
      pool_(pool),
      timers_(timers),
      host_(host),
      clock_(clock),
      watchdog_per_site_ms_(watchdog_per_site_ms),
      connect_timeout_ms_(connect_timeout_ms),
      prober_(prober) {
  if (prober) {
    GateSettings gate;
    gate.connect_timeout_ms = connect_timeout_ms;
    gate_ = std::make_unique<ConnectGate>(*prober, clock_, static_cast<ConnectGateListener&>(*this),
                                          gate);
    prober->SetReportTarget(this);
  }
  pool_.SetReportTarget(this);
}

VerifyScheduler::~VerifyScheduler() {
  pool_.SetReportTarget(nullptr);
  if (prober_) prober_->SetReportTarget(nullptr);
}

int VerifyScheduler::activeWorkers() const {
  if (!gate_ || !run_on_) return active_;
  return active_ + int(gate_->pending() + gate_->in_flight() + gate_->ready());
}

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

void VerifyScheduler::StartVerifyAll() { Start(true, false); }
void VerifyScheduler::StartVerifySelected() { Start(false, false); }

void VerifyScheduler::Start(bool all, bool by_timer) {
  if (run_on_) return;
  size_t rows = all ? list_.size() : list_.selected_count();
  if (rows == 0 || settings_.sites.empty() || settings_.FavoriteSiteCount() == 0) return;
  next_row_ = 0;
  if (!all) {
    while (next_row_ < list_.size() && !list_.row(next_row_).selected) ++next_row_;
  }
  verify_all_ = all;
  run_by_timer_ = by_timer;
  counters_ = RunCounters{0, 0, int(rows)};
  // The best-proxy threshold of this run is counted from this run's rows only.
  last_run_sites_ = 0;
  run_sites_ = RunFor(0).site_count();
  run_on_ = true;
  host_.SetRunControls(true);

  run_slots_ = int(std::min<size_t>(size_t(std::clamp(settings_.threads, 1, kWorkerSlots)), rows));
  if (gate_) {
    std::vector<GateRow> gated;
    // Rows whose proxy line a worker would refuse are skipped and left as they
    // were, as without the gate.
    for (size_t row = next_row_; row < list_.size(); ++row) {
      if (!Qualifies(row) || PassOverOwnRelay(row)) continue;
      gated.push_back({row, std::string(list_.row(row).address), std::string(list_.row(row).port)});
    }
    fed_rows_ = list_.size();
    if (gated.empty()) {
      EndRunCleanup();
    } else {
      GateSettings next;
      next.connect_timeout_ms = connect_timeout_ms_;
      next.max_in_flight = settings_.connects_in_flight;
      gate_->SetSettings(next);
      gate_->Begin(std::move(gated));
      // Unreachable rows and ready rows are reported from inside, and may end
      // the run there already.
      gate_->Pump();
      ArmGateTimer();
    }
    host_.RefreshCaption();
    return;
  }
  for (int s = 0; s < run_slots_; ++s) {
    Arm arm = ArmSlot(s, false);
    if (arm == Arm::kNoWorker) return WorkerCreationFailed();
    if (arm == Arm::kNoRow) break;
  }
  // A start that hands out no row (every row refused) ends at once, so that the
  // controls do not stay disabled with nothing running.
  if (active_ == 0) EndRunCleanup();
  host_.RefreshCaption();
}

bool VerifyScheduler::Qualifies(size_t row) const {
  if (!verify_all_ && !list_.row(row).selected) return false;
  VerifyRun run;
  return run.SetProxyLine(WorkerProxyLine(list_, row));
}

VerifyRun VerifyScheduler::RunFor(size_t row) const {
  // Workers get the row's host:port text (WorkerProxyLine) and the favorite
  // sites in display order.
  VerifyRun run;
  if (row < list_.size()) {
    run.SetProxyLine(WorkerProxyLine(list_, row));
    run.SetCredentials(list_.RowCredentials(int64_t(row)));
    run.set_detect_type(settings_.detect_untyped_type && list_.row(row).type.empty());
  }
  for (const VerifySite& site : settings_.sites) {
    if (site.favorite) run.AddSite(site.url, site.verify_string);
  }
  return run;
}

VerifyScheduler::Arm VerifyScheduler::ArmSlot(int slot, bool scroll) {
  if (gate_) {
    while (std::optional<GateRow> ready = gate_->TakeReady()) {
      Arm arm = HandTo(slot, ready->row, scroll);
      if (arm != Arm::kNoRow) return arm;
    }
    return Arm::kNoRow;
  }
  while (next_row_ < list_.size()) {
    size_t row = next_row_++;
    if (!verify_all_ && !list_.row(row).selected) continue;
    Arm arm = HandTo(slot, row, scroll);
    if (arm != Arm::kNoRow) return arm;
  }
  return Arm::kNoRow;
}

VerifyScheduler::Arm VerifyScheduler::HandTo(int slot, size_t row, bool scroll) {
  if (row >= list_.size() || PassOverOwnRelay(row)) return Arm::kNoRow;
  VerifyRun run = RunFor(row);
  // A row the worker refuses is skipped and left as it was.
  if (!run.proxy_set()) return Arm::kNoRow;
  uint32_t favorites = uint32_t(settings_.FavoriteSiteCount());
  uint64_t generation = ++next_generation_;
  StartResult started = pool_.Start(slot, generation, std::move(run));
  if (started == StartResult::kNoWorker) return Arm::kNoWorker;
  if (started == StartResult::kNotStarted) return Arm::kNoRow;

  Slot& s = slots_[size_t(slot)];
  s.busy = true;
  s.row_gone = false;
  s.generation = generation;
  s.row = row;
  s.started_ms = clock_.NowMs();
  s.period_ms = std::max<uint32_t>(favorites, 1) * watchdog_per_site_ms_;
  s.detected.reset();
  ++active_;
  list_.SetStatusText(row, std::string(kStatusVerifying));
  if (scroll) host_.ShowRow(row);
  timers_.StartWatchdog(slot, s.period_ms);
  return Arm::kArmed;
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

void VerifyScheduler::OnWorkerTypeDetected(int slot, uint64_t generation, ProxyProtocol protocol) {
  if (slot < 0 || slot >= kWorkerSlots) return;
  Slot& s = slots_[size_t(slot)];
  if (!s.busy || s.generation != generation) return;
  s.detected = protocol;
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
  if (s.row_gone) {
    // The row left the list under the worker: it counts as done, and nothing
    // is written (its index may belong to another row by now).
    ++counters_.done;
    --counters_.remaining;
    host_.RefreshCaption();
    return;
  }
  std::optional<ProxyProtocol> detected = std::exchange(s.detected, std::nullopt);
  std::string_view type = detected ? TypeWordOf(*detected) : std::string_view();
  // Only a row still without a type takes the one found; it is refused when
  // another row holds the address in that protocol already.
  bool kept_untyped = false;
  if (detected && list_.row(s.row).type.empty()) kept_untyped = !list_.SetRowType(s.row, type);
  FinishRowAt(s.row, outcomes);
  if (kept_untyped && !outcomes.empty()) {
    ProxyRow row = list_.row(s.row);
    std::string result(row.result);
    result +=
        Format("按%.*s验证(列表中已有该地址的同类代理,类型未改);", int(type.size()), type.data());
    list_.SetVerifyResult(s.row, std::string(row.status), std::move(result), row.score);
  }
}

void VerifyScheduler::FinishRowAt(size_t row, const std::vector<SiteOutcome>& outcomes) {
  ++counters_.done;
  --counters_.remaining;
  if (outcomes.empty()) {
    // The worker accepted none of the favorite sites, or never ran: the row is
    // finished as not verified and keeps its score.
    list_.SetStatusText(row, std::string(kStatusNotVerified));
  } else {
    last_run_sites_ = int(outcomes.size());
    if (WriteRowResult(list_, row, outcomes)) {
      ++counters_.usable;
    } else {
      host_.RowFailed(row);
    }
  }
  host_.RefreshCaption();
}

void VerifyScheduler::ContinueAfterRow(int slot) {
  FeedNewRows();
  // Feeding the gate may have handed this slot a ready row already.
  if (run_on_ && !slots_[size_t(slot)].busy && ArmSlot(slot, true) == Arm::kNoWorker) {
    return WorkerCreationFailed();
  }
  // The caption counted the slot as idle while its row was being written.
  host_.RefreshCaption();
  MaybeEndRun();
  ArmGateTimer();
}

void VerifyScheduler::HandOutReady() {
  for (int slot = 0; slot < run_slots_ && run_on_ && gate_->ready() > 0; ++slot) {
    if (slots_[size_t(slot)].busy) continue;
    if (ArmSlot(slot, true) == Arm::kNoWorker) return WorkerCreationFailed();
  }
}

void VerifyScheduler::FeedNewRows() {
  // Rows appended to the list during a run join it, as the hand-out without the
  // gate takes them too.
  if (!gate_ || !run_on_ || list_.size() <= fed_rows_) return;
  std::vector<GateRow> rows;
  for (size_t row = fed_rows_; row < list_.size(); ++row) {
    if (!Qualifies(row) || PassOverOwnRelay(row)) continue;
    rows.push_back({row, std::string(list_.row(row).address), std::string(list_.row(row).port)});
  }
  fed_rows_ = list_.size();
  if (rows.empty()) return;
  gate_->Append(std::move(rows));
  gate_->Pump();
}

void VerifyScheduler::MaybeEndRun() {
  if (!run_on_ || active_ > 0 || (gate_ && !gate_->idle())) return;
  EndRunCleanup();
  std::optional<RowId> best = ApplyEndOfRunRules(list_, settings_, last_run_sites_);
  // Asked at the end, not at the start: the user may have gone direct meanwhile.
  if (best && (!run_by_timer_ || host_.ProxyInUse())) host_.UseProxy(*best);
  host_.RefreshCaption();
}

void VerifyScheduler::ArmGateTimer() {
  if (!gate_) return;
  std::optional<uint32_t> ms = run_on_ ? gate_->MsUntilDeadline() : std::nullopt;
  if (!ms) {
    if (gate_timer_on_) timers_.StopGateTimer();
    gate_timer_on_ = false;
    return;
  }
  // Outcomes arrive by the thousand; the timer is only set again when the
  // earliest deadline moved.
  uint32_t due = clock_.NowMs() + *ms;
  if (gate_timer_on_ && due == gate_timer_due_) return;
  gate_timer_on_ = true;
  gate_timer_due_ = due;
  timers_.StartGateTimer(std::max<uint32_t>(*ms, 1));
}

void VerifyScheduler::OnRowUnreachable(const GateRow& row, ConnectFailure) {
  if (!run_on_) return;
  FinishRowAt(row.row, UnreachableOutcomes(run_sites_));
  MaybeEndRun();
}

void VerifyScheduler::OnRowsReady() {
  if (run_on_) HandOutReady();
}

void VerifyScheduler::OnProbeConnected(uint64_t id) {
  if (!gate_) return;
  FeedNewRows();
  gate_->OnConnected(id);
  ArmGateTimer();
}

void VerifyScheduler::OnProbeRefused(uint64_t id) {
  if (!gate_) return;
  FeedNewRows();
  gate_->OnRefused(id);
  ArmGateTimer();
}

void VerifyScheduler::OnGateTimer() {
  if (!gate_) return;
  // Timers repeat; the next one is set from the deadline left.
  gate_timer_on_ = false;
  timers_.StopGateTimer();
  if (run_on_) {
    FeedNewRows();
    gate_->OnTick();
  }
  ArmGateTimer();
}

void VerifyScheduler::OnRowsRemoved(std::vector<size_t> removed) {
  if (!run_on_ || removed.empty()) return;
  std::sort(removed.begin(), removed.end());
  removed.erase(std::unique(removed.begin(), removed.end()), removed.end());
  auto below = [&removed](size_t row) {
    return size_t(std::lower_bound(removed.begin(), removed.end(), row) - removed.begin());
  };
  for (Slot& s : slots_) {
    if (!s.busy || s.row_gone) continue;
    if (std::binary_search(removed.begin(), removed.end(), s.row)) {
      s.row_gone = true;
    } else {
      s.row -= below(s.row);
    }
  }
  next_row_ -= below(next_row_);
  fed_rows_ -= below(fed_rows_);
  if (gate_) {
    gate_->OnRowsRemoved(std::move(removed));
    MaybeEndRun();
    ArmGateTimer();
  }
}

bool VerifyScheduler::PassOverOwnRelay(size_t row) {
  const ProxyRow r = list_.row(row);
  if (!NamesOwnPort(r.address, r.port, relay_ports_)) return false;
  // Unusable even when reserved: no switch may ever pick it.
  list_.SetVerifyResult(row, std::string(kStatusUnusable), "[0]" + std::string(kRelayLoopText), 0);
  ++counters_.done;
  --counters_.remaining;
  host_.RefreshCaption();
  return true;
}

void VerifyScheduler::WorkerCreationFailed() {
  host_.ShowMessage(kNoWorkerText, kNoWorkerCaption);
  StopVerify();
}

void VerifyScheduler::StopVerify() {
  // The probes go first, so that no row of this run is reported any more.
  if (gate_) gate_->Stop();
  for (int slot = 0; slot < kWorkerSlots; ++slot) {
    Slot& s = slots_[size_t(slot)];
    if (!s.busy) continue;
    pool_.Abandon(slot);
    if (!s.row_gone) list_.SetStatusText(s.row, std::string(kStatusNotVerified));
  }
  active_ = 0;
  EndRunCleanup();
  host_.RefreshCaption();
}

void VerifyScheduler::EndRunCleanup() {
  if (gate_) {
    gate_->Stop();
    if (gate_timer_on_) timers_.StopGateTimer();
    gate_timer_on_ = false;
  }
  for (int slot = 0; slot < kWorkerSlots; ++slot) {
    timers_.StopWatchdog(slot);
    slots_[size_t(slot)].busy = false;
  }
  active_ = 0;
  run_on_ = false;
  pool_.ReleaseAll();
  host_.SetRunControls(false);
}

void VerifyScheduler::OnReapTimer() { pool_.ReapEnded(); }

void VerifyScheduler::OnProxyAdded() {
  if (settings_.verify_new_proxy) timers_.StartVerifyNew(kVerifyNewDelayMs);
}

void VerifyScheduler::OnVerifyNewTimer() {
  timers_.StopVerifyNew();
  Start(false, true);
}

void VerifyScheduler::ReverifyTick() {
  ++minutes_;
  if (!settings_.reverify_by_time || minutes_ < settings_.reverify_interval) return;
  minutes_ = 0;
  if (!settings_.only_favorite_rows) return Start(true, true);
  {
    ProxyList::Batch batch(list_);
    for (size_t i = 0; i < list_.size(); ++i) list_.SetSelected(i, list_.row(i).favorite);
  }
  Start(false, true);
}

}  // namespace core
