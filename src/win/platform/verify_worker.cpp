#include "win/platform/verify_worker.h"

namespace win {
namespace {

std::atomic<int> g_live_threads{0};
std::atomic<bool> g_fail_thread_creation{false};

// Workers do little but wait on sockets; 200 of them with the default 1 MiB
// stacks would reserve 200 MiB of address space for nothing.
constexpr SIZE_T kWorkerStack = 256 * 1024;

}  // namespace

// Records a run's outcomes into the worker as they happen, so that an abandoned
// run's reached outcomes can be read by the UI.
class VerifyWorker::Observer final : public core::RunObserver {
 public:
  explicit Observer(VerifyWorker& worker) : worker_(worker) {}

  void OnProgress(std::string_view) override {}

  void OnSiteDone(int index, const core::SiteOutcome& outcome) override {
    std::lock_guard lock(worker_.mutex_);
    if (index >= 0 && size_t(index) < worker_.outcomes_.size()) {
      worker_.outcomes_[size_t(index)] = outcome;
    }
  }

 private:
  VerifyWorker& worker_;
};

VerifyWorker::VerifyWorker(int slot, Report report, std::unique_ptr<core::SiteFetcher> fetcher,
                           std::shared_ptr<core::Clock> clock)
    : slot_(slot),
      report_(std::move(report)),
      fetcher_(std::move(fetcher)),
      clock_(std::move(clock)) {}

VerifyWorker::~VerifyWorker() = default;

int VerifyWorker::LiveThreads() { return g_live_threads.load(); }

void VerifyWorker::FailThreadCreationForTesting(bool fail) { g_fail_thread_creation = fail; }

bool VerifyWorker::StartThread() {
  {
    std::lock_guard lock(mutex_);
    if (spawn_asked_) return !spawn_failed_;
    spawn_asked_ = true;
  }
  // The spawner and the thread each hold a reference: an abandoned worker lives
  // until its thread has ended, however long the network call it is stuck in.
  auto* self = new std::shared_ptr<VerifyWorker>(shared_from_this());
  ++g_live_threads;
  if (!QueueUserWorkItem(&VerifyWorker::SpawnMain, self, WT_EXECUTEDEFAULT)) {
    --g_live_threads;
    delete self;
    std::lock_guard lock(mutex_);
    FailSpawnLocked();
    return false;
  }
  return true;
}

void VerifyWorker::FailSpawnLocked() {
  spawn_failed_ = true;
  // A run already handed over ends at once so that its row does not wait for
  // the watchdog. It reports no sites at all: the row was never tested, and
  // must not be scored as a proxy whose every site failed.
  outcomes_.clear();
  detected_.reset();
  if (has_run_) {
    has_run_ = false;
    running_generation_ = next_generation_;
    finished_ = true;
    PostLocked(running_generation_);
  }
}

DWORD WINAPI VerifyWorker::SpawnMain(void* param) {
  auto* holder = static_cast<std::shared_ptr<VerifyWorker>*>(param);
  std::shared_ptr<VerifyWorker> self = std::move(*holder);
  delete holder;
  auto* thread_ref = new std::shared_ptr<VerifyWorker>(self);
  HANDLE h = g_fail_thread_creation ? nullptr
                                    : CreateThread(nullptr, kWorkerStack, &VerifyWorker::ThreadMain,
                                                   thread_ref, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                                   nullptr);
  std::lock_guard lock(self->mutex_);
  if (h != nullptr) {
    self->thread_.reset(h);
    return 0;
  }
  delete thread_ref;
  --g_live_threads;
  self->FailSpawnLocked();
  return 0;
}

DWORD WINAPI VerifyWorker::ThreadMain(void* param) {
  // Two hundred workers reading pages must not take the processor from the
  // user-interface thread: they wait on the network most of the time anyway.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
  {
    std::shared_ptr<VerifyWorker> self =
        std::move(*static_cast<std::shared_ptr<VerifyWorker>*>(param));
    delete static_cast<std::shared_ptr<VerifyWorker>*>(param);
    self->Loop();
  }
  --g_live_threads;
  return 0;
}

void VerifyWorker::Loop() {
  MSG msg;
  // The first call to a message function creates the thread's queue; thread
  // messages posted before that would be lost, so the UI queues its starts in
  // `pending_posts_` until the queue exists.
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  int pending = 0;
  {
    std::lock_guard lock(mutex_);
    queue_ready_ = true;
    thread_id_ = GetCurrentThreadId();
    if (abandoned_ || quit_asked_) return;
    pending = std::exchange(pending_posts_, 0);
  }
  for (int i = 0; i < pending; ++i) PostThreadMessageW(GetCurrentThreadId(), TM_VERIFY_START, 0, 0);

  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.hwnd != nullptr) {
      DispatchMessageW(&msg);
      continue;
    }
    if (msg.message == TM_VERIFY_QUIT) break;
    if (msg.message == TM_VERIFY_START) RunOnce();
    std::lock_guard lock(mutex_);
    if (abandoned_ || (quit_asked_ && !has_run_)) break;
  }
}

