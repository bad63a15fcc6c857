// The table cursor: navigation in natural and index order, and insert,
// update and delete with index upkeep, locks and change detection.
#include "db/storage/data_cursor.h"

#include <cstring>

#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"
#include "db/storage/record_checks.h"

namespace downsql::storage {
namespace {

// The table keeps its counters as unsigned numbers; they advance by the
// engine's one counter rule.
uint32_t NextTableCounter(uint32_t last) {
  return static_cast<uint32_t>(NextCounter(static_cast<int32_t>(last)));
}

// Releases the table write lock when a change step ends, also on errors.
class WriteLockHold {
 public:
  explicit WriteLockHold(TDataTable& table) : table_(table) { table_.WriteLock(); }
  ~WriteLockHold() {
    try {
      table_.WriteUnlock();
    } catch (...) {
      // A failed release while an error is already on its way must not
      // replace that error.
    }
  }
  WriteLockHold(const WriteLockHold&) = delete;
  WriteLockHold& operator=(const WriteLockHold&) = delete;

 private:
  TDataTable& table_;
};

// Holds the table's read lock while a navigation step checks for changes and
// reads, so that it never sees another process's change half-written.
class ReadLockHold {
 public:
  explicit ReadLockHold(TDataTable& table) : table_(table), locked_(table.ReadLock()) {}
  ~ReadLockHold() {
    if (!locked_) return;
    try {
      table_.ReadUnlock();
    } catch (...) {
      // The read itself is done; a failed release must not hide its result.
    }
  }
  ReadLockHold(const ReadLockHold&) = delete;
  ReadLockHold& operator=(const ReadLockHold&) = delete;

 private:
  TDataTable& table_;
  bool locked_;
};

// Holds the record lock of one change. Finish() ends the change normally
// and lets a failed release pass; on an error the lock is released quietly.
class RecordLockHold {
 public:
  RecordLockHold(TDataTable& table, uint32_t slot, const void* owner,
                 const TSessionSettings& session)
      : table_(table), slot_(slot) {
    table_.LockRecord(slot, owner, session.lock_retry_count, session.lock_wait_time);
  }
  ~RecordLockHold() {
    if (done_) return;
    try {
      table_.ReleaseRecordLockUnlessKept(slot_);
    } catch (...) {
      // The change's own error is the one to report.
    }
  }
  RecordLockHold(const RecordLockHold&) = delete;
  RecordLockHold& operator=(const RecordLockHold&) = delete;

  // Releases the lock unless the table's transaction keeps it to its end.
  void Finish() {
    done_ = true;
    table_.ReleaseRecordLockUnlessKept(slot_);
  }
  // Releases the lock even inside a transaction.
  void FinishUnlocked() {
    done_ = true;
    table_.UnlockRecord(slot_);
  }

 private:
  TDataTable& table_;
  uint32_t slot_;
  bool done_ = false;
};

// Covers the part of a change that writes: unless Commit() is reached, the
// table drops what the change left in its buffers (outside a transaction;
// inside one the rollback undoes it).
class UndoUnlessCommitted {
 public:
  // armed false: nothing to undo until Arm().
  explicit UndoUnlessCommitted(TDataTable& table, bool armed = true)
      : table_(table), committed_(!armed) {}
  ~UndoUnlessCommitted() {
    if (committed_) return;
    try {
      table_.UndoFailedChange();
    } catch (...) {
      // The change's own error is the one to report.
    }
  }
  UndoUnlessCommitted(const UndoUnlessCommitted&) = delete;
  UndoUnlessCommitted& operator=(const UndoUnlessCommitted&) = delete;

  void Arm() { committed_ = false; }
  void Commit() { committed_ = true; }

