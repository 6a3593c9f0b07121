// WinClock: the core Clock on GetTickCount (milliseconds since boot, wrapping
// every 49.7 days as the core expects). Stateless; any thread.
#pragma once

#include "core/verify/site_fetcher.h"

namespace win {

class WinClock final : public core::Clock {
 public:
  uint32_t NowMs() override;
};

// Milliseconds on the performance counter, with fractions: for timing short
// spans (a slice of work, a benchmark), not for deadlines.
double PreciseMs();

}  // namespace win
