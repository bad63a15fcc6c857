#include "db/access/data_directory.h"

#include <algorithm>
#include <exception>

#include "db/access/data_engine.h"
#include "db/access/data_session.h"
#include "db/access/names.h"
#include "platform/locale.h"

namespace downsql::access {

TDataDirectory::TDataDirectory(TDataSession& session, std::string name, std::string path,
                               bool in_memory, bool keep_tables_open)
    : session_(session),
      name_(name.substr(0, kMaxNameLength)),
      path_(std::move(path)),
      in_memory_(in_memory),
      keep_tables_open_(keep_tables_open) {
  if (session_.remote()) return;
  TDataEngine& engine = session_.engine();
  const storage::EngineSettings& s = engine.settings();
  locks_ = std::make_unique<TDataDirectoryLocks>(
      in_memory_ ? engine.memory_lock_files() : engine.disk_lock_files(), path_, s.lock_file_name,
      s.extension(storage::EngineSettings::kData), name_, TLockSettings::From(s));
  locks_->Open();
  read_only_ = locks_->locking_disabled();
}

TDataDirectory::~TDataDirectory() {
  try {
    RollbackTransaction();
  } catch (...) {
    // Nothing can be reported while the directory goes away.
  }
  while (!tables_.empty()) tables_.pop_back();
}

TTransactionTable& TDataDirectory::AddTable(std::unique_ptr<TTransactionTable> table) {
  tables_.push_back(std::move(table));
  TTransactionTable& added = *tables_.back();
  if (transaction_active_ && !restricted_) {
    BeginTable(added);
    transaction_tables_.push_back(&added);
  }
  return added;
}

TTransactionTable* TDataDirectory::FindTable(const std::string& name) {
  for (auto& t : tables_)
    if (SameName(t->TableName(), name)) return t.get();
  return nullptr;
}

void TDataDirectory::CloseUnusedTables() {
  std::erase_if(tables_, [this](const std::unique_ptr<TTransactionTable>& t) {
    return !t->InUse() && std::find(transaction_tables_.begin(), transaction_tables_.end(),
                                    t.get()) == transaction_tables_.end();
  });
}

std::string TDataDirectory::TableKey(const std::string& listed) const {
  const std::string& ext = session_.engine().settings().extension(storage::EngineSettings::kData);
  std::string key = Trim(listed);
  if (key.size() > ext.size() && SameName(key.substr(key.size() - ext.size()), ext))
    key.resize(key.size() - ext.size());
  return key.substr(0, kMaxNameLength);
}

void TDataDirectory::BeginTable(TTransactionTable& table) {
  if (restricted_) {
    if (TDataTableLocks* entry = table.LockEntry()) entry->TransactionLock();
  }
  table.BeginTransaction();
}

void TDataDirectory::RollbackTable(TTransactionTable& table) {
  std::exception_ptr first;
  try {
    table.RollbackTransaction();
  } catch (...) {
    first = std::current_exception();
  }
  if (restricted_) {
    if (TDataTableLocks* entry = table.LockEntry()) {
      try {
        entry->WriteUnlock(false);
        entry->TransactionUnlock();
      } catch (...) {
        if (!first) first = std::current_exception();
      }
    }
  }
  if (first) std::rethrow_exception(first);
}

void TDataDirectory::BeginTransaction(const std::vector<std::string>& tables) {
  if (read_only_ || transaction_active_) return;
  transaction_tables_.clear();
  if (!tables.empty()) {
    restricted_ = true;
    std::vector<std::string> keys;
    for (const std::string& listed : tables) keys.push_back(TableKey(listed));
    const TTableOpener& opener = session_.engine().table_opener;
    for (const std::string& key : keys)
      if (!FindTable(key) && opener) tables_.push_back(opener(*this, key));
    std::vector<TTransactionTable*> chosen;
    for (auto& t : tables_)
      if (std::any_of(keys.begin(), keys.end(),
                      [&](const std::string& k) { return SameName(t->TableName(), k); }))
        chosen.push_back(t.get());
    // Ascending table number keeps two processes from locking in opposite
    // orders; tables without a lock entry take no lock and go first.
    std::stable_sort(chosen.begin(), chosen.end(), [](TTransactionTable* a, TTransactionTable* b) {
      uint32_t na = a->LockEntry() ? a->LockEntry()->number() : 0;
      uint32_t nb = b->LockEntry() ? b->LockEntry()->number() : 0;
      return na < nb;
    });
    size_t begun = 0;
    try {
      for (TTransactionTable* t : chosen) {
        BeginTable(*t);
        ++begun;
      }
    } catch (...) {
      for (size_t i = chosen.size(); i-- > 0;) {
        try {
          if (i < begun) {
            RollbackTable(*chosen[i]);
          } else if (TDataTableLocks* entry = chosen[i]->LockEntry()) {
            entry->TransactionUnlock();
          }
        } catch (...) {
          // The error that stopped the beginning is the one to report.
        }
      }
      restricted_ = false;
      throw;
    }
    transaction_tables_ = std::move(chosen);
  } else {
    restricted_ = false;
    if (locks_) locks_->LockAllTransactionBytes();
    std::vector<TTransactionTable*> begun;
    try {
      for (auto& t : tables_) {
        t->BeginTransaction();
        begun.push_back(t.get());
      }
    } catch (...) {
      for (size_t i = begun.size(); i-- > 0;) {
        try {
          begun[i]->RollbackTransaction();
        } catch (...) {
        }
      }
      try {
        if (locks_) locks_->UnlockAllTransactionBytes();
      } catch (...) {
      }
      throw;
    }
    transaction_tables_ = std::move(begun);
  }
  transaction_active_ = true;
}

void TDataDirectory::CommitTransaction(bool force_flush, bool end) {
  if (read_only_ || !transaction_active_) return;
  bool flush = force_flush || session_.force_buffer_flush();
  if (restricted_) {
    for (size_t i = transaction_tables_.size(); i-- > 0;) {
      TTransactionTable* t = transaction_tables_[i];
      TDataTableLocks* entry = t->LockEntry();
      // The table's write lock and, when ending, its transaction byte are
      // released whether or not its writing succeeded.
      auto release = [&] {
        if (!entry) return;
        entry->WriteUnlock(false);
        if (end) entry->TransactionUnlock();
      };
      try {
        if (entry) entry->WriteUnlock(false);
        t->CommitTransaction(flush, end);
      } catch (...) {
        if (end) transaction_tables_.erase(transaction_tables_.begin() + i);
        try {
          release();
        } catch (...) {
        }
        throw;
      }
      release();
      if (end) transaction_tables_.erase(transaction_tables_.begin() + i);
    }
    if (!end) return;
  } else {
    if (locks_) locks_->LockAllWriteLocks();
    try {
      for (size_t i = transaction_tables_.size(); i-- > 0;) {
        transaction_tables_[i]->CommitTransaction(flush, end);
        if (end) transaction_tables_.erase(transaction_tables_.begin() + i);
      }
    } catch (...) {
      try {
        if (locks_) locks_->UnlockAllWriteLocks();
      } catch (...) {
      }
      throw;
    }
    if (locks_) locks_->UnlockAllWriteLocks();
    if (!end) return;
    if (locks_) locks_->UnlockAllTransactionBytes();
  }
  EndTransaction();
}

void TDataDirectory::RollbackTransaction() {
  if (read_only_ || !transaction_active_) return;
  std::exception_ptr first;
  for (size_t i = transaction_tables_.size(); i-- > 0;) {
    try {
      RollbackTable(*transaction_tables_[i]);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  transaction_tables_.clear();
  if (!restricted_ && locks_) {
    try {
      locks_->UnlockAllTransactionBytes();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  EndTransaction();
  if (first) std::rethrow_exception(first);
}

void TDataDirectory::EndTransaction() {
  transaction_active_ = false;
  restricted_ = false;
  transaction_tables_.clear();
  CloseUnusedTables();
}

}  // namespace downsql::access
