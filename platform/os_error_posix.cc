// The one table that turns errno into the Windows error numbers the engine
// understands. Numbers the engine does not distinguish map to the closest
// Windows meaning; anything else is 1 (invalid function), which the engine
// reports as an unknown operating system error.
#include "platform/os_error_posix.h"

#include <cerrno>
#include <cstring>

#include "platform/os_error.h"

namespace downsql::platform {
namespace {

struct ErrnoMapping {
  int err;
  uint32_t code;
};

constexpr ErrnoMapping kErrnoToWindows[] = {
    {ENOENT, kErrorFileNotFound},           // a missing parent becomes 3 at the call site
    {ENOTDIR, kErrorPathNotFound},          //
    {ELOOP, kErrorPathNotFound},            //
    {EMFILE, kErrorTooManyOpenFiles},       //
    {ENFILE, kErrorTooManyOpenFiles},       //
    {EACCES, kErrorAccessDenied},           //
    {EPERM, kErrorAccessDenied},            //
    {EISDIR, kErrorAccessDenied},           // Windows refuses to open a directory as a file
    {EROFS, kErrorAccessDenied},            // read-only file system: the read-only fallback applies
    {ETXTBSY, kErrorSharingViolation},      //
    {EBUSY, kErrorSharingViolation},        //
    {EWOULDBLOCK, kErrorLockViolation},     //
    {EBADF, kErrorInvalidHandle},           //
    {ENOMEM, kErrorNotEnoughMemory},        //
    {ENODEV, kErrorInvalidDrive},           //
    {ENXIO, kErrorInvalidDrive},            //
    {EXDEV, kErrorNotSameDevice},           //
    {ENOSPC, kErrorDiskFull},               //
    {EDQUOT, kErrorDiskFull},               //
    {EFBIG, kErrorDiskFull},                //
    {EEXIST, kErrorAlreadyExists},          // CreateFile turns it into 80 (file exists)
    {ENOTEMPTY, kErrorDirNotEmpty},         //
    {ENAMETOOLONG, kErrorFilenameTooLong},  //
    {EINVAL, kErrorInvalidParameter},       //
    {EOVERFLOW, kErrorInvalidParameter},    //
    {ENOTSUP, kErrorNotSupported},          //
    {ENOSYS, kErrorNotSupported},           //
};

}  // namespace

uint32_t WinErrorFromErrno(int err) {
  for (const ErrnoMapping& m : kErrnoToWindows) {
    if (m.err == err) return m.code;
  }
  return kErrorInvalidFunction;
}

void ThrowErrno(int err, const std::string& subject) {
  uint32_t code = WinErrorFromErrno(err);
  throw OsError(code, subject,
                subject + ": " + std::strerror(err) + " (error " + std::to_string(code) + ")");
}

void ThrowWinError(uint32_t code, const std::string& subject) {
  throw OsError(code, subject, subject + ": error " + std::to_string(code));
}

}  // namespace downsql::platform
