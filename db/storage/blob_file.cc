#include "db/storage/blob_file.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "base/byte_order.h"
#include "base/compress.h"
#include "base/inflate.h"
#include "db/storage/engine_error.h"

namespace downsql::storage {

namespace {

constexpr uint32_t kOffUpdateCount = 0;
constexpr uint32_t kOffVersion = 8;
constexpr uint32_t kOffSignature = 9;
constexpr uint32_t kOffFreeHead = 25;
constexpr uint32_t kOffNextBlock = 29;
constexpr uint32_t kOffModified = 33;
constexpr char kDefaultSignature[] = "TABULA_SIG";

}  // namespace

// A pinned block, let go when the holder goes.
class TBlobFile::Pin {
 public:
  Pin(TBlobFile& file, TBlock* block) : file_(file), block_(block) {}
  ~Pin() {
    if (block_ != nullptr) file_.Unpin(block_);
  }
  Pin(const Pin&) = delete;
  Pin& operator=(const Pin&) = delete;
  Pin(Pin&& other) noexcept : file_(other.file_), block_(other.block_) { other.block_ = nullptr; }
  Pin& operator=(Pin&& other) noexcept {
    if (this != &other) {
      if (block_ != nullptr) file_.Unpin(block_);
      block_ = other.block_;
      other.block_ = nullptr;
    }
    return *this;
  }
  TBlock* operator->() const { return block_; }
  TBlock* get() const { return block_; }

