// TDataTable: one open table, its data, index and BLOB files with their
// buffer pools, shared by every cursor on the table.
//
// The table also keeps what belongs to the table rather than to one cursor:
// whether it is held exclusively, its lock-file locks (TTableLocks, from its
// directory), the record locks taken through its data file, and whether it
// is in a transaction.
//
// Record locks are one-byte locks of the data file at (lock base - slot);
// the lock of the whole table covers all of them:
//
//   LOCK            OFFSET                          LENGTH
//   record n        B - n                           1
//   whole table     B - max record count            max record count
//
// with B = 4294967295 (9223372036854775807 with large file support) and
// the maximum record count 200000000 (1000000000). A lock that is refused is
// tried again LockRetryCount times, LockWaitTime ms apart. Inside a
// transaction the record lock of a slot appended past the last one is taken
// as part of a run of the following slots' bytes, held to the end of the
// transaction, so that a long run of inserts costs one lock call per run
// rather than two per row.
//
// Change detection: every change of a table file writes that file's header,
// whose update count then goes up, and the data header is written whenever
// any header is, so the data header's update count alone tells whether
// another process (or another table object of this process) wrote the
// table. When it differs from the count this table last saw, the buffers of
// all three files are dropped and the headers read again; change_serial()
// then goes up so that cursors know to re-position.
//
// Crash safety: every write of the files in place goes through the table's
// rollback journal (table_journal.h), so a process that dies in the middle
// of a commit leaves a journal from which the next opener, or the next
// writer under the table write lock, restores the table as it was before
// that commit. Within one write the data header goes first, so that a
// table left half-written always shows another update count, and a reader
// that notices it looks for a journal to restore before reading on. Tables
// in memory and read-only tables have no journal.
//
// Transactions: between BeginTransaction and Commit/Rollback, flushes keep
// every change in the buffer pools (eviction never writes) and record locks
// stay held. Commit writes them out; rollback drops them and re-reads the
// headers.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/storage/blob_file.h"
#include "db/storage/column_def.h"
#include "db/storage/data_file.h"
#include "db/storage/engine_settings.h"
#include "db/storage/index_file.h"
#include "db/storage/index_key.h"
#include "db/storage/index_tree.h"
#include "db/storage/page.h"
#include "db/storage/record.h"
#include "db/storage/table_journal.h"
#include "db/storage/table_locks.h"

namespace downsql::storage {

struct TTableOpenOptions {
  // Directory path with its trailing separator, and the table name.
  std::string directory;
  std::string name;
  const EngineSettings* settings = nullptr;
  bool exclusive = false;
  bool read_only = false;
  // Runs the full header checks of all three files.
  bool verify = false;
  // The lock-file locks of the table; nullptr when the table takes none
  // (exclusive open, or a directory without a usable lock file).
  TTableLocks* locks = nullptr;
  // Known passwords for encrypted tables.
  std::vector<std::string> passwords;
  // The table's files live in memory (temporary results, the in-memory
  // database) instead of on disk.
  bool in_memory = false;
  // Makes the files on disk (nullptr: the system's files); tests pass one
  // whose files fail on purpose.
  platform::FileOpener* files = nullptr;
};

// One index of the table as the cursor uses it: its slot (0 primary,
// 1..30 secondary), name for messages ("Primary" for slot 0), page layout
// and key comparison.
struct TTableIndex {
  uint8_t slot = 0;
  std::string name;
  TIndexLayout layout;
  TKeyComparator compare;
};

// What CREATE TABLE asks for: the table's properties and columns, an
// optional declared primary index (the default is RecordID) and secondary
// indexes.
struct TNewTableDefinition {
  TTableDefinition table;
  std::optional<TIndexDefinition> primary;
  std::vector<TIndexDefinition> secondary;
};

class TDataTable {
 public:
  // Creates the files of a new table in directory (with its trailing
  // separator): the data file after all its checks, then the index file
  // with the primary and secondary indexes (index checks 9487, 10010,
  // 10022, 10026, 10027, 12292, 9993). On a failure nothing of the new table
  // is left behind.
  static void Create(const std::string& directory, const std::string& name,
                     const EngineSettings& settings, const TNewTableDefinition& new_table,
                     bool in_memory = false);

