// ListSaveService: the list is saved as it changes. It follows the list's
// changes (AppObserver) and the verification's runs, asks the core's
// ListSaveSchedule when a save is due (within a second of a change), then
// writes what changed into the saved list's journal: a value or two a change,
// however long the list. The whole list is written again (a snapshot, with the
// staged save in steps of a few milliseconds on its own timer, so that a long
// list never holds the window up) when the journal cannot say a change (an
// import or delete of many rows, a sort) or has grown long. A refused write is shown once
// ("保存列表失败：" and the system's reason) and tried again at the next
// change. Built by the composition root after the Switcher; UI thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "core/base/clock.h"
#include "core/base/profile_store.h"
#include "core/proxylist/list_profile.h"
#include "core/proxylist/list_save_schedule.h"
#include "win/app/app_events.h"
#include "win/app/app_platform.h"
#include "win/app/switcher.h"
#include "win/platform/dispatcher.h"

namespace win {

// The text of a failed save; the store's reason follows.
inline constexpr std::string_view kListSaveFailed = "保存列表失败：";

class ListSaveService final : private AppObserver {
 public:
  // How long one step of a save may keep the UI thread, and the pause between
  // steps in which the window handles what is waiting.
  static constexpr double kStepMs = 15;
  static constexpr UINT kStepPauseMs = 10;
  // The calls to the store between two looks at the step's time (a registry
  // call under load can take a few milliseconds).
  static constexpr int kCallsPerLook = 16;
  // Past this many journal entries the next change writes the list whole again
  // (the journal is read at every start).
  static constexpr int32_t kJournalLimit = 4096;

  // `switcher`, `platform` and `clock` must outlive the service.
  ListSaveService(Switcher& switcher, const AppPlatform& platform, core::Clock& clock);
  ~ListSaveService() override;
  ListSaveService(const ListSaveService&) = delete;
  ListSaveService& operator=(const ListSaveService&) = delete;

  // After the saved list was loaded: what is in the list now is what the
  // profile holds (or came from the system setting), so nothing is due.
  void Start();
  // The program's end (and the session's): the list as it is now, written
  // whole at once; a save under way is dropped for it.
  core::WriteStatus SaveNow();

  // For tests: the timer of the next save, and of the next step of one under
  // way; and whether a save is under way.
  const Timer& save_timer() const { return timer_; }
  bool saving() const { return save_ != nullptr || !pending_.empty(); }

 private:
  // AppObserver
  void OnRowsAppended(size_t, size_t) override { Changed(); }
  void OnRowChanged(size_t) override { Changed(); }
  void OnRowsReset() override { Changed(); }
  void OnFavoritesChanged() override { Changed(); }
  void OnVerifyRunControls(bool running) override;

  void Changed();
  // Sets the timer for what comes next: a save's next step, a due save, or none.
  void Arm();
  void OnTimer();
  void SaveChanges();
  void JournalStep(double began);
  void Told(const core::WriteStatus& status);
  void Finish();

  Switcher& switcher_;
  const AppPlatform& platform_;
  core::Clock& clock_;
  core::ListSaveSchedule schedule_;
  uint64_t saved_seen_ = 0;
  uint64_t results_seen_ = 0;
  int32_t journal_length_ = 0;
  // Changes taken from the list and not yet in the journal.
  std::vector<core::SavedRowChange> pending_;
  bool whole_due_ = false;
  std::unique_ptr<const core::ProxyList> snapshot_;
  std::unique_ptr<core::ListSave> save_;
  Timer timer_;
};

}  // namespace win
