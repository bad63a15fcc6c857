// Tables of a directory: opening, lock-file locks and transactions.
#include "db/access/directory_table.h"

#include "db/access/data_directory.h"
#include "db/access/data_engine.h"
#include "db/access/data_session.h"
#include "db/access/data_table_locks.h"
#include "db/storage/engine_error.h"
#include "platform/locale.h"

namespace downsql::access {

bool TLockFileTableLocks::ReadLock() { return entry_.ReadLock(); }
void TLockFileTableLocks::ReadUnlock() { entry_.ReadUnlock(); }
void TLockFileTableLocks::WriteLock(bool with_transaction_byte) {
  entry_.WriteLock(with_transaction_byte);
}
void TLockFileTableLocks::WriteUnlock(bool with_transaction_byte) {
  entry_.WriteUnlock(with_transaction_byte);
}
bool TLockFileTableLocks::HoldsTransactionByte() const {
  return (entry_.held() & TDataTableLocks::kTransactionBit) != 0;
}

TDirectoryTable::TDirectoryTable(TDataDirectory& directory, const std::string& name,
                                 bool exclusive) {
  TDataSession& session = directory.session();
  storage::TTableOpenOptions options;
  options.directory = directory.path();
  options.name = name;
  options.settings = &session.engine().settings();
  options.exclusive = exclusive;
  options.read_only = directory.read_only();
  options.in_memory = directory.in_memory();
  for (const TDataPassword& password : session.passwords()) {
    options.passwords.push_back(password.text);
  }
  TDataDirectoryLocks* locks = directory.locks();
  if (!exclusive && locks != nullptr && !locks->locking_disabled()) {
    entry_ = &locks->TableEntry(name);
    locks_ = std::make_unique<TLockFileTableLocks>(*entry_);
    options.locks = locks_.get();
  }
  table_ = storage::TDataTable::Open(options);
}

TDirectoryTable::~TDirectoryTable() = default;

void InstallTableOpener(TDataEngine& engine) {
  engine.table_opener = [](TDataDirectory& directory, const std::string& name) {
    return std::unique_ptr<TTransactionTable>(
        std::make_unique<TDirectoryTable>(directory, name, false));
  };
}

std::unique_ptr<storage::TDataCursor> OpenTableCursor(TDataDirectory& directory,
                                                      const std::string& name, bool exclusive,
                                                      storage::TRowEvents* events) {
  auto* table = dynamic_cast<TDirectoryTable*>(directory.FindTable(name));
  if (table == nullptr) {
    table = static_cast<TDirectoryTable*>(
        &directory.AddTable(std::make_unique<TDirectoryTable>(directory, name, exclusive)));
  } else if (exclusive && !table->table()->exclusive()) {
    throw storage::ETabulaEngineError(storage::kErrExclusiveRequired, {name});
  }
  return std::make_unique<storage::TDataCursor>(table->table(), CursorSettings(directory), events);
}

storage::TSessionSettings CursorSettings(TDataDirectory& directory) {
  TDataSession& session = directory.session();
  storage::TSessionSettings settings;
  settings.lock_retry_count = session.lock_retry_count;
  settings.lock_wait_time = session.lock_wait_time;
  settings.lock_protocol = session.lock_protocol;
  settings.force_buffer_flush = session.force_buffer_flush();
  return settings;
}

}  // namespace downsql::access