  // Deletes the files of a closed table (a missing index or BLOB file is no
  // error; 11010 when the data file is missing, 11013 while it is open).
  static void Delete(const std::string& directory, const std::string& name,
                     const EngineSettings& settings, bool in_memory = false);

  // Opens the three files (a missing index file is created empty and the
  // table then has no usable indexes), then, unless exclusive, takes the
  // read lock, re-reads the headers and releases it. Raises 11010 when the
  // data file does not exist, the header errors of the files, lock errors;
  // everything opened is closed again on failure.
  static std::shared_ptr<TDataTable> Open(const TTableOpenOptions& options);
  ~TDataTable();
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  const std::string& name() const { return name_; }
  bool exclusive() const { return exclusive_; }
  bool read_only() const { return read_only_; }
  // False when the index file was missing and created empty on open.
  bool indexes_usable() const { return indexes_usable_; }
  const EngineSettings& settings() const { return *settings_; }

  TDataFile& data() { return *data_; }
  TIndexFile& index() { return *index_; }
  // nullptr for a table without BLOB columns.
  TBlobFile* blob() { return blob_.get(); }
  const std::vector<TFieldDef>& fields() const;
  uint32_t record_size() const;
  uint32_t locale() const;

  // --- records and counters --------------------------------------------
  // Number of slots in the data file (live and deleted).
  uint32_t slot_count();
  // Copies slot (1..slot_count()) into out and returns whether it is live;
  // a live record gets its own slot number in bytes 1..4. 8962 for slot 0
  // or beyond the file.
  bool ReadRecord(uint32_t slot, TRecordBuffer& out);
  // Slot's bytes in place (the status byte first, bytes 1..4 as stored),
  // for scans in slot order that read a few columns of every record (the
  // file is read in larger pieces than the read-ahead); valid until the
  // next read or change of the data file. 8962 as ReadRecord.
  const uint8_t* PeekRecord(uint32_t slot);
  // Stores record into slot (appending it when slot = slot_count() + 1,
  // 9479 when the table is full) with bytes 1..4 zero.
  void WriteRecord(uint32_t slot, const TRecordBuffer& record);
  // Marks slot deleted (status 1) at the head of the free chain.
  void FreeSlot(uint32_t slot);
  // The slot a new record goes into: the free-chain head, else a new slot.
  uint32_t SlotForNewRecord();
  // Takes slot off the free chain when it is its head (the head becomes the
  // slot's link).
  void TakeSlot(uint32_t slot);
  uint32_t record_count();
  void AddRecordCount(int delta);
  uint32_t last_record_id();
  void set_last_record_id(uint32_t id);
  uint32_t last_autoinc();
  void set_last_autoinc(uint32_t value);
  // The next value of the table's BLOB version counter.
  uint32_t NextBlobVersion();

  // The usable indexes, slot 0 first, then 1..n (none when the index file
  // was re-created empty).
  const std::vector<TTableIndex>& indexes() const { return indexes_; }
  // The index of a slot, or nullptr.
  const TTableIndex* index_in_slot(uint8_t slot) const;
  // The tree of one index; its pages stay pinned while the result lives.
  TIndexFile::TTreeAccess Tree(const TTableIndex& index);

  // --- change detection ------------------------------------------------
  // Compares the data header's update count on disk with the one held; on a
  // difference restores a commit that another process left unfinished (see
  // RecoverLeftCommit), drops all buffers, re-reads the three headers and
  // returns true. Does nothing for an exclusive table or inside a transaction (no
  // one else can write then).
  bool CheckForChanges();
  // Restores the table from the journal of a commit that a dead process
  // left unfinished, under the table write lock (taken here when it is not
  // held); afterwards the buffers are dropped and the headers re-read.
  // Returns whether anything was restored.
  bool RecoverLeftCommit();
  uint64_t change_serial() const { return change_serial_; }
  // Called by a cursor after it changed the table.
  void NoteOwnChange() { ++change_serial_; }

