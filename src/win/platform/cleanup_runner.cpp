#include "win/platform/cleanup_runner.h"

#include <new>
#include <utility>

#include "win/platform/browser_cache.h"

namespace win {

namespace {

struct ThreadStart {
  Poster report;  // reaches the runner while it lives
  CleanupRunner* runner = nullptr;
  CleanupRunner::Cleanup cleanup;
  uint32_t generation = 0;
};

void RunCleanup(const CleanupRunner::Cleanup& cleanup) {
  // A failed cleanup never stops the switch that follows it.
  try {
    if (cleanup) cleanup();
  } catch (...) {
  }
}

}  // namespace

CleanupRunner::Cleanup CleanupRunner::BrowserCleanup() {
  return [] {
    ShellCacheFolders folders;
    ClearBrowserCache(folders);
    ClearCookies(folders);
  };
}

CleanupRunner::CleanupRunner(Done done, Cleanup cleanup)
    : done_(std::move(done)), cleanup_(std::move(cleanup)) {}

CleanupRunner::~CleanupRunner() = default;

void CleanupRunner::CleanThenSwitch(core::RowId row) {
  if (pending_) return;
  pending_ = true;
  row_ = row;
  uint32_t generation = ++generation_;
  thread_.reset();

  auto* start = new (std::nothrow) ThreadStart{inbox_.poster(), this, cleanup_, generation};
  if (start != nullptr) {
    HANDLE h = CreateThread(nullptr, 0, &ThreadMain, start, 0, nullptr);
    if (h != nullptr) {
      thread_.reset(h);
      return;
    }
    delete start;
  }
  // No thread: clean here, late but in the right order.
  RunCleanup(cleanup_);
  inbox_.Post([this, generation] { Finished(generation); });
}

DWORD WINAPI CleanupRunner::ThreadMain(void* param) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(param));
  RunCleanup(start->cleanup);
  CleanupRunner* runner = start->runner;
  uint32_t generation = start->generation;
  start->report.Post([runner, generation] { runner->Finished(generation); });
  return 0;
}

void CleanupRunner::Finished(uint32_t generation) {
  if (!pending_ || generation != generation_) return;
  pending_ = false;
  core::RowId row = std::exchange(row_, core::kNoRow);
  if (done_) done_(row);
}

}  // namespace win
