// The full check of a table's data, index and BLOB files.
//
//   FILE    OFFSET                      SIZE       MEANING
//   data    0                           512        table header
//   data    512                         768 x F    column definitions
//   data    512 + 768 x F               R x N      record slots 1..N
//   index   0                           25088      header and 32 definitions
//   index   25088                       P x M      pages 1..M
//   BLOB    0                           512        header
//   BLOB    512                         B x K      blocks 1..K
//
// (F columns, R record size, N = next slot - 1, P index page size, M = next
// page - 1, B BLOB block size, K = next block - 1.)
#include "db/storage/table_verifier.h"

#include <algorithm>
#include <exception>
#include <string>
#include <unordered_set>

#include "db/storage/block.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"
#include "db/storage/record.h"

namespace downsql::storage {

namespace {

constexpr uint64_t kColumnDefinitionSize = 768;

std::string Num(uint64_t n) { return std::to_string(n); }

// Phases of the run and the share of the progress each takes.
constexpr uint32_t kPhaseStart[] = {0, 40, 75, 100};

}  // namespace

bool TVerifyReport::Has(TTableFinding::Area area) const {
  return std::any_of(findings.begin(), findings.end(),
                     [area](const TTableFinding& f) { return f.area == area; });
}

uint32_t TVerifyReport::ErrorCode() const {
  if (findings.empty()) return 0;
  switch (findings.front().area) {
    case TTableFinding::kHeader:
      return kErrHeaderCorrupt;
    case TTableFinding::kIndexes:
      return kErrIndexPageCorrupt;
    case TTableFinding::kBlobs:
      return kErrBlobBuffersCorrupt;
    default:
      return kErrRecordBuffersCorrupt;
  }
}

void TTableVerifier::Add(TTableFinding::Area area, std::string text) {
  if (log_) log_(text);
  report_.findings.push_back({area, std::move(text)});
}

bool TTableVerifier::Step(uint32_t done, uint32_t total, uint32_t phase) {
  if (!progress_ || aborted_) return !aborted_;
  const uint32_t span = kPhaseStart[phase + 1] - kPhaseStart[phase];
  const uint16_t percent =
      uint16_t(kPhaseStart[phase] + (total == 0 ? span : uint64_t(done) * span / total));
  if (percent == last_percent_) return true;
  last_percent_ = percent;
  bool abort = false;
  progress_(percent, abort);
  if (abort) aborted_ = true;
  return !aborted_;
}

TVerifyReport TTableVerifier::Run(const TLog& log, const TProgress& progress) {
  log_ = log;
  progress_ = progress;
  aborted_ = false;
  last_percent_ = 0;
  report_ = {};
  CheckHeaders();
  CheckRecords();
  if (!aborted_) CheckFreeChain();
  if (!aborted_) CheckIndexes();
  if (!aborted_) CheckBlobs();
  if (!aborted_ && progress_ && last_percent_ != 100) {
    bool abort = false;
    progress_(100, abort);
  }
  return std::move(report_);
}

void TTableVerifier::CheckHeaders() {
  TDataFile& data = table_.data();
  try {
    data.Verify();
  } catch (const std::exception& e) {
    Add(TTableFinding::kHeader,
        std::string("Data file header or column definitions damaged: ") + e.what());
  }
  // Slots the file really holds; a header counting more is reported by
  // Verify above, and the records check reads only what is there.
  const uint64_t start = kTableHeaderSize + kColumnDefinitionSize * data.column_count();
  const uint64_t size = data.file().Size();
  const uint64_t in_file = size > start ? (size - start) / data.record_size() : 0;
  slots_ = uint32_t(std::min<uint64_t>(in_file, table_.slot_count()));

  if (!table_.indexes_usable()) {
    Add(TTableFinding::kIndexes, "Index file missing: the indexes must be rebuilt");
  } else {
    TIndexFile& index = table_.index();
    const uint64_t expected = kIndexDataStart + uint64_t(index.next_page() - 1) * index.page_size();
    const uint64_t actual = index.file().Size();
    if (actual < expected)
      Add(TTableFinding::kIndexes, "Index file truncated: " + Num(actual) +
                                       " bytes, its header counts " + Num(index.next_page() - 1) +
                                       " pages (" + Num(expected) + " bytes)");
  }
  if (TBlobFile* blob = table_.blob()) {
    const uint64_t expected =
        kBlobHeaderSize + uint64_t(blob->next_block() - 1) * blob->block_size();
    const uint64_t actual = blob->file().Size();
    if (actual < expected)
      Add(TTableFinding::kBlobs, "BLOB file truncated: " + Num(actual) +
                                     " bytes, its header counts " + Num(blob->next_block() - 1) +
                                     " blocks (" + Num(expected) + " bytes)");
  }
}

void TTableVerifier::CheckRecords() {
  TDataFile& data = table_.data();
  const std::vector<TFieldDef>& fields = table_.fields();
  live_.assign(slots_ + 1, false);
  live_count_ = 0;
  int32_t max_id = 0;
  int64_t max_autoinc = 0;
  uint32_t bad_status = 0, first_bad_status = 0;
  TRecordBuffer record(table_.record_size());
  for (uint32_t slot = 1; slot <= slots_; ++slot) {
    if ((slot & 1023) == 0 && !Step(slot, slots_, 0)) return;
    TBuffer* buffer = nullptr;
    try {
      buffer = data.GetBlock(slot);
    } catch (const std::exception& e) {
      Add(TTableFinding::kRecords, "Record slot " + Num(slot) + " cannot be read: " + e.what());
      slots_ = slot - 1;
      live_.resize(slot);
      break;
    }
    std::copy(buffer->data.begin(), buffer->data.begin() + record.size(), record.data());
    data.Unpin(buffer);
    if (record.status() == kSlotDeleted) continue;
    if (record.status() != kSlotLive) {
      if (bad_status++ == 0) first_bad_status = slot;
      continue;
    }
    live_[slot] = true;
    ++live_count_;
    max_id = std::max(max_id, record.record_id());
    const base::Md5Digest hash = ComputeRecordHash(record.data(), record.size(), fields);
    if (hash != record.record_hash()) {
      report_.bad_hash_slots.push_back(slot);
      Add(TTableFinding::kRecords, "Record in slot " + Num(slot) + " (RecordID " +
                                       std::to_string(record.record_id()) +
                                       ") does not match its RecordHash");
    }
    for (const TFieldDef& f : fields) {
      if (f.type == kTypeInteger && f.subtype == kSubtypeAutoInc) {
        if (auto v = record.GetInteger(f)) max_autoinc = std::max(max_autoinc, *v);
      }
    }
  }
  if (bad_status > 0)
    Add(TTableFinding::kRecords, Num(bad_status) +
                                     " record slots have an invalid status byte (first: slot " +
                                     Num(first_bad_status) + ")");
  if (data.record_count() != live_count_)
    Add(TTableFinding::kCounters, "Record count in the header is " + Num(data.record_count()) +
                                      ", the file holds " + Num(live_count_) + " live records");
  if (data.last_record_id() < max_id)
    Add(TTableFinding::kCounters, "Last RecordID in the header is " +
                                      std::to_string(data.last_record_id()) +
                                      ", a record carries " + std::to_string(max_id));
  if (int64_t(data.last_autoinc()) < max_autoinc)
    Add(TTableFinding::kCounters, "Last AUTOINC value in the header is " +
                                      std::to_string(data.last_autoinc()) + ", a record carries " +
                                      std::to_string(max_autoinc));
}

void TTableVerifier::CheckFreeChain() {
  TDataFile& data = table_.data();
  std::vector<bool> on_chain(slots_ + 1, false);
  uint32_t chained = 0;
  uint32_t slot = data.free_chain_head();
  uint32_t previous = 0;
  while (slot != 0) {
    std::string fault;
    if (slot > slots_) {
      fault = "points beyond the file (slot " + Num(slot) + ")";
    } else if (live_[slot]) {
      fault = "points at the live record in slot " + Num(slot);
    } else if (on_chain[slot]) {
      fault = "loops back to slot " + Num(slot);
    }
    if (!fault.empty()) {
      Add(TTableFinding::kFreeChain,
          "Free-slot chain broken " +
              (previous == 0 ? std::string("at its head") : "after slot " + Num(previous)) +
              ": it " + fault);
      return;
    }
    on_chain[slot] = true;
    ++chained;
    TBuffer* buffer = data.GetBlock(slot);
    const uint8_t status = buffer->data[0];
    const uint32_t next = uint32_t(buffer->data[1]) | uint32_t(buffer->data[2]) << 8 |
                          uint32_t(buffer->data[3]) << 16 | uint32_t(buffer->data[4]) << 24;
    data.Unpin(buffer);
    if (status != kSlotDeleted) {
      Add(TTableFinding::kFreeChain,
          "Free-slot chain passes slot " + Num(slot) + ", which is not marked deleted");
      return;
    }
    previous = slot;
    slot = next;
  }
  const uint32_t free_slots = slots_ - live_count_;
  if (chained != free_slots) {
    uint32_t first_off = 0;
    for (uint32_t s = 1; s <= slots_ && first_off == 0; ++s)
      if (!live_[s] && !on_chain[s]) first_off = s;
    Add(TTableFinding::kFreeChain,
        Num(free_slots - chained) + " deleted slots are not on the free-slot chain (first: slot " +
            Num(first_off) + ")");
  }
}

void TTableVerifier::CheckIndexes() {
  if (!table_.indexes_usable()) return;
  std::set<uint32_t> tree_pages;
  TRecordBuffer record(table_.record_size());
  const auto& indexes = table_.indexes();
  for (size_t i = 0; i < indexes.size(); ++i) {
    const TTableIndex& index = indexes[i];
    const std::string name = "Index '" + index.name + "'";
    try {
      auto tree = table_.Tree(index);
      const std::string fault = tree->Check(&tree_pages);
      if (!fault.empty()) {
        Add(TTableFinding::kIndexes, name + " tree damaged: " + fault);
        continue;
      }
      // Index to data: every entry names a live record, once, under the
      // record's key.
      std::vector<bool> seen(slots_ + 1, false);
      uint32_t wrong = 0, stale = 0, first_wrong = 0;
      for (TIndexPosition pos = tree->First(); pos.valid(); pos = tree->Next(pos)) {
        std::string key;
        uint32_t slot = 0;
        tree->Read(pos, &key, &slot);
        if (slot == 0 || slot > slots_ || !live_[slot] || seen[slot]) {
          if (wrong++ == 0) first_wrong = slot;
          continue;
        }
        seen[slot] = true;
        table_.ReadRecord(slot, record);
        const std::vector<uint8_t> built = index.compare.BuildKey(record.data());
        if (std::string(built.begin(), built.end()) != key) ++stale;
      }
      if (wrong > 0)
        Add(TTableFinding::kIndexes,
            name + ": " + Num(wrong) +
                " entries name no live record or one named before (first: slot " +
                Num(first_wrong) + ")");
      if (stale > 0)
        Add(TTableFinding::kIndexes,
            name + ": " + Num(stale) + " entries hold a key that is not their record's");
      if (tree->Total() != live_count_)
        Add(TTableFinding::kIndexes, name + ": its key statistics count " + Num(tree->Total()) +
                                         " keys for " + Num(live_count_) + " live records");
      // Data to index: every live record is found under its key.
      uint32_t missing = 0, first_missing = 0;
      for (uint32_t slot = 1; slot <= slots_; ++slot) {
        if (!live_[slot]) continue;
        table_.ReadRecord(slot, record);
        const std::vector<uint8_t> key = index.compare.BuildKey(record.data());
        if (tree->Find(key.data()) != slot && missing++ == 0) first_missing = slot;
      }
      if (missing > 0)
        Add(TTableFinding::kIndexes, name + ": " + Num(missing) +
                                         " records have no entry (first: slot " +
                                         Num(first_missing) + ")");
    } catch (const std::exception& e) {
      Add(TTableFinding::kIndexes, name + " cannot be read: " + e.what());
    }
    if (!Step(uint32_t(i + 1), uint32_t(indexes.size()), 1)) return;
  }
  CheckIndexPages(tree_pages);
}

void TTableVerifier::CheckIndexPages(const std::set<uint32_t>& tree_pages) {
  TIndexFile& file = table_.index();
  const uint32_t pages = file.next_page() - 1;
  // Pages past a truncated end cannot be read; the truncation is reported.
  const uint64_t size = file.file().Size();
  const uint32_t readable =
      size > kIndexDataStart
          ? uint32_t(std::min<uint64_t>(pages, (size - kIndexDataStart) / file.page_size()))
          : 0;
  std::set<uint32_t> free_pages;
  uint32_t page = file.free_head();
  uint32_t previous = 0;
  while (page != 0) {
    std::string fault;
    if (page > readable) {
      fault = "points beyond the file (page " + Num(page) + ")";
    } else if (tree_pages.count(page) != 0) {
      fault = "points at page " + Num(page) + " of an index tree";
    } else if (free_pages.count(page) != 0) {
      fault = "loops back to page " + Num(page);
    }
    if (!fault.empty()) {
      Add(TTableFinding::kIndexes,
          "Free-page chain of the index file broken " +
              (previous == 0 ? std::string("at its head") : "after page " + Num(previous)) +
              ": it " + fault);
      return;
    }
    free_pages.insert(page);
    TIndexFile::TPageScope scope(file);
    previous = page;
    page = file.Page(page).next();
  }
  uint32_t lost = 0;
  for (uint32_t p = 1; p <= readable; ++p)
    if (tree_pages.count(p) == 0 && free_pages.count(p) == 0) ++lost;
  if (lost > 0)
    Add(TTableFinding::kIndexes,
        Num(lost) + " index pages are neither in an index tree nor on the free-page chain");
}

void TTableVerifier::CheckBlobs() {
  TBlobFile* blob = table_.blob();
  if (blob == nullptr) return;
  const std::vector<TFieldDef>& fields = table_.fields();
  const uint32_t blocks = blob->next_block() - 1;
  const uint64_t size = blob->file().Size();
  const uint32_t readable =
      size > kBlobHeaderSize
          ? uint32_t(std::min<uint64_t>(blocks, (size - kBlobHeaderSize) / blob->block_size()))
          : 0;
  std::vector<uint8_t> owner(readable + 1, 0);  // 1 used by a value, 2 free
  TRecordBuffer record(table_.record_size());
  std::vector<uint8_t> value;
  for (uint32_t slot = 1; slot <= slots_; ++slot) {
    if ((slot & 1023) == 0 && !Step(slot, slots_, 2)) return;
    if (!live_[slot]) continue;
    table_.ReadRecord(slot, record);
    for (const TFieldDef& f : fields) {
      if (!f.IsBlob() || record.IsNull(f)) continue;
      const int32_t first = record.GetBlobBlock(f);
      const uint32_t version = record.GetBlobVersion(f);
      const std::string where = "BLOB of column '" + f.name + "' in slot " + Num(slot);
      std::string fault;
      // Walk the chain by hand: every block in the file, unshared, of the
      // value's version, linked both ways, and long enough.
      std::vector<uint32_t> chain;
      uint64_t total = 0, stored = 0;
      int32_t block = first;
      int32_t prev = 0;
      while (fault.empty() && block != 0) {
        if (block < 0 || uint32_t(block) > readable) {
          fault = "links to block " + std::to_string(block) + " outside the file";
          break;
        }
        if (owner[block] != 0 ||
            std::find(chain.begin(), chain.end(), uint32_t(block)) != chain.end()) {
          fault = "uses block " + Num(block) + ", which is not its own";
          break;
        }
        TBuffer* buffer = blob->GetBlock(uint32_t(block));
        const TBlock& b = static_cast<const TBlock&>(*buffer);
        if (b.version() != version) {
          fault = "block " + Num(block) + " carries another version";
        } else if (b.prev() != prev) {
          fault = "block " + Num(block) + " does not link back to its predecessor";
        } else if (b.used() > b.capacity()) {
          fault = "block " + Num(block) + " claims more bytes than it holds";
        } else {
          if (chain.empty()) total = b.total();
          stored += b.used();
        }
        const int32_t next = b.next();
        blob->Unpin(buffer);
        chain.push_back(uint32_t(block));
        prev = block;
        block = next;
      }
      if (fault.empty() && stored < total) fault = "chain ends before its length";
      if (fault.empty()) {
        try {
          if (!blob->Read(uint32_t(first), version, f.compression, &value))
            fault = "version does not match the record";
        } catch (const std::exception& e) {
          fault = std::string("cannot be read: ") + e.what();
        }
      }
      if (!fault.empty()) {
        report_.bad_blobs.emplace_back(slot, f.number);
        Add(TTableFinding::kBlobs, where + ": " + fault);
        continue;
      }
      for (uint32_t b : chain) owner[b] = 1;
    }
  }
  // The free-block chain.
  uint32_t block = blob->free_head();
  uint32_t previous = 0;
  while (block != 0) {
    std::string fault;
    if (block > readable) {
      fault = "points beyond the file (block " + Num(block) + ")";
    } else if (owner[block] == 1) {
      fault = "points at block " + Num(block) + " of a stored value";
    } else if (owner[block] == 2) {
      fault = "loops back to block " + Num(block);
    }
    if (!fault.empty()) {
      Add(TTableFinding::kBlobs,
          "Free-block chain of the BLOB file broken " +
              (previous == 0 ? std::string("at its head") : "after block " + Num(previous)) +
              ": it " + fault);
      return;
    }
    owner[block] = 2;
    TBuffer* buffer = blob->GetBlock(block);
    previous = block;
    block = uint32_t(static_cast<const TBlock&>(*buffer).next());
    blob->Unpin(buffer);
  }
  uint32_t lost = 0;
  for (uint32_t b = 1; b <= readable; ++b)
    if (owner[b] == 0) ++lost;
  if (lost > 0)
    Add(TTableFinding::kBlobs,
        Num(lost) + " BLOB blocks are neither part of a value nor on the free-block chain");
}

void VerifyTable(TDataTable& table, const TTableVerifier::TLog& log,
                 const TTableVerifier::TProgress& progress) {
  const TVerifyReport report = TTableVerifier(table).Run(log, progress);
  if (!report.clean()) throw ETabulaEngineError(report.ErrorCode(), {table.name()});
}

}  // namespace downsql::storage
