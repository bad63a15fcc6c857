#include "tests/platform/fault_injection.h"

#include <gtest/gtest.h>

#include "tests/platform/temp_dir.h"

namespace downsql::platform {
namespace {

TEST(FaultInjection, FailsShortensAndRefusesTheChosenCalls) {
  TempDir dir;
  FaultInjectingFile f(CreateFile(dir.File("t.dat"), Share::kShared));
  f.FailNth(FaultOp::kWrite, 2, kErrorDiskFull);
  f.ShortNth(FaultOp::kWrite, 3, 2);
  f.ShortNth(FaultOp::kRead, 1, 1);
  f.FailNth(FaultOp::kFlush, 1, kErrorInvalidFunction, /*sticky=*/true);
  f.RefuseNthLock(1);

  EXPECT_EQ(f.WriteAt(0, "abcd", 4), 4u);
  try {
    f.WriteAt(4, "efgh", 4);
    FAIL();
  } catch (const OsError& e) {
    EXPECT_EQ(e.code(), kErrorDiskFull);
    EXPECT_EQ(e.subject(), dir.File("t.dat"));
  }
  EXPECT_EQ(f.WriteAt(4, "efgh", 4), 2u);
  EXPECT_EQ(f.Size(), 6u);
  char buf[6];
  EXPECT_EQ(f.ReadAt(0, buf, 6), 1u);
  EXPECT_EQ(f.ReadAt(0, buf, 6), 6u);
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  EXPECT_THROW(f.Flush(), OsError);
  EXPECT_THROW(f.Flush(), OsError);
  EXPECT_FALSE(f.TryLock(0, 1));
  EXPECT_TRUE(f.TryLock(0, 1));
  EXPECT_EQ(f.calls(FaultOp::kWrite), 3);
  EXPECT_EQ(f.calls(FaultOp::kLock), 2);
}

}  // namespace
}  // namespace downsql::platform
