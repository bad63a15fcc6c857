// REPAIR, OPTIMIZE and ALTER: new files built beside the table, then
// swapped in with the old ones kept as backups.
//
//   FILE                          MEANING
//   <table>.dat .idx .blb         the table (extensions from the settings)
//   <table>$rebuild.dat .idx .blb the new files while they are built
//   <table>.dbk .ibk .bbk         the previous files after the swap
#include "db/storage/table_rebuild.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <set>

#include "db/storage/data_cursor.h"
#include "db/storage/engine_error.h"
#include "db/storage/engine_file.h"
#include "db/storage/record_checks.h"
#include "db/storage/table_journal.h"
#include "db/storage/table_verifier.h"
#include "platform/locale.h"

namespace downsql::storage {

namespace {

constexpr char kRebuildSuffix[] = "$rebuild";
constexpr EngineSettings::Extension kTableFiles[] = {EngineSettings::kData, EngineSettings::kIndex,
                                                     EngineSettings::kBlob};
constexpr EngineSettings::Extension kBackupFiles[] = {
    EngineSettings::kDataBackup, EngineSettings::kIndexBackup, EngineSettings::kBlobBackup};

std::string Num(uint64_t n) { return std::to_string(n); }

std::string FileName(const TTableOpenOptions& o, const std::string& name,
                     EngineSettings::Extension ext) {
  return o.directory + name + o.settings->extension(ext);
}

// Progress over the phases of one operation; an abort raises
// EOperationAborted.
class TRebuildProgress {
 public:
  explicit TRebuildProgress(const TRebuildOptions& o) : hook_(o.progress) {}
  // done of total within the span [from, to) of the whole.
  void Report(uint64_t done, uint64_t total, uint16_t from, uint16_t to) {
    if (!hook_) return;
    const uint16_t percent =
        uint16_t(from + (total == 0 ? 0 : std::min<uint64_t>(done, total) * (to - from) / total));
    if (percent == last_) return;
    last_ = percent;
    bool abort = false;
    hook_(percent, abort);
    if (abort) throw EOperationAborted();
  }
  void Finish() {
    if (!hook_ || last_ == 100) return;
    bool abort = false;
    hook_(100, abort);
    last_ = 100;
  }

 private:
  std::function<void(uint16_t, bool&)> hook_;
  uint16_t last_ = 0;
};

std::shared_ptr<TDataTable> OpenExclusive(const TTableOpenOptions& options, const std::string& name,
                                          bool read_only) {
  TTableOpenOptions o = options;
  o.name = name;
  o.exclusive = true;
  o.read_only = read_only;
  o.locks = nullptr;
  o.verify = false;
  return TDataTable::Open(o);
}

// The new files beside the table. Until Swap they are deleted when this
// object goes.
class TNewFiles {
 public:
  TNewFiles(const TRebuildOptions& options, const TNewTableDefinition& definition)
      : o_(options.table), temp_(options.table.name + kRebuildSuffix) {
    Remove();  // what an interrupted earlier run left
    RemoveJournal();
    TDataTable::Create(o_.directory, temp_, *o_.settings, definition, o_.in_memory);
    // The new files may carry a password of their own (ALTER).
    TTableOpenOptions open = o_;
    if (definition.table.encrypted) open.passwords.push_back(definition.table.password);
    table_ = OpenExclusive(open, temp_, false);
  }
  ~TNewFiles() {
    table_.reset();
    if (!swapped_) Remove();
    // The new table's journal is disarmed (or its table gone) and stays
    // behind under no table's name.
    RemoveJournal();
  }
  TNewFiles(const TNewFiles&) = delete;
  TNewFiles& operator=(const TNewFiles&) = delete;

  TDataTable& table() { return *table_; }

  // Writes and closes the new files.
  void Finish() {
    table_->WriteAll(true);
    table_.reset();
  }

