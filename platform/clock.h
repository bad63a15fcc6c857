// Time and sleeping.
#pragma once

#include <cstdint>

namespace downsql::platform {

void SleepMs(uint32_t milliseconds);

// A millisecond counter that only goes forward (arbitrary origin).
uint64_t TickMs();

struct LocalDateTime {
  int year, month, day;  // 1-based month and day
  int hour, minute, second, millisecond;
};

// The local date and time now.
LocalDateTime LocalNow();

}  // namespace downsql::platform
