// TTableJournal: the rollback journal that makes a table's in-place writes
// all-or-nothing.
//
// Before the engine overwrites anything in a table's data, index or BLOB
// file, the bytes about to be overwritten (their before-images) and the
// files' lengths go into a journal beside the table: the table's name with
// the extension ".jnl". Then the files are written in place, and then the
// journal is removed. A process that dies in between leaves the journal
// behind; whoever next opens the table or takes its write lock writes the
// before-images back and cuts the files to their old lengths, which is the
// table exactly as it was before the interrupted write, and removes the
// journal. Running that again after a crash in the middle of it restores
// the same bytes once more.
//
// The journal exists only while a write is under way (one "batch": a
// commit, the flush after a change, or an exclusive table's writes up to
// its flush), is never made by reading, and the table files' bytes are
// exactly what they would be without it. A writer creates it exclusively
// and keeps it open until it is removed, so a process that finds the
// journal open elsewhere knows its writer is alive and leaves it alone; a
// dead writer's open is gone with the process.
//
// Durable batches (the operating-system flush asked for) flush the journal
// before the first in-place write it covers, and clear the journal's header
// and flush it again before removing it, after the caller flushed the table
// files: a power cut then leaves either the old table with a valid journal
// or the new table.
//
// Journal layout (little-endian):
//
//   OFFSET  SIZE  MEANING
//   0       8     "TBJRNL1\0"
//   8       4     salt: marks this batch's records
//   12      4     reserved, 0
//   16      8     data file length before the batch
//   24      8     index file length before the batch
//   32      8     BLOB file length before the batch (all ones: no BLOB file)
//   40      4     CRC-32 of bytes 0..39
//   44      20    reserved, 0
//   64      ...   records, one after another
//
// Record:
//
//   OFFSET  SIZE  MEANING
//   0       4     salt (the header's)
//   4       1     file: 0 data, 1 index, 2 BLOB
//   5       3     reserved, 0
//   8       8     offset in that file
//   16      4     length n
//   20      4     CRC-32 of bytes 0..19 and of the n bytes
//   24      n     the bytes at that offset before the batch
//
// Records are read up to the first one that is short or fails its check. A
// byte range is imaged once per batch, so the records never overlap and
// their order does not matter.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "db/storage/engine_file.h"

namespace downsql::storage {

class TTableJournal final : public TWriteGuard {
 public:
  static constexpr const char* kExtension = ".jnl";
  static constexpr size_t kFileCount = 3;
  using Files = std::array<TEngineFile*, kFileCount>;  // data, index, BLOB (or nullptr)

  // path: the journal's file name; files: the table's files, which get this
  // journal as their write guard.
  TTableJournal(std::string path, platform::FileOpener* opener, Files files);
  // Leaves an unfinished batch's journal in place for recovery.
  ~TTableJournal() override;
  TTableJournal(const TTableJournal&) = delete;
  TTableJournal& operator=(const TTableJournal&) = delete;

  const std::string& path() const { return path_; }
  bool active() const { return file_.is_open(); }

  // Starts a batch unless one is under way; a durable batch stays durable.
  void Begin(bool durable);
  struct TRange {
    TEngineFile* file;
    uint64_t offset;
    uint64_t length;
  };
  // Journals the before-images of these ranges (the parts inside the old
  // lengths not journaled yet) with one write. Starts a batch if needed.
  void Cover(const std::vector<TRange>& ranges);
  // The batch's writes are done (and flushed, when durable): the journal is
  // invalidated and removed.
  void Commit();
  // Writes the before-images back, cuts the files to their old lengths,
  // flushes them and removes the journal. When that fails, the journal
  // stays for the next opener.
  void Rollback();

  // Restores the journal a dead writer left at path into the files named
  // by file_names (missing files are left out), and removes
  // it; an invalid journal is only removed. Returns whether bytes were
  // restored. Does nothing when there is no journal, or when a live writer
  // holds it. The caller holds the table's write lock.
  static bool Recover(const std::string& path, platform::FileOpener* opener,
                      const std::array<std::string, kFileCount>& file_names);

  // TWriteGuard: every write of an attached file outside Cover's ranges is
  // journaled on its own first.
  void BeforeWrite(TEngineFile& file, uint64_t offset, uint64_t length) override;
  void BeforeTruncate(TEngineFile& file, uint64_t size) override;
  void AfterFlush(TEngineFile& file) override;

 private:
  static constexpr uint64_t kNoFile = ~uint64_t(0);
  int IndexOf(const TEngineFile* file) const;
  void AppendImages(int index, uint64_t from, uint64_t to, std::vector<uint8_t>& out);
  void FlushWrittenFiles();
  void Finish();
  // Replays journal into files; false when its header is not valid.
  static bool Replay(TEngineFile& journal, const Files& files);
  static void Invalidate(TEngineFile& journal);

  std::string path_;
  Files files_;
  TEngineFile file_;
  bool durable_ = false;
  bool restoring_ = false;
  uint32_t salt_ = 0;
  uint64_t end_ = 0;  // where the next record goes
  std::array<uint64_t, kFileCount> old_length_{};
  std::array<bool, kFileCount> unflushed_{};
  // Journaled byte ranges per file: start -> end.
  std::array<std::map<uint64_t, uint64_t>, kFileCount> imaged_;
  std::vector<uint8_t> scratch_;
};

}  // namespace downsql::storage
