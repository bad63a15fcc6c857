// Windows system errors as OsError (Win32 builds only; used by the
// *_win32.cc files). The error numbers need no mapping on this side.
#pragma once

#include <cstdint>
#include <string>

namespace downsql::platform {

// Raises OsError for the calling thread's last error concerning subject.
[[noreturn]] void ThrowLastError(const std::string& subject);

// Raises OsError with a Windows error number chosen by the caller.
[[noreturn]] void ThrowWinError(uint32_t code, const std::string& subject);

}  // namespace downsql::platform
