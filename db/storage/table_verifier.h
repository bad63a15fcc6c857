// TTableVerifier: the full check of one open table's three files, for
// VERIFY TABLE, REPAIR TABLE and anyone who wants to know whether a table
// is sound (crash recovery, the shell) without going through SQL.
//
// What is checked, in this order:
//   header      the data header and column definitions (names, numbers,
//               types, sizes, constraint texts, null-flag offsets, record
//               size, file length against the slot count and chain head);
//               the index and BLOB file lengths against their headers;
//               an index file that was missing on open
//   records     every slot's status byte, every live record's RecordHash
//   counters    record count, last RecordID and last AUTOINC against the
//               live records
//   free chain  every deleted slot on one chain from the header's head,
//               no live slot, no loop, nothing beyond the file
//   indexes     every tree's structure (page types, order, branch keys and
//               counts, levels and links), every entry naming a live record
//               under its right key, every live record found under its key;
//               the free-page chain and pages neither in a tree nor free
//   BLOBs       every value's chain (versions, links, lengths, no block
//               shared with another value, readable and uncompressible),
//               the free-block chain and blocks neither used nor free
//
// The verifier only reads: no buffer is modified, no header written. Each
// finding is one line of text; a finding that affects many records (an
// index missing hundreds of keys) is counted into one line.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace downsql::storage {

class TDataTable;

// One thing found wrong.
struct TTableFinding {
  enum Area { kHeader, kRecords, kCounters, kFreeChain, kIndexes, kBlobs };
  Area area;
  std::string text;
};

// What a run found, with what a repair needs to know.
struct TVerifyReport {
  std::vector<TTableFinding> findings;
  // Live records whose RecordHash does not match their contents.
  std::vector<uint32_t> bad_hash_slots;
  // (slot, column number) of BLOB values that cannot be read whole.
  std::vector<std::pair<uint32_t, int>> bad_blobs;

  bool clean() const { return findings.empty(); }
  bool Has(TTableFinding::Area area) const;
  // The engine error of the first finding's file: 8961 header, 8962 data
  // records and free chain, 8965 indexes, 8963 BLOBs. 0 when clean.
  uint32_t ErrorCode() const;
};

class TTableVerifier {
 public:
  // percent 0..100; setting abort stops the run (the report then holds what
  // was found so far).
  using TProgress = std::function<void(uint16_t percent, bool& abort)>;
  using TLog = std::function<void(const std::string& line)>;

  explicit TTableVerifier(TDataTable& table) : table_(table) {}

  // Runs every check; log receives each finding's text as it is found.
  TVerifyReport Run(const TLog& log = {}, const TProgress& progress = {});

 private:
  void Add(TTableFinding::Area area, std::string text);
  void CheckHeaders();
  void CheckRecords();
  void CheckFreeChain();
  void CheckIndexes();
  void CheckIndexPages(const std::set<uint32_t>& tree_pages);
  void CheckBlobs();
  bool Step(uint32_t done, uint32_t total, uint32_t phase);

  TDataTable& table_;
  TLog log_;
  TProgress progress_;
  bool aborted_ = false;
  uint16_t last_percent_ = 0;
  TVerifyReport report_;
  // Slots the records check could read (the file may hold fewer than the
  // header says), and which of them are live.
  uint32_t slots_ = 0;
  std::vector<bool> live_;
  uint32_t live_count_ = 0;
};

// Runs the verifier and raises the damaged-file error of the first finding
// (see TVerifyReport::ErrorCode) after logging every finding.
void VerifyTable(TDataTable& table, const TTableVerifier::TLog& log = {},
                 const TTableVerifier::TProgress& progress = {});

}  // namespace downsql::storage
