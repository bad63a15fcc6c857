// An open table as its directory sees it: the table's files (shared by every
// cursor of the directory's sessions on it), its lock-file entry, and its
// part in the directory's transactions.
//
// OpenTableCursor is the one way the SQL engine and the dataset layer open a
// table: it finds the table among the directory's open tables or opens it
// (joining a running unrestricted transaction), and returns a cursor that
// works by the session's lock settings.
#pragma once

#include <memory>
#include <string>

#include "db/access/transaction_table.h"
#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"

namespace downsql::access {

class TDataDirectory;
class TDataTableLocks;

// The lock-file locks of a table as the table engine asks for them.
class TLockFileTableLocks : public storage::TTableLocks {
 public:
  explicit TLockFileTableLocks(TDataTableLocks& entry) : entry_(entry) {}
  bool ReadLock() override;
  void ReadUnlock() override;
  void WriteLock(bool with_transaction_byte) override;
  void WriteUnlock(bool with_transaction_byte) override;
  bool HoldsTransactionByte() const override;

 private:
  TDataTableLocks& entry_;
};

class TDirectoryTable : public TTransactionTable {
 public:
  // Opens name in directory (see storage::TDataTable::Open for the errors).
  // Writing through a read-only directory fails with 11013 later.
  TDirectoryTable(TDataDirectory& directory, const std::string& name, bool exclusive);
  ~TDirectoryTable() override;

  const std::string& TableName() const override { return table_->name(); }
  TDataTableLocks* LockEntry() override { return entry_; }
  bool InUse() const override { return table_.use_count() > 1; }
  void BeginTransaction() override { table_->BeginTransaction(); }
  void CommitTransaction(bool force_flush, bool end) override {
    table_->CommitTransaction(force_flush, end);
  }
  void RollbackTransaction() override { table_->RollbackTransaction(); }

  const std::shared_ptr<storage::TDataTable>& table() const { return table_; }

 private:
  TDataTableLocks* entry_ = nullptr;
  std::unique_ptr<TLockFileTableLocks> locks_;
  std::shared_ptr<storage::TDataTable> table_;
};

// Lets the engine's directories open tables themselves (a restricted
// transaction that names a table no cursor has open).
class TDataEngine;
void InstallTableOpener(TDataEngine& engine);

// A cursor on table name of directory, opening the table when no cursor of
// the directory has it open. exclusive asks for the table to itself (the
// files are then opened without sharing and no locks are taken).
std::unique_ptr<storage::TDataCursor> OpenTableCursor(TDataDirectory& directory,
                                                      const std::string& name,
                                                      bool exclusive = false,
                                                      storage::TRowEvents* events = nullptr);

// The lock settings of directory's session as a cursor takes them.
storage::TSessionSettings CursorSettings(TDataDirectory& directory);

}  // namespace downsql::access
