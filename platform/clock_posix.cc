// Time and sleeping on POSIX systems.
#include <time.h>

#include <cerrno>

#include "platform/clock.h"

namespace downsql::platform {

void SleepMs(uint32_t milliseconds) {
  struct timespec left = {time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

uint64_t TickMs() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

LocalDateTime LocalNow() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm t;
  ::localtime_r(&ts.tv_sec, &t);
  return {t.tm_year + 1900,         t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
          int(ts.tv_nsec / 1000000)};
}

}  // namespace downsql::platform
