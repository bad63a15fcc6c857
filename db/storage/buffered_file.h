// TBuffer and TBufferedFile: the per-file pool of fixed-size blocks (record
// slots, index pages, BLOB blocks) through which a table's files are read
// and written.
//
// Block n (1-based) lies at data_start + (n - 1) * block_size. The pool
// finds its buffers through a table indexed by block number and keeps them
// in a most-recently-used chain. Its capacity is min(memory limit div (block size + buffer
// overhead), count limit), at least 1.
//
// Getting a block that is not in the pool reads it together with up to the
// read-ahead count of neighbours in the direction of movement (never past
// either end of the file) in one read; neighbours already in the pool are
// refreshed only when neither modified nor pinned. A buffer for a new block
// is, in order: a new one while below capacity; the least recently used one
// that is neither modified nor pinned; after writing all modified buffers
// (never while a transaction is active); a new one past capacity (the
// capacity grows by the kind's step). Writing collects the modified unpinned
// buffers in block order and writes runs of consecutive blocks with one
// write per kWriteChunk bytes of a run; afterwards a pool above its capacity
// shrinks back.
//
//   kind   growth step  read-ahead          corrupt block
//   data       64       half the capacity the   8962
//                       limits give, >=1
//   index       4       1                       8965
//   BLOB       32       1                       8963
//
// Subclasses (TDataFile, TIndexFile, TBlobFile) own the block count (their
// header's next number), may encode blocks on the way to and from disk
// (encryption, compression) and may hook the change check before reads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/storage/engine_file.h"

namespace downsql::storage {

class TBuffer {
 public:
  explicit TBuffer(uint32_t block_size) : data(block_size, 0) {}
  virtual ~TBuffer() = default;

  uint32_t block = 0;  // 1-based; 0 while unused
  std::vector<uint8_t> data;
  bool modified = false;
  int pin_count = 0;

 private:
  friend class TBufferedFile;
  TBuffer* newer_ = nullptr;  // most-recently-used chain
  TBuffer* older_ = nullptr;
  TBuffer* newer_candidate_ = nullptr;  // eviction candidates, by stamp
  TBuffer* older_candidate_ = nullptr;
  uint64_t stamp_ = 0;      // when last moved to the front of the chain
  bool candidate_ = false;  // listed among the eviction candidates
  size_t owned_index_ = 0;  // position in the pool's ownership list
};

class TBufferedFile {
 public:
  enum Kind { kDataKind, kIndexKind, kBlobKind };

  // The in-memory size of one buffer beside its data, used by the capacity
  // formula.
  static constexpr uint32_t kBufferOverhead = uint32_t(sizeof(TBuffer));
  // The most bytes of a run of modified blocks written with one call.
  static constexpr size_t kWriteChunk = 256 * 1024;

  // table_name names the table in errors; file_name is the file itself.
  TBufferedFile(Kind kind, std::string table_name, std::string file_name, bool in_memory);
  virtual ~TBufferedFile();
  TBufferedFile(const TBufferedFile&) = delete;
  TBufferedFile& operator=(const TBufferedFile&) = delete;

  TEngineFile& file() { return file_; }
  const std::string& table_name() const { return table_name_; }
  Kind kind() const { return kind_; }

  // Geometry, known once the file's header is read or made.
  void SetGeometry(uint64_t data_start, uint32_t block_size);
  uint64_t data_start() const { return data_start_; }
  uint32_t block_size() const { return block_size_; }
  uint64_t BlockOffset(uint32_t block) const {
    return data_start_ + uint64_t(block - 1) * block_size_;
  }

  // Memory and count limits of the pool (engine settings for the kind).
  void SetBufferLimits(uint32_t max_memory, uint32_t max_count);
  uint32_t capacity() const { return capacity_; }
  size_t buffer_count() const { return in_use_; }

  // The number of blocks the file holds (including appended, unwritten ones).
  virtual uint32_t block_count() const = 0;

  // Returns block n pinned: n = 0 raises the kind's corrupt-block error, n =
  // block_count() + 1 appends a cleared, modified block (after the capacity
  // check, 9479), n beyond that is corrupt too. Read faults are 9217.
  TBuffer* GetBlock(uint32_t n);
  // As GetBlock, for a caller that overwrites every byte of the block before
  // it lets go: the buffer comes back pinned and marked modified, and a
  // block not in the pool is not read (its buffer holds zeros instead).
  TBuffer* GetBlockToOverwrite(uint32_t n);
  // Copies the first size bytes of block n (1 <= n <= block_count(), else
  // the kind's corrupt-block error) without taking a buffer: from the pool
  // when the block is there, else from the data kind's read window, which
  // a miss fills with the block and its read-ahead neighbours in one read
  // (before_disk_read is called first). The window holds what the file
  // held when it was read; it is dropped whenever buffers are written or
  // discarded, so it never shows bytes older than a clean buffer would.
  // Other kinds read through GetBlock.
  void CopyBlock(uint32_t n, uint8_t* out, size_t size);
  // Data kind: block n's bytes in place, where CopyBlock would copy them
  // from (a pool buffer or the read window); valid until the next call on
  // this file. A forward scan names in scan_blocks how many blocks from n
  // a refilled window should hold (more than the read-ahead gives: fewer,
  // larger reads).
  const uint8_t* PeekBlock(uint32_t n, uint32_t scan_blocks = 0);
  // Lets go of a pinned buffer.
  void Unpin(TBuffer* buffer);
  void MarkModified(TBuffer* buffer);

