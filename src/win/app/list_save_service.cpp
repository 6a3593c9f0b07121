#include "win/app/list_save_service.h"

#include <algorithm>
#include <string>

#include "win/platform/win_clock.h"

namespace win {
namespace {

// The caption of the failed save's message.
constexpr std::string_view kListSaveCaption = "保存列表";

}  // namespace

ListSaveService::ListSaveService(Switcher& switcher, const AppPlatform& platform,
                                 core::Clock& clock)
    : switcher_(switcher), platform_(platform), clock_(clock) {
  switcher_.events().Add(this);
}

ListSaveService::~ListSaveService() { switcher_.events().Remove(this); }

void ListSaveService::Start() {
  // What the load itself did is what the profile holds.
  switcher_.list().TakeSavedChanges();
  journal_length_ = core::ListJournalLength(*platform_.profile);
  saved_seen_ = switcher_.list().saved_version();
  results_seen_ = switcher_.list().result_version();
  schedule_ = core::ListSaveSchedule();
  Arm();
}

core::WriteStatus ListSaveService::SaveNow() {
  save_.reset();
  snapshot_.reset();
  timer_.Stop();
  schedule_.Started();
  saved_seen_ = switcher_.list().saved_version();
  results_seen_ = switcher_.list().result_version();
  switcher_.list().TakeSavedChanges();
  pending_.clear();
  core::WriteStatus saved =
      core::SaveListSection(switcher_.list(), *platform_.profile, platform_.secrets);
  schedule_.Ended(saved.ok());
  whole_due_ = !saved.ok();
  journal_length_ = 0;
  return saved;
}

void ListSaveService::OnVerifyRunControls(bool running) {
  if (running) return;
  Changed();
  schedule_.RunEnded();
  Arm();
}

void ListSaveService::Changed() {
  const core::ProxyList& list = switcher_.list();
  uint32_t now = clock_.NowMs();
  if (list.saved_version() != saved_seen_) {
    saved_seen_ = list.saved_version();
    schedule_.Edited(now);
  }
  if (list.result_version() != results_seen_) {
    results_seen_ = list.result_version();
    schedule_.ResultsChanged(now);
  }
  // A save under way keeps its step timer, which also journals what is due.
  if (!save_) Arm();
}

void ListSaveService::Arm() {
  if (save_ || !pending_.empty()) {
    timer_.Start(kStepPauseMs, [this] { OnTimer(); });
    return;
  }
  std::optional<uint32_t> wait = schedule_.WaitMs(clock_.NowMs());
  if (!wait) {
    timer_.Stop();
    return;
  }
  timer_.Start(std::max<UINT>(*wait, USER_TIMER_MINIMUM), [this] { OnTimer(); });
}

void ListSaveService::OnTimer() {
  std::optional<uint32_t> wait = schedule_.WaitMs(clock_.NowMs());
  if (wait && *wait == 0) SaveChanges();
  double began = PreciseMs();
  if (!pending_.empty()) JournalStep(began);
  if (!save_) {
    Arm();
    return;
  }
  bool ended = false;
  while (!ended && PreciseMs() - began < kStepMs) ended = save_->Step(kCallsPerLook);
  if (ended) {
    Finish();
  } else {
    Arm();
  }
}

// The changes go into the journal: a few values, whatever the list's length.
// A whole save follows when the journal cannot say them (many rows at once, a
// new order), when it has grown long, or when a write failed (the changes taken
// are then only in the list itself). Changes made while a whole save runs are
// journaled too: they load over either copy.
void ListSaveService::SaveChanges() {
  schedule_.Started();
  core::SavedChanges changes = switcher_.list().TakeSavedChanges();
  bool whole = whole_due_ || changes.overflow || changes.reordered;
  if (!changes.overflow) {
    pending_.insert(pending_.end(), std::make_move_iterator(changes.rows.begin()),
                    std::make_move_iterator(changes.rows.end()));
  }
  whole = whole || journal_length_ + int32_t(pending_.size()) > kJournalLimit;
  if (whole && !save_) {
    // The snapshot is what this save writes (the waiting entries too); the
    // list may change meanwhile.
    whole_due_ = false;
    pending_.clear();
    snapshot_ = switcher_.list().Snapshot();
    save_ = std::make_unique<core::ListSave>(*snapshot_, *platform_.profile, platform_.secrets);
  } else if (whole) {
    whole_due_ = true;  // the save under way writes an older list; another follows it
  }
}

// Writes waiting journal entries for at most a step's time, a few at a time,
// each few followed by the journal's end: a kill keeps every entry before it.
void ListSaveService::JournalStep(double began) {
  while (!pending_.empty() && PreciseMs() - began < kStepMs) {
    size_t count = std::min<size_t>(pending_.size(), kCallsPerLook);
    core::WriteStatus written =
        core::AppendToListJournal(std::span<const core::SavedRowChange>(pending_.data(), count),
                                  *platform_.profile, platform_.secrets);
    if (!written) {
      // Only a whole save holds these changes now.
      pending_.clear();
      whole_due_ = true;
      Told(written);
      return;
    }
    journal_length_ += int32_t(count);
    pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(count));
  }
  if (pending_.empty()) Told(core::WriteStatus());
}

void ListSaveService::Told(const core::WriteStatus& status) {
  if (schedule_.Ended(status.ok())) {
    switcher_.Ask(std::string(kListSaveFailed) + status.reason(), kListSaveCaption,
                  MB_OK | MB_ICONWARNING);
  }
}

void ListSaveService::Finish() {
  core::WriteStatus status = save_->status();
  save_.reset();
  snapshot_.reset();
  if (status.ok()) {
    journal_length_ = core::ListJournalLength(*platform_.profile);
    // A change the journal could not say came while this save ran.
    if (whole_due_) schedule_.Edited(clock_.NowMs());
  } else {
    whole_due_ = true;  // tried again at the next change
  }
  // Set before the message below: its box runs the timers meanwhile.
  Arm();
  Told(status);
}

}  // namespace win
