// Where the locks of a database directory lie in its lock file.
//
// Every lock is an exclusive byte-range lock, almost all of them far beyond
// the end of the file. With B the lock base (0xFFFFFFFF, or
// 0x7FFFFFFFFFFFFFFF with large file support), R = 65535 and T = 4096:
//
//   LOCK                             OFFSET                  LENGTH
//   directory region                 B - R                   R
//   directory read lock              B - R + s - 1           1      (s = 1..65534)
//   directory write lock             B - R                   R
//   transaction byte of table n      B - R - n               1      (n = 1..4096)
//   transaction bytes of all tables  B - R - T               T
//   region of table n                B - R - T - n*R         R
//   read lock of table n             region(n) + s - 1       1      (s = 1..65534)
//   write lock of table n            region(n)               R
//   write locks of all tables        B - R - T - T*R         T*R
//
// A reader takes one random byte s of a region, so readers coexist while
// their bytes differ; a writer takes the whole region and so excludes all
// readers and other writers.
#pragma once

#include <cstdint>

namespace downsql::access {

struct TLockRange {
  uint64_t offset;
  uint64_t length;
  bool operator==(const TLockRange&) const = default;
};

class TLockGeometry {
 public:
  static constexpr uint64_t kBase = 0xFFFFFFFFULL;
  static constexpr uint64_t kBaseLarge = 0x7FFFFFFFFFFFFFFFULL;
  static constexpr uint64_t kRegionSize = 65535;  // R
  static constexpr uint32_t kMaxTables = 4096;    // T
  // Read-lock slots s run from 1 to kMaxSlot.
  static constexpr uint32_t kMaxSlot = 65534;

  explicit TLockGeometry(bool large_file_support)
      : base_(large_file_support ? kBaseLarge : kBase) {}

  uint64_t base() const { return base_; }

  TLockRange DirectoryRegion() const { return {base_ - kRegionSize, kRegionSize}; }
  TLockRange DirectoryReadLock(uint32_t slot) const { return {base_ - kRegionSize + slot - 1, 1}; }
  TLockRange DirectoryWriteLock() const { return DirectoryRegion(); }
  TLockRange TransactionByte(uint32_t table) const { return {base_ - kRegionSize - table, 1}; }
  TLockRange AllTransactionBytes() const { return {base_ - kRegionSize - kMaxTables, kMaxTables}; }
  TLockRange TableRegion(uint32_t table) const {
    return {base_ - kRegionSize - kMaxTables - uint64_t{table} * kRegionSize, kRegionSize};
  }
  TLockRange TableReadLock(uint32_t table, uint32_t slot) const {
    return {TableRegion(table).offset + slot - 1, 1};
  }
  TLockRange TableWriteLock(uint32_t table) const { return TableRegion(table); }
  TLockRange AllTableWriteLocks() const {
    return {base_ - kRegionSize - kMaxTables - uint64_t{kMaxTables} * kRegionSize,
            uint64_t{kMaxTables} * kRegionSize};
  }

 private:
  uint64_t base_;
};

}  // namespace downsql::access
