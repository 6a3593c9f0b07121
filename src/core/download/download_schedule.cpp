#include "core/download/download_schedule.h"

namespace core {

bool DownloadSchedule::OnHourTick() {
  ++hours_;
  if (!settings_.download_at_start || hours_ < settings_.interval_hours) return false;
  hours_ = 0;
  return true;
}

}  // namespace core
