#include "core/download/download_schedule.h"

#include <gtest/gtest.h>

namespace core {
namespace {

// The ticks (1-based) on which a download is armed over `ticks` hours.
std::vector<int> ArmedTicks(DownloadSchedule& schedule, int ticks) {
  std::vector<int> armed;
  for (int t = 1; t <= ticks; ++t) {
    if (schedule.OnHourTick()) armed.push_back(t);
  }
  return armed;
}

TEST(DownloadScheduleTest, StartupAndHourlyDownloads) {
  struct Case {
    bool at_start;
    int32_t interval;
    bool startup;
    std::vector<int> armed;  // over ten hours
  } cases[] = {
      {true, 3, true, {3, 6, 9}},
      {true, 0, true, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {true, 1, true, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {true, 2400, true, {}},
      {false, 3, false, {}},
      {false, 0, false, {}},
  };
  for (const Case& c : cases) {
    DownloadSettings settings;
    settings.download_at_start = c.at_start;
    settings.interval_hours = c.interval;
    DownloadSchedule schedule(settings);
    EXPECT_EQ(schedule.OnStartup(), c.startup) << c.at_start << " " << c.interval;
    EXPECT_EQ(ArmedTicks(schedule, 10), c.armed) << c.at_start << " " << c.interval;
  }
}

TEST(DownloadScheduleTest, CounterRunsWhileOffAndFollowsTheCurrentSettings) {
  DownloadSettings settings;
  settings.interval_hours = 3;
  DownloadSchedule schedule(settings);
  EXPECT_TRUE(ArmedTicks(schedule, 5).empty());
  EXPECT_EQ(schedule.hours_counted(), 5);
  settings.download_at_start = true;  // switched on by "确定"
  EXPECT_EQ(ArmedTicks(schedule, 7), (std::vector<int>{1, 4, 7}));
  settings.interval_hours = 10;  // counted from the last automatic download
  EXPECT_EQ(ArmedTicks(schedule, 10), (std::vector<int>{10}));
}

}  // namespace
}  // namespace core