  // Puts the new files in the table's place (the old table must be closed);
  // the old ones become the backups, deleted again without backup.
  void Swap(bool backup) {
    const std::string& name = o_.name;
    for (EngineSettings::Extension ext : kBackupFiles) {
      TEngineFile old_backup(FileName(o_, name, ext), o_.in_memory);
      if (old_backup.Exists()) old_backup.Delete();
    }
    std::vector<std::pair<std::string, std::string>> renamed;  // from, to
    auto rename = [&](const std::string& from, const std::string& to) {
      TEngineFile file(from, o_.in_memory);
      if (!file.Exists()) return;
      file.Rename(to);
      renamed.emplace_back(from, to);
    };
    try {
      for (size_t i = 0; i < 3; ++i)
        rename(FileName(o_, name, kTableFiles[i]), FileName(o_, name, kBackupFiles[i]));
      for (EngineSettings::Extension ext : kTableFiles)
        rename(FileName(o_, temp_, ext), FileName(o_, name, ext));
    } catch (...) {
      // Everything back where it was, newest rename first.
      for (auto it = renamed.rbegin(); it != renamed.rend(); ++it) {
        try {
          TEngineFile(it->second, o_.in_memory).Rename(it->first);
        } catch (...) {
        }
      }
      throw;
    }
    swapped_ = true;
    if (backup) return;
    for (EngineSettings::Extension ext : kBackupFiles) {
      try {
        TEngineFile old(FileName(o_, name, ext), o_.in_memory);
        if (old.Exists()) old.Delete();
      } catch (...) {
        // The new table is in place; a backup that stays is no failure.
      }
    }
  }

 private:
  void Remove() {
    for (EngineSettings::Extension ext : kTableFiles) {
      try {
        TEngineFile file(FileName(o_, temp_, ext), o_.in_memory);
        if (file.Exists()) file.Delete();
      } catch (...) {
      }
    }
  }

  void RemoveJournal() {
    if (o_.in_memory) return;
    try {
      TEngineFile journal(o_.directory + temp_ + TTableJournal::kExtension, false);
      if (journal.Exists()) journal.Delete();
    } catch (...) {
    }
  }

  const TTableOpenOptions& o_;
  std::string temp_;
  std::shared_ptr<TDataTable> table_;
  bool swapped_ = false;
};

// Slots of the data file that can be read: the header's count, cut to what
// the file holds.
uint32_t ReadableSlots(TDataTable& table) {
  TDataFile& data = table.data();
  const uint64_t start = kTableHeaderSize + 768ull * data.column_count();
  const uint64_t size = data.file().Size();
  const uint64_t in_file = size > start ? (size - start) / data.record_size() : 0;
  return uint32_t(std::min<uint64_t>(in_file, table.slot_count()));
}

// The raw slot (status and link as stored).
void ReadSlot(TDataTable& table, uint32_t slot, TRecordBuffer& out) {
  TBuffer* buffer = table.data().GetBlock(slot);
  std::copy(buffer->data.begin(), buffer->data.begin() + out.size(), out.data());
  table.data().Unpin(buffer);
}

// Reads a BLOB value of the old table; false when it cannot be read whole.
bool ReadBlobValue(TDataTable& table, const TRecordBuffer& record, const TFieldDef& f,
                   std::vector<uint8_t>* value) {
  value->clear();
  if (record.IsNull(f) || table.blob() == nullptr) return true;
  const int32_t first = record.GetBlobBlock(f);
  if (first <= 0) return first == 0;
  try {
    return table.blob()->Read(uint32_t(first), record.GetBlobVersion(f), f.compression, value);
  } catch (const std::exception&) {
    return false;
  }
}

// Stores a BLOB value into the new table and the record's reference to it.
void WriteBlobValue(TDataTable& table, TRecordBuffer& record, const TFieldDef& f,
                    const std::vector<uint8_t>& value) {
  if (value.empty()) {
    record.SetBlobRef(f, 0, 0);
    return;
  }
  const uint32_t version = table.NextBlobVersion();
  const uint32_t first = table.blob()->Write(0, value.data(), value.size(), version, f.compression);
  record.SetBlobRef(f, int32_t(first), version);
}

void FreeBlobValues(TDataTable& table, const TRecordBuffer& record) {
  for (const TFieldDef& f : table.fields()) {
    if (!f.IsBlob() || record.IsNull(f)) continue;
    table.blob()->Free(uint32_t(record.GetBlobBlock(f)), record.GetBlobVersion(f));
  }
}

int64_t MaxAutoInc(const std::vector<TFieldDef>& fields, const TRecordBuffer& record) {
  int64_t max = 0;
  for (const TFieldDef& f : fields) {
    if (f.type == kTypeInteger && f.subtype == kSubtypeAutoInc) {
      if (auto v = record.GetInteger(f)) max = std::max(max, *v);
    }
  }
  return max;
}

// The name of the unique index where record's key is already taken, or "".
std::string TakenUniqueKey(TDataTable& table, const TRecordBuffer& record) {
  for (const TTableIndex& index : table.indexes()) {
    if (!index.layout.unique) continue;
    auto tree = table.Tree(index);
    const std::vector<uint8_t> key = index.compare.BuildKey(record.data());
    if (tree->Find(key.data()) != 0) return index.name;
  }
  return "";
}

void InsertKeys(TDataTable& table, const TRecordBuffer& record, uint32_t slot) {
  for (const TTableIndex& index : table.indexes()) {
    auto tree = table.Tree(index);
    const std::vector<uint8_t> key = index.compare.BuildKey(record.data());
    tree->Insert(key.data(), slot);
  }
}

// Records written to the new table in slot order, counters raised.
class TRecordWriter {
 public:
  explicit TRecordWriter(TDataTable& table) : table_(table) {}

