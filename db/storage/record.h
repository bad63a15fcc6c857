// The record buffer: one fixed-size record of a table, exactly as it sits in
// a data-file slot and in every buffer that moves rows between the SQL
// engine, the dataset layer and the table files.
//
//   OFFSET  SIZE  MEANING
//        0     1  slot status: 0 live record, 1 deleted slot (free chain)
//        1     4  i32: deleted slot: next deleted slot (0 = end); a record
//                 is written with 0 here; in memory the record's own slot
//        5     4  RecordID (i32), assigned on insert
//        9    16  RecordHash: MD5 of the record's column bytes
//       25     …  columns in column-number order: 1 null-flag byte
//                 (1 = value, 0 = NULL) + stored-size value bytes
//        …  0..7  padding to the record size (multiple of 8), zero
//
// Values (little-endian): strings zero-terminated ANSI (WIDECHAR: UTF-16LE
// pairs, zero-terminated); DATE i32 day number (1 Jan 0001 = 1); TIME i32
// ms since midnight; TIMESTAMP double day number * 86400000 + ms; BOOLEAN
// u16 0/1; SMALLINT i16; INTEGER/AUTOINC i32; WORD u16; LARGEINT i64;
// FLOAT/MONEY double; DECIMAL 34 bytes (decimal.h); BYTES/VARBYTES raw;
// BLOB/MEMO/GRAPHIC: i32 first block (0 = empty) + u32 BLOB version.
// A NULL column's value bytes are all zero.
//
// Contract for readers of values (index keys, SQL evaluation): the null
// flag is at def.offset, the value at def.value_offset() for def.stored_size
// bytes; IsNull() and the getters below never look past the buffer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_order.h"
#include "base/crypto.h"
#include "db/storage/column_def.h"

namespace downsql::storage {

inline constexpr uint8_t kSlotLive = 0;
inline constexpr uint8_t kSlotDeleted = 1;

// The whole number stored little-endian at v for a column of this type;
// nullopt for a type that holds no whole number. Inline: scans call it once
// a row.
inline std::optional<int64_t> ReadStoredInteger(const uint8_t* v, uint8_t type) {
  switch (type) {
    case kTypeSmallInt:
      return int16_t(base::GetLE16(v));
    case kTypeWord:
    case kTypeBoolean:
      return base::GetLE16(v);
    case kTypeInteger:
    case kTypeDate:
    case kTypeTime:
      return int32_t(base::GetLE32(v));
    case kTypeLargeInt:
      return int64_t(base::GetLE64(v));
    default:
      return std::nullopt;
  }
}

class TRecordBuffer {
 public:
  explicit TRecordBuffer(uint32_t record_size) : bytes_(record_size, 0) {}

  uint8_t* data() { return bytes_.data(); }
  const uint8_t* data() const { return bytes_.data(); }
  uint32_t size() const { return uint32_t(bytes_.size()); }
  // All bytes zero: a live record with every column NULL.
  void Clear();

  // Header fields (bytes 0, 1..4, 5..8, 9..24).
  uint8_t status() const { return bytes_[0]; }
  void set_status(uint8_t s) { bytes_[0] = s; }
  int32_t link() const;
  void set_link(int32_t slot);
  int32_t record_id() const;
  void set_record_id(int32_t id);
  base::Md5Digest record_hash() const;
  void set_record_hash(const base::Md5Digest& hash);

  // NULL test; pseudo-columns are never NULL.
  bool IsNull(const TFieldDef& def) const;

  // Raw get: copies the value bytes (stored size; only the 4-byte block
  // number for BLOB columns) to value and returns true, or returns false
  // for NULL (value is then zero-filled).
  bool GetColumn(const TFieldDef& def, void* value) const;
  // Raw set of a non-string column: nullptr stores NULL; otherwise copies
  // the stored size (BLOB: the 4-byte block number, flag 0 when it is 0,
  // else 1, a negative in-memory buffer number counting as a value; BOOLEAN: any non-zero value
  // becomes 1). Strings go through SetString. Computed columns are never written.
  void SetColumn(const TFieldDef& def, const void* value);
  void SetNull(const TFieldDef& def);

  // Strings (type 1): at most n characters (GUID: 38) are kept, trailing
  // blanks are dropped unless the column is CHAR, the column's character
  // case is applied with the locale's case mapping, and an empty result is
  // NULL. For WIDECHAR, text is UTF-16LE bytes (2 per character).
  void SetString(const TFieldDef& def, std::string_view text, uint32_t locale = 0);
  // The characters up to the terminating zero; nullopt for NULL.
  std::optional<std::string> GetString(const TFieldDef& def) const;

  // Whole numbers of SMALLINT, INTEGER, AUTOINC, WORD, LARGEINT, BOOLEAN,
  // DATE (day number) and TIME (ms). The setter stores the value cut to the
  // column's width (BOOLEAN: non-zero -> 1). Pseudo-column RecordID reads.
  std::optional<int64_t> GetInteger(const TFieldDef& def) const;
  void SetInteger(const TFieldDef& def, int64_t value);

  // FLOAT, MONEY and TIMESTAMP (milliseconds).
  std::optional<double> GetFloat(const TFieldDef& def) const;
  void SetFloat(const TFieldDef& def, double value);

  // BYTES and VARBYTES: copies at most n bytes, zero-fills the rest.
  void SetBytes(const TFieldDef& def, const void* data, size_t size);

  // BLOB references: block 0 is an empty BLOB (NULL).
  int32_t GetBlobBlock(const TFieldDef& def) const;
  uint32_t GetBlobVersion(const TFieldDef& def) const;
  void SetBlobRef(const TFieldDef& def, int32_t first_block, uint32_t version);

  // Pointer to the value bytes of a column (stored size long).
  const uint8_t* value_ptr(const TFieldDef& def) const {
    return bytes_.data() + def.value_offset();
  }
  uint8_t* value_ptr(const TFieldDef& def) { return bytes_.data() + def.value_offset(); }

 private:
  void SetFlag(const TFieldDef& def, bool has_value) { bytes_[def.offset] = has_value ? 1 : 0; }
  std::vector<uint8_t> bytes_;
};

// MD5 over bytes 25..R-1 of a record. When the table has BLOB columns the
// digest is taken over a zero-filled copy into which only the non-BLOB
// columns (null flag and value) are copied, so a BLOB column counts as nine
// zero bytes whatever its reference holds.
base::Md5Digest ComputeRecordHash(const uint8_t* record, uint32_t record_size,
                                  const std::vector<TFieldDef>& fields);

}  // namespace downsql::storage
