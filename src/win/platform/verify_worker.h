// VerifyWorker: one verify worker thread with its own message queue. The UI
// thread hands it a VerifyRun and posts TM_VERIFY_START; the thread runs the
// tests and posts its end (slot, generation) to the pool through the report
// function. Abandon (UI thread) stops it for good without
// waiting: the thread ends by itself and never posts again. Shared between the
// UI thread and the worker thread; every shared field is behind one mutex that
// is never held across a blocking call.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/verify/site_fetcher.h"
#include "core/verify/verify_run.h"
#include "win/platform/unique_handle.h"

namespace win {

// Thread messages posted to a worker.
inline constexpr UINT TM_VERIFY_START = 0x0FCD;
inline constexpr UINT TM_VERIFY_QUIT = 0x0FCE;

// Makes the fetcher of one worker; called on the UI thread.
using SiteFetcherFactory = std::function<std::unique_ptr<core::SiteFetcher>()>;

class VerifyWorker : public std::enable_shared_from_this<VerifyWorker> {
 public:
  // Posts that a run ended, from the worker's thread: (slot, generation).
  using Report = std::function<void(int slot, uint64_t generation)>;

  // `clock` must be safe to call from any thread; the worker keeps it alive.
  VerifyWorker(int slot, Report report, std::unique_ptr<core::SiteFetcher> fetcher,
               std::shared_ptr<core::Clock> clock);
  ~VerifyWorker();
  VerifyWorker(const VerifyWorker&) = delete;
  VerifyWorker& operator=(const VerifyWorker&) = delete;

  // Has the thread created off the UI thread (creating 200 threads takes the UI
  // thread well over 100 ms under Wine). False when that could not be arranged.
  // Should the thread not come into being, a run handed to the worker is
  // reported finished with every site not tested.
  bool StartThread();
  // Hands over the next run and starts it (now, or when the thread's queue
  // exists; Run may come before StartThread). False after Abandon.
  bool Run(uint64_t generation, core::VerifyRun run);
  // Stops the worker for good without waiting: no report is posted from now on,
  // its fetcher is aborted and its thread ends by itself. Returns the outcomes
  // its current run had reached, one per site of that run.
  std::vector<core::SiteOutcome> Abandon();
  // Asks an idle thread to end (TM_VERIFY_QUIT); a running one ends after its run.
  void Quit();

  // The outcomes of run `generation` if it has finished; false otherwise (also
  // after Abandon).
  // `detected` (may be null) receives the protocol the run found for its
  // untyped proxy, if any.
  bool TakeFinished(uint64_t generation, std::vector<core::SiteOutcome>* outcomes,
                    std::optional<core::ProxyProtocol>* detected = nullptr);
  // True while a run is in progress.
  bool busy();
  // True while the report of a finished run waits to be taken.
  bool report_pending();
  // True once the thread has ended, or could not be created.
  bool ended();

  // Worker threads alive in this process, for shutdown checks and tests.
  static int LiveThreads();
  // Makes every later thread creation fail, as when the process is out of
  // threads or memory. Tests only.
  static void FailThreadCreationForTesting(bool fail);

 private:
  class Observer;
  static DWORD WINAPI SpawnMain(void* param);
  static DWORD WINAPI ThreadMain(void* param);
  void Loop();
  void RunOnce();
  void FailSpawnLocked();
  // Posts a report unless abandoned; called with mutex_ held.
  void PostLocked(uint64_t generation);

  const int slot_;
  const Report report_;
  std::unique_ptr<core::SiteFetcher> fetcher_;
  std::shared_ptr<core::Clock> clock_;
  std::mutex mutex_;
  bool spawn_asked_ = false;
  bool spawn_failed_ = false;
  UniqueKernelHandle thread_;
  DWORD thread_id_ = 0;
  bool queue_ready_ = false;  // the thread's queue exists: thread messages can be posted
  int pending_posts_ = 0;     // starts asked for before the queue existed
  bool abandoned_ = false;
  bool quit_asked_ = false;
  bool has_run_ = false;  // `next_run_` waits to be taken
  core::VerifyRun next_run_;
  uint64_t next_generation_ = 0;
  uint64_t running_generation_ = 0;
  bool running_ = false;
  bool finished_ = false;  // the run of `running_generation_` has ended
  std::vector<core::SiteOutcome> outcomes_;
  std::optional<core::ProxyProtocol> detected_;  // of the run of `running_generation_`
};

}  // namespace win