  // Writes record into the next slot; false (nothing written) when its key
  // is taken in a unique index, whose name goes into taken.
  bool WriteLive(TRecordBuffer& record, std::string* taken) {
    *taken = TakenUniqueKey(table_, record);
    if (!taken->empty()) return false;
    const uint32_t slot = ++slots_;
    table_.WriteRecord(slot, record);
    table_.AddRecordCount(1);
    InsertKeys(table_, record, slot);
    max_id_ = std::max(max_id_, record.record_id());
    max_autoinc_ = std::max(max_autoinc_, MaxAutoInc(table_.fields(), record));
    return true;
  }
  // A deleted slot at the next place.
  void WriteDeleted() {
    const uint32_t slot = ++slots_;
    TRecordBuffer empty(table_.record_size());
    table_.WriteRecord(slot, empty);
    table_.FreeSlot(slot);
  }
  // The counters: at least the old table's, at least what the records hold.
  void SetCounters(uint32_t last_record_id, uint32_t last_autoinc) {
    table_.set_last_record_id(std::max<uint32_t>(last_record_id, uint32_t(max_id_)));
    table_.set_last_autoinc(
        uint32_t(std::max<int64_t>(int64_t(int32_t(last_autoinc)), max_autoinc_)));
  }

 private:
  TDataTable& table_;
  uint32_t slots_ = 0;
  int32_t max_id_ = 0;
  int64_t max_autoinc_ = 0;
};

// Closes the old table, swaps the new files in.
void Complete(std::shared_ptr<TDataTable>& old, TNewFiles& files, bool backup) {
  files.Finish();
  old.reset();
  files.Swap(backup);
}

}  // namespace

TNewTableDefinition DefinitionOf(TDataTable& table, const std::vector<std::string>& passwords) {
  TNewTableDefinition def;
  TDataFile& data = table.data();
  TTableDefinition& t = def.table;
  t.fields = data.fields();
  t.locale = data.locale();
  t.user_major = data.user_major();
  t.user_minor = data.user_minor();
  t.description = data.description();
  t.blob_block_size = data.blob_block_size();
  t.index_page_size = data.index_page_size();
  t.last_autoinc = uint32_t(data.last_autoinc());
  if (data.encrypted()) {
    t.encrypted = true;
    const uint8_t* stored = data.raw_header() + 173;
    for (const std::string& password : passwords) {
      const std::array<uint8_t, 16> check = PasswordCheckValue(password);
      if (std::equal(check.begin(), check.end(), stored)) t.password = password;
    }
    if (t.password.empty()) throw ETabulaEngineError(kErrPasswordRequired, {table.name()});
  }
  TIndexFile& index = table.index();
  const TIndexDefinition& primary = index.definition(0);
  if (!primary.empty() && !IsDefaultPrimary(primary)) def.primary = primary;
  for (uint32_t slot = 1; slot <= index.secondary_count(); ++slot) {
    if (!index.definition(slot).empty()) def.secondary.push_back(index.definition(slot));
  }
  t.secondary_indexes = int(def.secondary.size());
  return def;
}

TNewTableDefinition DefinitionOf(const TTableOpenOptions& options) {
  std::shared_ptr<TDataTable> table = OpenExclusive(options, options.name, true);
  return DefinitionOf(*table, options.passwords);
}

void RepairTable(const TRebuildOptions& options, bool force_index_rebuild) {
  auto log = [&](const std::string& line) {
    if (options.log) options.log(line);
  };
  std::shared_ptr<TDataTable> old = OpenExclusive(options.table, options.table.name, true);
  const TVerifyReport report = TTableVerifier(*old).Run(log);
  if (report.clean() && !force_index_rebuild) {
    log("Table '" + options.table.name + "' is sound: nothing to repair");
    return;
  }
  const std::set<uint32_t> bad_hash(report.bad_hash_slots.begin(), report.bad_hash_slots.end());
  TRebuildProgress progress(options);
  TNewFiles files(options, DefinitionOf(*old, options.table.passwords));
  TDataTable& target = files.table();
  TRecordWriter writer(target);
  const std::vector<TFieldDef>& fields = old->fields();
  const uint32_t slots = ReadableSlots(*old);
  TRecordBuffer record(old->record_size());
  std::vector<uint8_t> value;
  uint32_t kept = 0;
  for (uint32_t slot = 1; slot <= slots; ++slot) {
    progress.Report(slot, slots, 0, 100);
    ReadSlot(*old, slot, record);
    if (record.status() != kSlotLive) {
      writer.WriteDeleted();
      continue;
    }
    record.set_link(0);
    for (const TFieldDef& f : fields) {
      if (!f.IsBlob()) continue;
      if (!ReadBlobValue(*old, record, f, &value)) {
        log("Record in slot " + Num(slot) + ": BLOB of column '" + f.name +
            "' cannot be read and is set to NULL");
        value.clear();
      }
      WriteBlobValue(target, record, f, value);
    }
    if (bad_hash.count(slot) != 0)
      log("Record in slot " + Num(slot) + ": RecordHash computed again");
    record.set_record_hash(ComputeRecordHash(record.data(), record.size(), fields));
    std::string taken;
    if (!writer.WriteLive(record, &taken)) {
      log("Record in slot " + Num(slot) + " (RecordID " + std::to_string(record.record_id()) +
          ") dropped: its key is already in the unique index '" + taken + "'");
      FreeBlobValues(target, record);
      writer.WriteDeleted();
      continue;
    }
    ++kept;
  }
  writer.SetCounters(old->last_record_id(), old->last_autoinc());
  Complete(old, files, options.backup);
  log("Table '" + options.table.name + "' repaired: " + Num(kept) +
      " records kept, indexes rebuilt");
  progress.Finish();
}

void OptimizeTable(const TRebuildOptions& options, const std::string& index_name) {
  std::shared_ptr<TDataTable> old = OpenExclusive(options.table, options.table.name, true);
  uint8_t order = 0;
  if (!index_name.empty()) {
    const TTableIndex* found = nullptr;
    for (const TTableIndex& index : old->indexes()) {
      if (index.slot != 0 && index.name.size() == index_name.size() &&
          platform::SameTextNoCase(index.name, index_name))
        found = &index;
    }
    if (found == nullptr) throw ETabulaEngineError(kErrInvalidIndexName, {index_name, old->name()});
    order = found->slot;
  }
  TRebuildProgress progress(options);
  TNewFiles files(options, DefinitionOf(*old, options.table.passwords));
  TDataTable& target = files.table();
  TRecordWriter writer(target);
  const std::vector<TFieldDef>& fields = old->fields();
  const uint32_t total = old->record_count();
  std::vector<uint8_t> value;
  {
    TDataCursor cursor(old, TSessionSettings{});
    // A table whose indexes are unusable is written in natural order.
    cursor.SetCurrentIndex(old->index_in_slot(order) != nullptr ? order : kNaturalOrder);
    cursor.First();
    uint32_t done = 0;
    while (cursor.Next()) {
      progress.Report(++done, total, 0, 100);
      TRecordBuffer record = cursor.current();
      record.set_link(0);
      for (const TFieldDef& f : fields) {
        if (!f.IsBlob()) continue;
        if (!ReadBlobValue(*old, record, f, &value))
          throw ETabulaEngineError(kErrBlobBuffersCorrupt, {old->name()});
        WriteBlobValue(target, record, f, value);
      }
      std::string taken;
      if (!writer.WriteLive(record, &taken))
        throw ETabulaEngineError(kErrDuplicateKey, {taken, old->name()});
    }
  }
  writer.SetCounters(old->last_record_id(), old->last_autoinc());
  Complete(old, files, options.backup);
  progress.Finish();
}

namespace {

bool IsAutoInc(const TFieldDef& f) {
  return f.type == kTypeInteger && f.subtype == kSubtypeAutoInc;
}

// One record of the old table put into the layout of the new one.
class TAlterConverter {
 public:
  TAlterConverter(TDataTable& old, TDataTable& target, const TAlterPlan& plan)
      : old_(old), target_(target), plan_(plan), to_fields_(target.fields()) {
    const std::vector<TFieldDef>& from = old.fields();
    for (size_t i = 0; i < to_fields_.size(); ++i) {
      const int s = i < plan.source_column.size() ? plan.source_column[i] : 0;
      sources_.push_back(s > 0 && size_t(s) <= from.size() ? &from[size_t(s) - 1] : nullptr);
    }
  }

