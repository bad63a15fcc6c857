// TDataCursor: one session's handle on one open table, for reading and
// changing it.
//
// Several cursors share one TDataTable (the table's files and buffer pools).
// A cursor owns its record buffers, its current order (natural order or an
// index slot) and its position, and carries out insert, update and delete
// with the upkeep of every index and the table's counters.
//
// Order and position:
//   natural order (index slot 255): slots 1..N ascending, deleted slots
//   skipped; the position is the slot number.
//   index order (slot 0..30): leaf entries of the index's B+-tree; the
//   position is the entry, and the record is fetched by the entry's slot.
//   A fresh cursor, and one moved by First/Last, sits before the first or
//   after the last record ("on a crack"); Next/Prior then step onto records.
//
// Change steps (insert; update and delete follow the same frame):
//    1 before-event            7 slot buffer filled, header counters raised
//    2 table write lock, and   8 keys inserted into every index, slot 0 first
//      change detection        9 BLOB values written, each under
//    3 slot chosen + locked       a fresh version; slot written again
//    4 record built: AUTOINC, 10 the new record becomes the current one
//      constraints, RecordID, 11 flush: data, index, BLOB file; the data
//      RecordHash                 header always written when another was
//    5 unique keys checked    12 record and table unlocked, after-event
//    6 free chain taken
// Nothing is written before step 6, so a failed constraint or unique check
// leaves the table's files and buffers as they were. A failure after it
// drops the shared table's buffers outside a transaction (the files hold the
// state of the last change) and is undone by the rollback inside one.
//
// Between processes a cursor sees others' changes through the data header's
// update count (written whenever any of the table's headers is): a
// different count drops the buffers and re-reads the headers, and the
// cursor finds its record again by its key. Reads take the table's read
// lock, changes its write lock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/storage/column_def.h"
#include "db/storage/index_tree.h"
#include "db/storage/record.h"
#include "db/storage/table_locks.h"

namespace downsql::storage {

class TDataTable;

// Raised when a row event answers "abort": the operation was not done and
// nothing should be reported.
class EOperationAborted : public std::runtime_error {
 public:
  EOperationAborted() : std::runtime_error("Operation aborted") {}
};

inline constexpr uint8_t kNaturalOrder = 255;

class TDataCursor {
 public:
  // Opens a cursor on an open table; the cursor keeps the table alive.
  TDataCursor(std::shared_ptr<TDataTable> table, const TSessionSettings& session,
              TRowEvents* events = nullptr);
  ~TDataCursor();
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  // Puts the cursor back into the state of one just opened on its table
  // with session: natural order, before the first record, no filter, no
  // hidden columns, no BLOB values pending, the table's changes so far
  // seen. Spares the open of a new cursor for the same work.
  void Reopen(const TSessionSettings& session);

  TDataTable& table() { return *table_; }
  const std::string& table_name() const;
  // Column definitions 1..F (element i is column i + 1).
  const std::vector<TFieldDef>& fields() const;
  uint32_t record_size() const;
  // Columns a result marks hidden from its dataset (element i: column i + 1).
  const std::vector<bool>& hidden_columns() const { return hidden_; }
  void set_hidden_columns(std::vector<bool> hidden) { hidden_ = std::move(hidden); }

  // --- order and navigation -------------------------------------------
  // Chooses natural order (kNaturalOrder) or an index slot (0..30); the
  // cursor is then before the first record. 8710 for a slot without index.
  void SetCurrentIndex(uint8_t slot);
  uint8_t current_index() const { return index_slot_; }

  // Positions before the first / after the last record.
  void First();
  void Last();
  // Moves to the next / previous record and returns true, or returns false
  // at the end / beginning (the cursor then sits past that end).
  bool Next();
  bool Prior();
  // Makes the live record in slot the current one; 8710 when the slot does
  // not exist or is deleted.
  void GoToSlot(uint32_t slot);
  // Positions on the record whose key in the current index equals the key
  // built from record; false (and positioned before the next greater key)
  // when there is none. 8710 in natural order.
  bool FindKey(const TRecordBuffer& record);
  // Live records: the header's count (natural order) or the index's key
  // statistics; with a filter, the records it accepts (counted by a pass
  // over the table).
  uint32_t RecordCount();

  // A filter over the records: Next and Prior step over the records it
  // rejects. It is asked with the record read (the cursor's current one) and
  // must not move the cursor. An empty filter accepts every record.
  using TRecordFilter = std::function<bool(const TRecordBuffer& record)>;
  void set_filter(TRecordFilter filter) { filter_ = std::move(filter); }
  bool has_filter() const { return static_cast<bool>(filter_); }

  // The current record (bytes 1..4 hold its slot); 8709 when the cursor is
  // not on a record.
  const TRecordBuffer& current() const;
  bool has_current() const { return state_ == kOnRecord; }
  uint32_t current_slot() const { return state_ == kOnRecord ? slot_ : 0; }

