#include "db/storage/blob_buffer.h"

#include "base/byte_order.h"

namespace downsql::storage {

TBlobBuffer::TBlobBuffer(TBlobFile& file, uint8_t compression, uint32_t first_block,
                         uint32_t version)
    : file_(file), compression_(compression), first_block_(first_block), version_(version) {}

bool TBlobBuffer::Load() {
  if (!file_.Read(first_block_, version_, compression_, &value_)) {
    loaded_ = false;
    value_.clear();
    return false;
  }
  loaded_ = true;
  modified_ = false;
  return true;
}

void TBlobBuffer::Assign(const uint8_t* data, size_t size) {
  value_.assign(data, data + size);
  loaded_ = true;
  modified_ = true;
}

void TBlobBuffer::Assign(std::vector<uint8_t> value) {
  value_ = std::move(value);
  loaded_ = true;
  modified_ = true;
}

void TBlobBuffer::Store(uint32_t new_version) {
  if (!modified_) return;
  first_block_ = file_.Write(first_block_, value_.data(), value_.size(), new_version, compression_);
  version_ = first_block_ != 0 ? new_version : 0;
  modified_ = false;
}

void TBlobBuffer::Free(uint32_t version) {
  file_.Free(first_block_, version);
  first_block_ = 0;
  version_ = 0;
  value_.clear();
  modified_ = false;
}

void TBlobBuffer::PutReference(uint8_t* out) const {
  base::PutLE32(out, first_block_);
  base::PutLE32(out + 4, version_);
}

void TBlobBuffer::GetReference(const uint8_t* in, uint32_t* first_block, uint32_t* version) {
  *first_block = base::GetLE32(in);
  *version = base::GetLE32(in + 4);
}

}  // namespace downsql::storage
