// The open table: its files, counters, locks, change detection, flushing and
// transactions.
#include "db/storage/data_table.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "base/byte_order.h"
#include "db/storage/data_file.h"
#include "db/storage/engine_error.h"
#include "db/storage/index_file.h"
#include "platform/clock.h"
#include "platform/locale.h"

namespace downsql::storage {
namespace {

constexpr uint64_t kLockBase = 4294967295ULL;
constexpr uint64_t kLockBaseLarge = 9223372036854775807ULL;

// Tries a lock retry_count + 1 times, wait_ms apart.
template <class TryLock>
bool LockWithRetry(TryLock try_lock, uint16_t retry_count, uint16_t wait_ms) {
  for (uint32_t attempt = 0;; ++attempt) {
    if (try_lock()) return true;
    if (attempt >= retry_count) return false;
    platform::SleepMs(wait_ms);
  }
}

}  // namespace

std::shared_ptr<TDataTable> TDataTable::Open(const TTableOpenOptions& options) {
  std::shared_ptr<TDataTable> table(new TDataTable);
  const EngineSettings& settings = *options.settings;
  table->name_ = options.name;
  table->settings_ = options.settings;
  table->exclusive_ = options.exclusive;
  table->locks_ = options.exclusive ? nullptr : options.locks;

  // Members are closed by their destructors when a later step fails.
  std::string base = options.directory + options.name;
  if (!options.in_memory) {
    table->journal_path_ = base + TTableJournal::kExtension;
    table->files_opener_ = options.files;
    // A commit that a dead process left half-done is undone before the
    // files are read.
    if (TTableJournal::Armed(table->journal_path_, options.files)) {
      TTableLocks* locks = table->locks_;
      if (locks != nullptr) locks->WriteLock(false);
      try {
        TTableJournal::Recover(table->journal_path_, options.files, table->FileNames());
      } catch (...) {
        if (locks != nullptr) locks->WriteUnlock(false);
        throw;
      }
      if (locks != nullptr) locks->WriteUnlock(false);
    }
  }
  table->data_ = std::make_unique<TDataFile>(
      options.name, base + settings.extension(EngineSettings::kData), options.in_memory, settings);
  table->data_->file().set_opener(options.files);
  TPasswordSource passwords;
  std::vector<std::string> known = options.passwords;
  passwords.known = [known] { return known; };
  table->data_->Open(options.read_only, options.exclusive, passwords);
  table->read_only_ = options.read_only || table->data_->file().read_only();

  table->index_ = std::make_unique<TIndexFile>(
      options.name, base + settings.extension(EngineSettings::kIndex), options.in_memory, settings);
  table->index_->file().set_opener(options.files);
  if (table->data_->encrypted()) {
    table->FindCipher(options.passwords);
    table->index_->set_cipher(table->cipher_.get());
  }
  if (!table->index_->file().Exists()) {
    // A lost index file is made again empty; the table works without
    // indexes until it is repaired.
    table->index_->Create(table->data_->index_page_size());
    table->index_->Close();
    table->indexes_usable_ = false;
  }
  table->index_->Open(table->data_->index_page_size(), table->read_only_, options.exclusive);
  if (table->data_->blob_column_count() > 0) {
    table->blob_ =
        std::make_unique<TBlobFile>(options.name, base + settings.extension(EngineSettings::kBlob),
                                    options.in_memory, settings);
    table->blob_->file().set_opener(options.files);
    table->blob_->set_cipher(table->cipher_.get());
    table->blob_->Open(table->data_->blob_block_size(), table->read_only_, options.exclusive);
  }

  if (!options.in_memory && !table->read_only_) {
    TBlobFile* blob = table->blob_.get();
    table->journal_ = std::make_unique<TTableJournal>(
        table->journal_path_, options.files,
        TTableJournal::Files{&table->data_->file(), &table->index_->file(),
                             blob != nullptr ? &blob->file() : nullptr});
  }

  if (table->locks_ != nullptr) {
    bool locked = table->locks_->ReadLock();
    try {
      table->RereadHeaders();
    } catch (...) {
      if (locked) table->locks_->ReadUnlock();
      throw;
    }
    if (locked) table->locks_->ReadUnlock();
  }
  table->seen_update_count_ = table->data_->update_count();
  table->LoadIndexes();
  if (options.verify) {
    table->data_->Verify();
    // Every tree must be sound: order, links, branch keys and counts.
    std::set<uint32_t> pages;
    for (const TTableIndex& index : table->indexes_) {
      if (!table->Tree(index)->Check(&pages).empty()) {
        throw ETabulaEngineError(kErrIndexPageCorrupt, {options.name});
      }
    }
  }
  table->opened_ = true;
  return table;
}

TDataTable::~TDataTable() {
  try {
    // A table whose open failed half-way has nothing of its own to write.
    if (opened_ && !in_transaction_ && !read_only_) WriteAll(false);
  } catch (...) {
    // Closing must go on; the files keep their last flushed state.
  }
  try {
    ReleaseAllLocks();
  } catch (...) {
  }
  journal_.reset();
  blob_.reset();
  index_.reset();
  data_.reset();
}

void TDataTable::FindCipher(const std::vector<std::string>& passwords) {
  const uint8_t* stored = data_->raw_header() + 173;
  for (const std::string& password : passwords) {
    std::array<uint8_t, 16> check = PasswordCheckValue(password);
    if (std::equal(check.begin(), check.end(), stored)) {
      base::Md5Digest key = base::Md5(password);
      cipher_ = std::make_unique<base::BlowfishCbc>(key.data(), key.size());
      return;
    }
  }
  throw ETabulaEngineError(kErrPasswordRequired, {name_});
}

const std::vector<TFieldDef>& TDataTable::fields() const { return data_->fields(); }
uint32_t TDataTable::record_size() const { return data_->record_size(); }
uint32_t TDataTable::locale() const { return data_->locale(); }

void TDataTable::LoadIndexes() {
  indexes_.clear();
  if (!indexes_usable_) return;
  uint32_t count = index_->secondary_count();
  for (uint32_t slot = 0; slot <= count; ++slot) {
    const TIndexDefinition& def = index_->definition(slot);
    if (def.empty()) continue;
    TTableIndex index;
    index.slot = static_cast<uint8_t>(slot);
    index.name = slot == 0 ? "Primary" : def.name;
    index.layout = index_->layout(slot);
    index.compare = index_->Comparator(slot, fields(), locale());
    indexes_.push_back(std::move(index));
  }
}

const TTableIndex* TDataTable::index_in_slot(uint8_t slot) const {
  for (const TTableIndex& index : indexes_) {
    if (index.slot == slot) return &index;
  }
  return nullptr;
}

TIndexFile::TTreeAccess TDataTable::Tree(const TTableIndex& index) {
  return index_->Tree(index.slot, index.layout, index.compare);
}

// ---- records and counters ----------------------------------------------

uint32_t TDataTable::slot_count() { return data_->block_count(); }

bool TDataTable::ReadRecord(uint32_t slot, TRecordBuffer& out) {
  data_->CopyBlock(slot, out.data(), out.size());
  if (out.status() != kSlotLive) return false;
  out.set_link(static_cast<int32_t>(slot));
  return true;
}

const uint8_t* TDataTable::PeekRecord(uint32_t slot) {
  // A scan reads the file 64 KB at a time.
  return data_->PeekBlock(slot, std::max<uint32_t>(1, 65536 / record_size()));
}

void TDataTable::WriteRecord(uint32_t slot, const TRecordBuffer& record) {
  // The record fills its slot, so the slot's old bytes need not be read.
  TBuffer* buffer = record.size() == data_->block_size() ? data_->GetBlockToOverwrite(slot)
                                                         : data_->GetBlock(slot);
  std::memcpy(buffer->data.data(), record.data(), record.size());
  buffer->data[0] = kSlotLive;
  base::PutLE32(buffer->data.data() + 1, 0);
  data_->MarkModified(buffer);
  data_->Unpin(buffer);
}

void TDataTable::FreeSlot(uint32_t slot) {
  TBuffer* buffer = data_->GetBlock(slot);
  buffer->data[0] = kSlotDeleted;
  base::PutLE32(buffer->data.data() + 1, data_->free_chain_head());
  data_->MarkModified(buffer);
  data_->Unpin(buffer);
  data_->set_free_chain_head(slot);
}

uint32_t TDataTable::SlotForNewRecord() {
  uint32_t head = data_->free_chain_head();
  return head != 0 ? head : slot_count() + 1;
}

void TDataTable::TakeSlot(uint32_t slot) {
  if (slot != data_->free_chain_head() || slot == 0) return;
  TBuffer* buffer = data_->GetBlock(slot);
  uint32_t next = base::GetLE32(buffer->data.data() + 1);
  data_->Unpin(buffer);
  data_->set_free_chain_head(next);
}

uint32_t TDataTable::record_count() { return data_->record_count(); }
void TDataTable::AddRecordCount(int delta) {
  data_->set_record_count(
      static_cast<uint32_t>(static_cast<int64_t>(data_->record_count()) + delta));
}
uint32_t TDataTable::last_record_id() { return static_cast<uint32_t>(data_->last_record_id()); }
void TDataTable::set_last_record_id(uint32_t id) {
  data_->set_last_record_id(static_cast<int32_t>(id));
}
uint32_t TDataTable::last_autoinc() { return static_cast<uint32_t>(data_->last_autoinc()); }
void TDataTable::set_last_autoinc(uint32_t value) {
  data_->set_last_autoinc(static_cast<int32_t>(value));
}
uint32_t TDataTable::NextBlobVersion() { return static_cast<uint32_t>(data_->NextBlobVersion()); }

// ---- change detection ---------------------------------------------------------

void TDataTable::RereadHeaders() {
  data_->ReReadHeader();
  index_->ReReadHeader();
  if (blob_) blob_->ReReadHeader();
}

void TDataTable::DropBuffersAndReread() {
  data_->Discard();
  index_->Discard();
  if (blob_) blob_->Discard();
  RereadHeaders();
  seen_update_count_ = data_->update_count();
  ++change_serial_;
}

bool TDataTable::CheckForChanges() {
  if (exclusive_ || in_transaction_ || hold_synced_) return false;
  uint8_t count[4];
  data_->file().Read(0, count, sizeof count);
  if (static_cast<int32_t>(base::GetLE32(count)) == seen_update_count_) return false;
  // A writer that died half-way also changed the count (its data header
  // goes first); under the write lock WriteLock has looked already.
  if (write_lock_depth_ > 0 || !RecoverLeftCommit()) DropBuffersAndReread();
  return true;
}

std::array<std::string, TTableJournal::kFileCount> TDataTable::FileNames() const {
  std::string base =
      journal_path_.substr(0, journal_path_.size() - std::string(TTableJournal::kExtension).size());
  return {base + settings_->extension(EngineSettings::kData),
          base + settings_->extension(EngineSettings::kIndex),
          base + settings_->extension(EngineSettings::kBlob)};
}

bool TDataTable::RestoreLeftJournal() {
  if (journal_path_.empty() || (journal_ && journal_->active()) ||
      !platform::FileExists(journal_path_)) {
    return false;
  }
  return TTableJournal::Recover(journal_path_, files_opener_, FileNames());
}

bool TDataTable::RecoverLeftCommit() {
  if (exclusive_ || journal_path_.empty() || (journal_ && journal_->active()) ||
      !TTableJournal::Armed(journal_path_, files_opener_)) {
    return false;
  }
  // The table write lock keeps every writer out; this table's own read
  // byte lies inside it and makes way meanwhile.
  bool take = locks_ != nullptr && !table_locked_ && !region_locked_;
  bool had_read = take && read_locked_;
  if (had_read) {
    locks_->ReadUnlock();
    read_locked_ = false;
  }
  auto relock = [&] {
    if (had_read) read_locked_ = locks_->ReadLock();
  };
  bool restored = false;
  try {
    if (take) locks_->WriteLock(false);
  } catch (...) {
    relock();
    throw;
  }
  try {
    restored = RestoreLeftJournal();
  } catch (...) {
    if (take) locks_->WriteUnlock(false);
    relock();
    throw;
  }
  if (take) locks_->WriteUnlock(false);
  relock();
  DropBuffersAndReread();
  return restored;
}

// ---- lock-file locks ------------------------------------------------------------

void TDataTable::WriteLock() {
  if (write_lock_depth_++ > 0) return;
  if (locks_ != nullptr && !table_locked_ && !TransactionKeepsWritersOut()) {
    try {
      SuspendReadHold();
      locks_->WriteLock(!in_transaction_);
      region_locked_ = true;
      region_with_byte_ = !in_transaction_;
    } catch (...) {
      --write_lock_depth_;
      ResumeReadHold();
      throw;
    }
  }
  // Nobody else writes now: a journal left armed is a dead writer's. The
  // journal stays open for this write lock's batches.
  if (!exclusive_ && !in_transaction_ && !table_locked_) {
    try {
      if (journal_ ? journal_->Hold() : RestoreLeftJournal()) {
        DropBuffersAndReread();
        return;
      }
    } catch (...) {
      WriteUnlock();
      throw;
    }
  }
  CheckForChanges();
}

void TDataTable::WriteUnlock() {
  if (write_lock_depth_ == 0 || --write_lock_depth_ > 0) return;
  if (journal_) journal_->Release();
  if (region_locked_) {
    region_locked_ = false;
    locks_->WriteUnlock(region_with_byte_);
    ResumeReadHold();
  }
}

bool TDataTable::ReadLock() {
  if (locks_ == nullptr || table_locked_ || read_held()) return false;
  bool got = locks_->ReadLock();
  read_locked_ = read_locked_ || got;
  return got;
}

void TDataTable::ReadUnlock() {
  if (locks_ == nullptr) return;
  read_locked_ = false;
  locks_->ReadUnlock();
}

// ---- read holds -------------------------------------------------------------------

void TDataTable::BeginReadHold() {
  if (read_hold_depth_++ > 0) return;
  try {
    hold_read_locked_ = ReadLock();
    CheckForChanges();
  } catch (...) {
    --read_hold_depth_;
    if (hold_read_locked_) {
      hold_read_locked_ = false;
      try {
        ReadUnlock();
      } catch (...) {
      }
    }
    throw;
  }
  hold_synced_ = true;
}

void TDataTable::EndReadHold() {
  if (read_hold_depth_ == 0 || --read_hold_depth_ > 0) return;
  hold_synced_ = false;
  if (hold_read_locked_) {
    hold_read_locked_ = false;
    ReadUnlock();
  }
}

// The table write lock's region covers every read byte of the table, and a
// lock that overlaps one of this process's own is refused, so the hold lets
// its read byte go while the write lock is taken; whatever happens between
// the two is seen by the change check that follows the write lock.
void TDataTable::SuspendReadHold() {
  if (read_hold_depth_ == 0) return;
  hold_synced_ = false;
  if (hold_read_locked_) {
    hold_read_locked_ = false;
    ReadUnlock();
  }
}

// After the write lock is gone: the read lock again, and a change check,
// since another process may write between the two. When that fails the hold
// stays unsynchronised and every step locks and checks on its own.
void TDataTable::ResumeReadHold() {
  if (read_hold_depth_ == 0 || hold_synced_ || write_lock_depth_ > 0) return;
  try {
    hold_read_locked_ = ReadLock();
    CheckForChanges();
    hold_synced_ = true;
  } catch (...) {
    // Reported by the next step, which locks and checks for itself.
  }
}

// ---- record and table locks ---------------------------------------------------------

uint64_t TDataTable::LockBase() const {
  return settings_->large_file_support() ? kLockBaseLarge : kLockBase;
}

bool TDataTable::InReservedRun(uint32_t slot) const {
  if (reserved_runs_.empty()) return false;
  // Inserts ask about the newest run again and again.
  const auto& [last_first, last_count] = *reserved_runs_.rbegin();
  if (slot >= last_first) return slot - last_first < last_count;
  auto it = reserved_runs_.upper_bound(slot);
  if (it == reserved_runs_.begin()) return false;
  --it;
  return slot - it->first < it->second;
}

bool TDataTable::TryLockRecordByte(uint32_t slot) {
  if (InReservedRun(slot)) return true;
  if (!in_transaction_ || slot <= data_->block_count()) {
    return data_->file().Lock(LockBase() - slot, 1);
  }
  // A slot past the last one, inside a transaction: lock it together with
  // the slots that follow, so that the next inserts find their locks taken.
  // Nobody else can ask for them before the commit (they do not exist for
  // others, and the transaction byte keeps other writers off), except a
  // lock of the whole table, which they still refuse. The run is kept to
  // the end of the transaction.
  uint64_t count = std::min<uint64_t>(kReservedRunSlots, settings_->max_record_count() - slot + 1);
  if (slot > settings_->max_record_count() || count <= 1) {
    return data_->file().Lock(LockBase() - slot, 1);
  }
  if (!data_->file().Lock(LockBase() - (slot + count - 1), count)) return false;
  reserved_runs_.emplace(slot, uint32_t(count));
  return true;
}

void TDataTable::ReleaseReservedRuns() {
  bool ok = true;
  for (const auto& [first, count] : reserved_runs_) {
    ok = data_->file().Unlock(LockBase() - (uint64_t(first) + count - 1), count) && ok;
  }
  reserved_runs_.clear();
  if (!ok) throw ETabulaEngineError(kErrTableUnlock, {name_});
}

void TDataTable::LockRecord(uint32_t slot, const void* owner, uint16_t retry_count,
                            uint16_t wait_ms) {
  if (exclusive_ || table_locked_) return;
  // A transaction going through the table locks slot after slot: the place
  // of a slot past the last one locked is the end, without a search.
  auto place = !record_locks_.empty() && record_locks_.rbegin()->first < slot
                   ? record_locks_.end()
                   : record_locks_.lower_bound(slot);
  const bool held = place != record_locks_.end() && place->first == slot;
  if (held && place->second == owner) return;
  // A lock another cursor of this table holds is refused like a lock of
  // another process: through the same file handle the system would grant it.
  int tries = 0;
  auto try_lock = [&] {
    bool taken = tries++ == 0 ? held : record_locks_.count(slot) != 0;
    return !taken && TryLockRecordByte(slot);
  };
  if (!LockWithRetry(try_lock, retry_count, wait_ms))
    throw ETabulaEngineError(kErrRecordLock, {name_});
  if (tries == 1 && spare_lock_) {
    spare_lock_.key() = slot;
    spare_lock_.mapped() = owner;
    record_locks_.insert(place, std::move(spare_lock_));
  } else if (tries == 1) {
    record_locks_.emplace_hint(place, slot, owner);
  } else {
    record_locks_[slot] = owner;
  }
}

void TDataTable::UnlockRecord(uint32_t slot) {
  auto it = record_locks_.find(slot);
  if (it == record_locks_.end()) return;
  spare_lock_ = record_locks_.extract(it);
  if (InReservedRun(slot)) return;
  if (!data_->file().Unlock(LockBase() - slot, 1))
    throw ETabulaEngineError(kErrTableUnlock, {name_});
}

void TDataTable::ReleaseRecordLockUnlessKept(uint32_t slot) {
  if (!in_transaction_) UnlockRecord(slot);
}

void TDataTable::LockTable(uint16_t retry_count, uint16_t wait_ms) {
  if (exclusive_ || table_locked_) return;
  // The table lock covers the runs of this table's own new slots (a record
  // lock still held refuses it anyway, as any lock inside its range does).
  if (record_locks_.empty()) ReleaseReservedRuns();
  uint64_t length = settings_->max_record_count();
  uint64_t offset = LockBase() - length;
  if (!LockWithRetry([&] { return data_->file().Lock(offset, length); }, retry_count, wait_ms)) {
    throw ETabulaEngineError(kErrTableLock, {name_});
  }
  table_locked_ = true;
}

void TDataTable::UnlockTable() {
  if (!table_locked_) return;
  table_locked_ = false;
  uint64_t length = settings_->max_record_count();
  if (!data_->file().Unlock(LockBase() - length, length)) {
    throw ETabulaEngineError(kErrTableUnlock, {name_});
  }
}

void TDataTable::ReleaseAllLocks() {
  // All record locks in one request: the system releases a run of adjacent
  // slots' bytes (a transaction that changed many rows) with one call.
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  ranges.reserve(record_locks_.size());
  for (const auto& [slot, owner] : record_locks_) {
    if (!InReservedRun(slot)) ranges.emplace_back(LockBase() - slot, 1);
  }
  record_locks_.clear();
  bool released = ranges.empty() || data_->file().UnlockAll(ranges);
  ReleaseReservedRuns();
  UnlockTable();
  if (!released) throw ETabulaEngineError(kErrTableUnlock, {name_});
}

// ---- writing ---------------------------------------------------------------------

void TDataTable::FlushChanges(bool os_flush) {
  if (exclusive_ || in_transaction_) return;  // headers stay marked modified
  WriteAll(os_flush);
}

void TDataTable::WriteAll(bool os_flush) {
  // What each file has to write decides everything up front: the journal
  // covers all of it with one write before the first byte changes in place.
  auto data_runs = data_->ModifiedRanges();
  auto index_runs = index_->ModifiedRanges();
  decltype(index_runs) blob_runs;
  if (blob_) blob_runs = blob_->ModifiedRanges();
  bool index_header = !index_runs.empty() || index_->header_pending();
  bool blob_header = blob_ && (!blob_runs.empty() || blob_->header_pending());
  // The data header's update count must show every change of the table.
  bool data_header = !data_runs.empty() || data_->header_modified() || index_header || blob_header;
  if (!data_header) {
    // An exclusive table's writes since its last flush are complete.
    if (journal_) journal_->Commit();
    seen_update_count_ = data_->update_count();
    return;
  }
  try {
    if (journal_) {
      std::vector<TTableJournal::TRange> ranges;
      auto add = [&](TBufferedFile& file, const auto& runs, bool header) {
        // Only the header itself; definitions written with it are
        // covered by the write guard when that happens.
        if (header) ranges.push_back({&file.file(), 0, kTableHeaderSize});
        for (auto [offset, length] : runs) ranges.push_back({&file.file(), offset, length});
      };
      add(*data_, data_runs, true);
      add(*index_, index_runs, index_header);
      if (blob_) add(*blob_, blob_runs, blob_header);
      journal_->Begin(os_flush);
      journal_->Cover(ranges);
    }
    // The data header first: a table left half-written by a crash shows
    // another update count to every reader.
    data_->WriteHeader(true);
    data_->WriteModified(false);
    if (os_flush) data_->file().Flush();

    if (index_header) {
      index_->WriteModified(false);
      index_->WriteHeader(true);
      if (os_flush) index_->file().Flush();
    }
    if (blob_header) {
      blob_->WriteModified(false);
      blob_->WriteHeader(true);
      if (os_flush) blob_->file().Flush();
    }
    if (journal_) journal_->Commit();
  } catch (...) {
    // Put back what was written in place (when even that fails, the
    // journal stays for the next opener) and forget what the buffers held.
    try {
      if (journal_) journal_->Rollback();
    } catch (...) {
    }
    try {
      DropBuffersAndReread();
    } catch (...) {
    }
    throw;
  }
  seen_update_count_ = data_->update_count();
}

void TDataTable::UndoFailedChange() {
  // Cursors must not trust what they copied while the change was under way.
  ++change_serial_;
  if (exclusive_ || in_transaction_) return;
  // Blocks that the change had to write early (a full buffer pool) go back.
  if (journal_) journal_->Rollback();
  DropBuffersAndReread();
}

// ---- maintenance -----------------------------------------------------------------

void TDataTable::Create(const std::string& directory, const std::string& name,
                        const EngineSettings& settings, const TNewTableDefinition& new_table,
                        bool in_memory) {
  std::string base = directory + name;
  std::string data_name = base + settings.extension(EngineSettings::kData);
  std::string index_name = base + settings.extension(EngineSettings::kIndex);
  std::string blob_name = base + settings.extension(EngineSettings::kBlob);
  TTableDefinition table_properties = new_table.table;
  table_properties.secondary_indexes = static_cast<int>(new_table.secondary.size());
  auto data = std::make_unique<TDataFile>(name, data_name, in_memory, settings);
  data->Create(table_properties, /*exclusive=*/true);
  try {
    std::unique_ptr<base::BlowfishCbc> cipher;
    if (new_table.table.encrypted) {
      base::Md5Digest key = base::Md5(new_table.table.password);
      cipher = std::make_unique<base::BlowfishCbc>(key.data(), key.size());
    }
    TIndexFile index(name, index_name, in_memory, settings);
    index.set_cipher(cipher.get());
    index.Create(data->index_page_size());
    if (new_table.primary) index.ReplacePrimary(*new_table.primary, data->fields());
    for (const TIndexDefinition& def : new_table.secondary) index.AddIndex(def, data->fields());
    index.Flush();
    index.Close();
    if (data->blob_column_count() > 0) {
      TBlobFile blob(name, blob_name, in_memory, settings);
      blob.set_cipher(cipher.get());
      blob.Create(data->blob_block_size());
      blob.Close();
    }
    data->WriteHeader(false);
    data->Close();
  } catch (...) {
    data->Close();
    data.reset();
    for (const std::string& file : {blob_name, index_name, data_name}) {
      TEngineFile leftover(file, in_memory);
      try {
        if (leftover.Exists()) leftover.Delete();
      } catch (...) {
      }
    }
    throw;
  }
}

void TDataTable::Delete(const std::string& directory, const std::string& name,
                        const EngineSettings& settings, bool in_memory) {
  std::string base = directory + name;
  TEngineFile data(base + settings.extension(EngineSettings::kData), in_memory);
  data.Delete();
  for (EngineSettings::Extension ext : {EngineSettings::kIndex, EngineSettings::kBlob}) {
    TEngineFile file(base + settings.extension(ext), in_memory);
    if (file.Exists()) file.Delete();
  }
  // A later table of this name must not find this one's journal.
  if (!in_memory) {
    TEngineFile journal(base + TTableJournal::kExtension, false);
    if (journal.Exists()) journal.Delete();
  }
}

void TDataTable::RequireExclusive() const {
  if (!exclusive_) throw ETabulaEngineError(kErrExclusiveRequired, {name_});
}

void TDataTable::Empty() {
  RequireExclusive();
  if (read_only_) throw ETabulaEngineError(kErrAccessDenied, {name_});
  data_->Discard();
  index_->Discard();
  if (blob_) blob_->Discard();
  data_->Empty();
  index_->Empty();
  if (blob_) blob_->Empty();
  ++change_serial_;
}

uint8_t TDataTable::AddIndex(const TIndexDefinition& def) {
  RequireExclusive();
  if (read_only_) throw ETabulaEngineError(kErrAccessDenied, {name_});
  WriteAll(false);
  uint32_t slot = index_->AddIndex(def, fields());
  TTableIndex index;
  index.slot = static_cast<uint8_t>(slot);
  index.name = def.name;
  index.layout = index_->layout(slot);
  index.compare = index_->Comparator(slot, fields(), locale());
  try {
    TRecordBuffer record(record_size());
    auto tree = Tree(index);
    for (uint32_t n = 1; n <= slot_count(); ++n) {
      if (!ReadRecord(n, record)) continue;
      std::vector<uint8_t> key = index.compare.BuildKey(record.data());
      if (!tree->Insert(key.data(), n))
        throw ETabulaEngineError(kErrDuplicateKey, {def.name, name_});
    }
  } catch (...) {
    index_->DeleteIndex(slot);
    throw;
  }
  LoadIndexes();
  ++change_serial_;
  return static_cast<uint8_t>(slot);
}

void TDataTable::DropIndex(const std::string& index_name) {
  RequireExclusive();
  if (read_only_) throw ETabulaEngineError(kErrAccessDenied, {name_});
  for (uint32_t slot = 1; slot <= index_->secondary_count(); ++slot) {
    if (platform::SameTextNoCase(index_->definition(slot).name, index_name)) {
      index_->DeleteIndex(slot);
      LoadIndexes();
      ++change_serial_;
      return;
    }
  }
  throw ETabulaEngineError(kErrInvalidIndexName, {index_name, name_});
}

// ---- transactions -------------------------------------------------------------------

void TDataTable::SetTransactionFlags(bool on) {
  in_transaction_ = on;
  data_->set_transaction_active(on);
  index_->set_transaction_active(on);
  if (blob_) blob_->set_transaction_active(on);
}

void TDataTable::BeginTransaction() {
  if (in_transaction_) return;
  if (!read_only_) WriteAll(false);
  if (!RecoverLeftCommit()) CheckForChanges();
  SetTransactionFlags(true);
}

void TDataTable::CommitTransaction(bool force_flush, bool end) {
  if (end) SetTransactionFlags(false);
  if (!read_only_) {
    bool locked = false;
    // Within a change of this transaction the region was not taken (see
    // WriteLock), so the commit takes it whenever it is not held.
    if (locks_ != nullptr && !table_locked_ && !region_locked_) {
      SuspendReadHold();
      locks_->WriteLock(false);
      locked = true;
    }
    try {
      WriteAll(force_flush);
    } catch (...) {
      if (locked) {
        locks_->WriteUnlock(false);
        ResumeReadHold();
      }
      throw;
    }
    if (locked) {
      locks_->WriteUnlock(false);
      ResumeReadHold();
    }
  }
  if (end) ReleaseAllLocks();
}

void TDataTable::RollbackTransaction() {
  SetTransactionFlags(false);
  DropBuffersAndReread();
  ReleaseAllLocks();
}

void TDataTable::AddCursor() { ++cursor_count_; }

void TDataTable::RemoveCursor() {
  if (--cursor_count_ > 0 || in_transaction_ || read_only_) return;
  WriteAll(false);
}

}  // namespace downsql::storage
