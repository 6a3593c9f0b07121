// WinInetExitFetcher: the exit check's fetcher. Each fetch runs on a thread of
// its own with WinInet, through the system's proxy settings (what a browser on
// this machine gets) or direct, and posts its result to the fetcher's thread
// when it ends. The fetcher is owned and called on the UI thread and never
// waits for a fetch thread: a fetch that outlives its deadline is abandoned,
// and once the fetcher is gone no result reaches it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "core/sysproxy/exit_check.h"
#include "win/platform/dispatcher.h"

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

// An exit fetcher whose results reach a function on the thread that made it.
class PostingExitFetcher : public core::ExitFetcher {
 public:
  // Called with each result, in the order the fetches ended; never inside
  // StartFetch.
  using Report = std::function<void(const ExitFetchResult&)>;

  // Takes effect for the fetches started afterwards.
  virtual void set_deadline_ms(uint32_t deadline_ms) = 0;
};

class WinInetExitFetcher final : public PostingExitFetcher {
 public:
  // Results go to `report`. A fetch thread gives up by
  // itself after `deadline_ms` (the receive time-outs and its own clock; under
  // Wine a connect that gets no answer can still hold the thread for about
  // two minutes, which is why the check keeps its own deadline).
  WinInetExitFetcher(Report report, uint32_t deadline_ms);
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

  // Fetch threads alive now (also those abandoned by an earlier fetcher);
  // for tests.
  static int ThreadsAlive();

 private:
  // What a fetch thread calls with its result, from its own thread.
  std::function<void(ExitFetchResult)> Deliver();

  Report report_;
  uint32_t deadline_ms_;
  Inbox inbox_;
};

}  // namespace win
