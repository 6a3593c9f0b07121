// ListSaveSchedule: when the list goes to the profile. A change to what the
// profile keeps is saved within a second of the first unsaved one (the changes
// of that second ride along in one save); verification results at least every
// 30 s during a run, and at its end. A save that fails is not tried again on a
// timer: the next change tries again, and the user hears of a failure once
// until a save succeeds. Times are Clock milliseconds, compared across the
// counter's wrap. Pure logic; the list's owner asks it on the UI thread.
#pragma once

#include <cstdint>
#include <optional>

namespace core {

class ListSaveSchedule {
 public:
  static constexpr uint32_t kEditDelayMs = 1000;
  static constexpr uint32_t kResultsDelayMs = 30000;

  // What the profile keeps of the list changed.
  void Edited(uint32_t now);
  // A row's verification result changed.
  void ResultsChanged(uint32_t now);
  // A verification ended: results not yet saved are due now.
  void RunEnded();

  // Milliseconds until a save is due (0: now); nullopt when nothing waits.
  std::optional<uint32_t> WaitMs(uint32_t now) const;
  // A save of the list as it is now starts: everything waiting goes into it.
  void Started();
  // The save that started ended. Returns true when a failure is one the user
  // has not been told of since the last save that succeeded.
  bool Ended(bool ok);

 private:
  std::optional<uint32_t> edited_since_;
  std::optional<uint32_t> results_since_;
  bool results_due_now_ = false;
  bool failure_told_ = false;
};

}  // namespace core
