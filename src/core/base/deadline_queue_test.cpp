#include "core/base/deadline_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace core {
namespace {

// A script of steps on timers named by their order of adding, apart by blanks:
// "a" adds one, "s1@300" sets timer 1's deadline to 300 (0: none), "r1" removes
// it, "n300" expects Next() to be 300, "p250=1,2" pops every timer due at 250
// and expects timers 1 and 2 in that order ("p250=": none).
void RunScript(const std::string& script) {
  DeadlineQueue queue;
  std::vector<DeadlineQueue::Timer> ids;
  std::istringstream steps(script);
  for (std::string step; steps >> step;) {
    SCOPED_TRACE(step);
    std::istringstream in(step.substr(1));
    uint64_t a = 0, b = 0;
    char sep = 0;
    in >> a;
    switch (step[0]) {
      case 'a':
        ids.push_back(queue.Add());
        break;
      case 's':
        in >> sep >> b;
        queue.Set(ids.at(a), b);
        break;
      case 'r':
        queue.Remove(ids.at(a));
        break;
      case 'n':
        EXPECT_EQ(queue.Next(), a);
        break;
      case 'p': {
        std::string due;
        while (std::optional<DeadlineQueue::Timer> t = queue.PopDue(a)) {
          size_t newest = ids.size();  // ids are given out again: the newest holder
          while (newest > 0 && ids[newest - 1] != *t) --newest;
          due += (due.empty() ? "" : ",") + std::to_string(int(newest) - 1);
        }
        EXPECT_EQ(due, step.substr(step.find('=') + 1));
        break;
      }
    }
  }
}

TEST(DeadlineQueueTest, TimersFallDueAtTheirLatestSettingNearestFirst) {
  struct Case {
    const char* name;
    const char* script;
  } cases[] = {
      {"nearest first, none early",
       "a a a s0@300 s1@100 s2@200 n100 p99= p250=1,2 n300 p1000=0 n0"},
      {"moved later: not due at the old time", "a s0@100 s0@500 n500 p400= p500=0"},
      {"moved earlier: due once, at the new time, ahead of others",
       "a a s0@500 s1@300 s0@100 p200=0 p600=1"},
      {"cleared: never due", "a s0@100 s0@0 n0 p900="},
      {"popped: due once, and again when set again", "a s0@100 p100=0 p200= s0@300 p300=0"},
      {"removed: never due", "a s0@100 r0 n0 p900="},
      {"a removed timer's id given to a new one: the old deadline is not the new one's",
       "a s0@100 r0 a s1@300 p200= p300=1"},
      {"a removed timer's later setting does not pass to the new one",
       "a s0@100 s0@400 r0 a s1@200 p150= p500=1 n0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunScript(c.script);
  }
}

// Random adds, moves (mostly later, as an idle deadline is pushed on), clears,
// removals and pops, checked against a plain map; the entries left behind by
// moves and removals never pile up.
TEST(DeadlineQueueTest, AgreesWithAPlainMapOverRandomChurnAndStaysSmall) {
  std::mt19937 random(7);
  DeadlineQueue queue;
  std::map<DeadlineQueue::Timer, uint64_t> model;  // timers with a deadline, and those without (0)
  uint64_t now = 1;
  for (int i = 0; i < 100000; ++i) {
    int op = int(random() % 100);
    if (model.size() < 50 || op < 2) {
      model[queue.Add()] = 0;
    } else if (op < 4) {
      auto it = std::next(model.begin(), random() % model.size());
      queue.Remove(it->first);
      model.erase(it);
    } else if (op < 90) {
      auto it = std::next(model.begin(), random() % model.size());
      uint64_t when = op < 6 ? 0 : now + 1 + random() % (op < 80 ? 5000 : 50);
      queue.Set(it->first, when);
      it->second = when;
    } else {
      now += random() % 20;
      while (auto timer = queue.PopDue(now)) {
        uint64_t nearest = UINT64_MAX;
        for (auto& [t, when] : model) {
          if (when) nearest = std::min(nearest, when);
        }
        ASSERT_EQ(model.at(*timer), nearest) << "step " << i;
        ASSERT_LE(nearest, now);
        model[*timer] = 0;
      }
      uint64_t nearest = 0;
      for (auto& [t, when] : model) {
        if (when && (!nearest || when < nearest)) nearest = when;
      }
      ASSERT_EQ(queue.Next(), nearest) << "step " << i;
    }
    size_t live = 0;
    for (auto& [t, when] : model) live += when != 0;
    ASSERT_LE(queue.entries(), 2 * live + 64) << "step " << i;
  }
}

}  // namespace
}  // namespace core
