// What an open table needs from its surroundings: the lock-file locks of its
// directory, the session's lock settings and the engine's row events.
//
// The table engine sits below the directory and session objects, so these
// are interfaces: the directory (db/access) hands an implementation to every
// table it opens; tests hand in their own.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace downsql::storage {

class TRecordBuffer;

// The read and write locks of one table in its directory's lock file, and
// its transaction byte. Each call raises the lock error of the lock file
// (10225 to 10230) when the lock cannot be had within its retries.
class TTableLocks {
 public:
  virtual ~TTableLocks() = default;
  // Takes the table's read lock; false (and nothing taken) when this entry
  // already holds its read, write or transaction lock.
  virtual bool ReadLock() = 0;
  virtual void ReadUnlock() = 0;
  // Takes the table's write lock, first its transaction byte when
  // with_transaction_byte is set and the byte is not held yet; nothing when
  // the write lock is held already.
  virtual void WriteLock(bool with_transaction_byte) = 0;
  // Releases the write lock, and the transaction byte too when asked.
  virtual void WriteUnlock(bool with_transaction_byte) = 0;
  // Whether the table's transaction byte is held (its own transaction lock,
  // or the directory's lock of all tables' bytes).
  virtual bool HoldsTransactionByte() const { return false; }
};

// How a session locks records it changes. Pessimistic: a record is locked
// from the start of its edit to its post, so a second editor waits (and
// fails with the record lock error after its retries). Optimistic: nothing
// is locked while editing; the post finds out whether someone else changed
// the record meanwhile (the record-changed error). The session component
// (db/access) stores this very value.
enum TLockProtocol : uint8_t { lpPessimistic, lpOptimistic };

// The session settings a cursor works by.
struct TSessionSettings {
  uint16_t lock_retry_count = 15;  // record and whole-table locks
  uint16_t lock_wait_time = 100;   // milliseconds between their tries
  TLockProtocol lock_protocol = lpPessimistic;
  bool force_buffer_flush = false;
};

enum class TRowOperation : uint8_t { kInsert, kUpdate, kDelete };
// What a row-error handler asks for (the engine's error event answers with
// the same value): fail passes the error on, abort ends the operation
// silently, retry runs the whole operation again.
enum TDataAction : uint8_t { daFail, daAbort, daRetry };

// The engine's row events. Before- and after-events come around every
// insert, update and delete; an error inside one of them asks RowError for
// the TDataAction to take.
class TRowEvents {
 public:
  virtual ~TRowEvents() = default;
  virtual void BeforeRow(TRowOperation op, const std::string& table_name,
                         const TRecordBuffer& record) = 0;
  virtual void AfterRow(TRowOperation op, const std::string& table_name,
                        const TRecordBuffer& record) = 0;
  virtual TDataAction RowError(TRowOperation op, const std::string& table_name,
                               const TRecordBuffer& record, const std::exception& error) = 0;
};

}  // namespace downsql::storage
