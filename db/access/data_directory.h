// An open database directory of a session, and its transactions.
//
// A session opens one TDataDirectory per directory path and shares it
// among the databases that name that path (reference count). A local
// directory owns its lock-file locks; the in-memory database's directory
// has an empty path and keeps its lock file in the engine's memory.
//
// Transaction states:
//
//   none --Begin(tables)--> restricted:   each listed table's transaction
//                                         byte, taken in table-number order
//   none --Begin()-------->  unrestricted: the transaction bytes of all tables
//   active --Commit/Rollback--> none
//
// Commit writes tables last to first (an unrestricted commit under the
// write regions of all tables); freeing the directory rolls back a
// transaction still active. A read-only directory never starts one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/access/data_directory_locks.h"
#include "db/access/transaction_table.h"

namespace downsql::access {

class TDataSession;

class TDataDirectory {
 public:
  static constexpr size_t kMaxNameLength = 60;

  // Opens the lock file of a local directory (never raises for an unusable
  // lock file: the directory becomes read-only instead).
  TDataDirectory(TDataSession& session, std::string name, std::string path, bool in_memory,
                 bool keep_tables_open);
  // Rolls back an active transaction, closes the tables and the lock file.
  ~TDataDirectory();
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  TDataSession& session() { return session_; }
  const std::string& name() const { return name_; }
  // With a trailing backslash; "" for the in-memory database.
  const std::string& path() const { return path_; }
  bool in_memory() const { return in_memory_; }
  // True when the lock file cannot be written: every write fails with 11013.
  bool read_only() const { return read_only_; }
  bool keep_tables_open() const { return keep_tables_open_; }
  void set_keep_tables_open(bool on) { keep_tables_open_ = on; }
  int ref_count() const { return ref_count_; }
  // nullptr for a remote directory.
  TDataDirectoryLocks* locks() { return locks_.get(); }

  // Open tables. AddTable joins a table opened during an unrestricted
  // transaction to it.
  TTransactionTable& AddTable(std::unique_ptr<TTransactionTable> table);
  TTransactionTable* FindTable(const std::string& name);
  size_t table_count() const { return tables_.size(); }
  TTransactionTable& table(size_t index) { return *tables_[index]; }
  // Closes every table that no cursor uses and no transaction holds.
  void CloseUnusedTables();

  // With table names: a restricted transaction over those tables (names may
  // carry the data extension; tables not open are opened). Without: an
  // unrestricted one over every table. Does nothing when read-only or a
  // transaction is active. A failure leaves no transaction and no
  // transaction lock behind.
  void BeginTransaction(const std::vector<std::string>& tables = {});
  // Writes the transaction's tables, last to first. With end, finishes the
  // transaction. force_flush (or the session's ForceBufferFlush) flushes
  // the written files to disk. Does nothing when read-only or inactive.
  void CommitTransaction(bool force_flush, bool end = true);
  // Drops the transaction's changes. Does nothing when read-only or inactive.
  void RollbackTransaction();
  bool TransactionActive() const { return transaction_active_; }
  bool restricted() const { return restricted_; }
  // The tables taking part in the active transaction, in locking order.
  const std::vector<TTransactionTable*>& transaction_tables() const { return transaction_tables_; }

 private:
  friend class TDataSession;

  void BeginTable(TTransactionTable& table);
  void RollbackTable(TTransactionTable& table);
  void EndTransaction();
  std::string TableKey(const std::string& listed) const;

  TDataSession& session_;
  std::string name_;
  std::string path_;
  bool in_memory_;
  bool read_only_ = false;
  bool keep_tables_open_;
  int ref_count_ = 1;
  std::unique_ptr<TDataDirectoryLocks> locks_;
  std::vector<std::unique_ptr<TTransactionTable>> tables_;
  bool transaction_active_ = false;
  bool restricted_ = false;
  std::vector<TTransactionTable*> transaction_tables_;
};

}  // namespace downsql::access
