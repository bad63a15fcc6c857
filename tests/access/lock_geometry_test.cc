#include "db/access/lock_geometry.h"

#include <gtest/gtest.h>

namespace downsql::access {
namespace {

struct Case {
  const char* lock;
  TLockRange small;  // LargeFileSupport off
  TLockRange large;  // LargeFileSupport on
  TLockRange (*of)(const TLockGeometry&);
};

TEST(LockGeometry, OffsetsForBothSettings) {
  const Case cases[] = {
      {"directory region",
       {0xFFFF0000, 65535},
       {0x7FFFFFFFFFFF0000, 65535},
       [](const TLockGeometry& g) { return g.DirectoryRegion(); }},
      {"directory read slot 1",
       {0xFFFF0000, 1},
       {0x7FFFFFFFFFFF0000, 1},
       [](const TLockGeometry& g) { return g.DirectoryReadLock(1); }},
      {"directory read slot 65534",
       {0xFFFFFFFD, 1},
       {0x7FFFFFFFFFFFFFFD, 1},
       [](const TLockGeometry& g) { return g.DirectoryReadLock(65534); }},
      {"directory write",
       {0xFFFF0000, 65535},
       {0x7FFFFFFFFFFF0000, 65535},
       [](const TLockGeometry& g) { return g.DirectoryWriteLock(); }},
      {"transaction byte 1",
       {0xFFFEFFFF, 1},
       {0x7FFFFFFFFFFEFFFF, 1},
       [](const TLockGeometry& g) { return g.TransactionByte(1); }},
      {"transaction byte 4096",
       {0xFFFEF000, 1},
       {0x7FFFFFFFFFFEF000, 1},
       [](const TLockGeometry& g) { return g.TransactionByte(4096); }},
      {"all transaction bytes",
       {0xFFFEF000, 4096},
       {0x7FFFFFFFFFFEF000, 4096},
       [](const TLockGeometry& g) { return g.AllTransactionBytes(); }},
      {"region 1",
       {0xFFFDF001, 65535},
       {0x7FFFFFFFFFFDF001, 65535},
       [](const TLockGeometry& g) { return g.TableRegion(1); }},
      {"region 2",
       {0xFFFCF002, 65535},
       {0x7FFFFFFFFFFCF002, 65535},
       [](const TLockGeometry& g) { return g.TableRegion(2); }},
      {"region 4096",
       {0xEFFF0000, 65535},
       {0x7FFFFFFFEFFF0000, 65535},
       [](const TLockGeometry& g) { return g.TableRegion(4096); }},
      {"table 1 read slot 1",
       {0xFFFDF001, 1},
       {0x7FFFFFFFFFFDF001, 1},
       [](const TLockGeometry& g) { return g.TableReadLock(1, 1); }},
      {"table 1 read slot 65534",
       {0xFFFEEFFE, 1},
       {0x7FFFFFFFFFFEEFFE, 1},
       [](const TLockGeometry& g) { return g.TableReadLock(1, 65534); }},
      {"table 1 write",
       {0xFFFDF001, 65535},
       {0x7FFFFFFFFFFDF001, 65535},
       [](const TLockGeometry& g) { return g.TableWriteLock(1); }},
      {"all write locks",
       {0xEFFF0000, 268431360},
       {0x7FFFFFFFEFFF0000, 268431360},
       [](const TLockGeometry& g) { return g.AllTableWriteLocks(); }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.of(TLockGeometry(false)), c.small) << c.lock;
    EXPECT_EQ(c.of(TLockGeometry(true)), c.large) << c.lock;
  }
}

TEST(LockGeometry, RegionsTileWithoutOverlap) {
  for (bool large : {false, true}) {
    TLockGeometry g(large);
    // The write regions end where the transaction bytes begin, which end
    // where the directory region begins, which ends at the lock base.
    EXPECT_EQ(g.TableRegion(1).offset + 65535, g.AllTransactionBytes().offset);
    EXPECT_EQ(g.AllTransactionBytes().offset + 4096, g.DirectoryRegion().offset);
    EXPECT_EQ(g.DirectoryRegion().offset + 65535, g.base());
    EXPECT_EQ(g.AllTableWriteLocks().offset, g.TableRegion(4096).offset);
  }
}

}  // namespace
}  // namespace downsql::access
