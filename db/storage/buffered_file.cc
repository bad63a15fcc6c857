// The buffer pool of one table file.
#include "db/storage/buffered_file.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <iterator>
#include <mutex>

#include "db/storage/engine_error.h"

namespace downsql::storage {
namespace {

struct KindRules {
  uint32_t growth;
  uint32_t corrupt_code;
};

KindRules RulesOf(TBufferedFile::Kind kind) {
  switch (kind) {
    case TBufferedFile::kDataKind:
      return {64, kErrRecordBuffersCorrupt};
    case TBufferedFile::kIndexKind:
      return {4, kErrIndexPageCorrupt};
    default:
      return {32, kErrBlobBuffersCorrupt};
  }
}

// Slabs below this size come and go through the heap as they are.
constexpr size_t kKeptSlabMin = size_t(2) << 20;

struct TKeptSlabs {
  struct Piece {
    void* memory;
    size_t size;
    size_t alignment;
  };
  std::mutex mutex;
  std::deque<Piece> pieces;  // oldest first
  size_t bytes = 0;
};

// Never destroyed: slabs of tables closed at exit still come back to it.
TKeptSlabs& KeptSlabs() {
  static TKeptSlabs* kept = new TKeptSlabs;
  return *kept;
}

}  // namespace

void* TakeSlabMemory(size_t size, size_t alignment) {
  if (size >= kKeptSlabMin) {
    TKeptSlabs& kept = KeptSlabs();
    std::lock_guard<std::mutex> lock(kept.mutex);
    for (auto it = kept.pieces.rbegin(); it != kept.pieces.rend(); ++it) {
      if (it->size == size && it->alignment == alignment) {
        void* memory = it->memory;
        kept.bytes -= size;
        kept.pieces.erase(std::next(it).base());
        return memory;
      }
    }
  }
  void* memory = ::operator new(size, std::align_val_t(alignment));
  if (size >= kKeptSlabMin) platform::AdviseLargeBuffer(memory, size);
  return memory;
}

void GiveSlabMemory(void* memory, size_t size, size_t alignment) {
  if (size >= kKeptSlabMin && size <= kSlabMemoryKept && platform::OfferBufferBack(memory, size)) {
    TKeptSlabs& kept = KeptSlabs();
    std::vector<TKeptSlabs::Piece> gone;
    {
      std::lock_guard<std::mutex> lock(kept.mutex);
      kept.pieces.push_back({memory, size, alignment});
      kept.bytes += size;
      while (kept.bytes > kSlabMemoryKept) {
        gone.push_back(kept.pieces.front());
        kept.bytes -= kept.pieces.front().size;
        kept.pieces.pop_front();
      }
    }
    for (const TKeptSlabs::Piece& p : gone)
      ::operator delete(p.memory, std::align_val_t(p.alignment));
    return;
  }
  ::operator delete(memory, std::align_val_t(alignment));
}

TBuffer::TBuffer(uint32_t block_size) : own_bytes_(new uint8_t[block_size]()) {
  Attach(own_bytes_.get(), block_size);
}

TBufferedFile::TBufferedFile(Kind kind, std::string table_name, std::string file_name,
                             bool in_memory)
    : kind_(kind), table_name_(std::move(table_name)), file_(std::move(file_name), in_memory) {}

TBufferedFile::~TBufferedFile() = default;

void TBufferedFile::SetGeometry(uint64_t data_start, uint32_t block_size) {
  if (block_size != block_size_) {
    Discard();
  }
  data_start_ = data_start;
  block_size_ = std::max<uint32_t>(block_size, 1);
  RecomputeCapacity();
}

void TBufferedFile::SetBufferLimits(uint32_t max_memory, uint32_t max_count) {
  max_memory_ = max_memory;
  max_count_ = max_count;
  RecomputeCapacity();
}

void TBufferedFile::RecomputeCapacity() {
  uint32_t by_memory = max_memory_ / (block_size_ + kBufferOverhead);
  base_capacity_ = std::max<uint32_t>(1, std::min(by_memory, max_count_));
  capacity_ = std::max<uint32_t>(base_capacity_, uint32_t(in_use_));
}

void TBufferedFile::RaiseCorrupt() const {
  throw ETabulaEngineError(RulesOf(kind_).corrupt_code, {table_name_});
}

std::unique_ptr<TBufferSlab> TBufferedFile::NewSlab(size_t count) const {
  return std::make_unique<TBufferSlabOf<TBuffer>>(count, block_size_);
}

void TBufferedFile::EncodeBlock(const TBuffer& buffer, uint8_t* out) const {
  std::memcpy(out, buffer.data.data(), block_size_);
}

void TBufferedFile::DecodeBlock(const uint8_t* in, TBuffer& buffer) const {
  std::memcpy(buffer.data.data(), in, block_size_);
}

// --- chain, block table and candidates -----------------------------------------

void TBufferedFile::Unlink(TBuffer* b) {
  if (b->newer_) b->newer_->older_ = b->older_;
  if (b->older_) b->older_->newer_ = b->newer_;
  if (newest_ == b) newest_ = b->older_;
  if (oldest_ == b) oldest_ = b->newer_;
  b->newer_ = b->older_ = nullptr;
}

void TBufferedFile::MoveToFront(TBuffer* b) {
  if (newest_ != b) {
    Unlink(b);
    b->older_ = newest_;
    if (newest_) newest_->newer_ = b;
    newest_ = b;
    if (!oldest_) oldest_ = b;
  }
  b->stamp_ = ++clock_;
  // A listed candidate moves to the newest end of the candidates under its
  // new stamp (a pinned one is listed again when it is let go).
  if (b->candidate_ && newest_candidate_ != b) Withdraw(b);
  Offer(b);
}

// Candidates stay in stamp order: a buffer listed when it becomes evictable
// goes behind every candidate used after it (usually none or a few).
void TBufferedFile::Offer(TBuffer* b) {
  if (b->candidate_ || b->modified || b->pin_count != 0) return;
  TBuffer* before = newest_candidate_;
  while (before && before->stamp_ > b->stamp_) before = before->older_candidate_;
  b->older_candidate_ = before;
  b->newer_candidate_ = before ? before->newer_candidate_ : oldest_candidate_;
  if (b->newer_candidate_) {
    b->newer_candidate_->older_candidate_ = b;
  } else {
    newest_candidate_ = b;
  }
  if (before) {
    before->newer_candidate_ = b;
  } else {
    oldest_candidate_ = b;
  }
  b->candidate_ = true;
}

void TBufferedFile::Withdraw(TBuffer* b) {
  if (!b->candidate_) return;
  if (b->newer_candidate_) b->newer_candidate_->older_candidate_ = b->older_candidate_;
  if (b->older_candidate_) b->older_candidate_->newer_candidate_ = b->newer_candidate_;
  if (newest_candidate_ == b) newest_candidate_ = b->older_candidate_;
  if (oldest_candidate_ == b) oldest_candidate_ = b->newer_candidate_;
  b->newer_candidate_ = b->older_candidate_ = nullptr;
  b->candidate_ = false;
}

void TBufferedFile::Insert(TBuffer* b) {
  if (b->block >= by_block_.size()) {
    by_block_.resize(std::max<size_t>(size_t(b->block) + 1, by_block_.size() * 2), nullptr);
  }
  by_block_[b->block] = b;
  ++in_use_;
  MoveToFront(b);
}

void TBufferedFile::Remove(TBuffer* b) {
  if (b->block < by_block_.size() && by_block_[b->block] == b) {
    by_block_[b->block] = nullptr;
    --in_use_;
  }
  Unlink(b);
  Withdraw(b);
}

TBuffer* TBufferedFile::Find(uint32_t n) { return n < by_block_.size() ? by_block_[n] : nullptr; }

void TBufferedFile::MarkModified(TBuffer* buffer) {
  buffer->modified = true;
  if (buffer->view_ == TBuffer::kNotView) Withdraw(buffer);
}

// --- taking buffers ----------------------------------------------------------

TBuffer* TBufferedFile::NewOrSpare() {
  if (spare_.empty()) {
    // Twice the buffers allocated so far, so that a growing pool allocates
    // O(log n) times.
    const size_t most = std::max(kMinSlabBuffers, kMaxSlabBytes / (block_size_ + kBufferOverhead));
    const size_t count = std::min(most, std::max(kMinSlabBuffers, allocated_));
    slabs_.push_back(NewSlab(count));
    TBufferSlab& slab = *slabs_.back();
    allocated_ += count;
    // Taken from the back: the slab's buffers in address order.
    for (size_t i = count; i-- > 0;) {
      TBuffer* b = slab.at(i);
      b->slab_ = uint32_t(slabs_.size() - 1);
      spare_.push_back(b);
    }
  }
  TBuffer* b = spare_.back();
  spare_.pop_back();
  b->spare_ = false;
  ++slabs_[b->slab_]->in_use;
  return b;
}

// The least recently used buffer that is neither modified nor pinned, out of
// the pool; entries that stopped being evictable since they were listed are
// dropped on the way (they are listed again when they become evictable).
TBuffer* TBufferedFile::TakeEvictable(uint64_t used_before) {
  while (TBuffer* b = oldest_candidate_) {
    bool evictable = !b->modified && b->pin_count == 0;
    if (evictable && b->stamp_ >= used_before) return nullptr;
    Withdraw(b);
    if (evictable) {
      Remove(b);
      return b;
    }
  }
  return nullptr;
}

void TBufferedFile::Free(TBuffer* b, bool list_spare) {
  Remove(b);
  b->block = 0;
  b->modified = false;
  b->pin_count = 0;
  b->spare_ = true;
  --slabs_[b->slab_]->in_use;
  if (list_spare) spare_.push_back(b);
}

// Lists the spare buffers anew from the slabs that keep buffers in use.
void TBufferedFile::ReleaseEmptySlabs() {
  size_t kept = 0;
  for (size_t i = 0; i < slabs_.size(); ++i) {
    if (slabs_[i]->in_use == 0) {
      allocated_ -= slabs_[i]->count();
      slabs_[i].reset();
      continue;
    }
    if (kept != i) {
      slabs_[kept] = std::move(slabs_[i]);
      for (size_t k = 0; k < slabs_[kept]->count(); ++k)
        slabs_[kept]->at(k)->slab_ = uint32_t(kept);
    }
    ++kept;
  }
  slabs_.resize(kept);
  spare_.clear();
  for (auto& slab : slabs_) {
    for (size_t k = slab->count(); k-- > 0;) {
      TBuffer* b = slab->at(k);
      if (b->spare_) spare_.push_back(b);
    }
  }
}

TBuffer* TBufferedFile::TakeBuffer() {
  if (in_use_ < capacity_) return NewOrSpare();
  if (TBuffer* b = TakeEvictable()) return b;
  if (!transaction_active_) {
    WriteModified();
    if (in_use_ < capacity_) return NewOrSpare();
    if (TBuffer* b = TakeEvictable()) return b;
  }
  capacity_ += RulesOf(kind_).growth;
  return NewOrSpare();
}

// The caller writes every byte, so the buffer is neither read nor cleared
// (it may hold the bytes of the block it held before).
TBuffer* TBufferedFile::GetBlockToOverwrite(uint32_t n) {
  if (n == 0 || n > block_count()) {
    if (n != block_count() + 1) RaiseCorrupt();
    if (AppendsToRun()) return AppendToRun(false);
    TBuffer* b = Append(false);
    Withdraw(b);
    return b;
  }
  if (InRun(n) || !pinned_views_.empty()) {
    if (TBuffer* view = PinView(n)) return view;
  }
  TBuffer* b = Find(n);
  if (b) {
    ++hits_;
    ++b->pin_count;
    MoveToFront(b);
  } else {
    b = TakeBuffer();
    b->block = n;
    b->pin_count = 1;
    Insert(b);
  }
  MarkModified(b);
  return b;
}

TBuffer* TBufferedFile::Append(bool clear) {
  CheckCapacity();
  TBuffer* b = TakeBuffer();
  b->block = block_count() + 1;
  if (clear) std::fill(b->data.begin(), b->data.end(), 0);
  b->modified = true;
  b->pin_count = 1;
  Insert(b);
  AddBlock();
  return b;
}

TBuffer* TBufferedFile::GetBlock(uint32_t n) {
  if (n == 0) RaiseCorrupt();
  uint32_t count = block_count();
  if (n == count + 1) return AppendsToRun() ? AppendToRun(true) : Append(true);
  if (n > count) RaiseCorrupt();
  if (InRun(n) || !pinned_views_.empty()) {
    if (TBuffer* view = PinView(n)) return view;
  }
  if (TBuffer* b = Find(n)) {
    ++hits_;
    ++b->pin_count;
    MoveToFront(b);
    return b;
  }
  if (before_disk_read) {
    before_disk_read();
    if (n > block_count()) RaiseCorrupt();
  }
  TBuffer* b = TakeBuffer();
  b->block = n;
  b->modified = false;
  b->pin_count = 1;
  try {
    ReadRange(n, b);
  } catch (...) {
    Free(b);
    throw;
  }
  return b;
}

void TBufferedFile::ReadAheadSpan(uint32_t n, uint32_t* first, uint32_t* last) {
  // Half the capacity the limits give, not of a pool grown by a
  // transaction: that one may hold the whole table, and reading half of it
  // for every block not yet buffered would read the file over and over.
  uint32_t ahead = kind_ == kDataKind ? std::max<uint32_t>(1, base_capacity_ / 2) : 1;
  *first = n;
  *last = n;
  if (n >= last_block_read_) {
    *last = uint32_t(std::min<uint64_t>(uint64_t(n) + ahead, std::max(block_count(), n)));
  } else {
    *first = n > ahead ? n - ahead : 1;
  }
  last_block_read_ = n;
}

void TBufferedFile::FillWindow(uint32_t n, uint32_t scan_blocks) {
  window_count_ = 0;
  uint32_t first, last;
  ReadAheadSpan(n, &first, &last);
  if (first == n && scan_blocks > last - first + 1) {
    last = uint32_t(std::min<uint64_t>(uint64_t(n) + scan_blocks - 1, std::max(block_count(), n)));
  }
  window_.resize(size_t(last - first + 1) * block_size_);
  size_t got = file_.ReadUpTo(BlockOffset(first), window_.data(), window_.size());
  if (got < size_t(n - first + 1) * block_size_)
    throw ETabulaEngineError(kErrReadFailed, {file_.name()});
  window_first_ = first;
  window_count_ = uint32_t(got / block_size_);
  for (uint32_t i = 0; i < window_count_; ++i)
    DecodeInPlace(window_.data() + size_t(i) * block_size_);
}

void TBufferedFile::CopyBlock(uint32_t n, uint8_t* out, size_t size) {
  if (kind_ != kDataKind) {
    TBuffer* b = GetBlock(n);
    std::memcpy(out, b->data.data(), std::min(size, b->data.size()));
    Unpin(b);
    return;
  }
  std::memcpy(out, PeekBlock(n), std::min<size_t>(size, block_size_));
}

const uint8_t* TBufferedFile::PeekBlock(uint32_t n, uint32_t scan_blocks) {
  if (n == 0 || n > block_count()) RaiseCorrupt();
  if (InRun(n)) return RunBytes(n);
  if (!pinned_views_.empty()) {
    if (TBuffer* view = FindView(n)) return view->data.data();
  }
  if (TBuffer* b = Find(n)) {
    ++hits_;
    return b->data.data();
  }
  if (n - window_first_ >= window_count_) {
    // A miss just past the window goes on reading forward (a scan in an
    // index order that follows the slots): it gets a scan's window.
    if (scan_blocks == 0 && window_count_ > 0 && n == window_first_ + window_count_)
      scan_blocks = uint32_t(std::max<size_t>(1, kSequentialWindow / block_size_));
    if (before_disk_read) {
      before_disk_read();
      if (n > block_count()) RaiseCorrupt();
      // The check may have dropped the buffers, or found the block there.
      if (TBuffer* b = Find(n)) return b->data.data();
    }
    FillWindow(n, scan_blocks);
  }
  return window_.data() + size_t(n - window_first_) * block_size_;
}

void TBufferedFile::ReadRange(uint32_t n, TBuffer* target) {
  // The read stops at the end of the file by itself (blocks appended but not
  // yet written are never read: they are in the pool), so the file's size
  // is not asked for.
  uint32_t first, last;
  ReadAheadSpan(n, &first, &last);
  std::vector<uint8_t>& bytes = read_bytes_;
  bytes.resize(size_t(last - first + 1) * block_size_);
  size_t got = file_.ReadUpTo(BlockOffset(first), bytes.data(), bytes.size());
  size_t need = size_t(n - first + 1) * block_size_;
  if (got < need) throw ETabulaEngineError(kErrReadFailed, {file_.name()});
  last = first + uint32_t(got / block_size_) - 1;

  DecodeBlock(bytes.data() + size_t(n - first) * block_size_, *target);
  // The read-ahead may reuse buffers used before this read, never one it
  // filled itself: in a pool of few evictable buffers (a transaction's
  // modified ones fill the rest) it would otherwise push out the very
  // blocks it read for the next steps, and every step would read again.
  const uint64_t read_from = clock_ + 1;
  Insert(target);
  for (uint32_t m = first; m <= last; ++m) {
    if (m == n || InRun(m) || FindView(m)) continue;
    const uint8_t* raw = bytes.data() + size_t(m - first) * block_size_;
    if (TBuffer* have = Find(m)) {
      if (!have->modified && have->pin_count == 0) DecodeBlock(raw, *have);
      continue;
    }
    // Read-ahead never writes, never grows the pool and never evicts the
    // block asked for (it is pinned).
    TBuffer* b = in_use_ < capacity_ ? NewOrSpare() : TakeEvictable(read_from);
    if (!b) break;
    b->block = m;
    b->modified = false;
    b->pin_count = 0;
    DecodeBlock(raw, *b);
    Insert(b);
  }
  MoveToFront(target);
}

void TBufferedFile::Unpin(TBuffer* buffer) {
  if (!buffer || buffer->pin_count <= 0) return;
  if (buffer->view_ != TBuffer::kNotView) {
    UnpinView(buffer);
  } else if (--buffer->pin_count == 0) {
    Offer(buffer);
  }
}

bool TBufferedFile::HasModified() const {
  if (run_count_ > 0 || HasOrphans()) return true;
  for (const TBuffer* b = newest_; b; b = b->older_)
    if (b->modified) return true;
  return false;
}

// The modified, unpinned buffers in block order: from the block table when
// they are a good part of it (a long transaction's appended blocks), else
// sorted.
void TBufferedFile::CollectModified(std::vector<TBuffer*>* by_use,
                                    std::vector<TBuffer*>* dirty) const {
  by_use->clear();
  dirty->clear();
  for (TBuffer* b = newest_; b; b = b->older_)
    if (b->modified && b->pin_count == 0) by_use->push_back(b);
  if (by_use->empty()) return;
  dirty->reserve(by_use->size());
  if (by_use->size() * 4 >= by_block_.size()) {
    for (TBuffer* b : by_block_)
      if (b && b->modified && b->pin_count == 0) dirty->push_back(b);
  } else {
    *dirty = *by_use;
    std::sort(dirty->begin(), dirty->end(),
              [](const TBuffer* x, const TBuffer* y) { return x->block < y->block; });
  }
}

std::vector<std::pair<uint64_t, uint64_t>> TBufferedFile::ModifiedRanges() const {
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  uint32_t last = 0;
  // The run's blocks come after every pool block below the run and before
  // every one above it.
  std::vector<std::pair<uint32_t, uint32_t>> run_spans = RunWriteSpans();
  size_t next_span = 0;
  auto add_span = [&](uint32_t first, uint32_t count) {
    if (!ranges.empty() && first == last + 1) {
      ranges.back().second += uint64_t(count) * block_size_;
    } else {
      ranges.emplace_back(BlockOffset(first), uint64_t(count) * block_size_);
    }
    last = first + count - 1;
  };
  auto add = [&](const TBuffer* b) {
    while (next_span < run_spans.size() && run_spans[next_span].first < b->block) {
      add_span(run_spans[next_span].first, run_spans[next_span].second);
      ++next_span;
    }
    add_span(b->block, 1);
  };
  auto finish = [&] {
    for (; next_span < run_spans.size(); ++next_span)
      add_span(run_spans[next_span].first, run_spans[next_span].second);
  };
  // A pool that fills a good part of the block table (a long transaction)
  // is read from the table alone, in block order.
  if (in_use_ * 4 >= by_block_.size()) {
    for (const TBuffer* b : by_block_)
      if (b && b->modified && b->pin_count == 0) add(b);
    finish();
    return ranges;
  }
  std::vector<TBuffer*> by_use, dirty;
  CollectModified(&by_use, &dirty);
  for (const TBuffer* b : dirty) add(b);
  finish();
  return ranges;
}

bool TBufferedFile::WriteModified(bool flush_os) {
  std::vector<TBuffer*> by_use;
  for (TBuffer* b = newest_; b; b = b->older_)
    if (b->modified && b->pin_count == 0) by_use.push_back(b);
  const bool run = run_count_ > 0;
  if (by_use.empty() && !run) return false;
  // In block order: straight from the block table when the modified buffers
  // are a good part of it (a long transaction's appended blocks), else
  // sorted. A run of consecutive blocks goes out in chunks, so writing a
  // long transaction's blocks never needs a copy of all of them at once.
  const size_t per_chunk = std::max<size_t>(1, kWriteChunk / block_size_);
  std::vector<uint8_t> run_bytes(std::min(per_chunk, by_use.size()) * size_t(block_size_));
  std::vector<TBuffer*> in_run;
  in_run.reserve(std::min(per_chunk, by_use.size()));
  auto write_run = [&] {
    if (in_run.empty()) return;
    file_.Write(BlockOffset(in_run.front()->block), run_bytes.data(), in_run.size() * block_size_);
    ++writes_;
    for (TBuffer* b : in_run) b->modified = false;
    in_run.clear();
  };
  // The append run goes out between the pool's blocks below it and those
  // above it (appended after the run by a pool outside a transaction).
  bool run_written = !run;
  auto add = [&](TBuffer* b) {
    if (!run_written && b->block > run_first_) {
      write_run();
      WriteRun(run_bytes);
      run_written = true;
    }
    if (!in_run.empty() && (in_run.size() == per_chunk || b->block != in_run.back()->block + 1))
      write_run();
    EncodeBlock(*b, run_bytes.data() + in_run.size() * block_size_);
    in_run.push_back(b);
  };
  if (by_use.size() * 4 >= by_block_.size()) {
    for (TBuffer* b : by_block_)
      if (b && b->modified && b->pin_count == 0) add(b);
  } else {
    std::vector<TBuffer*> dirty = by_use;
    std::sort(dirty.begin(), dirty.end(),
              [](const TBuffer* x, const TBuffer* y) { return x->block < y->block; });
    for (TBuffer* b : dirty) add(b);
  }
  write_run();
  if (!run_written) WriteRun(run_bytes);
  if (run) DropRun();
  // Listed oldest first, each goes to the newest end of the candidates
  // unless buffers used later are listed already.
  window_count_ = 0;
  for (auto b = by_use.rbegin(); b != by_use.rend(); ++b) Offer(*b);
  OnBlocksWritten();
  if (flush_os) file_.Flush();
  ShrinkToCapacity();
  return true;
}

void TBufferedFile::ShrinkToCapacity() {
  if (capacity_ <= base_capacity_) return;
  TBuffer* b = oldest_;
  while (b && in_use_ > base_capacity_) {
    TBuffer* next = b->newer_;
    if (!b->modified && b->pin_count == 0) Free(b, false);
    b = next;
  }
  capacity_ = std::max<uint32_t>(base_capacity_, uint32_t(in_use_));
  ReleaseEmptySlabs();
}

void TBufferedFile::Discard() {
  ++discards_;
  window_count_ = 0;
  by_block_.clear();
  in_use_ = 0;
  newest_candidate_ = oldest_candidate_ = nullptr;
  spare_.clear();
  slabs_.clear();
  allocated_ = 0;
  newest_ = oldest_ = nullptr;
  capacity_ = base_capacity_;
  last_block_read_ = 0;
  run_chunks_.clear();
  retired_chunks_.clear();
  run_first_ = run_count_ = 0;
  for (TBuffer* view : pinned_views_) ReleaseView(view);
  pinned_views_.clear();
  OnDiscarded();
}

// --- the append run -------------------------------------------------------------

TBufferedFile::TRunChunk::TRunChunk(size_t chunk_size, uint32_t first_block, uint32_t blocks)
    : size(chunk_size),
      alignment(chunk_size >= (size_t(2) << 20) ? size_t(2) << 20 : 64),
      first(first_block),
      capacity(blocks) {
  bytes = static_cast<uint8_t*>(TakeSlabMemory(size, alignment));
}

TBufferedFile::TRunChunk::~TRunChunk() { GiveSlabMemory(bytes, size, alignment); }

bool TBufferedFile::AppendsToRun() const {
  return kind_ == kDataKind && transaction_active_ &&
         (run_count_ == 0 || run_first_ + run_count_ == block_count() + 1);
}

TBuffer* TBufferedFile::AppendToRun(bool clear) {
  CheckCapacity();
  const uint32_t n = block_count() + 1;
  if (run_count_ == 0) {
    run_first_ = n;
    run_chunks_.clear();
  }
  if (run_chunks_.empty() || run_chunks_.back()->count == run_chunks_.back()->capacity) {
    // Twice the bytes of the run so far, from 64 KiB up to kMaxSlabBytes.
    constexpr size_t kFirstChunkBytes = size_t(64) << 10;
    size_t want = run_chunks_.empty() ? kFirstChunkBytes
                                      : std::min(kMaxSlabBytes, run_chunks_.back()->size * 2);
    uint32_t blocks = uint32_t(std::max<size_t>(1, want / block_size_));
    run_chunks_.push_back(std::make_unique<TRunChunk>(size_t(blocks) * block_size_, n, blocks));
  }
  ++run_chunks_.back()->count;
  ++run_count_;
  AddBlock();
  if (clear) std::memset(RunBytes(n), 0, block_size_);
  return PinView(n);
}

const TBufferedFile::TRunChunk& TBufferedFile::ChunkOf(uint32_t n) const {
  const TRunChunk* chunk = run_chunks_.back().get();
  if (n < chunk->first) {
    auto it = std::upper_bound(
        run_chunks_.begin(), run_chunks_.end(), n,
        [](uint32_t block, const std::unique_ptr<TRunChunk>& c) { return block < c->first; });
    chunk = std::prev(it)->get();
  }
  return *chunk;
}

uint8_t* TBufferedFile::RunBytes(uint32_t n) {
  const TRunChunk& chunk = ChunkOf(n);
  return chunk.bytes + size_t(n - chunk.first) * block_size_;
}

bool TBufferedFile::HasOrphans() const {
  for (const TBuffer* view : pinned_views_)
    if (view->view_ == TBuffer::kOrphanView) return true;
  return false;
}

TBuffer* TBufferedFile::FindView(uint32_t n) const {
  for (TBuffer* view : pinned_views_)
    if (view->block == n) return view;
  return nullptr;
}

TBuffer* TBufferedFile::PinView(uint32_t n) {
  if (TBuffer* view = FindView(n)) {
    ++view->pin_count;
    return view;
  }
  if (!InRun(n)) return nullptr;
  if (free_views_.empty()) {
    views_.push_back(std::unique_ptr<TBuffer>(new TBuffer()));
    free_views_.push_back(views_.back().get());
  }
  TBuffer* view = free_views_.back();
  free_views_.pop_back();
  view->view_ = TBuffer::kRunView;
  view->block = n;
  view->modified = true;  // every block of the run is
  view->pin_count = 1;
  view->Attach(RunBytes(n), block_size_);
  pinned_views_.push_back(view);
  return view;
}

void TBufferedFile::ReleaseView(TBuffer* view) {
  view->view_ = TBuffer::kNotView;
  view->block = 0;
  view->pin_count = 0;
  view->modified = false;
  view->Attach(nullptr, 0);
  free_views_.push_back(view);
}

void TBufferedFile::UnpinView(TBuffer* view) {
  if (--view->pin_count > 0) return;
  pinned_views_.erase(std::find(pinned_views_.begin(), pinned_views_.end(), view));
  if (view->view_ == TBuffer::kOrphanView) {
    // Left out of the run's write: its bytes go into the pool, still to be
    // written. The chunks it pointed into go when the last orphan does.
    const uint32_t n = view->block;
    const uint8_t* bytes = view->data.data();  // in a retired chunk
    ReleaseView(view);
    TBuffer* b = GetBlockToOverwrite(n);
    std::memcpy(b->data.data(), bytes, block_size_);
    Unpin(b);
    if (!HasOrphans()) retired_chunks_.clear();
    return;
  }
  ReleaseView(view);
}

std::vector<std::pair<uint32_t, uint32_t>> TBufferedFile::RunWriteSpans() const {
  std::vector<std::pair<uint32_t, uint32_t>> spans;
  if (run_count_ == 0) return spans;
  std::vector<uint32_t> pinned;
  for (const TBuffer* view : pinned_views_)
    if (view->view_ == TBuffer::kRunView) pinned.push_back(view->block);
  std::sort(pinned.begin(), pinned.end());
  uint32_t from = run_first_;
  for (uint32_t p : pinned) {
    if (p > from) spans.emplace_back(from, p - from);
    from = p + 1;
  }
  const uint32_t end = run_first_ + run_count_;
  if (end > from) spans.emplace_back(from, end - from);
  return spans;
}

// Straight from the chunks when the disk form is the buffer form, else
// through scratch; at most kWriteChunk bytes per write either way.
void TBufferedFile::WriteRun(std::vector<uint8_t>& scratch) {
  const uint32_t per_write = uint32_t(std::max<size_t>(1, kWriteChunk / block_size_));
  const bool encode = EncodesBlocks();
  for (auto [first, count] : RunWriteSpans()) {
    uint32_t n = first;
    const uint32_t end = first + count;
    while (n < end) {
      // Within one chunk: blocks n .. up to the chunk's end or the span's.
      const TRunChunk& chunk = ChunkOf(n);
      const uint8_t* from = chunk.bytes + size_t(n - chunk.first) * block_size_;
      uint32_t blocks = std::min({end - n, chunk.first + chunk.count - n, per_write});
      const size_t length = size_t(blocks) * block_size_;
      if (encode) {
        if (scratch.size() < length) scratch.resize(length);
        std::memcpy(scratch.data(), from, length);
        for (uint32_t i = 0; i < blocks; ++i)
          EncodeInPlace(scratch.data() + size_t(i) * block_size_);
        from = scratch.data();
      }
      file_.Write(BlockOffset(n), from, length);
      ++writes_;
      n += blocks;
    }
  }
}

// After the run was written: views still pinned become orphans, and the
// chunks they point into stay until they are let go.
void TBufferedFile::DropRun() {
  for (TBuffer* view : pinned_views_)
    if (view->view_ == TBuffer::kRunView) view->view_ = TBuffer::kOrphanView;
  if (HasOrphans()) {
    for (auto& chunk : run_chunks_) retired_chunks_.push_back(std::move(chunk));
  }
  run_chunks_.clear();
  run_first_ = run_count_ = 0;
}

}  // namespace downsql::storage