  // Writes every modified, unpinned buffer; flush_os asks for the
  // operating-system flush after writing. Returns whether anything was
  // written.
  bool WriteModified(bool flush_os = false);
  // Frees every buffer without writing (rollback, or another session changed
  // the table); pointers to buffers are invalid afterwards.
  void Discard();
  bool HasModified() const;
  // The byte ranges WriteModified would write now (modified, unpinned
  // blocks, consecutive ones joined): offset and length.
  std::vector<std::pair<uint64_t, uint64_t>> ModifiedRanges() const;

  // Under the transaction flag, taking a buffer never writes: a full pool
  // grows instead.
  bool transaction_active() const { return transaction_active_; }
  void set_transaction_active(bool on) { transaction_active_ = on; }

  // Called before a block is read from disk (the cursor's check for changes
  // made by other sessions of a shared table).
  std::function<void()> before_disk_read;

  uint64_t hits() const { return hits_; }
  uint64_t writes() const { return writes_; }

 protected:
  // Raises the block count by one (the header's next number).
  virtual void AddBlock() = 0;
  // Raises 9479 when another block would exceed the file's limits.
  virtual void CheckCapacity() {}
  // Called after modified buffers were written ("the table changed").
  virtual void OnBlocksWritten() {}
  // Disk form <-> buffer (plain copies unless overridden). Both get exactly
  // block_size bytes.
  virtual void EncodeBlock(const TBuffer& buffer, uint8_t* out) const;
  virtual void DecodeBlock(const uint8_t* in, TBuffer& buffer) const;
  // The same decoding in place, on bytes outside any buffer.
  virtual void DecodeInPlace(uint8_t* /*bytes*/) const {}
  virtual std::unique_ptr<TBuffer> NewBuffer() const;

  [[noreturn]] void RaiseCorrupt() const;

 private:
  TBuffer* Find(uint32_t n);
  TBuffer* NewOrSpare();
  TBuffer* TakeBuffer();
  // The least recently used evictable buffer, or nullptr; with a limit,
  // only one last used before that stamp.
  TBuffer* TakeEvictable(uint64_t used_before = UINT64_MAX);
  void Offer(TBuffer* buffer);  // lists it as a candidate when evictable
  void Withdraw(TBuffer* buffer);
  void Free(TBuffer* buffer);
  void Insert(TBuffer* buffer);  // into the block table and the chain
  void Remove(TBuffer* buffer);  // from the block table and the chain
  void MoveToFront(TBuffer* buffer);
  void Unlink(TBuffer* buffer);
  void ReadRange(uint32_t n, TBuffer* target);
  // The blocks a miss of block n reads: n and the read-ahead in the
  // direction of movement.
  void ReadAheadSpan(uint32_t n, uint32_t* first, uint32_t* last);
  void FillWindow(uint32_t n, uint32_t scan_blocks = 0);
  void ShrinkToCapacity();
  void RecomputeCapacity();

  Kind kind_;
  std::string table_name_;
  TEngineFile file_;
  uint64_t data_start_ = 0;
  uint32_t block_size_ = 1;
  uint32_t max_memory_ = 32768;
  uint32_t max_count_ = 8192;
  uint32_t capacity_ = 1;
  uint32_t base_capacity_ = 1;
  bool transaction_active_ = false;
  uint32_t last_block_read_ = 0;
  uint64_t hits_ = 0;
  uint64_t writes_ = 0;

  // No cost per block grows with the pool, however far it has grown inside
  // a transaction: the buffers in use are found by block number in a table
  // (block numbers are dense, so this is one pointer per block), and the
  // eviction candidates (unmodified, unpinned) are chained apart in
  // least-recently-used order, so taking a buffer never walks the modified
  // or pinned ones. Candidates are listed when a buffer becomes evictable
  // (unpinned, written) and checked again when taken, since callers set the
  // modified flag directly. Only writing walks the whole pool.
  std::vector<std::unique_ptr<TBuffer>> owned_;
  std::vector<TBuffer*> by_block_;  // in use, by block number
  size_t in_use_ = 0;
  std::vector<uint8_t> read_bytes_;  // kept from read to read
  // The read window (data kind): decoded blocks window_first_ ..
  // window_first_ + window_count_ - 1 as the file held them.
  std::vector<uint8_t> window_;
  uint32_t window_first_ = 0;
  uint32_t window_count_ = 0;
  std::vector<TBuffer*> spare_;  // allocated, not in use
  TBuffer* newest_candidate_ = nullptr;
  TBuffer* oldest_candidate_ = nullptr;
  TBuffer* newest_ = nullptr;
  TBuffer* oldest_ = nullptr;
  uint64_t clock_ = 0;
};

}  // namespace downsql::storage
