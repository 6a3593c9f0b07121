// Clock: monotonic milliseconds, the one time source of the verification and
// the schedules. The Windows shell reads the system tick count; tests use a
// manual clock and never sleep. Implementations may be called from any thread.
#pragma once

#include <cstdint>

namespace core {

// Monotonic milliseconds as a 32-bit tick count. It wraps about every 49.7 days;
// callers take differences as unsigned 32-bit numbers.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t NowMs() = 0;
};

}  // namespace core
