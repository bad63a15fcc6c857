// POSIX errno values as Windows error numbers (POSIX builds only; used by
// the *_posix.cc files and their tests).
#pragma once

#include <cstdint>
#include <string>

namespace downsql::platform {

// The Windows error number that stands for a POSIX errno value; errno values
// without a counterpart become 1 (invalid function).
uint32_t WinErrorFromErrno(int err);

// Raises OsError for errno value err concerning subject (a path), with the
// system's text in the message.
[[noreturn]] void ThrowErrno(int err, const std::string& subject);

// Raises OsError with a Windows error number chosen by the caller.
[[noreturn]] void ThrowWinError(uint32_t code, const std::string& subject);

}  // namespace downsql::platform