  const std::vector<TFieldDef>& to_fields() const { return to_fields_; }
  const TFieldDef* source(size_t i) const { return sources_[i]; }

  // Whether new column i has to be numbered where it is NULL: an AUTOINC
  // column that is new or was not AUTOINC before.
  bool Numbered(size_t i) const {
    return IsAutoInc(to_fields_[i]) && (sources_[i] == nullptr || !IsAutoInc(*sources_[i]));
  }

  // Fills new column i of out from in; false when the value cannot be kept
  // (the column is then NULL). BLOB values are stored into the new table
  // only when store_blobs.
  bool Column(const TRecordBuffer& in, size_t i, TRecordBuffer& out, bool store_blobs) {
    const TFieldDef& to = to_fields_[i];
    const TFieldDef& from = *sources_[i];
    Clear(out, to);
    if (in.IsNull(from)) return true;
    bool kept = true;
    if (from.IsBlob()) kept = ReadBlobValue(old_, in, from, &blob_in_);
    blob_out_.clear();
    if (kept) {
      if (plan_.convert) {
        kept = plan_.convert(in, from, from.IsBlob() ? &blob_in_ : nullptr, out, to,
                             to.IsBlob() ? &blob_out_ : nullptr);
      } else if (from.type == to.type && from.subtype == to.subtype &&
                 from.stored_size == to.stored_size) {
        if (to.IsBlob()) {
          blob_out_ = blob_in_;
        } else {
          std::copy(in.data() + from.offset, in.data() + from.offset + 1 + from.stored_size,
                    out.data() + to.offset);
        }
      } else {
        kept = false;
      }
    }
    if (!kept) {
      Clear(out, to);
      return false;
    }
    if (to.IsBlob()) {
      if (store_blobs) {
        WriteBlobValue(target_, out, to, blob_out_);
      } else {
        Clear(out, to);
      }
    }
    return true;
  }

