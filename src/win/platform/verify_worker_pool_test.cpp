// VerifyWorkerPool with real threads and a fetcher whose pages can be held back
// behind a gate: reports, generations, abandonment, re-arming inside a report.
#include "win/platform/verify_worker_pool.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "win/platform/app_messages.h"
#include "win/platform/win_clock.h"
#include "win/testing/report_functions.h"
#include "win/testing/test_servers.h"

namespace win {
namespace {

// Shared by every fetcher of one test. The page of a site is its host name;
// host "gate" answers only once the gate is open (or fails when aborted).
struct GateState {
  UniqueKernelHandle gate{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<int> aborts{0};
  std::atomic<int> fetches{0};
};

class GateFetcher final : public core::SiteFetcher {
 public:
  explicit GateFetcher(std::shared_ptr<GateState> state) : state_(std::move(state)) {}

  std::unique_ptr<core::HttpRequest> OpenHttp(const core::SiteRequest& request) override {
    if (WaitForSingleObject(aborted_.get(), 0) == WAIT_OBJECT_0) return nullptr;
    return std::make_unique<Request>(*this, request.host);
  }
  std::unique_ptr<core::FtpSession> OpenFtp(std::string_view) override { return nullptr; }
  void Abort() override {
    ++state_->aborts;
    SetEvent(aborted_.get());
  }

 private:
  class Request final : public core::HttpRequest {
   public:
    Request(GateFetcher& fetcher, std::string host) : fetcher_(fetcher), host_(std::move(host)) {}
    core::TransferResult SendAndRead(const std::function<bool(std::string_view)>& sink) override {
      ++fetcher_.state_->fetches;
      if (host_ == "gate") {
        HANDLE events[] = {fetcher_.state_->gate.get(), fetcher_.aborted_.get()};
        if (WaitForMultipleObjects(2, events, FALSE, 30000) != WAIT_OBJECT_0) {
          return core::TransferResult::kFailed;
        }
      }
      sink(host_);
      return core::TransferResult::kComplete;
    }

   private:
    GateFetcher& fetcher_;
    std::string host_;
  };

  std::shared_ptr<GateState> state_;
  UniqueKernelHandle aborted_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

core::VerifyRun RunFor(const std::string& host) {
  core::VerifyRun run;
  EXPECT_TRUE(run.SetProxyLine("127.0.0.1:8080"));
  EXPECT_TRUE(run.AddSite("http://" + host + "/", host));
  return run;
}

struct Report {
  int slot;
  uint64_t generation;
  std::vector<core::SiteOutcome> outcomes;
};

class VerifyWorkerPoolTest : public testing::Test {
 protected:
  void SetUp() override {
    baseline_ = VerifyWorker::LiveThreads();
    pool_ = std::make_unique<VerifyWorkerPool>(
        [state = state_] { return std::make_unique<GateFetcher>(state); },
        std::make_shared<WinClock>());
    ASSERT_TRUE(pool_->Create()) << GetLastError();
    to_test_.Set([this](int slot, uint64_t generation, const auto& outcomes) {
      reports_.push_back({slot, generation, outcomes});
      if (on_report_) on_report_(slot, generation);
    });
    pool_->SetReportTarget(&to_test_);
  }

  void TearDown() override {
    SetEvent(state_->gate.get());
    pool_.reset();
    // Every thread ends by itself once abandoned; none is waited for by the pool.
    EXPECT_TRUE(PumpUntil([this] { return VerifyWorker::LiveThreads() == baseline_; }))
        << VerifyWorker::LiveThreads() - baseline_ << " worker threads still running";
  }

  int ReportsFor(int slot) const {
    int n = 0;
    for (const Report& r : reports_) n += r.slot == slot;
    return n;
  }

