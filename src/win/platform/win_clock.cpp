#include "win/platform/win_clock.h"

#include <windows.h>

namespace win {

uint32_t WinClock::NowMs() { return GetTickCount(); }

double PreciseMs() {
  static const double ticks_per_ms = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(frequency.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return double(now.QuadPart) / ticks_per_ms;
}

}  // namespace win
