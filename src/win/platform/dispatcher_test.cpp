#include "win/platform/dispatcher.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "win/testing/test_servers.h"

namespace win {
namespace {

// Posts from this thread and from others run here, each poster's in its order;
// what was posted to a receiver that is gone never runs, and what it captured
// is let go.
TEST(DispatcherTest, RunsPostsHereInOrderAndDropsAGoneReceiversPosts) {
  constexpr int kPerThread = 50;
  Inbox inbox;
  std::vector<std::string> ran;
  std::vector<DWORD> ran_on;
  auto record = [&](std::string what) {
    return [&, what] {
      ran.push_back(what);
      ran_on.push_back(GetCurrentThreadId());
    };
  };
  auto captured = std::make_shared<int>(0);
  Poster late;
  {
    Inbox gone;
    EXPECT_TRUE(gone.Post([&ran, captured] { ran.push_back("gone"); }));
    late = gone.poster();
    ASSERT_TRUE(inbox.Post(record("here")));
    std::vector<std::thread> threads;
    for (char name : {'a', 'b'}) {
      threads.emplace_back([name, &record, poster = inbox.poster()] {
        for (int i = 0; i < kPerThread; ++i) poster.Post(record(name + std::to_string(i)));
      });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(captured.use_count(), 2);
  }
  EXPECT_FALSE(late.Post([] {}));
  EXPECT_FALSE(Poster().Post([] {}));
  ASSERT_TRUE(PumpUntil([&] { return ran.size() == 1 + 2 * kPerThread; }));
  PumpFor(50);
  ASSERT_EQ(ran.size(), 1u + 2 * kPerThread);
  EXPECT_EQ(ran[0], "here");
  EXPECT_EQ(captured.use_count(), 1);
  for (char name : {'a', 'b'}) {
    int next = 0;
    for (const std::string& r : ran) {
      if (r[0] == name) {
        EXPECT_EQ(r, name + std::to_string(next++));
      }
    }
    EXPECT_EQ(next, kPerThread) << name;
  }
  for (DWORD id : ran_on) EXPECT_EQ(id, GetCurrentThreadId());
}

// A posted function that opens a modal loop (a message box) does not hold the
// rest back, and they still run in order.
TEST(DispatcherTest, AModalLoopInAPostRunsTheRest) {
  Inbox inbox;
  std::string ran;
  inbox.Post([&] {
    ran += "1(";
    PumpUntil([&] { return ran.size() >= 4; }, 5000);
    ran += ")";
  });
  inbox.Post([&] { ran += "2"; });
  inbox.Post([&] { ran += "3"; });
  ASSERT_TRUE(PumpUntil([&] { return ran.size() == 5; }, 5000));
  EXPECT_EQ(ran, "1(23)");
}

// Repeating and one-shot timers, stopped by hand and by their destruction; a
// callback may destroy its own timer.
TEST(DispatcherTest, TimersFireUntilStoppedOrDestroyed) {
  int fired = 0;
  auto count = [&] { ++fired; };
  Timer repeating, once;
  EXPECT_NE(repeating.id(), once.id());
  repeating.Start(60000, count);
  FireTimer(repeating);
  FireTimer(repeating);
  EXPECT_TRUE(repeating.active());
  repeating.Stop();
  FireTimer(repeating);  // a WM_TIMER queued before the stop
  EXPECT_EQ(fired, 2);
  once.StartOnce(60000, count);
  FireTimer(once);
  FireTimer(once);
  EXPECT_EQ(fired, 3);
  EXPECT_FALSE(once.active());
  // A real one: the system's WM_TIMER reaches it.
  once.StartOnce(1, count);
  EXPECT_TRUE(PumpUntil([&] { return fired == 4; }, 5000));

  HWND window = nullptr;
  UINT_PTR id = 0;
  {
    Timer gone;
    gone.Start(60000, count);
    window = gone.window();
    id = gone.id();
  }
  EXPECT_FALSE(KillTimer(window, id));  // killed already
  SendMessageW(window, WM_TIMER, id, 0);
  auto self_destroying = std::make_unique<Timer>();
  self_destroying->Start(60000, [&] {
    self_destroying.reset();
    ++fired;
  });
  FireTimer(*self_destroying);
  EXPECT_EQ(self_destroying, nullptr);
  EXPECT_EQ(fired, 5);
}

}  // namespace
}  // namespace win
