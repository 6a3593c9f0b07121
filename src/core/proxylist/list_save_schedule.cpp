#include "core/proxylist/list_save_schedule.h"

#include <algorithm>

namespace core {
namespace {

// Milliseconds left of `delay` since `since`, as unsigned differences so that
// the tick counter's wrap changes nothing.
uint32_t Left(uint32_t now, uint32_t since, uint32_t delay) {
  uint32_t passed = now - since;
  return passed >= delay ? 0 : delay - passed;
}

}  // namespace

void ListSaveSchedule::Edited(uint32_t now) {
  if (!edited_since_) edited_since_ = now;
}

void ListSaveSchedule::ResultsChanged(uint32_t now) {
  if (!results_since_) results_since_ = now;
}

void ListSaveSchedule::RunEnded() {
  if (results_since_) results_due_now_ = true;
}

std::optional<uint32_t> ListSaveSchedule::WaitMs(uint32_t now) const {
  std::optional<uint32_t> wait;
  if (edited_since_) wait = Left(now, *edited_since_, kEditDelayMs);
  if (results_since_) {
    uint32_t results = results_due_now_ ? 0 : Left(now, *results_since_, kResultsDelayMs);
    wait = wait ? std::min(*wait, results) : results;
  }
  return wait;
}

void ListSaveSchedule::Started() {
  edited_since_.reset();
  results_since_.reset();
  results_due_now_ = false;
}

bool ListSaveSchedule::Ended(bool ok) {
  if (ok) {
    failure_told_ = false;
    return false;
  }
  bool tell = !failure_told_;
  failure_told_ = true;
  return tell;
}

}  // namespace core
