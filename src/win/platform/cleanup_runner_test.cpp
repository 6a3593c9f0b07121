// CleanupRunner with real threads: the cleanup runs off the calling thread, the
// report comes back to this thread after it, and an abandoned runner's thread
// never reports. The cleanups here wait for the test's go-ahead, so nothing
// depends on timing.
#include "win/platform/cleanup_runner.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "win/platform/unique_handle.h"
#include "win/testing/test_servers.h"

namespace win {
namespace {

constexpr DWORD kWaitMs = 10000;  // a bound against hanging, never a delay

struct Gate {
  UniqueKernelHandle go{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<bool> cleaned{false};
  std::atomic<DWORD> thread_id{0};
};

CleanupRunner::Cleanup GatedCleanup(std::shared_ptr<Gate> gate) {
  return [gate] {
    gate->thread_id = GetCurrentThreadId();
    WaitForSingleObject(gate->go.get(), kWaitMs);
    gate->cleaned = true;
  };
}

// Collects the runner's reports: the rows it hands back, on this thread.
struct Reports {
  std::vector<core::RowId> rows;
  CleanupRunner::Done done() {
    return [this](core::RowId row) { rows.push_back(row); };
  }
};

TEST(CleanupRunnerTest, CleansOffThisThreadThenReportsTheRow) {
  auto gate = std::make_shared<Gate>();
  Reports reports;
  CleanupRunner runner(reports.done(), GatedCleanup(gate));
  runner.CleanThenSwitch(core::RowId{11});
  EXPECT_TRUE(runner.running());
  // A second switch while the first still cleans is dropped, not queued.
  runner.CleanThenSwitch(core::RowId{12});
  PumpFor(50);
  EXPECT_TRUE(reports.rows.empty());
  SetEvent(gate->go.get());

  ASSERT_TRUE(PumpUntil([&] { return !reports.rows.empty(); }, kWaitMs));
  EXPECT_TRUE(gate->cleaned);
  EXPECT_NE(gate->thread_id.load(), GetCurrentThreadId());
  EXPECT_EQ(reports.rows, (std::vector<core::RowId>{core::RowId{11}}));
  EXPECT_FALSE(runner.running());
  ASSERT_EQ(WaitForSingleObject(runner.thread(), kWaitMs), WAIT_OBJECT_0);
  PumpFor(50);
  EXPECT_EQ(reports.rows.size(), 1u);  // nothing for the dropped switch

  runner.CleanThenSwitch(core::RowId{13});
  ASSERT_TRUE(PumpUntil([&] { return reports.rows.size() == 2; }, kWaitMs));
  EXPECT_EQ(reports.rows.back(), core::RowId{13});
}

TEST(CleanupRunnerTest, AbandonedRunNeverReports) {
  auto gate = std::make_shared<Gate>();
  Reports reports;
  HANDLE thread = nullptr;
  {
    CleanupRunner runner(reports.done(), GatedCleanup(gate));
    runner.CleanThenSwitch(core::RowId{14});
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), runner.thread(), GetCurrentProcess(), &thread,
                                SYNCHRONIZE, FALSE, 0));
  }
  SetEvent(gate->go.get());
  ASSERT_EQ(WaitForSingleObject(thread, kWaitMs), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_TRUE(gate->cleaned);
  PumpFor(50);
  EXPECT_TRUE(reports.rows.empty());
}

}  // namespace
}  // namespace win