 private:
  TBlobFile& file_;
  TBlock* block_;
};

TBlobFile::TBlobFile(std::string table_name, std::string file_name, bool in_memory,
                     const EngineSettings& settings)
    : TBufferedFile(kBlobKind, std::move(table_name), std::move(file_name), in_memory),
      settings_(settings) {
  SetBufferLimits(settings.max_table_blob_buffer_size(), settings.max_table_blob_buffer_count());
}

TBlobFile::~TBlobFile() = default;

void TBlobFile::Create(uint32_t block_size) {
  Close();
  SetGeometry(kBlobHeaderSize, block_size);
  file().Create();
  update_count_ = 0;
  signature_ = settings_.signature_digest();
  free_head_ = 0;
  next_block_ = 1;
  header_modified_ = true;
  WriteHeader(true);
}

void TBlobFile::ReadHeader(uint8_t* raw) {
  file().Read(0, raw, kBlobHeaderSize);
  if (cipher_ != nullptr) cipher_->Decrypt(raw, kBlobHeaderSize);
}

void TBlobFile::Open(uint32_t block_size, bool read_only, bool exclusive) {
  file().Open(read_only, exclusive);
  try {
    uint8_t raw[kBlobHeaderSize];
    ReadHeader(raw);
    const uint8_t version = raw[kOffVersion];
    if (version != kBlobFileVersion)
      throw ETabulaEngineError(version < 7 ? kErrWrongVersion : kErrInvalidFile, {table_name()});
    base::Md5Digest signature;
    std::memcpy(signature.data(), raw + kOffSignature, signature.size());
    if (signature != settings_.signature_digest() && signature != base::Md5(kDefaultSignature))
      throw ETabulaEngineError(kErrInvalidFile, {table_name()});
    update_count_ = static_cast<int32_t>(base::GetLE32(raw + kOffUpdateCount));
    signature_ = signature;
    free_head_ = base::GetLE32(raw + kOffFreeHead);
    next_block_ = static_cast<int32_t>(base::GetLE32(raw + kOffNextBlock));
    if (next_block_ < 1) throw ETabulaEngineError(kErrHeaderCorrupt, {table_name()});
    header_modified_ = false;
    SetGeometry(kBlobHeaderSize, block_size);
    Discard();
  } catch (...) {
    file().Close();
    throw;
  }
}

void TBlobFile::Close() {
  Discard();
  if (file().is_open()) file().Close();
}

void TBlobFile::Empty() {
  Discard();
  free_head_ = 0;
  next_block_ = 1;
  header_modified_ = true;
  file().Truncate(kBlobHeaderSize);
  WriteHeader(true);
}

bool TBlobFile::WriteHeader(bool force) {
  if (!force && !header_modified_) return false;
  ++update_count_;
  uint8_t raw[kBlobHeaderSize] = {};
  base::PutLE32(raw + kOffUpdateCount, static_cast<uint32_t>(update_count_));
  raw[kOffVersion] = kBlobFileVersion;
  std::memcpy(raw + kOffSignature, signature_.data(), signature_.size());
  base::PutLE32(raw + kOffFreeHead, free_head_);
  base::PutLE32(raw + kOffNextBlock, static_cast<uint32_t>(next_block_));
  raw[kOffModified] = header_modified_ ? 1 : 0;
  if (cipher_ != nullptr) cipher_->Encrypt(raw, sizeof raw);
  file().Write(0, raw, sizeof raw);
  header_modified_ = false;
  return true;
}

bool TBlobFile::ReReadHeader() {
  uint8_t raw[kBlobHeaderSize];
  ReadHeader(raw);
  const int32_t count = static_cast<int32_t>(base::GetLE32(raw + kOffUpdateCount));
  const bool changed = count != update_count_;
  update_count_ = count;
  free_head_ = base::GetLE32(raw + kOffFreeHead);
  next_block_ = static_cast<int32_t>(base::GetLE32(raw + kOffNextBlock));
  header_modified_ = false;
  return changed;
}

bool TBlobFile::Flush(bool flush_os) {
  bool wrote = WriteModified(false);
  if (wrote) header_modified_ = true;
  wrote = WriteHeader() || wrote;
  if (wrote && flush_os) file().Flush();
  return wrote;
}

void TBlobFile::set_free_head(uint32_t block) {
  free_head_ = block;
  header_modified_ = true;
}

TBlock* TBlobFile::Block(int64_t number) {
  if (number <= 0 || number > block_count()) RaiseCorrupt();
  return static_cast<TBlock*>(GetBlock(static_cast<uint32_t>(number)));
}

TBlock* TBlobFile::NewBlock() {
  TBlock* block;
  if (free_head_ != 0) {
    block = Block(free_head_);
    const int32_t next = block->next();
    if (next < 0 || next > static_cast<int64_t>(block_count())) {
      Unpin(block);
      RaiseCorrupt();
    }
    set_free_head(static_cast<uint32_t>(next));
    std::fill(block->data.begin(), block->data.end(), 0);
  } else {
    block = static_cast<TBlock*>(GetBlock(block_count() + 1));
  }
  block->modified = true;
  return block;
}

bool TBlobFile::Read(uint32_t first_block, uint32_t version, uint8_t compression,
                     std::vector<uint8_t>* out) {
  if (first_block == 0) {
    out->clear();
    return true;
  }
  Pin block(*this, Block(first_block));
  if (block->version() != version) return false;
  const uint32_t total = block->total();
  std::vector<uint8_t> stored;
  // A damaged length must not make us reserve more than the file can hold.
  stored.reserve(std::min<uint64_t>(total, uint64_t(block_count()) * block->capacity()));
  std::unordered_set<uint32_t> visited{first_block};
  while (true) {
    if (block->used() > block->capacity())
      throw ETabulaEngineError(kErrInvalidBlobLength, {table_name()});
    const uint32_t take = std::min<uint32_t>(block->capacity(), total - uint32_t(stored.size()));
    stored.insert(stored.end(), block->payload(), block->payload() + take);
    if (stored.size() >= total) break;
    const int32_t next = block->next();
    if (next < 0 || next > static_cast<int64_t>(block_count()) ||
        !visited.insert(static_cast<uint32_t>(next)).second)
      RaiseCorrupt();
    if (next == 0) throw ETabulaEngineError(kErrEndOfBlob, {table_name()});
    block = Pin(*this, Block(next));
  }
  if (compression == 0) {
    *out = std::move(stored);
    return true;
  }
  try {
    *out = base::UncompressStream(stored.data(), stored.size());
  } catch (const base::CompressError&) {
    throw ETabulaEngineError(kErrUncompress);
  }
  return true;
}

uint32_t TBlobFile::Write(uint32_t first_block, const uint8_t* value, size_t size, uint32_t version,
                          uint8_t compression) {
  std::vector<uint8_t> packed;
  if (compression != 0 && size > 0) {
    try {
      packed = base::Compress(value, size, compression);
    } catch (const base::CompressError&) {
      throw ETabulaEngineError(kErrCompress);
    }
    value = packed.data();
    size = packed.size();
  }
  if (size > UINT32_MAX) throw ETabulaEngineError(kErrTableFull, {table_name()});
  if (size == 0) {
    if (first_block != 0) Free(first_block, version);
    return 0;
  }
  Pin block(*this, first_block != 0 ? Block(first_block) : NewBlock());
  const uint32_t first = block->block;
  // Blocks of the new chain; an old chain that leads back into them is
  // damaged.
  std::unordered_set<uint32_t> chain{first};
  block->set_prev(0);
  block->set_total(static_cast<uint32_t>(size));
  size_t done = 0;
  while (true) {
    const uint32_t take = static_cast<uint32_t>(std::min<size_t>(block->capacity(), size - done));
    std::memcpy(block->payload(), value + done, take);
    std::fill(block->payload() + take, block->payload() + block->capacity(), 0);
    block->set_used(static_cast<uint16_t>(take));
    block->set_version(version);
    block->modified = true;
    done += take;
    const int32_t next = block->next();
    if (next < 0 || next > static_cast<int64_t>(block_count()) ||
        (next != 0 && chain.count(static_cast<uint32_t>(next)) != 0))
      RaiseCorrupt();
    if (done == size) {
      block->set_next(0);
      if (next != 0) FreeChain(next, version, &chain);
      break;
    }
    // Continue in the old chain while it lasts, else in a fresh block.
    Pin following(*this, next != 0 ? Block(next) : NewBlock());
    chain.insert(following->block);
    following->set_prev(block->block);
    following->set_total(0);
    block->set_next(following->block);
    block = std::move(following);
  }
  return first;
}

void TBlobFile::Free(uint32_t first_block, uint32_t version) {
  std::unordered_set<uint32_t> none;
  if (first_block != 0) FreeChain(first_block, version, &none);
}

void TBlobFile::FreeChain(int64_t number, uint32_t version, std::unordered_set<uint32_t>* keep) {
  std::unordered_set<uint32_t> freed;
  while (number != 0) {
    if (number < 0 || number > static_cast<int64_t>(block_count()) ||
        keep->count(static_cast<uint32_t>(number)) != 0 ||
        !freed.insert(static_cast<uint32_t>(number)).second)
      RaiseCorrupt();
    Pin block(*this, Block(number));
    number = block->next();
    block->set_version(version);
    block->set_next(free_head_);
    block->modified = true;
    set_free_head(block->block);
  }
}

void TBlobFile::AddBlock() {
  ++next_block_;
  header_modified_ = true;
}

void TBlobFile::CheckCapacity() {
  if (BlockOffset(block_count() + 1) + block_size() > settings_.max_file_size())
    throw ETabulaEngineError(kErrTableFull, {table_name()});
}

void TBlobFile::EncodeBlock(const TBuffer& buffer, uint8_t* out) const {
  std::memcpy(out, buffer.data.data(), block_size());
  if (cipher_ != nullptr) cipher_->Encrypt(out, block_size());
}

void TBlobFile::DecodeBlock(const uint8_t* in, TBuffer& buffer) const {
  std::memcpy(buffer.data.data(), in, block_size());
  if (cipher_ != nullptr) cipher_->Decrypt(buffer.data.data(), block_size());
}

std::unique_ptr<TBufferSlab> TBlobFile::NewSlab(size_t count) const {
  return std::make_unique<TBufferSlabOf<TBlock>>(count, block_size());
}

}  // namespace downsql::storage