  // --- changes ------------------------------------------------------------
  // A record with every column NULL and the columns' default values set.
  TRecordBuffer NewRecord() const;
  // Inserts record (status, link and RecordID are the engine's); writes the
  // new slot number into record bytes 1..4, the assigned AUTOINC values,
  // RecordID and RecordHash into record, and makes it current. Raises 9732 /
  // 9730 / 9731 for constraints and 9729 for a duplicate unique key (nothing
  // written then), 11013 through a read-only cursor, lock errors.
  void Insert(TRecordBuffer& record);
  // With the pessimistic protocol, locks the current record for a change
  // and re-reads it (8708 when it was deleted meanwhile).
  void Edit();
  // Releases the lock of Edit without a change.
  void Cancel();
  // Replaces the current record by record. The RecordHash in record (the
  // version its caller read) must equal the one now in the slot, else 8708.
  void Update(TRecordBuffer& record);
  // Deletes the current record (8708 as for Update, unless the table is
  // held exclusively). The cursor then sits between its neighbours.
  void Delete();

  // --- the whole table --------------------------------------------------------
  // Locks every record of the table at once (the range that covers all
  // record locks), with the session's retries; 10241 when refused, 10242
  // when a release fails. While it is held the table takes no lock-file
  // locks.
  void LockTable();
  void UnlockTable();

  // --- BLOB columns ----------------------------------------------------------
  // Gives a BLOB column of record (the record to insert or the changed
  // record to update) a new value; it is written to the BLOB file when the
  // record is posted. Until then the record names the value by a negative
  // handle. An empty value makes the column NULL.
  void SetBlob(TRecordBuffer& record, const TFieldDef& column, std::vector<uint8_t> value);
  // The value of a BLOB column of the current record (a value set but not
  // yet posted included). 8709 without a current record, 10030 for a handle
  // this cursor did not hand out, 8708 when the value was rewritten by
  // someone else and the record is gone, and the BLOB file's read errors.
  std::vector<uint8_t> ReadBlob(const TFieldDef& column);

  // --- table counters (forwarded to the data-file header) ------------------
  uint32_t LastAutoIncValue();
  void SetLastAutoIncValue(uint32_t value);

 private:
  enum State { kBeforeFirst, kOnRecord, kAfterLast, kBetween };

  void RequireWritable() const;
  void RequireCurrent() const;
  void Sync();
  void Reposition();
  bool StepNatural(bool forward);
  bool StepIndex(bool forward);
  void TakeCurrent(uint32_t slot);
  // Makes a record just written at slot the current one (and the caller's
  // copy), re-seeking the index position in index order.
  void AdoptWritten(TRecordBuffer& built, uint32_t slot, TRecordBuffer& record);
  void ReadIndexEntry(TIndexTree& tree, const TIndexPosition& pos);
  // The entry at pos of the leaf copied in leaf_ becomes the current one.
  void TakeLeafEntry(const TIndexPosition& pos);
  bool LeafCopyValid(uint32_t page) const;
  // In index order: the key of record in the current index becomes the
  // position's key, and the position the first entry at or after it.
  void SeekKeyOf(const TRecordBuffer& record);
  void Build(TRecordBuffer& record, uint32_t slot, bool assign_autoinc);
  void RaiseCounters(const TRecordBuffer& record);
  // Writes the BLOB values a record names (new values, copies of values of
  // other records) and frees the chains old no longer needs; the record then
  // holds the stored references.
  void StoreBlobs(TRecordBuffer& record, const TRecordBuffer* old);
  void FreeBlobs(const TRecordBuffer& record);
  std::vector<uint8_t> ReadBlobOf(const TRecordBuffer& record, const TFieldDef& column);
  template <class Body>
  void RunChange(TRowOperation op, const TRecordBuffer& record, Body&& body);

  std::shared_ptr<TDataTable> table_;
  TSessionSettings session_;
  TRowEvents* events_;
  std::vector<bool> hidden_;
  TRecordFilter filter_;
  std::vector<int> autoinc_columns_;  // indexes into fields()
  bool has_constraints_ = false;
  bool has_defaults_ = false;

  uint8_t index_slot_ = kNaturalOrder;
  State state_ = kBeforeFirst;
  // Natural order: the slot of the position (also when between records
  // after a delete). Index order: the slot of the current entry.
  uint32_t slot_ = 0;
  // Index order: the leaf position and the key at it.
  TIndexPosition index_pos_;
  std::string index_key_;
  // Index order: a copy of the current leaf's entries, so that steps within
  // the leaf need no page. Valid while the table's change serial is the one
  // it was taken under (every change, own or found, raises the serial).
  struct LeafCopy {
    uint32_t page = 0;
    uint64_t serial = 0;
    std::string keys;
    std::vector<uint32_t> slots;
  };
  LeafCopy leaf_;
  uint64_t seen_serial_ = 0;
  bool edit_locked_ = false;
  // BLOB values set but not yet posted, by their (negative) handle.
  std::map<int32_t, std::vector<uint8_t>> pending_blobs_;
  int32_t next_blob_handle_ = -1;
  TRecordBuffer current_;
  // Kept from change to change so that a change allocates nothing: the
  // record being written, the one it replaces and their index keys.
  TRecordBuffer built_{0};
  TRecordBuffer old_{0};
  std::vector<uint8_t> key_bytes_;
  std::vector<size_t> key_offsets_;
  // Per index: where the duplicate check found the new key belongs.
  std::vector<TIndexTree::TInsertSpot> insert_spots_;
  std::vector<TIndexTree> insert_trees_;
};

}  // namespace downsql::storage
