// Operating-system errors as the engine sees them.
//
// Every platform implementation reports a failed system call as an OsError
// carrying a Windows error number, so that one mapping table in the engine
// (Windows number -> engine code) serves both systems. The POSIX side maps
// errno onto these numbers in one place (os_error_posix.cc).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace downsql::platform {

// Windows error numbers the engine distinguishes.
enum WinError : uint32_t {
  kErrorSuccess = 0,
  kErrorInvalidFunction = 1,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorOutOfMemory = 14,
  kErrorInvalidDrive = 15,
  kErrorNotSameDevice = 17,
  kErrorWriteProtect = 19,
  kErrorSharingViolation = 32,
  kErrorLockViolation = 33,
  kErrorHandleDiskFull = 39,
  kErrorNotSupported = 50,
  kErrorNetworkAccessDenied = 65,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorInvalidName = 123,
  kErrorDirNotEmpty = 145,
  kErrorAlreadyExists = 183,
  kErrorFilenameTooLong = 206,
};

// A failed operating-system call: the Windows error number, the path (or
// other subject) it concerned and the system's own text.
class OsError : public std::runtime_error {
 public:
  OsError(uint32_t code, std::string subject, const std::string& what)
      : std::runtime_error(what), code_(code), subject_(std::move(subject)) {}
  uint32_t code() const { return code_; }
  const std::string& subject() const { return subject_; }

 private:
  uint32_t code_;
  std::string subject_;
};

}  // namespace downsql::platform
