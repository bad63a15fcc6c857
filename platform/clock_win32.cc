// Time and sleeping on Windows.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/clock.h"

namespace downsql::platform {

void SleepMs(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint64_t TickMs() { return ::GetTickCount64(); }

LocalDateTime LocalNow() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

}  // namespace downsql::platform
