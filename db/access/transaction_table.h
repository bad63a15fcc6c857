// What a directory needs of an open table to run transactions over it.
//
// The table layer implements this for its open tables and hands them to
// their directory (TDataDirectory::AddTable). The directory takes and
// releases the lock-file locks around these calls (the table's transaction
// byte in a restricted transaction, the write regions and transaction
// bytes of all tables in an unrestricted one); the table moves its data.
#pragma once

#include <string>

namespace downsql::access {

class TDataTableLocks;

class TTransactionTable {
 public:
  virtual ~TTransactionTable() = default;

  // The table's name, without extension.
  virtual const std::string& TableName() const = 0;
  // The table's entry in the directory's lock file; nullptr when the table
  // takes no lock-file locks (held exclusively).
  virtual TDataTableLocks* LockEntry() = 0;
  // True while a cursor still uses the table; an unused table is closed
  // when a transaction ends.
  virtual bool InUse() const = 0;

  // Writes out changes still buffered from before, re-reads the table's
  // state from its files and marks the table as in the transaction; from
  // then on changed buffers stay in memory and record locks stay held.
  virtual void BeginTransaction() = 0;
  // Writes all changed buffers to the files (with the operating system's
  // flush when force_flush). With end, first ends the transaction mark and
  // afterwards releases the record and table locks kept during the
  // transaction; without, the table stays in the transaction.
  virtual void CommitTransaction(bool force_flush, bool end) = 0;
  // Ends the transaction mark, drops the changed buffers, re-reads the
  // headers and releases the record and table locks kept during it.
  virtual void RollbackTransaction() = 0;
};

}  // namespace downsql::access