  int baseline_ = 0;
  std::shared_ptr<GateState> state_ = std::make_shared<GateState>();
  WorkerReportFunction to_test_;  // declared before the pool, which reports to it
  std::unique_ptr<VerifyWorkerPool> pool_;
  std::vector<Report> reports_;
  std::function<void(int, uint64_t)> on_report_;
};

TEST_F(VerifyWorkerPoolTest, EveryWorkerReportsOnceWithItsGeneration) {
  constexpr int kWorkers = 20;
  for (int slot = 0; slot < kWorkers; ++slot) {
    ASSERT_EQ(pool_->Start(slot, 1000 + slot, RunFor("site" + std::to_string(slot))),
              core::StartResult::kStarted);
  }
  EXPECT_EQ(pool_->worker_count(), kWorkers);
  ASSERT_TRUE(PumpUntil([&] { return reports_.size() == kWorkers; }));
  PumpFor(200);
  ASSERT_EQ(reports_.size(), size_t(kWorkers));
  for (const Report& r : reports_) {
    EXPECT_EQ(r.generation, uint64_t(1000 + r.slot));
    EXPECT_EQ(ReportsFor(r.slot), 1) << r.slot;
    ASSERT_EQ(r.outcomes.size(), 1u);
    EXPECT_EQ(r.outcomes[0].status, core::kSiteUsable) << r.slot;
  }
}

TEST_F(VerifyWorkerPoolTest, AnAbandonedWorkerNeverReportsAgain) {
  for (int slot = 0; slot < 3; ++slot) {
    ASSERT_EQ(pool_->Start(slot, 10 + slot, RunFor("gate")), core::StartResult::kStarted);
  }
  ASSERT_TRUE(PumpUntil([&] { return state_->fetches == 3; }));
  std::vector<core::SiteOutcome> reached = pool_->Abandon(1);
  ASSERT_EQ(reached.size(), 1u);
  EXPECT_EQ(reached[0].status, core::kSiteNotTested);
  EXPECT_EQ(state_->aborts, 1);
  EXPECT_FALSE(pool_->busy(1));
  EXPECT_EQ(pool_->Abandon(1).size(), 0u) << "the slot is empty after an abandonment";

  SetEvent(state_->gate.get());
  ASSERT_TRUE(PumpUntil([&] { return reports_.size() == 2; }));
  PumpUntil([&] {
    pool_->ReapEnded();
    return pool_->abandoned_count() == 0;
  });
  PumpFor(100);
  EXPECT_EQ(ReportsFor(0), 1);
  EXPECT_EQ(ReportsFor(1), 0);
  EXPECT_EQ(ReportsFor(2), 1);
  EXPECT_EQ(pool_->abandoned_count(), 0);
}

TEST_F(VerifyWorkerPoolTest, AReportAlreadyPostedWhenAbandonedIsDropped) {
  ASSERT_EQ(pool_->Start(0, 5, RunFor("gate")), core::StartResult::kStarted);
  ASSERT_TRUE(PumpUntil([&] { return state_->fetches == 1; }));
  // Without pumping, the done report waits in the queue while the worker idles.
  SetEvent(state_->gate.get());
  DWORD start = GetTickCount();
  while (pool_->busy(0) && GetTickCount() - start < 10000) Sleep(5);
  ASSERT_FALSE(pool_->busy(0));
  std::vector<core::SiteOutcome> reached = pool_->Abandon(0);
  ASSERT_EQ(reached.size(), 1u);
  EXPECT_EQ(reached[0].status, core::kSiteUsable);
  PumpFor(200);
  EXPECT_TRUE(reports_.empty());
}

TEST_F(VerifyWorkerPoolTest, ReportsOfAnOlderGenerationAreIgnored) {
  ASSERT_EQ(pool_->Start(4, 1, RunFor("quick")), core::StartResult::kStarted);
  ASSERT_TRUE(PumpUntil([&] { return reports_.size() == 1; }));
  ASSERT_EQ(pool_->Start(4, 2, RunFor("gate")), core::StartResult::kStarted);
  // A stale report of the first run, and one of the second before it finished.
  pool_->HandleReport(4, 1);
  pool_->HandleReport(4, 2);
  PumpFor(150);
  EXPECT_EQ(reports_.size(), 1u);
  SetEvent(state_->gate.get());
  ASSERT_TRUE(PumpUntil([&] { return reports_.size() == 2; }));
  EXPECT_EQ(reports_[1].generation, 2u);
  PumpFor(100);
  EXPECT_EQ(reports_.size(), 2u);
}

TEST_F(VerifyWorkerPoolTest, AWorkerIsReArmedFromInsideItsReport) {
  on_report_ = [this](int slot, uint64_t generation) {
    if (generation < 5) pool_->Start(slot, generation + 1, RunFor("again"));
  };
  ASSERT_EQ(pool_->Start(7, 1, RunFor("again")), core::StartResult::kStarted);
  ASSERT_TRUE(PumpUntil([&] { return reports_.size() == 5; }));
  for (size_t i = 0; i < reports_.size(); ++i) EXPECT_EQ(reports_[i].generation, i + 1);
  // One thread served all five runs.
  EXPECT_EQ(VerifyWorker::LiveThreads() - baseline_, 1);
  EXPECT_EQ(pool_->worker_count(), 1);
}

TEST_F(VerifyWorkerPoolTest, ReleaseAllStopsIdleAndBusyWorkers) {
  ASSERT_EQ(pool_->Start(0, 1, RunFor("quick")), core::StartResult::kStarted);
  ASSERT_EQ(pool_->Start(1, 2, RunFor("gate")), core::StartResult::kStarted);
  ASSERT_TRUE(PumpUntil([&] { return reports_.size() == 1 && state_->fetches == 2; }));
  pool_->ReleaseAll();
  EXPECT_EQ(pool_->worker_count(), 0);
  EXPECT_TRUE(PumpUntil([&] { return VerifyWorker::LiveThreads() == baseline_; }));
  PumpFor(100);
  EXPECT_EQ(reports_.size(), 1u);
}

TEST_F(VerifyWorkerPoolTest, AWorkerAbandonedBeforeItsThreadExistsNeverRuns) {
  ASSERT_EQ(pool_->Start(3, 9, RunFor("quick")), core::StartResult::kStarted);
  std::vector<core::SiteOutcome> reached = pool_->Abandon(3);  // no message pumped yet
  ASSERT_EQ(reached.size(), 1u);
  EXPECT_EQ(reached[0].status, core::kSiteNotTested);
  PumpFor(200);
  EXPECT_TRUE(reports_.empty());
  EXPECT_EQ(state_->fetches, 0);
}

TEST_F(VerifyWorkerPoolTest, AWorkerWithoutAThreadReportsNoSitesAndWaitsForItsReport) {
  VerifyWorker::FailThreadCreationForTesting(true);
  ASSERT_EQ(pool_->Start(2, 5, RunFor("quick")), core::StartResult::kStarted);
  // Let the worker try to come up (the pool's own spawn, one posted function
  // a message), but leave its report in the queue.
  MSG msg;
  bool queued = false;
  DWORD start = GetTickCount();
  while (pool_->spawning() && GetTickCount() - start < 10000) {
    if (PeekMessageW(&msg, nullptr, WM_DISPATCH, WM_DISPATCH, PM_REMOVE)) {
      DispatchMessageW(&msg);
    } else {
      Sleep(5);
    }
  }
  while (!queued && GetTickCount() - start < 10000) {
    queued = PeekMessageW(&msg, nullptr, WM_DISPATCH, WM_DISPATCH, PM_NOREMOVE);
    if (!queued) Sleep(5);
  }
  VerifyWorker::FailThreadCreationForTesting(false);
  ASSERT_TRUE(queued);
  pool_->ReapEnded();  // the reaping timer fires before the report is handled
  PumpFor(100);
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].slot, 2);
  EXPECT_EQ(reports_[0].generation, 5u);
  // No site was tested: the row is finished as not verified, not as failed.
  EXPECT_TRUE(reports_[0].outcomes.empty());
  pool_->ReapEnded();
  EXPECT_EQ(pool_->worker_count(), 0);
}

TEST_F(VerifyWorkerPoolTest, RefusesSlotsOutsideThePool) {
  EXPECT_EQ(pool_->Start(-1, 1, RunFor("quick")), core::StartResult::kNoWorker);
  EXPECT_EQ(pool_->Start(core::kWorkerSlots, 1, RunFor("quick")), core::StartResult::kNoWorker);
  EXPECT_TRUE(pool_->Abandon(core::kWorkerSlots).empty());
  EXPECT_EQ(pool_->worker_count(), 0);
}

TEST(VerifyWorkerPoolNoFetcherTest, AFactoryWithoutFetcherMeansNoWorker) {
  VerifyWorkerPool pool([] { return std::unique_ptr<core::SiteFetcher>(); },
                        std::make_shared<WinClock>());
  ASSERT_TRUE(pool.Create());
  EXPECT_EQ(pool.Start(0, 1, RunFor("quick")), core::StartResult::kNoWorker);
}

}  // namespace
}  // namespace win
