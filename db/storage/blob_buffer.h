// TBlobBuffer: one BLOB value that a cursor reads or writes, between the
// record's reference and the BLOB file.
//
// A record holds a BLOB column as 8 bytes after its null flag: the first
// block number (i32, 0 = empty) and the version (u32) stamped on every block
// of the value when it was written.
#pragma once

#include <cstdint>
#include <vector>

#include "db/storage/blob_file.h"

namespace downsql::storage {

class TBlobBuffer {
 public:
  // compression: the column's level 0..9. A reference of block 0 is an
  // empty value.
  TBlobBuffer(TBlobFile& file, uint8_t compression, uint32_t first_block = 0, uint32_t version = 0);

  uint32_t first_block() const { return first_block_; }
  uint32_t version() const { return version_; }
  bool loaded() const { return loaded_; }
  bool modified() const { return modified_; }

  // Reads the whole value. Returns false when the BLOB was rewritten since
  // the reference was taken (the caller re-reads its record); errors as for
  // TBlobFile::Read.
  bool Load();
  const std::vector<uint8_t>& value() const { return value_; }
  // Replaces the whole value (kept in memory until Store).
  void Assign(const uint8_t* data, size_t size);
  void Assign(std::vector<uint8_t> value);

  // Writes a modified value under a new version taken from the table's
  // counter; afterwards the reference names the stored chain (block 0 for
  // an empty value).
  void Store(uint32_t new_version);
  // Frees the value's blocks (record deleted or NULL assigned).
  void Free(uint32_t version);

  // The 8-byte reference as a record stores it, and back.
  void PutReference(uint8_t* out) const;
  static void GetReference(const uint8_t* in, uint32_t* first_block, uint32_t* version);

 private:
  TBlobFile& file_;
  uint8_t compression_;
  uint32_t first_block_;
  uint32_t version_;
  std::vector<uint8_t> value_;
  bool loaded_ = false;
  bool modified_ = false;
};

}  // namespace downsql::storage
