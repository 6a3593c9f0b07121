// Dispatcher: the one message-only window of a thread that runs what other
// parts hand it there: functions posted from any thread (through a receiver's
// Inbox) and the thread's timers (Timer). Made on the first use on a thread
// and gone with the thread; a part that is not a window itself (a service, the
// worker pool, a worker's report) needs no window of its own.
//
// Posted functions run one per message, in the order they were posted, so a
// modal loop that one of them opens still runs the rest. Posts made while a
// wake-up message waits share it.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <unordered_map>

#include "win/platform/message_window.h"

namespace win {

class Timer;

namespace dispatch_internal {
struct Queue;
}  // namespace dispatch_internal

class Dispatcher final {
 public:
  // The calling thread's dispatcher, made on first use. Its window is null
  // when it could not be made (then nothing posted to it ever runs).
  static Dispatcher& ForThisThread();

  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // For tests: the window that receives the wake-up message and the timers.
  HWND hwnd() const { return window_.hwnd(); }

 private:
  friend class Inbox;
  friend class Timer;

  Dispatcher();
  bool OnMessage(UINT msg, WPARAM wparam, LPARAM lparam);
  void RunOne();

  std::shared_ptr<dispatch_internal::Queue> queue_;
  std::unordered_map<UINT_PTR, Timer*> timers_;
  UINT_PTR next_timer_id_ = 1;  // never reused: a late WM_TIMER finds no timer
  MessageWindow window_;
};

// The sending end of an Inbox: copyable, usable from any thread.
class Poster final {
 public:
  // Posts nowhere.
  Poster() = default;

  // Runs `fn` on the inbox's thread after what was posted to that thread
  // before, unless the inbox is gone by then (its receiver is destroyed): then
  // `fn` is dropped, on that thread. False when it is dropped already (no
  // inbox, no dispatcher); true does not promise it runs.
  bool Post(std::function<void()> fn) const;

 private:
  friend class Inbox;
  std::shared_ptr<dispatch_internal::Queue> queue_;
  std::weak_ptr<const bool> alive_;
};

// A receiver's end of posting: a member of the object that posted functions
// call into. Made and destroyed on its thread (which must pump messages);
// once it is gone nothing posted through it runs, so a worker that outlives
// its receiver never reaches it.
class Inbox final {
 public:
  Inbox();
  Inbox(const Inbox&) = delete;
  Inbox& operator=(const Inbox&) = delete;

  // For the threads that report here.
  Poster poster() const;
  // poster().Post(fn), for a post from the owning thread itself (run later,
  // outside the caller's stack).
  bool Post(std::function<void()> fn) const { return poster().Post(std::move(fn)); }

 private:
  std::shared_ptr<dispatch_internal::Queue> queue_;
  std::shared_ptr<const bool> alive_;
};

// A timer of the thread that makes it, on the thread's dispatcher window: a
// member object that stops when destroyed. Start and Stop on that thread only.
class Timer final {
 public:
  Timer();
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // Calls `callback` every `ms` milliseconds until Stop; a running timer starts
  // over with the new period and callback.
  void Start(UINT ms, std::function<void()> callback);
  // Calls `callback` once, `ms` milliseconds from now (stopped before it runs).
  void StartOnce(UINT ms, std::function<void()> callback);
  void Stop();
  bool active() const { return active_; }

  // For tests: the WM_TIMER that fires it (sent to window() with wParam id()).
  HWND window() const;
  UINT_PTR id() const { return id_; }

 private:
  friend class Dispatcher;
  void Set(UINT ms, std::function<void()> callback, bool once);
  void Fire();

  Dispatcher* dispatcher_;  // null once the thread's dispatcher is gone
  UINT_PTR id_;
  std::function<void()> callback_;
  bool active_ = false;
  bool once_ = false;
};

// Sends the WM_TIMER of `timer` as the system would; for tests.
inline void FireTimer(const Timer& timer) { SendMessageW(timer.window(), WM_TIMER, timer.id(), 0); }

}  // namespace win
