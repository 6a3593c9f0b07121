#include "core/proxylist/list_save_schedule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace core {
namespace {

// One script step: an event at a time, then the wait the schedule gives (-1: none).
struct Step {
  char event;  // 'e' edited, 'r' result, 'x' run ended, 's' save started, '.' nothing
  uint32_t at;
  int64_t wait;
};

TEST(ListSaveScheduleTest, SavesEditsWithinASecondAndResultsEveryThirtySeconds) {
  constexpr uint32_t kWrap = 0xFFFFFF00u;
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"nothing waits", {{'.', 0, -1}}},
      {"edits coalesce from the first",
       {{'e', 100, 1000}, {'e', 600, 500}, {'e', 1099, 1}, {'.', 1100, 0}, {'.', 5000, 0}}},
      {"a change during a save waits for its own second",
       {{'e', 0, 1000}, {'s', 1000, -1}, {'e', 1200, 1000}, {'.', 2199, 1}}},
      {"results alone wait thirty seconds, then the run's end",
       {{'r', 0, 30000},
        {'r', 29000, 1000},
        {'s', 30000, -1},
        {'r', 31000, 30000},
        {'x', 32000, 0},
        {'s', 32000, -1},
        {'x', 33000, -1}}},
      {"an edit during a run comes first", {{'r', 0, 30000}, {'e', 10000, 1000}, {'s', 11000, -1}}},
      {"results keep the edit's deadline when it is later", {{'e', 0, 1000}, {'r', 500, 500}}},
      {"the tick counter wraps",
       {{'e', kWrap, 1000}, {'.', kWrap + 0x200u, 1000 - 0x200}, {'.', 0x300, 0}}},
  };
  for (const auto& c : cases) {
    ListSaveSchedule schedule;
    for (const Step& step : c.steps) {
      switch (step.event) {
        case 'e':
          schedule.Edited(step.at);
          break;
        case 'r':
          schedule.ResultsChanged(step.at);
          break;
        case 'x':
          schedule.RunEnded();
          break;
        case 's':
          schedule.Started();
          break;
      }
      std::optional<uint32_t> wait = schedule.WaitMs(step.at);
      EXPECT_EQ(wait ? int64_t(*wait) : -1, step.wait) << c.name << " at " << step.at;
    }
  }
}

TEST(ListSaveScheduleTest, AFailureIsToldOnceUntilASaveSucceeds) {
  ListSaveSchedule schedule;
  const struct {
    bool ok;
    bool tell;
  } saves[] = {{true, false}, {false, true}, {false, false}, {true, false}, {false, true}};
  for (const auto& s : saves) EXPECT_EQ(schedule.Ended(s.ok), s.tell);
}

}  // namespace
}  // namespace core
