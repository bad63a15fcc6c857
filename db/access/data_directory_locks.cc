#include "db/access/data_directory_locks.h"

#include <algorithm>

#include "base/byte_order.h"
#include "db/storage/data_file.h"
#include "db/storage/engine_error.h"
#include "db/storage/engine_settings.h"
#include "platform/clock.h"
#include "platform/locale.h"

namespace downsql::access {

using storage::ETabulaEngineError;

namespace {

constexpr size_t kMaxEntryBytes = size_t{TLockGeometry::kMaxTables} * 256;

}  // namespace

TLockSettings TLockSettings::From(const storage::EngineSettings& s) {
  TLockSettings out;
  out.large_file_support = s.large_file_support();
  out.table_read = {s.table_read_lock_retry_count, s.table_read_lock_wait_time};
  out.table_write = {s.table_write_lock_retry_count, s.table_write_lock_wait_time};
  out.table_trans = {s.table_trans_lock_retry_count, s.table_trans_lock_wait_time};
  return out;
}

TDataDirectoryLocks::TDataDirectoryLocks(TLockFileStore& store, std::string directory,
                                         std::string lock_file_name, std::string data_extension,
                                         std::string database_name, TLockSettings settings)
    : store_(store),
      directory_(std::move(directory)),
      path_(directory_ + lock_file_name),
      data_extension_(std::move(data_extension)),
      database_name_(std::move(database_name)),
      settings_(settings),
      geometry_(settings.large_file_support),
      random_(std::random_device{}()) {}

TDataDirectoryLocks::~TDataDirectoryLocks() = default;

void TDataDirectoryLocks::Open() {
  bool list_known = false;
  if (!store_.Exists(path_)) {
    std::vector<std::string> names = store_.ListTableFiles(directory_, data_extension_);
    if (names.size() > TLockGeometry::kMaxTables) names.resize(TLockGeometry::kMaxTables);
    for (std::string& n : names) AppendEntry(std::move(n));
    std::string content(kHeaderSize, '\0');
    base::PutLE32(content.data(), 1);
    content += EncodeEntries();
    base::PutLE32(content.data() + 4, static_cast<uint32_t>(content.size() - 4));
    switch (store_.CreateNew(path_, content)) {
      case TLockFileStore::CreateResult::kCreated:
        counter_ = 1;
        list_known = true;
        break;
      case TLockFileStore::CreateResult::kExists:  // another process was first
        tables_.clear();
        break;
      case TLockFileStore::CreateResult::kFailed:
        locking_disabled_ = true;
        return;
    }
  }
  for (int attempt = 1; attempt <= kOpenTries; ++attempt) {
    file_ = store_.OpenShared(path_);
    if (file_) {
      if (file_->read_only()) locking_disabled_ = true;
      if (list_known) return;
      DirectoryReadLock();
      bool read = ReadTableList();
      DirectoryReadUnlock();
      // A header that cannot be read is most likely being written; wait for
      // it, and after the last try keep the file with an empty list (the
      // next entry written repairs it).
      if (read || attempt == kOpenTries) return;
      file_.reset();
    }
    if (attempt < kOpenTries) platform::SleepMs(kOpenPauseMs);
  }
  if (!file_) locking_disabled_ = true;
}

bool TDataDirectoryLocks::TryLockRange(const TLockRange& range) {
  if (locking_disabled_) return true;
  return file_ && file_->TryLock(range.offset, range.length);
}

bool TDataDirectoryLocks::UnlockRange(const TLockRange& range) {
  if (locking_disabled_) return true;
  return file_ && file_->Unlock(range.offset, range.length);
}

template <typename MakeRange>
std::optional<TLockRange> TDataDirectoryLocks::LockWithRetry(MakeRange make_range,
                                                             const TLockRetry& retry) {
  for (uint32_t attempt = 0;; ++attempt) {
    TLockRange range = make_range();
    if (TryLockRange(range)) return range;
    if (attempt >= retry.retries) return std::nullopt;
    platform::SleepMs(retry.pause_ms);
  }
}

uint32_t TDataDirectoryLocks::RandomSlot() {
  return std::uniform_int_distribution<uint32_t>(1, TLockGeometry::kMaxSlot)(random_);
}

void TDataDirectoryLocks::DirectoryReadLock() {
  if (directory_read_slot_ != 0) return;
  uint32_t slot = 0;
  auto got = LockWithRetry(
      [&] {
        slot = RandomSlot();
        return geometry_.DirectoryReadLock(slot);
      },
      settings_.directory);
  if (!got) throw ETabulaEngineError(storage::kErrLockFileReadLock, {database_name_});
  directory_read_slot_ = slot;
}

void TDataDirectoryLocks::DirectoryReadUnlock() {
  if (directory_read_slot_ == 0) return;
  uint32_t slot = directory_read_slot_;
  directory_read_slot_ = 0;
  if (!UnlockRange(geometry_.DirectoryReadLock(slot)))
    throw ETabulaEngineError(storage::kErrLockFileReadUnlock, {database_name_});
}

void TDataDirectoryLocks::DirectoryWriteLock() {
  if (!LockWithRetry([&] { return geometry_.DirectoryWriteLock(); }, settings_.directory))
    throw ETabulaEngineError(storage::kErrLockFileWriteLock, {database_name_});
}

void TDataDirectoryLocks::DirectoryWriteUnlock() {
  if (!UnlockRange(geometry_.DirectoryWriteLock()))
    throw ETabulaEngineError(storage::kErrLockFileWriteUnlock, {database_name_});
}

bool TDataDirectoryLocks::ReadTableList() {
  if (!file_) return true;  // no file: the list lives here only
  uint8_t header[kHeaderSize];
  if (file_->ReadAt(0, header, kHeaderSize) != kHeaderSize) return false;
  int32_t counter = static_cast<int32_t>(base::GetLE32(header));
  if (counter_ && *counter_ == counter) return true;
  counter_ = counter;
  int32_t length = static_cast<int32_t>(base::GetLE32(header + 4));
  if (length <= 4) return true;
  std::string bytes(std::min<size_t>(static_cast<size_t>(length) - 4, kMaxEntryBytes), '\0');
  bytes.resize(file_->ReadAt(kHeaderSize, bytes.data(), bytes.size()));
  // Entries beyond the known ones are new; a list cut short ends early.
  size_t pos = 0, index = 0;
  while (pos < bytes.size() && index < TLockGeometry::kMaxTables) {
    size_t n = static_cast<uint8_t>(bytes[pos]);
    if (pos + 1 + n > bytes.size()) break;
    if (index >= tables_.size()) AppendEntry(bytes.substr(pos + 1, n));
    pos += 1 + n;
    ++index;
  }
  return true;
}

TDataTableLocks* TDataDirectoryLocks::FindEntry(const std::string& name) {
  for (auto& t : tables_)
    if (platform::SameTextNoCase(t->name(), name)) return t.get();
  return nullptr;
}

TDataTableLocks& TDataDirectoryLocks::TableEntry(const std::string& name) {
  DirectoryWriteLock();
  TDataTableLocks* entry = nullptr;
  try {
    ReadTableList();
    entry = FindEntry(name);
    if (!entry) {
      if (tables_.size() >= TLockGeometry::kMaxTables)
        throw ETabulaEngineError(storage::kErrDatabaseFull, {database_name_});
      AppendEntry(name);
      entry = tables_.back().get();
      // Without a writable file the entry is known to this process only;
      // the directory is read-only then anyway.
      if (file_ && !file_->read_only()) WriteTableList();
    }
  } catch (...) {
    try {
      DirectoryWriteUnlock();
    } catch (const ETabulaEngineError&) {
      // The first error is the one to report.
    }
    throw;
  }
  DirectoryWriteUnlock();
  return *entry;
}

void TDataDirectoryLocks::AppendEntry(std::string name) {
  if (name.size() > 255) name.resize(255);
  tables_.push_back(std::unique_ptr<TDataTableLocks>(
      new TDataTableLocks(*this, static_cast<uint32_t>(tables_.size() + 1), std::move(name))));
}

std::string TDataDirectoryLocks::EncodeEntries() const {
  std::string out;
  for (const auto& t : tables_) {
    out += static_cast<char>(t->name().size());
    out += t->name();
  }
  return out;
}

void TDataDirectoryLocks::WriteTableList() {
  int32_t counter = storage::NextCounter(counter_.value_or(0));
  uint8_t head[4];
  base::PutLE32(head, static_cast<uint32_t>(counter));
  file_->WriteAt(0, head, 4);
  std::string rest(4, '\0');
  rest += EncodeEntries();
  base::PutLE32(rest.data(), static_cast<uint32_t>(rest.size()));
  file_->WriteAt(4, rest.data(), rest.size());
  counter_ = counter;
}

void TDataDirectoryLocks::LockAllTransactionBytes() {
  if (all_transaction_held_) return;
  if (!LockWithRetry([&] { return geometry_.AllTransactionBytes(); }, settings_.table_trans))
    throw ETabulaEngineError(storage::kErrTransactionLock, {database_name_});
  all_transaction_held_ = true;
}

void TDataDirectoryLocks::UnlockAllTransactionBytes() {
  if (!all_transaction_held_) return;
  all_transaction_held_ = false;
  if (!UnlockRange(geometry_.AllTransactionBytes()))
    throw ETabulaEngineError(storage::kErrTransactionUnlock, {database_name_});
}

void TDataDirectoryLocks::LockAllWriteLocks() {
  if (all_write_held_) return;
  if (!LockWithRetry([&] { return geometry_.AllTableWriteLocks(); }, settings_.table_write))
    throw ETabulaEngineError(storage::kErrTransactionLock, {database_name_});
  all_write_held_ = true;
}

void TDataDirectoryLocks::UnlockAllWriteLocks() {
  if (!all_write_held_) return;
  all_write_held_ = false;
  if (!UnlockRange(geometry_.AllTableWriteLocks()))
    throw ETabulaEngineError(storage::kErrTransactionUnlock, {database_name_});
}

// ---------------------------------------------------------------------------

uint8_t TDataTableLocks::held() const {
  uint8_t bits = own_;
  if (owner_.all_write_held_) bits |= kWriteBit;
  if (owner_.all_transaction_held_) bits |= kTransactionBit;
  return bits;
}

bool TDataTableLocks::ReadLock() {
  if (held() & (kReadBit | kWriteBit | kTransactionBit)) return false;
  uint32_t slot = 0;
  auto got = owner_.LockWithRetry(
      [&] {
        slot = owner_.RandomSlot();
        return owner_.geometry_.TableReadLock(number_, slot);
      },
      owner_.settings_.table_read);
  if (!got) throw ETabulaEngineError(storage::kErrTableReadLock, {name_});
  read_slot_ = slot;
  own_ |= kReadBit;
  return true;
}

void TDataTableLocks::ReadUnlock() {
  if (!(own_ & kReadBit)) return;
  own_ &= ~kReadBit;
  uint32_t slot = read_slot_;
  read_slot_ = 0;
  if (!owner_.UnlockRange(owner_.geometry_.TableReadLock(number_, slot)))
    throw ETabulaEngineError(storage::kErrTableReadUnlock, {name_});
}

void TDataTableLocks::WriteLock(bool take_transaction) {
  if (held() & kWriteBit) return;
  bool took_byte = false;
  if (take_transaction && !(held() & kTransactionBit)) {
    if (!owner_.LockWithRetry([&] { return owner_.geometry_.TransactionByte(number_); },
                              owner_.settings_.table_write))
      throw ETabulaEngineError(storage::kErrTableWriteLock, {name_});
    own_ |= kTransactionBit;
    took_byte = true;
  }
  if (!owner_.LockWithRetry([&] { return owner_.geometry_.TableWriteLock(number_); },
                            owner_.settings_.table_write)) {
    if (took_byte) {
      own_ &= ~kTransactionBit;
      owner_.UnlockRange(owner_.geometry_.TransactionByte(number_));
    }
    throw ETabulaEngineError(storage::kErrTableWriteLock, {name_});
  }
  own_ |= kWriteBit;
}

void TDataTableLocks::WriteUnlock(bool release_transaction) {
  bool ok = true;
  if (own_ & kWriteBit) {
    own_ &= ~kWriteBit;
    ok = owner_.UnlockRange(owner_.geometry_.TableWriteLock(number_));
  }
  if (release_transaction && (own_ & kTransactionBit)) {
    own_ &= ~kTransactionBit;
    ok = owner_.UnlockRange(owner_.geometry_.TransactionByte(number_)) && ok;
  }
  if (!ok) throw ETabulaEngineError(storage::kErrTableWriteUnlock, {name_});
}

bool TDataTableLocks::TransactionLock() {
  if (held() & kTransactionBit) return false;
  if (!owner_.LockWithRetry([&] { return owner_.geometry_.TransactionByte(number_); },
                            owner_.settings_.table_trans))
    throw ETabulaEngineError(storage::kErrTransactionLock, {owner_.database_name_});
  own_ |= kTransactionBit;
  return true;
}

void TDataTableLocks::TransactionUnlock() {
  if (!(own_ & kTransactionBit)) return;
  own_ &= ~kTransactionBit;
  if (!owner_.UnlockRange(owner_.geometry_.TransactionByte(number_)))
    throw ETabulaEngineError(storage::kErrTransactionUnlock, {owner_.database_name_});
}

}  // namespace downsql::access
