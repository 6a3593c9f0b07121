#include "core/base/deadline_queue.h"

#include <algorithm>

namespace core {
namespace {

// std::push_heap and friends build a max-heap: the later entry is the "lesser".
struct Later {
  template <typename Entry>
  bool operator()(const Entry& a, const Entry& b) const {
    return a.when > b.when;
  }
};

// Left-behind entries are swept out once they are this many and outnumber the
// live ones: the sweep's cost is then paid for by the entries it drops.
constexpr size_t kSweepAtLeast = 64;

}  // namespace

DeadlineQueue::Timer DeadlineQueue::Add() {
  if (!free_.empty()) {
    Timer timer = free_.back();
    free_.pop_back();
    return timer;
  }
  timers_.emplace_back();
  return static_cast<Timer>(timers_.size() - 1);
}

void DeadlineQueue::Remove(Timer timer) {
  TimerState& state = timers_[timer];
  if (state.queued) Invalidate(state);
  state.when = 0;
  free_.push_back(timer);
}

void DeadlineQueue::Set(Timer timer, uint64_t when) {
  TimerState& state = timers_[timer];
  state.when = when;
  if (when == 0) {
    if (state.queued) Invalidate(state);
    return;
  }
  if (state.queued && state.queued <= when) return;  // moved on when it comes up
  if (state.queued) Invalidate(state);
  Push(timer, when);
}

uint64_t DeadlineQueue::Next() {
  Settle();
  return heap_.empty() ? 0 : heap_.front().when;
}

std::optional<DeadlineQueue::Timer> DeadlineQueue::PopDue(uint64_t now) {
  Settle();
  if (heap_.empty() || heap_.front().when > now) return std::nullopt;
  Timer timer = heap_.front().timer;
  std::pop_heap(heap_.begin(), heap_.end(), Later());
  heap_.pop_back();
  timers_[timer].when = 0;
  timers_[timer].queued = 0;
  return timer;
}

void DeadlineQueue::Push(Timer timer, uint64_t when) {
  TimerState& state = timers_[timer];
  state.queued = when;
  heap_.push_back({when, timer, state.generation});
  std::push_heap(heap_.begin(), heap_.end(), Later());
}

void DeadlineQueue::Invalidate(TimerState& state) {
  ++state.generation;
  state.queued = 0;
  ++stale_;
  if (stale_ < kSweepAtLeast || stale_ * 2 < heap_.size()) return;
  std::erase_if(heap_,
                [this](const Entry& e) { return e.generation != timers_[e.timer].generation; });
  std::make_heap(heap_.begin(), heap_.end(), Later());
  stale_ = 0;
}

// Brings a live entry that is in force to the front: left-behind entries are
// dropped, and one whose timer was moved later goes back in at its new time.
void DeadlineQueue::Settle() {
  while (!heap_.empty()) {
    Entry top = heap_.front();
    TimerState& state = timers_[top.timer];
    bool live = top.generation == state.generation;
    if (live && state.when == top.when) return;
    std::pop_heap(heap_.begin(), heap_.end(), Later());
    heap_.pop_back();
    if (!live) {
      --stale_;
    } else {
      Push(top.timer, state.when);  // a live entry's timer has a deadline, never earlier
    }
  }
}

}  // namespace core
