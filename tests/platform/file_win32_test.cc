// Files on Windows: paths and the current directory, the system's error
// numbers, and byte-range locks between two handles of one process (a lock
// is held by the handle, so a second handle stands for another process).
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/os_error.h"
#include "tests/platform/temp_dir.h"

namespace downsql::platform {
namespace {

TEST(File, PathsAndCurrentDirectory) {
  EXPECT_EQ(NativePath("C:/db/LOTTO.dat"), "C:\\db\\LOTTO.dat");
  EXPECT_EQ(PathSeparator(), '\\');
  std::string cwd = CurrentDirectory();
  EXPECT_EQ(cwd.back(), '\\');
  std::string expected = std::filesystem::current_path().string();
  if (expected.back() != '\\') expected += '\\';
  EXPECT_EQ(cwd, expected);
}

TEST(File, SystemErrorNumbersAsTheyAre) {
  TempDir dir;
  std::string file = dir.File("x.dat");
  try {
    OpenFile(dir.File("missing\\x.dat"), Access::kReadOnly, Share::kShared);
    FAIL();
  } catch (const OsError& e) {
    EXPECT_EQ(e.code(), 3u);  // ERROR_PATH_NOT_FOUND
    EXPECT_NE(std::string(e.what()).find("(error 3)"), std::string::npos) << e.what();
  }
  auto held = CreateFile(file, Share::kExclusive);
  try {
    OpenFile(file, Access::kReadOnly, Share::kShared);
    FAIL();
  } catch (const OsError& e) {
    EXPECT_EQ(e.code(), 32u);  // ERROR_SHARING_VIOLATION
  }
}

TEST(File, LocksBetweenHandlesFailAtOnceAt64BitOffsets) {
  TempDir dir;
  std::string path = dir.File("tabula.lck");
  auto a = CreateFile(path, Share::kShared);
  auto b = OpenFile(path, Access::kReadWrite, Share::kShared);
  constexpr uint64_t kBase = 0x7FFFFFFFFFFFFFFFull - 65535;  // far beyond the end
  ASSERT_TRUE(a->TryLock(kBase, 65535));
  uint64_t before = TickMs();
  struct Case {
    uint64_t offset, length;
    bool granted;
  } cases[] = {
      {kBase, 1, false},             // inside a's range
      {kBase - 1, 2, false},         // overlapping its start
      {kBase + 65534, 1, false},     // its last byte
      {kBase - 1, 1, true},          // the byte before
      {0xFFFF0000ull, 65535, true},  // a 32-bit range elsewhere
  };
  for (const Case& c : cases) {
    EXPECT_EQ(b->TryLock(c.offset, c.length), c.granted) << c.offset;
    if (c.granted) {
      EXPECT_TRUE(b->Unlock(c.offset, c.length));
    }
  }
  EXPECT_LT(TickMs() - before, 2000u) << "a refused lock must not wait";
  EXPECT_FALSE(b->Unlock(kBase, 65535)) << "b holds nothing there";
  EXPECT_FALSE(a->TryLock(kBase + 10, 1)) << "the same handle cannot lock twice";
  a.reset();  // closing releases the handle's locks
  EXPECT_TRUE(b->TryLock(kBase + 10, 1));
}

}  // namespace
}  // namespace downsql::platform
