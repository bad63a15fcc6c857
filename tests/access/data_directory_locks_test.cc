#include "db/access/data_directory_locks.h"

#include <gtest/gtest.h>

#include "db/storage/engine_error.h"
#include "db/storage/engine_file.h"
#include "tests/access/access_test_util.h"
#include "tests/storage/storage_test_util.h"

namespace downsql::access {
namespace {

using storage::ETabulaEngineError;
using storage::testing::CodeOf;
using testing::LockCall;
using testing::LockFileBytes;
using testing::ReadAll;
using testing::RecordingStore;

TLockSettings FastSettings(bool large = false) {
  TLockSettings s;
  s.large_file_support = large;
  s.directory = {3, 1};
  s.table_read = {3, 1};
  s.table_write = {3, 1};
  s.table_trans = {3, 1};
  return s;
}

// Each test works in directories of its own in the engine's memory, whose
// lock files are deleted afterwards.
class DirectoryLocksTest : public ::testing::Test {
 protected:
  ~DirectoryLocksTest() override {
    for (const std::string& d : dirs_) testing::DeleteMemoryFile(d + "tabula.lck");
  }
  // Moves on to a new, empty directory.
  void NewDirectory() {
    static int serial = 0;
    dirs_.push_back("\\locks_test_" + std::to_string(++serial) + "\\");
  }
  std::string kPath() const { return dirs_.back() + "tabula.lck"; }
  std::unique_ptr<TDataDirectoryLocks> Open(TLockFileStore& store, bool large = false) {
    auto locks = std::make_unique<TDataDirectoryLocks>(store, dirs_.back(), "tabula.lck", ".dat",
                                                       "DB", FastSettings(large));
    locks->Open();
    return locks;
  }

