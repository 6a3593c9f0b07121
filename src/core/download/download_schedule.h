// The automatic download schedule: one silent download at start-up and one every
// N hours, both switched by "Auto download Proxy List when start". The program's
// owner holds one DownloadSchedule for the process and feeds it the start and
// the ticks of its hourly timer; it says when to arm a silent download of the
// configured URL. UI thread only.
#pragma once

#include <cstdint>

#include "core/download/download_settings.h"

namespace core {

inline constexpr uint32_t kDownloadHourMs = 3600000;
// A start-up download waits this long, so that the windows appear first.
inline constexpr uint32_t kDownloadArmDelayMs = 200;

class DownloadSchedule {
 public:
  // Reads the current values of `settings` on every call.
  explicit DownloadSchedule(const DownloadSettings& settings) : settings_(settings) {}

  // Once, after the saved list is loaded: whether to arm a silent download.
  bool OnStartup() const { return settings_.download_at_start; }

  // Every hourly tick. The hour counter goes up on every tick, whether or not
  // automatic download is on; when it is on and the counter has reached the
  // interval, the counter goes back to 0 and the answer is true (arm a silent
  // download). Nothing else resets the counter, so an interval of 0 or 1
  // downloads every hour.
  bool OnHourTick();

  int32_t hours_counted() const { return hours_; }

 private:
  const DownloadSettings& settings_;
  int32_t hours_ = 0;
};

}  // namespace core
