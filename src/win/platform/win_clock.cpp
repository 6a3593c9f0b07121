#include "win/platform/win_clock.h"

#include <windows.h>

namespace win {

uint32_t WinClock::NowMs() { return GetTickCount(); }

}  // namespace win
