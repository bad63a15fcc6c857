// TDataFile: a table's data file (table name + ".dat"): the 512-byte table
// header, the column definitions and the fixed-size record slots, read and
// written through the buffer pool (buffered_file.h).
//
//   FILE OFFSET      SIZE     CONTENTS
//   0                512      table header (below), never enciphered
//   512              768 * F  column definitions 1..F (column_def.h)
//   512 + 768 * F    R * N    record slots 1..N (record.h); N = next slot - 1
//
// Table header (integers little-endian):
//
//   OFFSET  SIZE  MEANING
//        0     4  update count, +1 at every header write
//        4     4  reserved, zero
//        8     1  format version, 6
//        9    16  MD5 of the engine signature text ("TABULA_SIG")
//       25     4  head of the free-slot chain (0 = empty)
//       29     4  next slot number (slots + 1)
//       33     4  last RecordID handed out
//       37     4  last AUTOINC value handed out
//       41     4  record count (live records)
//       45     2  record size R
//       47     2  column count F (1..1024)
//       49     2  BLOB column count (<= 128)
//       51     4  BLOB block size (64..65536)
//       55     4  last BLOB version handed out
//       59     4  index page size (1024..16384)
//       63     8  last-updated stamp: host date-time - 693594.0 (double)
//       71   101  table description, ShortString[100]
//      172     1  encrypted flag
//      173    16  password check value (MD5 of the password, enciphered)
//      189     4  locale identifier (0 = default)
//      193     2  user major version
//      195     2  user minor version
//      197     1  header-modified flag as held when written (ignored)
//      198   314  reserved, zero
//
// Counters at 33, 37 and 55 go up by one and wrap from 2147483647 to 1
// (NextCounter below).
// Free slots keep their place: status byte 1, bytes 1..4 the next free slot,
// the header's chain head the most recently deleted one.
//
// Encrypted tables: Blowfish-CBC (zero initial vector, restarted for every
// buffer; a tail under 8 bytes stays plain) keyed with the MD5 of the
// password; the definitions are one buffer, every slot one buffer. The
// header's bytes are kept as read, so fields this engine does not use are
// written back unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/crypto.h"
#include "db/storage/buffered_file.h"
#include "db/storage/column_def.h"
#include "db/storage/engine_settings.h"
#include "db/storage/index_definition.h"

namespace downsql::storage {

inline constexpr uint32_t kTableHeaderSize = 512;
inline constexpr uint8_t kTableFormatVersion = 6;
inline constexpr char kDefaultSignature[] = "TABULA_SIG";
// A table created without them gets these: the host's own defaults for the
// BLOB block and the index page (the smallest index page holds too few keys
// of long strings, 4096 is the page size the host's tables carry).
inline constexpr uint32_t kDefaultBlobBlockSize = 512;
inline constexpr uint32_t kDefaultIndexPageSize = 4096;
inline constexpr int kMaxBlobColumns = 128;
// The update count of a new file: its header is written once at creation.
inline constexpr int32_t kNewFileUpdateCount = 1;

// The engine's counters (the last record id, AUTOINC value and BLOB version
// of a table header, the change counter of a directory's lock file) are
// signed 32-bit numbers handed out from 1 up. After 2147483647 comes 1
// again; a counter found at 0 or below (never handed out, or damaged) also
// continues at 1.
inline constexpr int32_t kMaxCounter = 2147483647;
constexpr int32_t NextCounter(int32_t last) {
  return last >= kMaxCounter || last < 1 ? 1 : last + 1;
}

// The properties of a table to create.
struct TTableDefinition {
  std::vector<TFieldDef> fields;  // numbers 0 are numbered by position
  uint32_t locale = 0;
  uint16_t user_major = 0;
  uint16_t user_minor = 0;
  std::string description;
  bool encrypted = false;
  std::string password;
  uint32_t blob_block_size = kDefaultBlobBlockSize;
  uint32_t index_page_size = kDefaultIndexPageSize;
  uint32_t last_autoinc = 0;
  int secondary_indexes = 0;  // checked against the limit of 30
};

// Passwords for an encrypted table: the known ones, and a way to ask for
// more (returns true to try the known ones again).
struct TPasswordSource {
  std::function<std::vector<std::string>()> known;
  std::function<bool()> ask;
};

// The buffer of one record slot.
class TRecord : public TBuffer {
 public:
  TRecord() = default;  // a slot of the data file's pool
  using TBuffer::TBuffer;
};

class TDataFile : public TBufferedFile {
 public:
  // table_name names the table in errors; file_name is the path of the
  // data file. settings must outlive the object.
  TDataFile(std::string table_name, std::string file_name, bool in_memory,
            const EngineSettings& settings);
  ~TDataFile() override;

