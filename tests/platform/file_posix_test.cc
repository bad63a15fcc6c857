// Files on POSIX: errno values as Windows error numbers, paths and the
// current directory.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/file.h"
#include "platform/os_error.h"
#include "platform/os_error_posix.h"

namespace downsql::platform {
namespace {

TEST(File, ErrnoTable) {
  struct Case {
    int err;
    uint32_t code;
  } cases[] = {
      {ENOENT, 2},   {ENOTDIR, 3},  {EMFILE, 4},         {EACCES, 5},  {EPERM, 5},  {EROFS, 5},
      {EBADF, 6},    {ENOMEM, 8},   {ENODEV, 15},        {EXDEV, 17},  {EBUSY, 32}, {EAGAIN, 33},
      {ENOSPC, 112}, {EEXIST, 183}, {ENAMETOOLONG, 206}, {EINVAL, 87}, {EIO, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(WinErrorFromErrno(c.err), c.code) << c.err;
  try {
    ThrowErrno(ENOENT, "C:\\db\\x.dat");
    FAIL();
  } catch (const OsError& e) {
    EXPECT_EQ(e.code(), 2u);
    EXPECT_EQ(e.subject(), "C:\\db\\x.dat");
  }
}

TEST(File, PathsAndCurrentDirectory) {
  EXPECT_EQ(NativePath("C:\\db\\LOTTO.dat"), "C:/db/LOTTO.dat");
  EXPECT_EQ(PathSeparator(), '/');
  std::string cwd = CurrentDirectory();
  EXPECT_EQ(cwd.back(), '/');
  EXPECT_EQ(cwd, std::filesystem::current_path().string() + "/");
}

}  // namespace
}  // namespace downsql::platform
