// The lock file of a database directory and the locks taken on it.
//
// The lock file (the directory path followed by the engine's lock file
// name, "tabula.lck" by default) lists the directory's tables; a table's
// number is its position in the list and never changes. Layout,
// little-endian:
//
//   OFFSET  SIZE   MEANING
//   0       4      change counter, signed: 1 after the first write, +1 on
//                  every write, 2147483647 wraps to 1 (storage::NextCounter)
//   4       4      L = 4 + the size of the entries that follow
//   8       L - 4  entries: 1 byte name length n, then n bytes of the name
//
// The list only grows, up to 4096 tables. A directory whose lock file is
// missing or can only be read runs with locking disabled (every lock is
// granted at once) and is read-only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "db/access/data_table_locks.h"
#include "db/access/lock_file.h"
#include "db/access/lock_geometry.h"

namespace downsql::storage {
class EngineSettings;
}

namespace downsql::access {

// How often a lock is tried: at most retries + 1 tries, pause_ms after each
// refusal.
struct TLockRetry {
  uint32_t retries;
  uint32_t pause_ms;
};

// What the directory locks take from the engine's settings.
struct TLockSettings {
  bool large_file_support = false;
  TLockRetry directory{32768, 3};
  TLockRetry table_read{32768, 3};
  TLockRetry table_write{32768, 3};
  TLockRetry table_trans{32768, 3};

  static TLockSettings From(const storage::EngineSettings& settings);
};

class TDataDirectoryLocks {
 public:
  static constexpr int kOpenTries = 11;
  static constexpr uint32_t kOpenPauseMs = 100;
  static constexpr size_t kHeaderSize = 8;

  // directory: the path with its trailing backslash ("" for the in-memory
  // database); database_name names the database in error messages.
  TDataDirectoryLocks(TLockFileStore& store, std::string directory, std::string lock_file_name,
                      std::string data_extension, std::string database_name,
                      TLockSettings settings);
  ~TDataDirectoryLocks();
  TDataDirectoryLocks(const TDataDirectoryLocks&) = delete;
  TDataDirectoryLocks& operator=(const TDataDirectoryLocks&) = delete;

  // Opens the lock file, creating it with the directory's table list when
  // it is missing. Never raises for an unusable file: locking is disabled
  // instead. Raises 10221/10222 when the directory read lock fails.
  void Open();

  bool locking_disabled() const { return locking_disabled_; }
  const std::string& lock_file_path() const { return path_; }
  const std::string& database_name() const { return database_name_; }
  const TLockGeometry& geometry() const { return geometry_; }
  const TLockSettings& settings() const { return settings_; }
  // The cached change counter (0 before the list was first read).
  int32_t change_counter() const { return counter_.value_or(0); }

  // Directory read lock (10221 / 10222) and write lock (10223 / 10224).
  void DirectoryReadLock();
  void DirectoryReadUnlock();
  void DirectoryWriteLock();
  void DirectoryWriteUnlock();

  // Re-reads the table list when the change counter moved; entries already
  // known stay as they are. False when the file's header cannot be read.
  bool ReadTableList();

  // The entry of a table (name compared without regard to case), appended
  // to the lock file when missing, all under the directory write lock.
  // Raises 10223/10224, and 9480 when 4096 tables are listed already.
  TDataTableLocks& TableEntry(const std::string& name);
  // The known entry of a table, or nullptr (no file access).
  TDataTableLocks* FindEntry(const std::string& name);
  size_t table_count() const { return tables_.size(); }
  TDataTableLocks& table(size_t index) { return *tables_[index]; }

  // The transaction bytes of all tables (10229 / 10230).
  void LockAllTransactionBytes();
  void UnlockAllTransactionBytes();
  // The write regions of all tables (10229 / 10230).
  void LockAllWriteLocks();
  void UnlockAllWriteLocks();
  bool all_transaction_bytes_held() const { return all_transaction_held_; }
  bool all_write_locks_held() const { return all_write_held_; }

 private:
  friend class TDataTableLocks;

  // The one place lock offsets reach the file.
  bool TryLockRange(const TLockRange& range);
  bool UnlockRange(const TLockRange& range);
  // Tries make_range() until granted; returns the range or nothing.
  template <typename MakeRange>
  std::optional<TLockRange> LockWithRetry(MakeRange make_range, const TLockRetry& retry);
  uint32_t RandomSlot();
  void AppendEntry(std::string name);
  std::string EncodeEntries() const;
  void WriteTableList();

  TLockFileStore& store_;
  std::string directory_;
  std::string path_;
  std::string data_extension_;
  std::string database_name_;
  TLockSettings settings_;
  TLockGeometry geometry_;
  std::unique_ptr<TLockFile> file_;
  std::optional<int32_t> counter_;
  std::vector<std::unique_ptr<TDataTableLocks>> tables_;
  bool locking_disabled_ = false;
  bool all_transaction_held_ = false;
  bool all_write_held_ = false;
  uint32_t directory_read_slot_ = 0;
  std::minstd_rand random_;
};

}  // namespace downsql::access