  // Checks the definition in this order, raising the first failure: password
  // 1..128 characters after trimming when encrypted (10015), locale (15878),
  // 1..1024 columns (9492), index page size 1024..16384 and at most 30
  // secondary indexes (9487), BLOB block size 64..65536 (9498); per column:
  // name (10038), number and size (10000), minimum/maximum/default texts
  // (10006), compression (10000); then at most 128 BLOB columns (9498) and a
  // record size of at most 65534 (9477). Then creates the file (replacing
  // one) and writes the header and definitions. The file stays open.
  void Create(const TTableDefinition& definition, bool exclusive = true);

  // Opens the file and checks the header: version (12035 below 7, 12036
  // from 7), signature (12036), column count (8961), then for encrypted
  // tables the passwords (10498); then reads the definitions. A failed
  // open changes nothing and leaves the file closed.
  void Open(bool read_only = false, bool exclusive = false, const TPasswordSource& passwords = {});
  void Close();
  bool is_open() { return file().is_open(); }

  // Full verification (8961, or 15878 for an unknown locale): names,
  // numbers, types and sizes, constraint texts, the null-flag offsets and
  // record size, the file length against the slots and the chain head.
  void Verify();

  // Writes the header if forced or modified: update count + 1, last-updated
  // stamp now. Returns whether it wrote.
  bool WriteHeader(bool force = false);
  // Reads the header again; returns whether the update count changed.
  bool ReReadHeader();
  // Resets the update count (to 0), chain head, next slot, last RecordID,
  // last AUTOINC and record count, drops every buffer and truncates the file
  // to header and definitions; the header is marked modified (written by
  // WriteHeader). Tables are emptied only when opened exclusively, so no
  // other session holds the old count.
  void Empty();

  // Header fields.
  int32_t update_count() const;
  bool header_modified() const { return header_modified_; }
  uint32_t record_count() const;
  void set_record_count(uint32_t n);
  void IncRecordCount() { set_record_count(record_count() + 1); }
  void DecRecordCount() { set_record_count(record_count() > 0 ? record_count() - 1 : 0); }
  uint32_t free_chain_head() const;
  void set_free_chain_head(uint32_t slot);
  uint32_t next_slot() const;
  void IncNextSlot();
  int32_t last_record_id() const;
  void set_last_record_id(int32_t id);
  int32_t NextRecordId();  // advances and returns the counter
  int32_t last_autoinc() const;
  void set_last_autoinc(int32_t v);
  int32_t NextBlobVersion();
  uint16_t blob_column_count() const;
  uint16_t record_size() const;
  uint16_t column_count() const;
  uint32_t blob_block_size() const;
  uint32_t index_page_size() const;
  uint32_t locale() const;
  std::string description() const;
  double last_updated() const;  // host date-time
  bool encrypted() const;
  uint16_t user_major() const;
  uint16_t user_minor() const;
  const uint8_t* raw_header() const { return header_.data(); }

  const std::vector<TFieldDef>& fields() const { return fields_; }
  // Column by number (1..F, or -1 RecordID / -2 RecordHash); nullptr when
  // there is none.
  const TFieldDef* FieldByNumber(int number) const;
  // Column by name without regard to case; "RecordID" and "RecordHash" are
  // the pseudo-columns.
  const TFieldDef* FieldByName(const std::string& name) const;

  // The slot a new record goes to: the chain head, or the next slot.
  uint32_t SlotForNewRecord() const;
  // Takes that slot (unchaining it, or appending one after the capacity
  // check, 9479), clears it, raises the record count and returns its pinned,
  // modified buffer.
  TBuffer* InsertSlot();
  // Marks a slot deleted and makes it the chain head; lowers the count.
  void DeleteSlot(uint32_t slot);

  // Set by every write of modified buffers or of the header; the owner
  // clears it.
  bool changed() const { return changed_; }
  void clear_changed() { changed_ = false; }

  uint32_t block_count() const override { return next_slot() - 1; }

 protected:
  void AddBlock() override { IncNextSlot(); }
  void CheckCapacity() override;
  void OnBlocksWritten() override { changed_ = true; }
  void EncodeBlock(const TBuffer& buffer, uint8_t* out) const override;
  bool EncodesBlocks() const override { return cipher_ != nullptr; }
  void EncodeInPlace(uint8_t* bytes) const override;
  void DecodeBlock(const uint8_t* in, TBuffer& buffer) const override;
  void DecodeInPlace(uint8_t* bytes) const override;
  std::unique_ptr<TBufferSlab> NewSlab(size_t count) const override;

 private:
  void Fail(uint32_t code) const;
  void SetUp();  // geometry and buffer limits from the header
  void MarkHeader() { header_modified_ = true; }

  const EngineSettings& settings_;
  std::array<uint8_t, kTableHeaderSize> header_{};
  std::vector<TFieldDef> fields_;
  std::unique_ptr<base::BlowfishCbc> cipher_;
  bool header_modified_ = false;
  bool changed_ = false;
};

// The password check value stored at header offset 173.
std::array<uint8_t, 16> PasswordCheckValue(const std::string& password);

}  // namespace downsql::storage
