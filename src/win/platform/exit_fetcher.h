// WinInetExitFetcher: the exit check's fetcher. Each fetch runs on a thread of
// its own with WinInet, through the system's proxy settings (what a browser on
// this machine gets) or direct, and posts WM_EXIT_FETCH_DONE to the report
// window when it ends; the UI thread then takes the results. The fetcher is
// owned and called on the UI thread and never waits for a fetch thread: a fetch
// that outlives its deadline is abandoned, and once the fetcher is gone no
// thread posts again.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "win/platform/app_messages.h"
#include "core/sysproxy/exit_check.h"

namespace win {

// The most fetch threads alive at once; a fetch asked for beyond it fails at
// once (automatic switching every second through black-holed proxies must not
// pile up threads that wait minutes for a connect).
inline constexpr int kMaxExitFetchThreads = 16;
// The most of a page that is read; an echo page is a few bytes.
inline constexpr size_t kMaxExitPageBytes = 64 * 1024;

struct ExitFetchResult {
  uint64_t id = 0;
  bool ok = false;   // status 2xx and the body read to its end (or to kMaxExitPageBytes)
  std::string body;  // the page's bytes as sent; empty when !ok
};

// An exit fetcher whose results are posted to a window and taken there.
class PostingExitFetcher : public core::ExitFetcher {
 public:
  // On the posted message: every result that has arrived since the last call,
  // in the order the fetches ended.
  virtual std::vector<ExitFetchResult> TakeResults() = 0;
  // Takes effect for the fetches started afterwards.
  virtual void set_deadline_ms(uint32_t deadline_ms) = 0;
};

class WinInetExitFetcher final : public PostingExitFetcher {
 public:
  // `report_window` receives `report_message`. A fetch thread gives up by
  // itself after `deadline_ms` (the receive time-outs and its own clock; under
  // Wine a connect that gets no answer can still hold the thread for about
  // two minutes, which is why the check keeps its own deadline).
  WinInetExitFetcher(HWND report_window, uint32_t deadline_ms,
                     UINT report_message = WM_EXIT_FETCH_DONE);
  // Abandons every fetch still running, without waiting.
  ~WinInetExitFetcher() override;
  WinInetExitFetcher(const WinInetExitFetcher&) = delete;
  WinInetExitFetcher& operator=(const WinInetExitFetcher&) = delete;

  // Takes effect for the fetches started afterwards.
  void set_deadline_ms(uint32_t deadline_ms) override { deadline_ms_ = deadline_ms; }

  // Starts the thread and returns at once. `page` must be an http:// or
  // https:// URL; anything else, a thread that does not start and a fetch
  // beyond kMaxExitFetchThreads are reported (posted) as failures.
  void StartFetch(uint64_t id, const std::string& page, core::ExitRoute route) override;

  // On WM_EXIT_FETCH_DONE: every result that has arrived since the last call,
  // in the order the fetches ended. Empty for a message whose results were
  // taken already.
  std::vector<ExitFetchResult> TakeResults() override;

  // Fetch threads alive now (also those abandoned by an earlier fetcher);
  // for tests.
  static int ThreadsAlive();

  // The state a fetch thread shares with the fetcher. Internal to the .cpp;
  // public so that it can name it.
  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  uint32_t deadline_ms_;
};

}  // namespace win