  std::vector<std::string> dirs_ = {"\\locks_test_0\\"};
  TEngineLockFileStore memory_{true};
};

TEST_F(DirectoryLocksTest, EmptyDirectoryGetsEightByteFileAndEntriesAppend) {
  auto a = Open(memory_);
  EXPECT_FALSE(a->locking_disabled());
  EXPECT_EQ(ReadAll(memory_, kPath()), LockFileBytes(1, {}));
  EXPECT_EQ(ReadAll(memory_, kPath()), std::string("\x01\0\0\0\x04\0\0\0", 8));

  EXPECT_EQ(a->TableEntry("LOTTO").number(), 1u);
  EXPECT_EQ(ReadAll(memory_, kPath()), LockFileBytes(2, {"LOTTO"}));
  EXPECT_EQ(&a->TableEntry("lotto"), &a->TableEntry("LOTTO"));  // no new entry, no write
  EXPECT_EQ(ReadAll(memory_, kPath()), LockFileBytes(2, {"LOTTO"}));

  // A second directory object reads the same numbers and adds its own.
  auto b = Open(memory_);
  ASSERT_NE(b->FindEntry("Lotto"), nullptr);
  EXPECT_EQ(b->FindEntry("Lotto")->number(), 1u);
  EXPECT_EQ(b->TableEntry("MINI").number(), 2u);
  EXPECT_EQ(a->TableEntry("MINI").number(), 2u);
  EXPECT_EQ(a->change_counter(), 3);
  EXPECT_EQ(ReadAll(memory_, kPath()), LockFileBytes(3, {"LOTTO", "MINI"}));
}

TEST_F(DirectoryLocksTest, CounterWrapsToOne) {
  ASSERT_EQ(memory_.CreateNew(kPath(), LockFileBytes(2147483647, {"A"})),
            TLockFileStore::CreateResult::kCreated);
  auto a = Open(memory_);
  a->TableEntry("B");
  EXPECT_EQ(ReadAll(memory_, kPath()), LockFileBytes(1, {"A", "B"}));
}

TEST_F(DirectoryLocksTest, HandsExactOffsetsToTheLockCall) {
  for (bool large : {false, true}) {
    SCOPED_TRACE(large);
    NewDirectory();
    TEngineLockFileStore& memory = memory_;
    RecordingStore store(memory);
    auto locks = Open(store, large);
    const uint64_t high = large ? 0x7FFFFFFF00000000ULL : 0;
    store.calls.clear();
    TDataTableLocks& t1 = locks->TableEntry("T1");
    EXPECT_EQ(store.calls, (std::vector<LockCall>{{true, high | 0xFFFF0000, 65535},
                                                  {false, high | 0xFFFF0000, 65535}}));
    store.calls.clear();
    t1.WriteLock(true);
    t1.WriteUnlock(true);
    EXPECT_EQ(store.calls, (std::vector<LockCall>{{true, high | 0xFFFEFFFF, 1},
                                                  {true, high | 0xFFFDF001, 65535},
                                                  {false, high | 0xFFFDF001, 65535},
                                                  {false, high | 0xFFFEFFFF, 1}}));
    store.calls.clear();
    ASSERT_TRUE(t1.ReadLock());
    ASSERT_EQ(store.calls.size(), 1u);
    EXPECT_EQ(store.calls[0].offset, (high | 0xFFFDF001) + t1.read_slot() - 1);
    EXPECT_EQ(store.calls[0].length, 1u);
    t1.ReadUnlock();
    EXPECT_EQ(store.calls.back(), (LockCall{false, store.calls[0].offset, 1}));
    store.calls.clear();
    locks->LockAllTransactionBytes();
    locks->LockAllWriteLocks();
    locks->UnlockAllWriteLocks();
    locks->UnlockAllTransactionBytes();
    EXPECT_EQ(store.calls, (std::vector<LockCall>{{true, high | 0xFFFEF000, 4096},
                                                  {true, high | 0xEFFF0000, 268431360},
                                                  {false, high | 0xEFFF0000, 268431360},
                                                  {false, high | 0xFFFEF000, 4096}}));
  }
}

TEST_F(DirectoryLocksTest, ReadersShareARegionAndAWriterExcludesThem) {
  auto a = Open(memory_);
  auto b = Open(memory_);
  TDataTableLocks& ta = a->TableEntry("T");
  TDataTableLocks& tb = b->TableEntry("T");
  ASSERT_TRUE(ta.ReadLock());
  ASSERT_TRUE(tb.ReadLock());  // readers coexist on different bytes
  tb.ReadUnlock();
  EXPECT_EQ(CodeOf([&] { tb.WriteLock(false); }), storage::kErrTableWriteLock)
      << "a reader keeps the writer out";
  ta.ReadUnlock();
  ta.WriteLock(false);
  try {
    tb.ReadLock();
    FAIL();
  } catch (const ETabulaEngineError& e) {
    EXPECT_EQ(e.code(), storage::kErrTableReadLock);
    EXPECT_EQ(e.text(), "Cannot read lock the table 'T'");
  }
  EXPECT_EQ(CodeOf([&] { tb.WriteLock(false); }), storage::kErrTableWriteLock);
  ta.WriteUnlock(false);
  EXPECT_TRUE(tb.ReadLock());
}

TEST_F(DirectoryLocksTest, HeldBitsFollowTheLockCalls) {
  RecordingStore store(memory_);
  auto locks = Open(store);
  TDataTableLocks& t = locks->TableEntry("T");
  store.calls.clear();
  t.WriteLock(false);
  EXPECT_EQ(t.held(), TDataTableLocks::kWriteBit);
  EXPECT_FALSE(t.ReadLock()) << "refused while the write lock is held";
  t.WriteUnlock(false);
  EXPECT_TRUE(t.TransactionLock());
  EXPECT_FALSE(t.TransactionLock());
  size_t calls = store.calls.size();
  t.WriteLock(true);  // the byte is held already: only the region is locked
  EXPECT_EQ(store.calls.size(), calls + 1);
  t.WriteUnlock(false);
  EXPECT_EQ(t.held(), TDataTableLocks::kTransactionBit);
  t.TransactionUnlock();
  EXPECT_EQ(t.held(), 0);
}

TEST_F(DirectoryLocksTest, TransactionByteConflictsAcrossDirectoryObjects) {
  auto a = Open(memory_);
  auto b = Open(memory_);
  ASSERT_TRUE(a->TableEntry("T").TransactionLock());
  try {
    b->TableEntry("T").TransactionLock();
    FAIL();
  } catch (const ETabulaEngineError& e) {
    EXPECT_EQ(e.code(), storage::kErrTransactionLock);
    EXPECT_EQ(e.text(), "Transaction cannot lock the database 'DB'");
  }
  // A writer outside a transaction waits for the other's transaction byte.
  EXPECT_EQ(CodeOf([&] { b->TableEntry("T").WriteLock(true); }), storage::kErrTableWriteLock);
  EXPECT_EQ(b->TableEntry("T").held(), 0) << "no byte or region left behind";
  EXPECT_EQ(CodeOf([&] { b->LockAllTransactionBytes(); }), storage::kErrTransactionLock);
  a->TableEntry("T").TransactionUnlock();
  b->LockAllTransactionBytes();
  b->UnlockAllTransactionBytes();
}

TEST_F(DirectoryLocksTest, AllTablesLocksShowInEveryEntryAndOutliveSingleUnlocks) {
  RecordingStore store(memory_);
  auto locks = Open(store);
  TDataTableLocks& a = locks->TableEntry("A");
  locks->LockAllTransactionBytes();
  locks->LockAllWriteLocks();
  TDataTableLocks& b = locks->TableEntry("B");  // appended while held
  for (TDataTableLocks* t : {&a, &b})
    EXPECT_EQ(t->held(), TDataTableLocks::kWriteBit | TDataTableLocks::kTransactionBit);
  store.calls.clear();
  b.WriteLock(true);
  b.WriteUnlock(true);
  b.TransactionUnlock();
  EXPECT_TRUE(store.calls.empty()) << "covered by the all-tables locks";
  locks->UnlockAllWriteLocks();
  locks->UnlockAllTransactionBytes();
  EXPECT_EQ(a.held(), 0);
  EXPECT_EQ(b.held(), 0);
}

TEST_F(DirectoryLocksTest, DirectoryLocksOfTheLockFile) {
  auto a = Open(memory_);
  auto b = Open(memory_);
  a->DirectoryWriteLock();
  try {
    b->TableEntry("T");
    FAIL();
  } catch (const ETabulaEngineError& e) {
    EXPECT_EQ(e.code(), storage::kErrLockFileWriteLock);
    EXPECT_EQ(e.text(), "Cannot write lock the lock file for the database 'DB'");
  }
  EXPECT_EQ(CodeOf([&] { b->DirectoryReadLock(); }), storage::kErrLockFileReadLock);
  a->DirectoryWriteUnlock();
  EXPECT_EQ(CodeOf([&] { a->DirectoryWriteUnlock(); }), storage::kErrLockFileWriteUnlock);
  b->DirectoryReadLock();
  a->DirectoryReadLock();  // readers share the region
  EXPECT_EQ(CodeOf([&] { a->TableEntry("T"); }), storage::kErrLockFileWriteLock);
  b->DirectoryReadUnlock();
  a->DirectoryReadUnlock();
  EXPECT_EQ(a->TableEntry("T").number(), 1u);
}

TEST_F(DirectoryLocksTest, LockFileInUseIsTriedElevenTimes) {
  memory_.CreateNew(kPath(), LockFileBytes(1, {}));
  storage::TEngineFile holder(kPath(), true);
  holder.Open(false, /*exclusive=*/true);
  struct CountingStore : RecordingStore {
    using RecordingStore::RecordingStore;
    std::unique_ptr<TLockFile> OpenShared(const std::string& path) override {
      ++opens;
      return RecordingStore::OpenShared(path);
    }
    int opens = 0;
  } store(memory_);
  auto locks = Open(store);
  EXPECT_EQ(store.opens, 11);
  EXPECT_TRUE(locks->locking_disabled());
}

TEST_F(DirectoryLocksTest, TheTable4097Fails) {
  std::vector<std::string> names;
  for (int i = 1; i <= 4096; ++i) names.push_back("T" + std::to_string(i));
  memory_.CreateNew(kPath(), LockFileBytes(7, names));
  auto locks = Open(memory_);
  EXPECT_EQ(locks->table_count(), 4096u);
  EXPECT_EQ(locks->TableEntry("t4096").number(), 4096u);
  for (int attempt = 0; attempt < 2; ++attempt) {  // the write lock was released
    try {
      locks->TableEntry("T4097");
      FAIL();
    } catch (const ETabulaEngineError& e) {
      EXPECT_EQ(e.code(), storage::kErrDatabaseFull);
      EXPECT_EQ(e.text(), "The database 'DB' is full and cannot contain any more tables");
    }
  }
}

TEST_F(DirectoryLocksTest, UnusableLockFileDisablesLocking) {
  for (bool read_only : {false, true}) {
    SCOPED_TRACE(read_only);
    NewDirectory();
    TEngineLockFileStore& memory = memory_;
    RecordingStore store(memory);
    if (read_only) {
      memory.CreateNew(kPath(), LockFileBytes(3, {"A"}));
      store.open_read_only = true;
    } else {
      store.fail_create = true;
    }
    auto locks = Open(store);
    EXPECT_TRUE(locks->locking_disabled());
    store.calls.clear();
    TDataTableLocks& t = locks->TableEntry("B");
    EXPECT_EQ(t.number(), read_only ? 2u : 1u);
    t.WriteLock(true);
    locks->LockAllTransactionBytes();
    EXPECT_TRUE(store.calls.empty());
    if (read_only) {
      EXPECT_EQ(ReadAll(memory, kPath()), LockFileBytes(3, {"A"}));
    }
  }
}

TEST_F(DirectoryLocksTest, DamagedListIsReadUpToTheDamage) {
  std::string bytes = LockFileBytes(5, {"A", "BB"});
  bytes +=
      "\x09"
      "CUT";                                                // an entry cut short
  bytes.replace(4, 4, std::string("\xFF\xFF\xFF\x7F", 4));  // L far too large
  memory_.CreateNew(kPath(), bytes);
  auto locks = Open(memory_);
  ASSERT_EQ(locks->table_count(), 2u);
  EXPECT_EQ(locks->table(1).name(), "BB");
  EXPECT_EQ(locks->TableEntry("C").number(), 3u);
  // Rewritten over the old bytes; what lies beyond L is never read.
  const std::string rewritten = LockFileBytes(6, {"A", "BB", "C"});
  EXPECT_EQ(ReadAll(memory_, kPath()).substr(0, rewritten.size()), rewritten);
}

}  // namespace
}  // namespace downsql::access
