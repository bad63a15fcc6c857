// TTableJournal: the rollback journal that makes a table's in-place writes
// all-or-nothing, across a killed process and across a power cut.
//
// Before the engine overwrites anything in a table's data, index or BLOB
// file, the bytes about to be overwritten (their before-images) and the
// files' lengths go into a journal beside the table (the table's name with
// the extension ".jnl") and are flushed to the disk. Then the files are
// written in place and flushed, and then the journal's header is cleared
// ("disarmed"). A process that dies in between, or a machine that loses
// power, leaves an armed journal behind; whoever next opens the table or
// takes its write lock writes the before-images back and cuts the files to
// their old lengths, which is the table exactly as it was before the
// interrupted write, and disarms the journal. Running that again after a
// crash in the middle of it restores the same bytes once more.
//
// One "batch" is a commit, the flush after a change outside a transaction,
// or an exclusive table's writes up to its flush. Without a flush asked for
// the disarming is not flushed: a power cut may then bring the journal back
// armed and cost the latest commit, never the table's consistency. With the
// flush asked for (COMMIT FLUSH, ForceBufferFlush) the disarmed header is
// flushed too, and the commit is on the disk when it returns.
//
// The journal file is made by the table's first write (its directory entry
// is flushed then) and stays: creating and deleting it for every commit
// would cost a directory flush each time. It is never made by reading, and
// the table files' bytes are exactly what they would be without it. A
// writer opens it unshared and keeps it open while it holds the table's
// write lock, so a process that finds it open elsewhere knows its writer is
// alive and leaves it alone; a dead writer's open is gone with the process.
//
// A batch's records start where the previous batch's records ended (the
// disarmed header keeps that offset), so that an older header whose
// disarming did not reach the disk still finds its own records whole after
// a power cut. Once the journal has grown past kRestartAt, the disarmed
// header is flushed first and the records start at the top again.
//
// Journal layout (little-endian):
//
//   OFFSET  SIZE  MEANING
//   0       8     "TBJRNL2\0" while armed, zeros once disarmed
//   8       4     salt: marks this batch's records
//   12      4     reserved, 0
//   16      8     data file length before the batch
//   24      8     index file length before the batch
//   32      8     BLOB file length before the batch (all ones: no BLOB file)
//   40      8     offset of the batch's first record
//   48      4     CRC-32 of bytes 0..47
//   52      4     reserved, 0
//   56      8     written on disarming: offset after the batch's last record
//   64      ...   records
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
  // A batch is under way.
  bool active() const { return active_; }

  // The table's write lock is taken: restores what a dead writer left (see
  // Recover) and keeps the journal open for the batches that follow, until
  // Release. Returns whether bytes were restored. Makes no journal.
  bool Hold();
  // The write lock goes: the journal is closed unless a batch is under way.
  void Release();

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
  // The batch's writes are done: the files written are flushed and the
  // journal is disarmed (and flushed, when durable).
  void Commit();
  // Writes the before-images back, cuts the files to their old lengths,
  // flushes them and disarms the journal. When that fails, the journal
  // stays armed for the next opener.
  void Rollback();

  // Whether the journal at path is armed and not held by a live writer: a
  // look without locks, for deciding whether to take the write lock and
  // Recover.
  static bool Armed(const std::string& path, platform::FileOpener* opener);
  // Restores the journal a dead writer left at path into the files named
  // by file_names (missing files are left out) and disarms it. Returns
  // whether bytes were restored. Does nothing when there is no armed
  // journal, or when a live writer holds it. The caller holds the table's
  // write lock.
  static bool Recover(const std::string& path, platform::FileOpener* opener,
                      const std::array<std::string, kFileCount>& file_names);

  // A journal this long makes the next batch start at the top again.
  static constexpr uint64_t kRestartAt = uint64_t(1) << 20;

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
  // Opens the journal unshared, making it when missing; false when it is
  // missing and make is false.
  bool OpenFile(bool make);
  void Finish();
  // Replays the journal into the files and disarms it, flushed; returns
  // whether it was armed. On failure the journal is closed, still armed for
  // whoever opens the table next, and the error passed on.
  bool Restore();
  // Replays journal into files; false when its header is not armed.
  static bool Replay(TEngineFile& journal, const Files& files);
  // Disarms the header; records_end: where the next batch's records may
  // start.
  static void Disarm(TEngineFile& journal, uint64_t records_end);
  // Opens an existing journal unshared, waiting a little for a look of
  // another process (Armed) to end; false when it is missing or held.
  static bool OpenUnshared(TEngineFile& journal);

  std::string path_;
  platform::FileOpener* opener_;
  Files files_;
  TEngineFile file_;
  bool active_ = false;
  bool held_ = false;
  bool durable_ = false;
  bool restoring_ = false;
  bool header_written_ = false;
  uint32_t salt_ = 0;
  uint64_t start_ = 0;  // where this batch's records start
  uint64_t end_ = 0;    // where the next record goes
  std::array<uint64_t, kFileCount> old_length_{};
  std::array<bool, kFileCount> unflushed_{};
  // Journaled byte ranges per file: start -> end.
  std::array<std::map<uint64_t, uint64_t>, kFileCount> imaged_;
  std::vector<uint8_t> scratch_;
};

}  // namespace downsql::storage
