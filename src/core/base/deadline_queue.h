// DeadlineQueue: the next deadline of each of many timers, the nearest first,
// for an event loop that waits until the nearest one and then handles those due.
// Times are the caller's monotonic milliseconds (never 0: 0 means "none"). One
// thread at a time; nothing here reads a clock, so tests pass the times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace core {

class DeadlineQueue {
 public:
  using Timer = uint32_t;

  // A new timer with no deadline. Ids of removed timers are given out again.
  Timer Add();
  // The timer is gone: it is never due again, and its id may be given out again.
  void Remove(Timer timer);
  // Sets the timer's deadline to `when`, replacing any earlier setting; 0: none.
  // Cheap when the deadline only moves later (an idle deadline pushed on by
  // every byte): the queue then keeps the entry it has and moves it when it
  // comes to the front.
  void Set(Timer timer, uint64_t when);
  // The timer's deadline now; 0: none.
  uint64_t Get(Timer timer) const { return timers_[timer].when; }

  // The nearest deadline of all timers; 0: none.
  uint64_t Next();
  // A timer whose deadline is at or before `now`, its deadline cleared; nullopt
  // when none is due. Due timers come out nearest first.
  std::optional<Timer> PopDue(uint64_t now);

  // Entries held, the ones left behind by moves and removals included: stays
  // within a small multiple of the timers with a deadline.
  size_t entries() const { return heap_.size(); }

 private:
  struct TimerState {
    uint64_t when = 0;    // the deadline in force; 0: none
    uint64_t queued = 0;  // when its live entry falls due (never after `when`); 0: no entry
    uint32_t generation = 0;
  };
  struct Entry {
    uint64_t when;
    Timer timer;
    uint32_t generation;  // live while it equals its timer's
  };

  void Push(Timer timer, uint64_t when);
  void Invalidate(TimerState& state);
  void Settle();

  std::vector<TimerState> timers_;
  std::vector<Timer> free_;
  std::vector<Entry> heap_;  // a min-heap on `when`
  size_t stale_ = 0;         // entries in heap_ that are no longer live
};

}  // namespace core