void VerifyWorker::RunOnce() {
  core::VerifyRun run;
  uint64_t generation = 0;
  {
    std::lock_guard lock(mutex_);
    if (!has_run_ || abandoned_) return;
    run = std::move(next_run_);
    has_run_ = false;
    generation = next_generation_;
    running_generation_ = generation;
    running_ = true;
    finished_ = false;
    detected_.reset();
  }
  Observer observer(*this);
  run.RunTests(*fetcher_, *clock_, observer);
  std::lock_guard lock(mutex_);
  outcomes_ = run.Outcomes();
  detected_ = run.detected_protocol();
  running_ = false;
  finished_ = true;
  PostLocked(generation);
}

void VerifyWorker::PostLocked(uint64_t generation) {
  if (abandoned_ || !report_) return;
  report_(slot_, generation);
}

bool VerifyWorker::Run(uint64_t generation, core::VerifyRun run) {
  bool post = false;
  DWORD id = 0;
  {
    std::lock_guard lock(mutex_);
    if (abandoned_ || spawn_failed_) return false;
    // Until the thread takes the run, an abandonment reports every site as not
    // tested.
    outcomes_.assign(size_t(run.site_count()), core::SiteOutcome{});
    next_run_ = std::move(run);
    has_run_ = true;
    next_generation_ = generation;
    finished_ = false;
    if (queue_ready_) {
      post = true;
      id = thread_id_;
    } else {
      ++pending_posts_;
    }
  }
  if (post && !PostThreadMessageW(id, TM_VERIFY_START, 0, 0)) {
    std::lock_guard lock(mutex_);
    has_run_ = false;
    return false;
  }
  return true;
}

std::vector<core::SiteOutcome> VerifyWorker::Abandon() {
  std::vector<core::SiteOutcome> reached;
  bool post = false;
  DWORD id = 0;
  {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
    // A run that finished but whose report was not taken yet counts as well.
    if (running_ || has_run_ || finished_) reached = outcomes_;
    post = queue_ready_;
    id = thread_id_;
  }
  // Closes the fetcher's handles so that a blocked call can return (Windows);
  // where it cannot (Wine), the thread ends when the call times out.
  fetcher_->Abort();
  if (post) PostThreadMessageW(id, TM_VERIFY_QUIT, 0, 0);
  return reached;
}

void VerifyWorker::Quit() {
  bool post = false;
  DWORD id = 0;
  {
    std::lock_guard lock(mutex_);
    quit_asked_ = true;
    post = queue_ready_;
    id = thread_id_;
  }
  if (post) PostThreadMessageW(id, TM_VERIFY_QUIT, 0, 0);
}

bool VerifyWorker::TakeFinished(uint64_t generation, std::vector<core::SiteOutcome>* outcomes,
                                std::optional<core::ProxyProtocol>* detected) {
  std::lock_guard lock(mutex_);
  if (abandoned_ || !finished_ || running_generation_ != generation) return false;
  finished_ = false;
  *outcomes = outcomes_;
  if (detected != nullptr) *detected = detected_;
  return true;
}

bool VerifyWorker::report_pending() {
  std::lock_guard lock(mutex_);
  return finished_ && !abandoned_;
}

bool VerifyWorker::busy() {
  std::lock_guard lock(mutex_);
  return running_ || has_run_;
}

bool VerifyWorker::ended() {
  HANDLE thread = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (spawn_failed_) return true;
    thread = thread_.get();
  }
  // A thread that is still being created has not ended. The handle stays valid:
  // only the destructor closes it.
  return thread != nullptr && WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

}  // namespace win