 private:
  static void Clear(TRecordBuffer& out, const TFieldDef& to) {
    if (to.IsBlob()) {
      out.SetBlobRef(to, 0, 0);
    } else {
      out.SetNull(to);
    }
  }

  TDataTable& old_;
  TDataTable& target_;
  const TAlterPlan& plan_;
  const std::vector<TFieldDef> to_fields_;
  std::vector<const TFieldDef*> sources_;
  std::vector<uint8_t> blob_in_, blob_out_;
};

}  // namespace

void AlterTable(const TRebuildOptions& options, const TAlterPlan& plan) {
  std::shared_ptr<TDataTable> old = OpenExclusive(options.table, options.table.name, true);
  TRebuildProgress progress(options);
  TNewTableDefinition definition = plan.definition;
  for (size_t i = 0; i < definition.table.fields.size(); ++i)
    definition.table.fields[i].number = int(i + 1);
  TNewFiles files(options, definition);
  TDataTable& target = files.table();
  TRecordWriter writer(target);
  TAlterConverter converter(*old, target, plan);
  const std::vector<TFieldDef>& to_fields = converter.to_fields();
  const uint32_t total = old->record_count();
  const uint32_t locale = target.locale();
  uint32_t counter = plan.definition.table.last_autoinc;
  bool lost_reported = false;
  {
    TDataCursor cursor(old, TSessionSettings{});
    // New columns start with their defaults. (No cursor on the new table:
    // closing one writes, and a failure there would go unseen.)
    TRecordBuffer blank(target.record_size());
    ApplyDefaults(to_fields, blank, locale);
    cursor.SetCurrentIndex(kNaturalOrder);
    std::vector<size_t> numbered;
    for (size_t i = 0; i < to_fields.size(); ++i)
      if (converter.Numbered(i)) numbered.push_back(i);
    if (!numbered.empty()) {
      // Numbers go on from the highest AUTOINC value the new records hold.
      std::vector<size_t> autoinc;
      for (size_t i = 0; i < to_fields.size(); ++i)
        if (IsAutoInc(to_fields[i]) && converter.source(i) != nullptr) autoinc.push_back(i);
      TRecordBuffer out = blank;
      for (cursor.First(); !autoinc.empty() && cursor.Next();) {
        for (size_t i : autoinc) {
          if (!converter.Column(cursor.current(), i, out, false)) continue;
          if (auto v = out.GetInteger(to_fields[i]); v && *v > int64_t(counter))
            counter = uint32_t(std::min<int64_t>(*v, 2147483647));
        }
      }
    }
    cursor.First();
    uint32_t done = 0;
    while (cursor.Next()) {
      progress.Report(++done, total, 0, 100);
      const TRecordBuffer& in = cursor.current();
      TRecordBuffer out = blank;
      for (size_t i = 0; i < to_fields.size(); ++i) {
        if (converter.source(i) == nullptr || converter.Column(in, i, out, true)) continue;
        if (options.log)
          options.log("Record with RecordID " + std::to_string(in.record_id()) +
                      ": the value of column '" + converter.source(i)->name +
                      "' cannot be kept in column '" + to_fields[i].name + "'");
        if (!lost_reported) {
          lost_reported = true;
          if (plan.data_lost && !plan.data_lost(to_fields[i])) throw EOperationAborted();
        }
      }
      bool numbered_here = false;
      for (size_t i = 0; i < to_fields.size(); ++i) {
        if (!IsAutoInc(to_fields[i]) || !out.IsNull(to_fields[i])) continue;
        if (!numbered_here) counter = uint32_t(NextCounter(int32_t(counter)));
        numbered_here = true;
        out.SetInteger(to_fields[i], counter);
      }
      CheckConstraints(to_fields, out, old->name(), locale);
      out.set_status(kSlotLive);
      out.set_link(0);
      out.set_record_id(in.record_id());
      out.set_record_hash(ComputeRecordHash(out.data(), out.size(), to_fields));
      std::string taken;
      if (!writer.WriteLive(out, &taken))
        throw ETabulaEngineError(kErrDuplicateKey, {taken, old->name()});
    }
  }
  writer.SetCounters(old->last_record_id(), counter);
  Complete(old, files, options.backup);
  progress.Finish();
}

}  // namespace downsql::storage
