// TBlock: one block of a BLOB file in memory.
//
// Block layout (B bytes, B = the table's BLOB block size, 64..65536):
//
//   OFFSET  SIZE    MEANING
//   0       4       previous block of the same BLOB (0 in the first block)
//   4       4       next block of the same BLOB (0 in the last block); in a
//                   free block, the next free block
//   8       2       data bytes used in this block
//   10      4       BLOB version: the same in every block of one BLOB and in
//                   the record's reference
//   14      4       total stored length of the BLOB (first block only, else 0)
//   18      B - 18  data
#pragma once

#include <cstdint>

#include "base/byte_order.h"
#include "db/storage/buffered_file.h"

namespace downsql::storage {

inline constexpr uint32_t kBlockHeaderSize = 18;

class TBlock : public TBuffer {
 public:
  TBlock() = default;  // a block of the BLOB file's pool
  explicit TBlock(uint32_t block_size) : TBuffer(block_size) {}

  uint32_t capacity() const { return static_cast<uint32_t>(data.size()) - kBlockHeaderSize; }
  int32_t prev() const { return static_cast<int32_t>(base::GetLE32(&data[0])); }
  void set_prev(uint32_t n) { base::PutLE32(&data[0], n); }
  int32_t next() const { return static_cast<int32_t>(base::GetLE32(&data[4])); }
  void set_next(uint32_t n) { base::PutLE32(&data[4], n); }
  uint16_t used() const { return base::GetLE16(&data[8]); }
  void set_used(uint16_t n) { base::PutLE16(&data[8], n); }
  uint32_t version() const { return base::GetLE32(&data[10]); }
  void set_version(uint32_t v) { base::PutLE32(&data[10], v); }
  uint32_t total() const { return base::GetLE32(&data[14]); }
  void set_total(uint32_t n) { base::PutLE32(&data[14], n); }
  uint8_t* payload() { return data.data() + kBlockHeaderSize; }
  const uint8_t* payload() const { return data.data() + kBlockHeaderSize; }
};

}  // namespace downsql::storage
