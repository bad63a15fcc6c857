// Helpers shared by the access tests: a lock-file store that records every
// lock call and a stand-in for an open table (scratch directories are
// tests/platform/temp_dir.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/access/data_directory_locks.h"
#include "db/access/lock_file.h"
#include "db/access/transaction_table.h"

namespace downsql::access::testing {

struct LockCall {
  bool lock;  // false: unlock
  uint64_t offset;
  uint64_t length;
  bool operator==(const LockCall&) const = default;
};

// Passes everything to another store and records the lock calls of every
// file it opened.
class RecordingStore : public TLockFileStore {
 public:
  explicit RecordingStore(TLockFileStore& inner) : inner_(inner) {}
  bool Exists(const std::string& path) override { return inner_.Exists(path); }
  CreateResult CreateNew(const std::string& path, const std::string& content) override {
    return fail_create ? CreateResult::kFailed : inner_.CreateNew(path, content);
  }
  std::unique_ptr<TLockFile> OpenShared(const std::string& path) override;
  std::vector<std::string> ListTableFiles(const std::string& dir, const std::string& ext) override {
    return inner_.ListTableFiles(dir, ext);
  }

  std::vector<LockCall> calls;
  bool fail_create = false;
  bool open_read_only = false;

 private:
  TLockFileStore& inner_;
};

// The whole content of a lock file in a store.
std::string ReadAll(TLockFileStore& store, const std::string& path);
// Lock file bytes: counter, L and the entries for names.
std::string LockFileBytes(int32_t counter, const std::vector<std::string>& names);

// Deletes a file of the engine's memory if it exists and nobody has it open.
void DeleteMemoryFile(const std::string& name);

// Keeps the in-memory database's lock file from one test out of the next:
// deletes it when made and when destroyed (declare it before the engine).
struct FreshMemoryDatabase {
  FreshMemoryDatabase() { DeleteMemoryFile("tabula.lck"); }
  ~FreshMemoryDatabase() { DeleteMemoryFile("tabula.lck"); }
};

// An open table that logs the directory's calls ("begin A", "commit A",
// "rollback A") into a shared log.
class FakeTable : public TTransactionTable {
 public:
  FakeTable(std::string name, TDataTableLocks* entry, std::vector<std::string>& log)
      : name_(std::move(name)), entry_(entry), log_(log) {}
  const std::string& TableName() const override { return name_; }
  TDataTableLocks* LockEntry() override { return entry_; }
  bool InUse() const override { return in_use; }
  void BeginTransaction() override;
  void CommitTransaction(bool force_flush, bool end) override;
  void RollbackTransaction() override;

  bool in_use = false;
  bool fail_begin = false;
  bool fail_commit = false;
  // Called inside CommitTransaction (to look at the locks held then).
  std::function<void()> on_commit;
  bool in_transaction = false;

 private:
  std::string name_;
  TDataTableLocks* entry_;
  std::vector<std::string>& log_;
};

}  // namespace downsql::access::testing
