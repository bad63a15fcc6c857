// Time and sleeping on Windows.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/clock.h"

namespace downsql::platform {

void SleepMs(uint32_t milliseconds) { ::Sleep(milliseconds); }

// The performance counter rather than GetTickCount64, whose value moves in
// steps of the system timer (about 16 ms): a pause of n ms must read as at
// least n ms.
uint64_t TickMs() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return uint64_t(now.QuadPart / frequency * 1000 + now.QuadPart % frequency * 1000 / frequency);
}

LocalDateTime LocalNow() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

}  // namespace downsql::platform
