// The locks of one table in its directory's lock file.
//
// Each table entry of the lock file (table number n, 1-based) owns a read
// and write region and a transaction byte (see lock_geometry.h). The entry
// remembers which of them this directory object holds:
//
//   bit 0  read lock         one random byte of the region
//   bit 1  write lock        the whole region
//   bit 2  transaction lock  the table's transaction byte
//
// While the directory holds the write regions or transaction bytes of all
// tables at once, every entry shows the matching bit as held; such a bit is
// not released by the single-table unlock calls, only by the directory's
// all-tables unlock.
#pragma once

#include <cstdint>
#include <string>

namespace downsql::access {

class TDataDirectoryLocks;

class TDataTableLocks {
 public:
  enum Bits : uint8_t { kReadBit = 1, kWriteBit = 2, kTransactionBit = 4 };

  uint32_t number() const { return number_; }
  const std::string& name() const { return name_; }
  // Held-lock bits (Bits), including those held through all-tables locks.
  uint8_t held() const;
  // The read-lock slot in use (1..65534), 0 when none.
  uint32_t read_slot() const { return read_slot_; }

  // Takes a read lock on a random byte of the region, retrying with a new
  // byte after each refusal. Returns false without locking when the entry
  // already holds its read, write or transaction lock. Raises 10225 when the
  // retries run out.
  bool ReadLock();
  // Releases the read lock if held; 10226 when the unlock fails.
  void ReadUnlock();
  // Takes the write lock unless held. With take_transaction and the
  // transaction byte not held, takes the byte first (released again if the
  // region cannot be had). Raises 10227.
  void WriteLock(bool take_transaction);
  // Releases the write lock if held, and with release_transaction the
  // transaction byte too. Raises 10228.
  void WriteUnlock(bool release_transaction);
  // Takes the transaction byte; false without locking when it is held
  // already. Raises 10229.
  bool TransactionLock();
  // Releases the transaction byte if held; 10230 when the unlock fails.
  void TransactionUnlock();

 private:
  friend class TDataDirectoryLocks;
  TDataTableLocks(TDataDirectoryLocks& owner, uint32_t number, std::string name)
      : owner_(owner), number_(number), name_(std::move(name)) {}

  TDataDirectoryLocks& owner_;
  uint32_t number_;
  std::string name_;
  uint8_t own_ = 0;  // bits locked through this entry itself
  uint32_t read_slot_ = 0;
};

}  // namespace downsql::access
