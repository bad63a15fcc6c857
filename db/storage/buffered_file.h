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
// The append run (data kind, under the transaction flag): blocks appended
// by a transaction are all modified until it writes them, and it may
// append millions. They are kept apart from the pool, back to back in large
// chunks of memory with no buffer object each, and outside the capacity.
// GetBlock of such a block hands out a view: a buffer object pointing into
// the run, kept only while it is pinned. Writing writes the run with the
// pool's blocks in block order, straight from the chunks, and then drops
// it; a view still pinned then is not written and keeps its bytes, which go
// into a pool buffer, modified, when it is let go.
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
#include <new>
#include <string>
#include <vector>

#include "db/storage/engine_file.h"
#include "platform/memory.h"

namespace downsql::storage {

// The bytes of one block: a slice of a slab of the pool, or held by a
// buffer made on its own.
class TBlockBytes {
 public:
  uint8_t* data() { return bytes_; }
  const uint8_t* data() const { return bytes_; }
  size_t size() const { return size_; }
  uint8_t* begin() { return bytes_; }
  uint8_t* end() { return bytes_ + size_; }
  const uint8_t* begin() const { return bytes_; }
  const uint8_t* end() const { return bytes_ + size_; }
  uint8_t& operator[](size_t i) { return bytes_[i]; }
  const uint8_t& operator[](size_t i) const { return bytes_[i]; }

 private:
  friend class TBuffer;
  uint8_t* bytes_ = nullptr;
  uint32_t size_ = 0;
};

class TBuffer {
 public:
  // A buffer of its own: block_size zero bytes that it holds itself.
  explicit TBuffer(uint32_t block_size);
  virtual ~TBuffer() = default;
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;

  uint32_t block = 0;  // 1-based; 0 while unused
  TBlockBytes data;
  bool modified = false;
  int pin_count = 0;

 protected:
  // A buffer of a pool's slab: its bytes are attached by the slab.
  TBuffer() = default;

 private:
  friend class TBufferedFile;
  template <class T>
  friend class TBufferSlabOf;
  enum ViewKind : uint8_t { kNotView, kRunView, kOrphanView };
  void Attach(uint8_t* bytes, uint32_t size) {
    data.bytes_ = bytes;
    data.size_ = size;
  }

  TBuffer* newer_ = nullptr;  // most-recently-used chain
  TBuffer* older_ = nullptr;
  TBuffer* newer_candidate_ = nullptr;  // eviction candidates, by stamp
  TBuffer* older_candidate_ = nullptr;
  uint64_t stamp_ = 0;      // when last moved to the front of the chain
  uint32_t slab_ = 0;       // position of its slab in the pool
  bool candidate_ = false;  // listed among the eviction candidates
  bool spare_ = true;       // allocated, not in use
  // A view of a block of the append run, or of one that was left out of
  // the run's write because it was pinned (an orphan).
  ViewKind view_ = kNotView;
  std::unique_ptr<uint8_t[]> own_bytes_;
};

// The memory of large slabs, shared by every pool of the process: a slab
// released (after a commit, or with its table) keeps its memory here, offered
// back to the system (platform::OfferBufferBack), for the next slab of the
// same size. Fresh memory costs a page fault per page and the system clears
// every page first, which a long transaction would pay again for each of its
// buffers in every transaction. At most kSlabMemoryKept bytes are kept; the
// oldest go first. Thread-safe.
void* TakeSlabMemory(size_t size, size_t alignment);
void GiveSlabMemory(void* memory, size_t size, size_t alignment);
inline constexpr size_t kSlabMemoryKept = size_t(512) << 20;

// Many buffers of a pool allocated at once: the buffer objects and their
// block bytes in one piece of memory, released together.
class TBufferSlab {
 public:
  virtual ~TBufferSlab() = default;
  virtual TBuffer* at(size_t i) = 0;
  size_t count() const { return count_; }
  size_t in_use = 0;  // buffers of the slab that are not spare

 protected:
  explicit TBufferSlab(size_t count) : count_(count) {}

 private:
  size_t count_;
};

template <class T>
class TBufferSlabOf final : public TBufferSlab {
 public:
  TBufferSlabOf(size_t count, uint32_t block_size);
  ~TBufferSlabOf() override;
  TBuffer* at(size_t i) override { return reinterpret_cast<T*>(memory_) + i; }

