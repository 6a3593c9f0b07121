// ScriptedExitFetcher: the exit check's fetcher for tests. Nothing goes on the
// network: every fetch is recorded, and the test answers it, which posts the
// result to this thread as the real fetcher would.
#pragma once

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

  explicit ScriptedExitFetcher(Report report) : report_(std::move(report)) {}

  void StartFetch(uint64_t id, const std::string& page, core::ExitRoute route) override {
    fetches.push_back({id, page, route});
  }
  void set_deadline_ms(uint32_t) override {}

  // Answers the latest fetch by `route` (as the page would).
  void Answer(core::ExitRoute route, bool ok, std::string body) {
    for (auto it = fetches.rbegin(); it != fetches.rend(); ++it) {
      if (it->route != route) continue;
      inbox_.Post(
          [this, result = ExitFetchResult{it->id, ok, std::move(body)}] { report_(result); });
      return;
    }
  }

  std::vector<Fetch> fetches;

 private:
  Report report_;
  Inbox inbox_;
};

}  // namespace win
