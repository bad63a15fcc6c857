// In-memory files in chunks.
#include "db/storage/memory_file.h"

#include <algorithm>
#include <cstring>

#include "platform/os_error.h"

namespace downsql::storage {

void TMemoryFile::TakeContent(TMemoryFile& from) {
  chunks_ = std::move(from.chunks_);
  size_ = from.size_;
  exists_ = from.exists_;
  from.chunks_.clear();
  from.size_ = 0;
  from.exists_ = false;
}

void TMemoryFile::DoCreate(platform::Share) {
  chunks_.clear();
  size_ = 0;
  exists_ = true;
}

bool TMemoryFile::DoOpen(platform::Access, platform::Share) {
  if (!exists_) throw platform::OsError(platform::kErrorFileNotFound, name(), "file not found");
  return false;
}

size_t TMemoryFile::DoRead(uint64_t pos, void* data, size_t n) {
  uint8_t* out = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < n) {
    uint64_t at = pos + done;
    size_t chunk = size_t(at / kChunkSize), off = size_t(at % kChunkSize);
    size_t take = std::min(n - done, kChunkSize - off);
    std::memcpy(out + done, chunks_[chunk].get() + off, take);
    done += take;
  }
  return n;
}

size_t TMemoryFile::DoWrite(uint64_t pos, const void* data, size_t n) {
  uint64_t end = pos + n;
  if (end > size_) DoTruncate(end);
  const uint8_t* in = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < n) {
    uint64_t at = pos + done;
    size_t chunk = size_t(at / kChunkSize), off = size_t(at % kChunkSize);
    size_t take = std::min(n - done, kChunkSize - off);
    std::memcpy(chunks_[chunk].get() + off, in + done, take);
    done += take;
  }
  return n;
}

void TMemoryFile::DoTruncate(uint64_t size) {
  size_t need = size_t((size + kChunkSize - 1) / kChunkSize);
  if (size < size_ && need > 0) {
    // Bytes past the new end read as zero if the file grows again.
    size_t off = size_t(size % kChunkSize);
    if (off != 0) std::memset(chunks_[need - 1].get() + off, 0, kChunkSize - off);
  }
  while (chunks_.size() > need) chunks_.pop_back();
  while (chunks_.size() < need) {
    chunks_.push_back(std::make_unique<uint8_t[]>(kChunkSize));
    std::memset(chunks_.back().get(), 0, kChunkSize);
  }
  size_ = size;
}

}  // namespace downsql::storage