 private:
  static constexpr size_t kLargeSlab = size_t(2) << 20;  // large pages come in 2 MiB
  uint8_t* memory_ = nullptr;
  size_t size_ = 0;
  size_t alignment_ = 0;
};

// The objects first, then the bytes of every block; a slab of 2 MiB or more
// starts on a 2 MiB boundary and is offered large pages (a long
// transaction's slabs are filled front to back).
template <class T>
TBufferSlabOf<T>::TBufferSlabOf(size_t count, uint32_t block_size) : TBufferSlab(count) {
  static_assert(alignof(T) <= 64);
  const size_t objects = (count * sizeof(T) + 63) & ~size_t(63);
  const size_t total = objects + count * size_t(block_size);
  alignment_ = total >= kLargeSlab ? kLargeSlab : 64;
  size_ = total;
  memory_ = static_cast<uint8_t*>(TakeSlabMemory(total, alignment_));
  for (size_t i = 0; i < count; ++i) {
    T* buffer = new (memory_ + i * sizeof(T)) T();
    buffer->Attach(memory_ + objects + i * size_t(block_size), block_size);
  }
}

template <class T>
TBufferSlabOf<T>::~TBufferSlabOf() {
  for (size_t i = 0; i < count(); ++i) reinterpret_cast<T*>(memory_)[i].~T();
  GiveSlabMemory(memory_, size_, alignment_);
}

class TBufferedFile {
 public:
  enum Kind { kDataKind, kIndexKind, kBlobKind };

  // The in-memory size of one buffer beside its data, used by the capacity
  // formula.
  static constexpr uint32_t kBufferOverhead = uint32_t(sizeof(TBuffer));
  // The most bytes of a run of modified blocks written with one call.
  static constexpr size_t kWriteChunk = 256 * 1024;
  // The largest slab of buffers, and the fewest buffers in one.
  static constexpr size_t kMaxSlabBytes = size_t(8) << 20;
  static constexpr size_t kMinSlabBuffers = 8;
  // The read window's bytes when reads follow on from the window's end.
  static constexpr size_t kSequentialWindow = 64 * 1024;

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
  // block not in the pool is not read, and neither it nor an appended block
  // is cleared (the buffer may hold another block's old bytes).
  TBuffer* GetBlockToOverwrite(uint32_t n);
  // Copies the first size bytes of block n (1 <= n <= block_count(), else
  // the kind's corrupt-block error) without taking a buffer: from the pool
  // when the block is there, else from the data kind's read window, which
  // a miss fills with the block and its read-ahead neighbours in one read,
  // or with kSequentialWindow bytes of blocks when the miss is of the block
  // right after the window (before_disk_read is called first). The window holds what the file
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
  // Raised by every Discard (pointers to buffers are invalid after it).
  uint64_t discards() const { return discards_; }
  uint64_t writes() const { return writes_; }

 protected:
  // Raises the block count by one (the header's next number).
  virtual void AddBlock() = 0;
  // Raises 9479 when another block would exceed the file's limits.
  virtual void CheckCapacity() {}
  // Called after modified buffers were written ("the table changed").
  virtual void OnBlocksWritten() {}
  // Called after Discard dropped every buffer.
  virtual void OnDiscarded() {}
  // Disk form <-> buffer (plain copies unless overridden). Both get exactly
  // block_size bytes. EncodeInPlace encodes bytes outside any buffer, and
  // is called only when EncodesBlocks says the disk form differs.
  virtual void EncodeBlock(const TBuffer& buffer, uint8_t* out) const;
  virtual bool EncodesBlocks() const { return false; }
  virtual void EncodeInPlace(uint8_t* /*bytes*/) const {}
  virtual void DecodeBlock(const uint8_t* in, TBuffer& buffer) const;
  // The same decoding in place, on bytes outside any buffer.
  virtual void DecodeInPlace(uint8_t* /*bytes*/) const {}
  // count buffers of the file's kind (TBufferSlabOf<its buffer class>).
  virtual std::unique_ptr<TBufferSlab> NewSlab(size_t count) const;

  [[noreturn]] void RaiseCorrupt() const;

