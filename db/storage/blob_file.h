// TBlobFile: a table's BLOB file (".blb"). Every BLOB value is a chain of
// fixed-size blocks (block.h); the record keeps the first block number and
// the version stamp.
//
//   FILE OFFSET  SIZE   CONTENTS
//   0            512    header (below)
//   512          B x K  blocks 1..K (B = the table's BLOB block size)
//
// Header (512 bytes, little-endian):
//
//   OFFSET  SIZE  MEANING
//   0       4     update count, raised on every header write
//   4       4     reserved
//   8       1     version, 6
//   9       16    signature digest (MD5 of the engine signature)
//   25      4     head of the free-block chain (0 = empty)
//   29      4     next block number = blocks in the file + 1
//   33      1     header-modified flag (ignored on reading)
//   34      478   reserved
//
// A value is stored zlib-compressed (one finished stream) when its column
// has a compression level 1..9; the stored length is then the compressed
// length. An empty value has no block. Freed blocks go on a singly linked
// chain through their next field, newest first. In an encrypted table the
// header and every block are each enciphered as one buffer.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/crypto.h"
#include "db/storage/block.h"
#include "db/storage/buffered_file.h"
#include "db/storage/engine_settings.h"

namespace downsql::storage {

inline constexpr uint32_t kBlobHeaderSize = 512;
inline constexpr uint8_t kBlobFileVersion = 6;

class TBlobFile : public TBufferedFile {
 public:
  TBlobFile(std::string table_name, std::string file_name, bool in_memory,
            const EngineSettings& settings);
  ~TBlobFile() override;

  // The table's cipher for encrypted tables (nullptr: plain). Not owned.
  void set_cipher(const base::BlowfishCbc* cipher) { cipher_ = cipher; }

  // Creates the file: a 512-byte header, version 6, next block 1.
  void Create(uint32_t block_size);
  // Opens and checks the header (12035 for a version below 7 other than 6,
  // 12036 for 7 and above or a foreign signature).
  void Open(uint32_t block_size, bool read_only = false, bool exclusive = false);
  void Close();
  // Drops every block: chain empty, next block 1, file cut to the header.
  void Empty();
  // Writes the header when forced or modified (update count + 1).
  bool WriteHeader(bool force = false);
  // Reads the header again; true when its update count changed.
  bool ReReadHeader();
  // Writes modified blocks, then the header if anything changed.
  bool Flush(bool flush_os = false);

  int32_t update_count() const { return update_count_; }
  uint32_t free_head() const { return free_head_; }
  void set_free_head(uint32_t block);
  uint32_t next_block() const { return static_cast<uint32_t>(next_block_); }

  // Reads a value. Returns false, leaving out alone, when the first block's
  // version is not `version` (the BLOB changed since the record was read).
  // Raises 8963 for a link outside the file or a looping chain, 8711 when
  // the chain ends before the stored length, 10029 for a block whose used
  // length exceeds B - 18, 15002 when the value does not uncompress.
  bool Read(uint32_t first_block, uint32_t version, uint8_t compression, std::vector<uint8_t>* out);
  // Stores a value (compressed at `compression` 1..9; 15001 on failure) in
  // the chain that starts at first_block (0: none yet), taking blocks from
  // the free chain or the end of the file as needed and freeing the blocks
  // the value no longer needs. Returns the first block (0 for an empty
  // value, whose old chain is freed).
  uint32_t Write(uint32_t first_block, const uint8_t* value, size_t size, uint32_t version,
                 uint8_t compression);
  // Stamps every block of the chain with version and puts it on the free
  // chain.
  void Free(uint32_t first_block, uint32_t version);

  uint32_t block_count() const override { return static_cast<uint32_t>(next_block_ - 1); }

  // The header waits to be written.
  bool header_pending() const { return header_modified_; }

 protected:
  void AddBlock() override;
  void CheckCapacity() override;
  void EncodeBlock(const TBuffer& buffer, uint8_t* out) const override;
  void DecodeBlock(const uint8_t* in, TBuffer& buffer) const override;
  std::unique_ptr<TBufferSlab> NewSlab(size_t count) const override;

 private:
  class Pin;
  TBlock* Block(int64_t number);
  TBlock* NewBlock();
  // Frees a chain; a block in keep or met twice is damage (8963).
  void FreeChain(int64_t first, uint32_t version, std::unordered_set<uint32_t>* keep);
  void ReadHeader(uint8_t* raw);

  const EngineSettings& settings_;
  const base::BlowfishCbc* cipher_ = nullptr;
  int32_t update_count_ = 0;
  base::Md5Digest signature_{};
  uint32_t free_head_ = 0;
  int32_t next_block_ = 1;
  bool header_modified_ = false;
};

}  // namespace downsql::storage
