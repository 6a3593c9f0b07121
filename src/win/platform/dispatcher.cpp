#include "win/platform/dispatcher.h"

#include <deque>
#include <mutex>
#include <utility>

#include "win/platform/app_messages.h"

namespace win {
namespace dispatch_internal {

// What the posting threads share with the dispatcher. The window is null once
// the dispatcher is gone; posts are refused from then on.
struct Queue {
  std::mutex mutex;
  std::deque<std::function<void()>> items;
  HWND window = nullptr;
  bool wake_posted = false;  // a WM_DISPATCH waits in the thread's queue

  bool Push(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(mutex);
    if (window == nullptr) return false;
    items.push_back(std::move(fn));
    // A refused post (the thread's message queue is full) is tried again at
    // the next one; the function waits meanwhile.
    if (!wake_posted) wake_posted = PostMessageW(window, WM_DISPATCH, 0, 0) != FALSE;
    return true;
  }
};

}  // namespace dispatch_internal

namespace {

thread_local std::unique_ptr<Dispatcher> t_dispatcher;

}  // namespace

Dispatcher& Dispatcher::ForThisThread() {
  if (!t_dispatcher) t_dispatcher.reset(new Dispatcher());
  return *t_dispatcher;
}

Dispatcher::Dispatcher()
    : queue_(std::make_shared<dispatch_internal::Queue>()),
      window_([this](UINT msg, WPARAM wparam, LPARAM lparam) {
        return OnMessage(msg, wparam, lparam);
      }) {
  queue_->window = CreateMessageWindow(window_, L"RelaymothDispatcher");
}

Dispatcher::~Dispatcher() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard<std::mutex> lock(queue_->mutex);
    queue_->window = nullptr;
    dropped.swap(queue_->items);
  }
  // Timers that outlive the thread's dispatcher (objects of the thread's own
  // end) must not reach it.
  for (auto& [id, timer] : timers_) timer->dispatcher_ = nullptr;
}

bool Dispatcher::OnMessage(UINT msg, WPARAM wparam, LPARAM) {
  if (msg == WM_DISPATCH) {
    RunOne();
    return true;
  }
  if (msg == WM_TIMER) {
    auto it = timers_.find(wparam);
    if (it != timers_.end()) it->second->Fire();
    return true;
  }
  return false;
}

void Dispatcher::RunOne() {
  std::function<void()> fn;
  {
    std::lock_guard<std::mutex> lock(queue_->mutex);
    queue_->wake_posted = false;
    if (queue_->items.empty()) return;
    fn = std::move(queue_->items.front());
    queue_->items.pop_front();
    // The next function has its message before this one runs: a modal loop
    // opened by it still runs the rest, in order.
    if (!queue_->items.empty()) {
      queue_->wake_posted = PostMessageW(queue_->window, WM_DISPATCH, 0, 0) != FALSE;
    }
  }
  if (fn) fn();
}

bool Poster::Post(std::function<void()> fn) const {
  if (!queue_ || alive_.expired()) return false;
  // Checked again on the receiving thread, where the receiver is destroyed:
  // between this check and the call it cannot go.
  return queue_->Push([alive = alive_, fn = std::move(fn)] {
    if (std::shared_ptr<const bool> still = alive.lock()) fn();
  });
}

Inbox::Inbox()
    : queue_(Dispatcher::ForThisThread().queue_), alive_(std::make_shared<const bool>(true)) {}

Poster Inbox::poster() const {
  Poster poster;
  poster.queue_ = queue_;
  poster.alive_ = alive_;
  return poster;
}

Timer::Timer() : dispatcher_(&Dispatcher::ForThisThread()), id_(dispatcher_->next_timer_id_++) {
  dispatcher_->timers_[id_] = this;
}

Timer::~Timer() {
  Stop();
  if (dispatcher_ != nullptr) dispatcher_->timers_.erase(id_);
}

void Timer::Start(UINT ms, std::function<void()> callback) { Set(ms, std::move(callback), false); }

void Timer::StartOnce(UINT ms, std::function<void()> callback) {
  Set(ms, std::move(callback), true);
}

void Timer::Set(UINT ms, std::function<void()> callback, bool once) {
  callback_ = std::move(callback);
  once_ = once;
  // Without a window SetTimer would make a thread timer under another id.
  HWND hwnd = window();
  active_ = hwnd != nullptr && SetTimer(hwnd, id_, ms, nullptr) != 0;
}

void Timer::Stop() {
  if (!active_) return;
  active_ = false;
  if (dispatcher_ != nullptr) KillTimer(dispatcher_->hwnd(), id_);
}

HWND Timer::window() const { return dispatcher_ != nullptr ? dispatcher_->hwnd() : nullptr; }

void Timer::Fire() {
  // A WM_TIMER already queued when the timer was stopped, or one a test sends.
  if (!active_) return;
  if (once_) Stop();
  // A copy: the callback may start this timer again or destroy it.
  std::function<void()> callback = callback_;
  if (callback) callback();
}

}  // namespace win
