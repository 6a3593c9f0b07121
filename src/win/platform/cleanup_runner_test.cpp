// CleanupRunner with real threads: the cleanup runs off the calling thread, the
// report comes as a posted message after it, and an abandoned runner's thread
// never posts. The cleanups here wait for the test's go-ahead, so nothing
// depends on timing.
#include "win/platform/cleanup_runner.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>

#include "win/platform/unique_handle.h"

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

class CleanupRunnerTest : public testing::Test {
 protected:
  void SetUp() override {
    window_ =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override { DestroyWindow(window_); }

  // Waits for the next report to the window; false when none comes.
  bool NextReport(MSG* msg) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < kWaitMs) {
      if (PeekMessageW(msg, window_, WM_CLEANUP_DONE, WM_CLEANUP_DONE, PM_REMOVE)) return true;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
    }
    return false;
  }
  bool AnyReport() {
    MSG msg;
    return PeekMessageW(&msg, window_, WM_CLEANUP_DONE, WM_CLEANUP_DONE, PM_REMOVE) != FALSE;
  }

  HWND window_ = nullptr;
};

TEST_F(CleanupRunnerTest, CleansOffThisThreadThenReportsTheText) {
  auto gate = std::make_shared<Gate>();
  CleanupRunner runner(window_, GatedCleanup(gate));
  runner.CleanThenSwitch(core::RowId{11});
  EXPECT_TRUE(runner.running());
  // A second switch while the first still cleans is dropped, not queued.
  runner.CleanThenSwitch(core::RowId{12});
  EXPECT_FALSE(AnyReport());
  SetEvent(gate->go.get());

  MSG msg{};
  ASSERT_TRUE(NextReport(&msg));
  EXPECT_TRUE(gate->cleaned);
  EXPECT_NE(gate->thread_id.load(), GetCurrentThreadId());
  core::RowId row = core::kNoRow;
  ASSERT_TRUE(runner.TakeFinished(msg.wParam, &row));
  EXPECT_EQ(row, core::RowId{11});
  EXPECT_FALSE(runner.running());
  EXPECT_FALSE(runner.TakeFinished(msg.wParam, &row));  // taken already

  ASSERT_EQ(WaitForSingleObject(runner.thread(), kWaitMs), WAIT_OBJECT_0);
  EXPECT_FALSE(AnyReport());  // nothing for the dropped switch

  // The next run reports under its own number; the old one is stale.
  runner.CleanThenSwitch(core::RowId{13});
  ASSERT_TRUE(NextReport(&msg));
  EXPECT_FALSE(runner.TakeFinished(msg.wParam - 1, &row));
  ASSERT_TRUE(runner.TakeFinished(msg.wParam, &row));
  EXPECT_EQ(row, core::RowId{13});
}

TEST_F(CleanupRunnerTest, AbandonedRunNeverReports) {
  auto gate = std::make_shared<Gate>();
  HANDLE thread = nullptr;
  {
    CleanupRunner runner(window_, GatedCleanup(gate));
    runner.CleanThenSwitch(core::RowId{14});
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), runner.thread(), GetCurrentProcess(), &thread,
                                SYNCHRONIZE, FALSE, 0));
  }
  SetEvent(gate->go.get());
  ASSERT_EQ(WaitForSingleObject(thread, kWaitMs), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_TRUE(gate->cleaned);
  EXPECT_FALSE(AnyReport());
}

}  // namespace
}  // namespace win