 private:
  TBuffer* Find(uint32_t n);
  TBuffer* NewOrSpare();
  TBuffer* TakeBuffer();
  // A new block past the last, pinned and modified; cleared when asked.
  TBuffer* Append(bool clear);
  // The least recently used evictable buffer, or nullptr; with a limit,
  // only one last used before that stamp.
  TBuffer* TakeEvictable(uint64_t used_before = UINT64_MAX);
  void Offer(TBuffer* buffer);  // lists it as a candidate when evictable
  void Withdraw(TBuffer* buffer);
  // Back to the spare buffers; listed among them unless list_spare is
  // false (ReleaseEmptySlabs lists them).
  void Free(TBuffer* buffer, bool list_spare = true);
  void ReleaseEmptySlabs();
  void Insert(TBuffer* buffer);  // into the block table and the chain
  void Remove(TBuffer* buffer);  // from the block table and the chain
  void MoveToFront(TBuffer* buffer);
  void Unlink(TBuffer* buffer);
  // The modified, unpinned buffers newest first and in block order.
  void CollectModified(std::vector<TBuffer*>* by_use, std::vector<TBuffer*>* dirty) const;
  void ReadRange(uint32_t n, TBuffer* target);
  // The blocks a miss of block n reads: n and the read-ahead in the
  // direction of movement.
  void ReadAheadSpan(uint32_t n, uint32_t* first, uint32_t* last);
  void FillWindow(uint32_t n, uint32_t scan_blocks = 0);
  void ShrinkToCapacity();
  void RecomputeCapacity();

  // The append run.
  bool InRun(uint32_t n) const { return n - run_first_ < run_count_; }
  bool AppendsToRun() const;
  TBuffer* AppendToRun(bool clear);
  struct TRunChunk;
  const TRunChunk& ChunkOf(uint32_t n) const;  // the run's chunk holding block n
  uint8_t* RunBytes(uint32_t n);
  // A pinned view of block n, which is in the run or an orphan.
  TBuffer* PinView(uint32_t n);
  TBuffer* FindView(uint32_t n) const;
  bool HasOrphans() const;
  void ReleaseView(TBuffer* view);
  void UnpinView(TBuffer* view);
  // The run's blocks that writing takes now (none pinned), as ranges of
  // blocks; writes them (encoded when the kind encodes).
  std::vector<std::pair<uint32_t, uint32_t>> RunWriteSpans() const;
  void WriteRun(std::vector<uint8_t>& scratch);
  void DropRun();

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
  uint64_t discards_ = 0;

  // No cost per block grows with the pool, however far it has grown inside
  // a transaction: the buffers in use are found by block number in a table
  // (block numbers are dense, so this is one pointer per block), and the
  // eviction candidates (unmodified, unpinned) are chained apart in
  // least-recently-used order, so taking a buffer never walks the modified
  // or pinned ones. Candidates are listed when a buffer becomes evictable
  // (unpinned, written) and checked again when taken, since callers set the
  // modified flag directly. Only writing walks the whole pool.
  // Buffers are allocated in slabs, each twice the size of the ones before
  // up to kMaxSlabBytes; a slab whose buffers are all spare again after the
  // pool shrinks is released.
  std::vector<std::unique_ptr<TBufferSlab>> slabs_;
  size_t allocated_ = 0;            // buffers in all slabs
  std::vector<TBuffer*> by_block_;  // in use, by block number
  size_t in_use_ = 0;
  std::vector<uint8_t> read_bytes_;  // kept from read to read
  // The read window (data kind): decoded blocks window_first_ ..
  // window_first_ + window_count_ - 1 as the file held them.
  std::vector<uint8_t> window_;
  uint32_t window_first_ = 0;
  uint32_t window_count_ = 0;
  std::vector<TBuffer*> spare_;  // allocated, not in use

  // The append run: blocks run_first_ .. run_first_ + run_count_ - 1 in
  // chunks of consecutive blocks, each twice the size of the one before up
  // to kMaxSlabBytes. Chunks of a run written while an orphan points into
  // them are retired until the last orphan is let go.
  struct TRunChunk {
    TRunChunk(size_t size, uint32_t first, uint32_t capacity);
    ~TRunChunk();
    TRunChunk(const TRunChunk&) = delete;
    TRunChunk& operator=(const TRunChunk&) = delete;
    uint8_t* bytes;
    size_t size;
    size_t alignment;
    uint32_t first;
    uint32_t capacity;  // blocks
    uint32_t count = 0;
  };
  std::vector<std::unique_ptr<TRunChunk>> run_chunks_;
  std::vector<std::unique_ptr<TRunChunk>> retired_chunks_;
  uint32_t run_first_ = 0;
  uint32_t run_count_ = 0;
  // View objects are made once and kept (a stale Unpin after Discard finds
  // its object); the pinned ones are few.
  std::vector<std::unique_ptr<TBuffer>> views_;
  std::vector<TBuffer*> free_views_;
  std::vector<TBuffer*> pinned_views_;
  TBuffer* newest_candidate_ = nullptr;
  TBuffer* oldest_candidate_ = nullptr;
  TBuffer* newest_ = nullptr;
  TBuffer* oldest_ = nullptr;
  uint64_t clock_ = 0;
};

}  // namespace downsql::storage
