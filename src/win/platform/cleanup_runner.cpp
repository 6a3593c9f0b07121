#include "win/platform/cleanup_runner.h"

#include <mutex>
#include <new>
#include <utility>

#include "win/platform/browser_cache.h"

namespace win {

// What a cleanup thread shares with the runner: where to report, and whether
// anyone still listens. The mutex is held only around the post.
struct CleanupRunner::Shared {
  std::mutex mutex;
  HWND window = nullptr;
  UINT message = 0;
  bool abandoned = false;

  void Report(uint32_t generation) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!abandoned) PostMessageW(window, message, WPARAM(generation), 0);
  }
};

namespace {

struct ThreadStart {
  std::shared_ptr<void> shared;  // CleanupRunner::Shared, kept alive by the thread
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

CleanupRunner::CleanupRunner(HWND report_window, Cleanup cleanup, UINT report_message)
    : report_window_(report_window),
      report_message_(report_message),
      cleanup_(std::move(cleanup)),
      shared_(std::make_shared<Shared>()) {
  shared_->window = report_window_;
  shared_->message = report_message_;
}

CleanupRunner::~CleanupRunner() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->abandoned = true;
}

void CleanupRunner::CleanThenSwitch(core::RowId row) {
  if (pending_) return;
  pending_ = true;
  row_ = row;
  uint32_t generation = ++generation_;
  thread_.reset();

  auto* start = new (std::nothrow) ThreadStart{shared_, cleanup_, generation};
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
  shared_->Report(generation);
}

DWORD WINAPI CleanupRunner::ThreadMain(void* param) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(param));
  RunCleanup(start->cleanup);
  static_cast<Shared*>(start->shared.get())->Report(start->generation);
  return 0;
}

bool CleanupRunner::TakeFinished(WPARAM wparam, core::RowId* row) {
  if (!pending_ || uint32_t(wparam) != generation_) return false;
  pending_ = false;
  *row = std::exchange(row_, core::kNoRow);
  return true;
}

}  // namespace win
