// ScriptedExitFetcher: the exit check's fetcher for tests. Nothing goes on the
// network: every fetch is recorded, and the test answers it, which posts the
// result to the report window as the real fetcher would.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "win/platform/exit_fetcher.h"

namespace win {

class ScriptedExitFetcher final : public PostingExitFetcher {
 public:
  struct Fetch {
    uint64_t id;
    std::string page;
    core::ExitRoute route;
  };

  explicit ScriptedExitFetcher(HWND report_window) : report_window_(report_window) {}

  void StartFetch(uint64_t id, const std::string& page, core::ExitRoute route) override {
    fetches.push_back({id, page, route});
  }
  std::vector<ExitFetchResult> TakeResults() override { return std::exchange(results_, {}); }
  void set_deadline_ms(uint32_t) override {}

  // Answers the latest fetch by `route` (as the page would).
  void Answer(core::ExitRoute route, bool ok, std::string body) {
    for (auto it = fetches.rbegin(); it != fetches.rend(); ++it) {
      if (it->route != route) continue;
      results_.push_back({it->id, ok, std::move(body)});
      PostMessageW(report_window_, WM_EXIT_FETCH_DONE, 0, 0);
      return;
    }
  }

  std::vector<Fetch> fetches;

 private:
  HWND report_window_;
  std::vector<ExitFetchResult> results_;
};

}  // namespace win