 private:
  TDataTable& table_;
  bool committed_;
};

}  // namespace

TDataCursor::TDataCursor(std::shared_ptr<TDataTable> table, const TSessionSettings& session,
                         TRowEvents* events)
    : table_(std::move(table)),
      session_(session),
      events_(events),
      current_(table_->record_size()) {
  const std::vector<TFieldDef>& defs = table_->fields();
  for (size_t i = 0; i < defs.size(); ++i) {
    if (defs[i].type == kTypeInteger && defs[i].subtype == kSubtypeAutoInc && !defs[i].computed) {
      autoinc_columns_.push_back(static_cast<int>(i));
    }
  }
  has_constraints_ = HasConstraints(defs);
  has_defaults_ = HasDefaults(defs);
  seen_serial_ = table_->change_serial();
  table_->AddCursor();
}

TDataCursor::~TDataCursor() {
  if (edit_locked_ && state_ == kOnRecord) {
    try {
      table_->UnlockRecord(slot_);
    } catch (...) {
    }
  }
  try {
    table_->RemoveCursor();
  } catch (...) {
    // The table keeps its changes in memory and writes them when it closes.
  }
}

void TDataCursor::Reopen(const TSessionSettings& session) {
  // As the destructor does with a record locked for a change.
  if (edit_locked_ && state_ == kOnRecord) {
    try {
      table_->UnlockRecord(slot_);
    } catch (...) {
    }
  }
  edit_locked_ = false;
  session_ = session;
  hidden_.clear();
  filter_ = nullptr;
  index_slot_ = kNaturalOrder;
  state_ = kBeforeFirst;
  slot_ = 0;
  index_pos_ = {};
  index_key_.clear();
  leaf_.page = 0;
  seen_serial_ = table_->change_serial();
  pending_blobs_.clear();
  next_blob_handle_ = -1;
}

const std::string& TDataCursor::table_name() const { return table_->name(); }
const std::vector<TFieldDef>& TDataCursor::fields() const { return table_->fields(); }
uint32_t TDataCursor::record_size() const { return table_->record_size(); }

void TDataCursor::RequireWritable() const {
  if (table_->read_only()) throw ETabulaEngineError(kErrAccessDenied, {table_->name()});
}

void TDataCursor::RequireCurrent() const {
  if (state_ != kOnRecord) throw ETabulaEngineError(kErrNoCurrentRecord, {table_->name()});
}

const TRecordBuffer& TDataCursor::current() const {
  RequireCurrent();
  return current_;
}

// ---- navigation ------------------------------------------------------------

void TDataCursor::SetCurrentIndex(uint8_t slot) {
  if (slot != kNaturalOrder && table_->index_in_slot(slot) == nullptr) {
    throw ETabulaEngineError(kErrRecordNotFound, {table_->name()});
  }
  index_slot_ = slot;
  leaf_.page = 0;
  First();
}

void TDataCursor::Sync() {
  table_->CheckForChanges();
  if (table_->change_serial() != seen_serial_) Reposition();
}

// After the table changed under the cursor: find the current record again
// by its key in the current index; in natural order the slot stays.
void TDataCursor::Reposition() {
  seen_serial_ = table_->change_serial();
  if (index_slot_ == kNaturalOrder || state_ == kBeforeFirst || state_ == kAfterLast) return;
  const TTableIndex* index = table_->index_in_slot(index_slot_);
  auto tree = table_->Tree(*index);
  index_pos_ = tree->Seek(reinterpret_cast<const uint8_t*>(index_key_.data()));
  if (state_ == kOnRecord) {
    std::string key;
    uint32_t slot = 0;
    if (index_pos_.valid()) tree->Read(index_pos_, &key, &slot);
    if (!index_pos_.valid() || key != index_key_) state_ = kBetween;
  }
}

void TDataCursor::First() {
  ReadLockHold read_lock(*table_);
  Sync();
  state_ = kBeforeFirst;
  slot_ = 0;
  index_pos_ = {};
}

void TDataCursor::Last() {
  ReadLockHold read_lock(*table_);
  Sync();
  state_ = kAfterLast;
  slot_ = 0;
  index_pos_ = {};
}

void TDataCursor::TakeCurrent(uint32_t slot) {
  slot_ = slot;
  state_ = kOnRecord;
}

void TDataCursor::SeekKeyOf(const TRecordBuffer& record) {
  if (index_slot_ == kNaturalOrder) return;
  const TTableIndex* index = table_->index_in_slot(index_slot_);
  std::vector<uint8_t> key = index->compare.BuildKey(record.data());
  index_key_.assign(key.begin(), key.end());
  index_pos_ = table_->Tree(*index)->Seek(key.data());
}

void TDataCursor::AdoptWritten(TRecordBuffer& built, uint32_t slot, TRecordBuffer& record) {
  built.set_link(static_cast<int32_t>(slot));
  record = built;
  current_ = built;
  TakeCurrent(slot);
  SeekKeyOf(current_);
  seen_serial_ = table_->change_serial();
}

bool TDataCursor::StepNatural(bool forward) {
  uint32_t count = table_->slot_count();
  uint32_t slot;
  if (state_ == kBeforeFirst) {
    if (!forward) return false;
    slot = 1;
  } else if (state_ == kAfterLast) {
    if (forward) return false;
    slot = count;
  } else {
    slot = forward ? slot_ + 1 : slot_ - 1;
  }
  while (slot >= 1 && slot <= count) {
    if (table_->ReadRecord(slot, current_)) {
      TakeCurrent(slot);
      return true;
    }
    slot = forward ? slot + 1 : slot - 1;
  }
  state_ = forward ? kAfterLast : kBeforeFirst;
  slot_ = 0;
  return false;
}

bool TDataCursor::LeafCopyValid(uint32_t page) const {
  return page != 0 && leaf_.page == page && leaf_.serial == table_->change_serial();
}

void TDataCursor::ReadIndexEntry(TIndexTree& tree, const TIndexPosition& pos) {
  if (!LeafCopyValid(pos.page)) {
    leaf_.page = 0;
    tree.ReadLeaf(pos.page, &leaf_.keys, &leaf_.slots);
    leaf_.page = pos.page;
    leaf_.serial = table_->change_serial();
  }
  TakeLeafEntry(pos);
}

void TDataCursor::TakeLeafEntry(const TIndexPosition& pos) {
  if (pos.entry >= leaf_.slots.size())
    throw ETabulaEngineError(kErrIndexPageCorrupt, {table_->name()});
  const size_t key_length = leaf_.keys.size() / leaf_.slots.size();
  index_key_.assign(leaf_.keys, pos.entry * key_length, key_length);
  const uint32_t slot = leaf_.slots[pos.entry];
  if (!table_->ReadRecord(slot, current_))
    throw ETabulaEngineError(kErrIndexPageCorrupt, {table_->name()});
  index_pos_ = pos;
  TakeCurrent(slot);
}

bool TDataCursor::StepIndex(bool forward) {
  if (state_ == kOnRecord && LeafCopyValid(index_pos_.page)) {
    if (forward && index_pos_.entry + 1 < leaf_.slots.size()) {
      TakeLeafEntry({index_pos_.page, index_pos_.entry + 1});
      return true;
    }
    if (!forward && index_pos_.entry > 0) {
      TakeLeafEntry({index_pos_.page, index_pos_.entry - 1});
      return true;
    }
  }
  const TTableIndex* index = table_->index_in_slot(index_slot_);
  auto tree = table_->Tree(*index);
  TIndexPosition pos;
  switch (state_) {
    case kBeforeFirst:
      pos = forward ? tree->First() : TIndexPosition{};
      break;
    case kAfterLast:
      pos = forward ? TIndexPosition{} : tree->Last();
      break;
    case kOnRecord:
      pos = forward ? tree->Next(index_pos_) : tree->Prior(index_pos_);
      break;
    case kBetween:
      // index_pos_ is the first key after the vanished one.
      pos = forward ? index_pos_ : (index_pos_.valid() ? tree->Prior(index_pos_) : tree->Last());
      break;
  }
  if (!pos.valid()) {
    state_ = forward ? kAfterLast : kBeforeFirst;
    index_pos_ = {};
    slot_ = 0;
    return false;
  }
  ReadIndexEntry(*tree, pos);
  return true;
}

bool TDataCursor::Next() {
  ReadLockHold read_lock(*table_);
  Sync();
  for (;;) {
    if (!(index_slot_ == kNaturalOrder ? StepNatural(true) : StepIndex(true))) return false;
    if (!filter_ || filter_(current_)) return true;
  }
}

bool TDataCursor::Prior() {
  ReadLockHold read_lock(*table_);
  Sync();
  for (;;) {
    if (!(index_slot_ == kNaturalOrder ? StepNatural(false) : StepIndex(false))) return false;
    if (!filter_ || filter_(current_)) return true;
  }
}

void TDataCursor::GoToSlot(uint32_t slot) {
  ReadLockHold read_lock(*table_);
  Sync();
  if (slot == 0 || slot > table_->slot_count() || !table_->ReadRecord(slot, current_)) {
    throw ETabulaEngineError(kErrRecordNotFound, {table_->name()});
  }
  TakeCurrent(slot);
  SeekKeyOf(current_);
}

bool TDataCursor::FindKey(const TRecordBuffer& record) {
  if (index_slot_ == kNaturalOrder) throw ETabulaEngineError(kErrRecordNotFound, {table_->name()});
  ReadLockHold read_lock(*table_);
  Sync();
  const TTableIndex* index = table_->index_in_slot(index_slot_);
  auto tree = table_->Tree(*index);
  std::vector<uint8_t> key = index->compare.BuildKey(record.data());
  TIndexPosition pos = tree->Seek(key.data());
  size_t columns = index->compare.fields().size();
  if (pos.valid()) {
    std::string found;
    uint32_t slot = 0;
    tree->Read(pos, &found, &slot);
    if (index->compare.ComparePrefix(reinterpret_cast<const uint8_t*>(found.data()), key.data(),
                                     columns) == 0) {
      ReadIndexEntry(*tree, pos);
      return true;
    }
  }
  index_key_.assign(key.begin(), key.end());
  index_pos_ = pos;
  state_ = kBetween;
  return false;
}

uint32_t TDataCursor::RecordCount() {
  ReadLockHold read_lock(*table_);
  Sync();
  if (filter_) {
    // Every order holds the same records.
    uint32_t count = 0;
    TRecordBuffer record(record_size());
    const uint32_t slots = table_->slot_count();
    for (uint32_t slot = 1; slot <= slots; ++slot) {
      if (table_->ReadRecord(slot, record) && filter_(record)) ++count;
    }
    return count;
  }
  if (index_slot_ == kNaturalOrder) return table_->record_count();
  const TTableIndex* index = table_->index_in_slot(index_slot_);
  return table_->Tree(*index)->Total();
}

// ---- changes ---------------------------------------------------------------

TRecordBuffer TDataCursor::NewRecord() const {
  TRecordBuffer record(record_size());
  if (has_defaults_) ApplyDefaults(fields(), record, table_->locale());
  return record;
}

// Runs one change with its row events: an error asks the error event, whose
// answer retries the whole change, aborts it or lets the error pass.
template <class Body>
void TDataCursor::RunChange(TRowOperation op, const TRecordBuffer& record, Body&& body) {
  for (;;) {
    try {
      if (events_ != nullptr) events_->BeforeRow(op, table_->name(), record);
      body();
      break;
    } catch (const EOperationAborted&) {
      throw;
    } catch (const std::exception& error) {
      if (events_ == nullptr) throw;
      TDataAction action = events_->RowError(op, table_->name(), record, error);
      if (action == daRetry) continue;
      if (action == daAbort) throw EOperationAborted();
      throw;
    }
  }
  if (events_ != nullptr) events_->AfterRow(op, table_->name(), current_);
}

// Fills in what the engine owns of a record to be written: status and link,
// AUTOINC values for NULL AUTOINC columns (insert), constraints, RecordHash.
void TDataCursor::Build(TRecordBuffer& record, uint32_t /*slot*/, bool assign_autoinc) {
  record.set_status(kSlotLive);
  record.set_link(0);
  if (assign_autoinc && !autoinc_columns_.empty()) {
    uint32_t value = NextTableCounter(table_->last_autoinc());
    for (int i : autoinc_columns_) {
      const TFieldDef& def = fields()[static_cast<size_t>(i)];
      if (record.IsNull(def)) record.SetInteger(def, value);
    }
  }
  if (has_constraints_) CheckConstraints(fields(), record, table_->name(), table_->locale());
}

// Raises the header's last AUTOINC to the largest AUTOINC value of record.
void TDataCursor::RaiseCounters(const TRecordBuffer& record) {
  for (int i : autoinc_columns_) {
    const TFieldDef& def = fields()[static_cast<size_t>(i)];
    std::optional<int64_t> v = record.GetInteger(def);
    if (v && *v > 0 && static_cast<uint32_t>(*v) > table_->last_autoinc()) {
      table_->set_last_autoinc(static_cast<uint32_t>(*v));
    }
  }
}

void TDataCursor::Insert(TRecordBuffer& record) {
  RunChange(TRowOperation::kInsert, record, [&] {
    RequireWritable();
    WriteLockHold write_lock(*table_);
    uint32_t slot = table_->SlotForNewRecord();
    RecordLockHold record_lock(*table_, slot, this, session_);
    TRecordBuffer& built = built_;
    built = record;
    Build(built, slot, true);
    uint32_t id = NextTableCounter(table_->last_record_id());
    built.set_record_id(static_cast<int32_t>(id));
    built.set_record_hash(ComputeRecordHash(built.data(), built.size(), fields()));

    // Unique keys before anything is written. The keys lie one after the
    // other in one buffer kept from insert to insert.
    std::vector<size_t>& key_at = key_offsets_;
    key_at.clear();
    size_t key_bytes = 0;
    for (const TTableIndex& index : table_->indexes()) {
      key_at.push_back(key_bytes);
      key_bytes += index.compare.key_length();
    }
    key_bytes_.resize(key_bytes);
    insert_spots_.resize(key_at.size());
    // One tree per index for the check and the insert: the pages the check
    // reached stay pinned and are not fetched again. The pins go before
    // anything is undone (declared after the undo) and before anything is
    // written (pinned pages would not be).
    UndoUnlessCommitted undo(*table_, /*armed=*/false);
    std::optional<TIndexFile::TPageScope> index_pins(std::in_place, table_->index());
    std::vector<TIndexTree>& trees = insert_trees_;
    trees.clear();
    size_t k = 0;
    for (const TTableIndex& index : table_->indexes()) {
      trees.emplace_back(table_->index(), index.layout, index.compare, index.slot);
      TIndexTree::TInsertSpot& spot = insert_spots_[k];
      uint8_t* key = key_bytes_.data() + key_at[k++];
      index.compare.BuildKey(built.data(), key);
      if (index.compare.unique()) {
        if (trees.back().Find(key, &spot) != 0)
          throw ETabulaEngineError(kErrDuplicateKey, {index.name, table_->name()});
      } else {
        // Keys that keep growing (counters, dates) go last without a search.
        trees.back().AtEnd(key, &spot);
      }
    }

    undo.Arm();
    table_->TakeSlot(slot);
    table_->WriteRecord(slot, built);
    RaiseCounters(built);
    table_->set_last_record_id(id);
    table_->AddRecordCount(1);
    // Each tree is changed only by its own insert, so the spot its check
    // found still holds.
    for (k = 0; k < trees.size(); ++k) {
      trees[k].Insert(key_bytes_.data() + key_at[k], slot, insert_spots_[k]);
    }
    trees.clear();
    index_pins.reset();
    if (table_->blob() != nullptr) {
      StoreBlobs(built, nullptr);
      table_->WriteRecord(slot, built);
    }
    table_->NoteOwnChange();
    table_->FlushChanges(session_.force_buffer_flush);
    undo.Commit();

    AdoptWritten(built, slot, record);
    // A new record's lock is not kept to the end of a transaction: no one
    // else sees the record before the commit, and the transaction byte keeps
    // other writers off the table. Keeping it would hold one lock per row.
    record_lock.FinishUnlocked();
  });
}

void TDataCursor::Edit() {
  RequireCurrent();
  RequireWritable();
  if (session_.lock_protocol != lpPessimistic || edit_locked_ || table_->exclusive()) return;
  table_->LockRecord(slot_, this, session_.lock_retry_count, session_.lock_wait_time);
  edit_locked_ = true;
  TRecordBuffer now(record_size());
  table_->CheckForChanges();
  if (!table_->ReadRecord(slot_, now) || now.record_hash() != current_.record_hash()) {
    Cancel();
    throw ETabulaEngineError(kErrRecordChanged, {table_->name()});
  }
}

void TDataCursor::Cancel() {
  if (!edit_locked_) return;
  edit_locked_ = false;
  table_->ReleaseRecordLockUnlessKept(slot_);
}

void TDataCursor::Update(TRecordBuffer& record) {
  RequireCurrent();
  uint32_t slot = slot_;
  RunChange(TRowOperation::kUpdate, record, [&] {
    RequireWritable();
    WriteLockHold write_lock(*table_);
    TRecordBuffer& old = old_;
    if (old.size() != record_size()) old = TRecordBuffer(record_size());
    if (!table_->ReadRecord(slot, old) || old.record_hash() != record.record_hash()) {
      throw ETabulaEngineError(kErrRecordChanged, {table_->name()});
    }
    RecordLockHold record_lock(*table_, slot, this, session_);
    edit_locked_ = false;
    TRecordBuffer& built = built_;
    built = record;
    Build(built, slot, false);
    built.set_record_id(old.record_id());
    built.set_record_hash(ComputeRecordHash(built.data(), built.size(), fields()));

    // Old and new key of every index, one after the other in one buffer
    // kept from change to change; a key that did not change costs no tree
    // work.
    std::vector<size_t>& key_at = key_offsets_;
    key_at.clear();
    size_t key_bytes = 0;
    for (const TTableIndex& index : table_->indexes()) {
      key_at.push_back(key_bytes);
      key_bytes += 2 * size_t(index.compare.key_length());
    }
    key_bytes_.resize(key_bytes);
    size_t k = 0;
    bool keys_changed = false;
    for (const TTableIndex& index : table_->indexes()) {
      const size_t length = index.compare.key_length();
      uint8_t* old_key = key_bytes_.data() + key_at[k++];
      uint8_t* new_key = old_key + length;
      index.compare.BuildKey(old.data(), old_key);
      index.compare.BuildKey(built.data(), new_key);
      if (std::memcmp(old_key, new_key, length) == 0) continue;
      keys_changed = true;
      if (index.compare.unique() && table_->Tree(index)->Find(new_key) != 0) {
        throw ETabulaEngineError(kErrDuplicateKey, {index.name, table_->name()});
      }
    }

    UndoUnlessCommitted undo(*table_);
    table_->WriteRecord(slot, built);
    RaiseCounters(built);
    if (keys_changed) {
      k = 0;
      for (const TTableIndex& index : table_->indexes()) {
        const size_t length = index.compare.key_length();
        const uint8_t* old_key = key_bytes_.data() + key_at[k++];
        const uint8_t* new_key = old_key + length;
        if (std::memcmp(old_key, new_key, length) == 0) continue;
        auto tree = table_->Tree(index);
        tree->Delete(old_key);
        tree->Insert(new_key, slot);
      }
    }
    if (table_->blob() != nullptr) {
      StoreBlobs(built, &old);
      table_->WriteRecord(slot, built);
    }
    table_->NoteOwnChange();
    table_->FlushChanges(session_.force_buffer_flush);
    undo.Commit();

    AdoptWritten(built, slot, record);
    record_lock.Finish();
  });
}

void TDataCursor::Delete() {
  RequireCurrent();
  uint32_t slot = slot_;
  TRecordBuffer deleted = current_;
  RunChange(TRowOperation::kDelete, deleted, [&] {
    RequireWritable();
    WriteLockHold write_lock(*table_);
    TRecordBuffer old(record_size());
    bool live = table_->ReadRecord(slot, old);
    if (!table_->exclusive() && (!live || old.record_hash() != deleted.record_hash())) {
      throw ETabulaEngineError(kErrRecordChanged, {table_->name()});
    }
    if (!live) throw ETabulaEngineError(kErrRecordNotFound, {table_->name()});
    RecordLockHold record_lock(*table_, slot, this, session_);
    edit_locked_ = false;

    UndoUnlessCommitted undo(*table_);
    for (const TTableIndex& index : table_->indexes()) {
      std::vector<uint8_t> key = index.compare.BuildKey(old.data());
      table_->Tree(index)->Delete(key.data());
    }
    table_->AddRecordCount(-1);
    if (table_->blob() != nullptr) FreeBlobs(old);
    table_->FreeSlot(slot);
    table_->NoteOwnChange();
    table_->FlushChanges(session_.force_buffer_flush);
    undo.Commit();

    SeekKeyOf(old);
    state_ = kBetween;
    seen_serial_ = table_->change_serial();
    record_lock.Finish();
  });
}

void TDataCursor::LockTable() {
  table_->LockTable(session_.lock_retry_count, session_.lock_wait_time);
}

void TDataCursor::UnlockTable() { table_->UnlockTable(); }

// ---- BLOB columns --------------------------------------------------------------

void TDataCursor::SetBlob(TRecordBuffer& record, const TFieldDef& column,
                          std::vector<uint8_t> value) {
  if (!column.IsBlob()) throw ETabulaEngineError(kErrInvalidBlobHandle, {table_->name()});
  int32_t old = record.GetBlobBlock(column);
  if (old < 0) pending_blobs_.erase(old);
  if (value.empty()) {
    record.SetBlobRef(column, 0, 0);
    return;
  }
  int32_t handle = next_blob_handle_--;
  if (next_blob_handle_ == 0) next_blob_handle_ = -1;
  pending_blobs_[handle] = std::move(value);
  record.SetBlobRef(column, handle, 0);
}

std::vector<uint8_t> TDataCursor::ReadBlobOf(const TRecordBuffer& record, const TFieldDef& column) {
  int32_t first = record.GetBlobBlock(column);
  if (first < 0) {
    auto it = pending_blobs_.find(first);
    if (it == pending_blobs_.end())
      throw ETabulaEngineError(kErrInvalidBlobHandle, {table_->name()});
    return it->second;
  }
  std::vector<uint8_t> value;
  if (first == 0 || table_->blob() == nullptr) return value;
  if (!table_->blob()->Read(static_cast<uint32_t>(first), record.GetBlobVersion(column),
                            column.compression, &value)) {
    throw ETabulaEngineError(kErrRecordChanged, {table_->name()});
  }
  return value;
}

std::vector<uint8_t> TDataCursor::ReadBlob(const TFieldDef& column) {
  RequireCurrent();
  ReadLockHold read_lock(*table_);
  Sync();
  try {
    return ReadBlobOf(current_, column);
  } catch (const ETabulaEngineError& e) {
    if (e.code() != kErrRecordChanged || state_ != kOnRecord) throw;
  }
  // The value was rewritten since the record was read: read the record
  // again and its value with it.
  TRecordBuffer now(record_size());
  if (!table_->ReadRecord(slot_, now))
    throw ETabulaEngineError(kErrRecordChanged, {table_->name()});
  current_ = now;
  return ReadBlobOf(current_, column);
}

void TDataCursor::StoreBlobs(TRecordBuffer& record, const TRecordBuffer* old) {
  TBlobFile& blob = *table_->blob();
  for (const TFieldDef& def : fields()) {
    if (!def.IsBlob() || def.computed) continue;
    int32_t ref = record.GetBlobBlock(def);
    int32_t old_first = old != nullptr ? old->GetBlobBlock(def) : 0;
    if (old_first < 0) old_first = 0;
    if (ref == old_first && old != nullptr) {
      record.SetBlobRef(def, ref, old->GetBlobVersion(def));
      continue;
    }
    if (ref == 0) {
      record.SetBlobRef(def, 0, 0);
      if (old_first > 0) blob.Free(static_cast<uint32_t>(old_first), table_->NextBlobVersion());
      continue;
    }
    // A new value, or the reference of another record's value: a record
    // never shares a chain, so the value is written anew.
    std::vector<uint8_t> value = ReadBlobOf(record, def);
    uint32_t version = table_->NextBlobVersion();
    uint32_t first = blob.Write(static_cast<uint32_t>(old_first), value.data(), value.size(),
                                version, def.compression);
    record.SetBlobRef(def, static_cast<int32_t>(first), first != 0 ? version : 0);
    if (ref < 0) pending_blobs_.erase(ref);
  }
}

void TDataCursor::FreeBlobs(const TRecordBuffer& record) {
  for (const TFieldDef& def : fields()) {
    if (!def.IsBlob() || def.computed) continue;
    int32_t first = record.GetBlobBlock(def);
    if (first > 0) table_->blob()->Free(static_cast<uint32_t>(first), table_->NextBlobVersion());
  }
}

uint32_t TDataCursor::LastAutoIncValue() { return table_->last_autoinc(); }

void TDataCursor::SetLastAutoIncValue(uint32_t value) {
  RequireWritable();
  WriteLockHold write_lock(*table_);
  table_->set_last_autoinc(value);
  table_->NoteOwnChange();
  table_->FlushChanges(session_.force_buffer_flush);
}

}  // namespace downsql::storage