  // --- lock-file locks ---------------------------------------------------
  // The table write lock for one change (taking the transaction byte too
  // when the table is not in a transaction), then change detection. Inside
  // this table's transaction, with its transaction byte held, the lock-file
  // region is not taken: the byte already keeps every other writer out until
  // the commit, nothing reaches the files before it, and the commit takes the
  // write region itself; the depth count still pairs the calls.
  void WriteLock();
  void WriteUnlock();
  // The read lock around one navigation step; false when not taken
  // (exclusive, no lock-file locks, a lock already held, or a read hold
  // that already keeps writers away).
  bool ReadLock();
  void ReadUnlock();

  // --- holding the table for a statement ----------------------------------
  // A statement that reads many rows holds the table once instead of taking
  // the read lock and re-reading the data header at every step: the hold
  // takes the read lock (unless the table is exclusive, in a transaction or
  // write-locked, which keep writers away by themselves) and checks for
  // changes once; until it ends, navigation takes no lock and reads no
  // header, since no other process can write meanwhile. Without lock-file
  // locks the hold is a single synchronisation at its start. Holds nest.
  // A change made during the hold gives the read lock up for the table
  // write lock (which covers it), takes it back afterwards and checks for
  // changes again. Raises the read-lock error 10225 and the header errors.
  // End the hold before the directory commits a transaction that began
  // during it: the commit's write locks cover the held read lock.
  void BeginReadHold();
  void EndReadHold();
  bool read_held() const { return read_hold_depth_ > 0 && hold_synced_; }

  // --- record and table locks in the data file ---------------------------
  // owner is the cursor that takes a record lock: a record locked by one
  // cursor is refused to every other, as to another process. Raise 10258 /
  // 10241 when refused after the retries, 10242 when a release fails.
  // Nothing for an exclusive table.
  void LockRecord(uint32_t slot, const void* owner, uint16_t retry_count, uint16_t wait_ms);
  void UnlockRecord(uint32_t slot);
  // Whether owner holds the lock of slot.
  bool HoldsRecordLock(uint32_t slot, const void* owner) const {
    auto it = record_locks_.find(slot);
    return it != record_locks_.end() && it->second == owner;
  }
  void LockTable(uint16_t retry_count, uint16_t wait_ms);
  void UnlockTable();
  // Releases a record lock at the end of a change, unless a transaction
  // keeps it until its end.
  void ReleaseRecordLockUnlessKept(uint32_t slot);

  // --- writing -------------------------------------------------------------
  // After a change: writes dirty buffers and headers of the data, index and
  // BLOB files in that order, and the data header whenever another header
  // was written; the operating-system flush follows a write when os_flush.
  // Exclusive tables and tables in a transaction only mark their headers
  // modified.
  void FlushChanges(bool os_flush);
  // After a change failed half-way: outside a transaction and a held
  // table, drops the buffers and re-reads the headers, so that the files'
  // state (the last flush) is all that remains; inside, the transaction's
  // rollback undoes it.
  void UndoFailedChange();
  // Writes everything pending whatever the mode (close, commit).
  void WriteAll(bool os_flush);

  // --- transactions --------------------------------------------------------
  bool in_transaction() const { return in_transaction_; }
  // Writes changes still buffered from before, re-reads the table's state
  // and keeps later changes in memory.
  void BeginTransaction();
  // Writes the transaction's changes (with the operating-system flush when
  // force_flush) and releases the record locks; with end false the table
  // stays in the transaction.
  void CommitTransaction(bool force_flush, bool end = true);
  // Drops every buffer of the three files, re-reads the headers and
  // releases the record locks.
  void RollbackTransaction();

  // --- maintenance (the table held exclusively, else 10253) -----------------
  // Removes every record and every index entry.
  void Empty();
  // Adds a secondary index and fills it from the records; a duplicate in a
  // unique index fails with 9729 and leaves the index out. Returns the slot.
  uint8_t AddIndex(const TIndexDefinition& def);
  // Drops the secondary index of that name (ignoring case); 10022 when there
  // is none.
  void DropIndex(const std::string& index_name);

