// ScriptedPool: a WorkerPool for tests whose workers never run: every hand-out
// is recorded and the test hands in each report itself (Switcher::OnWorkerDone).
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/verify/verify_scheduler.h"

namespace win {

// Workers whose reports the test hands in. Records every hand-out.
class ScriptedPool final : public core::WorkerPool {
 public:
  core::WorkerReportTarget* target = nullptr;  // the scheduler, while it exists
  void SetReportTarget(core::WorkerReportTarget* t) override { target = t; }
  struct Handout {
    int slot;
    uint64_t generation;
    std::string proxy;  // the proxy text the run would use for an http site
    int sites;
  };

  core::StartResult Start(int slot, uint64_t generation, core::VerifyRun run) override {
    if (no_worker) return core::StartResult::kNoWorker;
    std::string proxy = run.ProxyTextFor(core::SiteScheme::kHttp);
    if (not_started.count(proxy)) return core::StartResult::kNotStarted;
    handed.push_back({slot, generation, proxy, run.site_count()});
    current[slot] = generation;
    return core::StartResult::kStarted;
  }
  std::vector<core::SiteOutcome> Abandon(int slot) override {
    abandoned.push_back(slot);
    current.erase(slot);
    auto it = reached.find(slot);
    return it == reached.end() ? std::vector<core::SiteOutcome>{} : it->second;
  }
  void ReleaseAll() override {
    ++released;
    current.clear();
  }
  void ReapEnded() override { ++reaped; }

  // Proxies in hand-out order.
  std::vector<std::string> Proxies() const {
    std::vector<std::string> out;
    for (const Handout& h : handed) out.push_back(h.proxy);
    return out;
  }

  std::vector<Handout> handed;
  std::map<int, uint64_t> current;  // slot -> generation of its hand-out
  std::set<std::string> not_started;
  bool no_worker = false;
  std::map<int, std::vector<core::SiteOutcome>> reached;  // what Abandon returns
  std::vector<int> abandoned;
  int released = 0;
  int reaped = 0;
};

}  // namespace win