  // Cursors register themselves; when the last one goes, pending changes
  // (of an exclusive table) are written unless a transaction holds them.
  void AddCursor();
  void RemoveCursor();

 private:
  TDataTable() = default;
  void RereadHeaders();
  void DropBuffersAndReread();
  // Restores a left journal; the caller holds the table write lock.
  bool RestoreLeftJournal();
  std::array<std::string, TTableJournal::kFileCount> FileNames() const;
  void LoadIndexes();
  void ReleaseAllLocks();
  // Record locks: the byte of one slot, or a run of new slots reserved in a
  // transaction (TryLockRecordByte).
  bool TryLockRecordByte(uint32_t slot);
  bool InReservedRun(uint32_t slot) const;
  void ReleaseReservedRuns();
  void SetTransactionFlags(bool on);
  // The read hold's lock around the table write lock.
  void SuspendReadHold();
  void ResumeReadHold();
  // In this process's transaction on the table, with the transaction byte
  // held: no other process can write the table until the commit.
  bool TransactionKeepsWritersOut() const {
    return in_transaction_ && locks_ != nullptr && locks_->HoldsTransactionByte();
  }
  uint64_t LockBase() const;
  void RequireExclusive() const;
  // For an encrypted table: the cipher of the known password that opens it.
  void FindCipher(const std::vector<std::string>& passwords);

  std::string name_;
  const EngineSettings* settings_ = nullptr;
  bool exclusive_ = false;
  bool read_only_ = false;
  bool indexes_usable_ = true;
  bool opened_ = false;
  TTableLocks* locks_ = nullptr;
  // The cipher of an encrypted table's index and BLOB files (the data file
  // keeps its own); it outlives both.
  std::unique_ptr<base::BlowfishCbc> cipher_;
  std::unique_ptr<TDataFile> data_;
  std::unique_ptr<TIndexFile> index_;
  std::unique_ptr<TBlobFile> blob_;
  // nullptr for tables in memory and read-only tables.
  std::unique_ptr<TTableJournal> journal_;
  std::string journal_path_;
  platform::FileOpener* files_opener_ = nullptr;
  // This table holds its read lock (a read hold or one navigation step).
  bool read_locked_ = false;
  uint64_t change_serial_ = 0;
  bool in_transaction_ = false;
  int write_lock_depth_ = 0;
  // The lock-file write region taken by WriteLock (not inside an own
  // transaction), and whether the transaction byte came with it.
  bool region_locked_ = false;
  bool region_with_byte_ = false;
  int read_hold_depth_ = 0;
  // The hold owns the read lock it took (false when none was needed).
  bool hold_read_locked_ = false;
  // The hold checked for changes under its lock and nothing can change
  // the files until it ends: no header reads, no per-step locks.
  bool hold_synced_ = false;
  int cursor_count_ = 0;
  // The data header's update count as of the buffers held.
  int32_t seen_update_count_ = 0;
  bool table_locked_ = false;
  std::map<uint32_t, const void*> record_locks_;
  // The entry of the last lock let go, kept for the next lock: an insert
  // locks and unlocks one slot per row.
  std::map<uint32_t, const void*>::node_type spare_lock_;
  // Runs of record-lock bytes of new slots held to the end of the
  // transaction: first slot -> number of slots.
  static constexpr uint32_t kReservedRunSlots = 4096;
  std::map<uint32_t, uint32_t> reserved_runs_;
  std::vector<TTableIndex> indexes_;
};

// Holds a table for reading for the length of a statement (see
// TDataTable::BeginReadHold).
class TTableReadHold {
 public:
  explicit TTableReadHold(TDataTable& table) : table_(table) { table_.BeginReadHold(); }
  ~TTableReadHold() {
    try {
      table_.EndReadHold();
    } catch (...) {
      // The reads are done; a failed release must not hide their result.
    }
  }
  TTableReadHold(const TTableReadHold&) = delete;
  TTableReadHold& operator=(const TTableReadHold&) = delete;

 private:
  TDataTable& table_;
};

}  // namespace downsql::storage
