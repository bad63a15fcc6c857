// Index keys: the order-preserving byte form of column values and the
// comparison of two keys.
//
// A key is, for each key column in order, one null-flag byte (1 = value,
// 0 = NULL) and the column's key form; a non-unique index appends the key
// form of the record's RecordID so that every key in the tree is distinct.
// Key forms are built so that an unsigned byte comparison gives the column
// order:
//
//   TYPE                               SIZE   KEY FORM
//   string (1)                         stored zero-terminated, zero-filled;
//                                             upper-cased when the index is
//                                             case-insensitive
//   DATE, INTEGER, TIME (2, 6, 10),    4      big-endian, top bit inverted
//   RecordID
//   SMALLINT (5)                       2      big-endian, top bit inverted
//   BOOLEAN, WORD (4, 12)              2      big-endian
//   FLOAT, MONEY, TIMESTAMP (7, 11)    8      big-endian double; top bit set
//                                             for values >= 0, all 64 bits
//                                             inverted for negative values
//   LARGEINT (18)                      8      big-endian, top bit inverted
//   DECIMAL (8)                        8      value x 10000 rounded, as
//                                             LARGEINT
//   BYTES, VARBYTES (9, 15),           stored the bytes as stored
//   RecordHash
//
// A NULL column has flag 0 and an all-zero key form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "db/storage/column_def.h"

namespace downsql::storage {

// One key column as the index sees it: where its value lies in a record and
// how it is typed.
struct TIndexKeyField {
  int16_t column = 0;  // column number; -1 RecordID, -2 RecordHash
  std::string name;    // for messages
  uint8_t type = 0;    // column type code
  uint8_t subtype = 0;
  uint16_t stored_size = 0;  // value bytes in the record
  uint16_t null_offset = 0;  // offset of the null-flag byte (value follows);
                             // for pseudo-columns the value offset itself
  bool descending = false;
};

// The key field of a laid-out column definition.
TIndexKeyField KeyFieldFor(const TFieldDef& def, bool descending);
// The pseudo-columns as key fields.
TIndexKeyField RecordIdKeyField();
TIndexKeyField RecordHashKeyField();

// Size of the key form of a column (without its null-flag byte); 0 for a
// type that cannot be a key column (BLOB, unknown codes).
uint16_t KeyFormSize(uint8_t type, uint8_t subtype, uint16_t stored_size);

// Writes the key form of one value. value points at the column's stored
// bytes (little-endian record form), or is null for NULL; out receives
// KeyFormSize() bytes. Strings of a case-insensitive index are upper-cased
// with the locale's case mapping.
void EncodeKeyForm(const TIndexKeyField& field, const uint8_t* value, bool case_insensitive,
                   uint32_t locale, uint8_t* out);

// The key forms of the value types, for callers and tests that hold values
// rather than records.
void EncodeKeyInt32(int32_t v, uint8_t* out);
void EncodeKeyInt16(int16_t v, uint8_t* out);
void EncodeKeyInt64(int64_t v, uint8_t* out);
void EncodeKeyDouble(double v, uint8_t* out);
// The DECIMAL record form (precision, sign/scale byte, `precision` packed
// digits from the first nibble, the last `scale` of them after the point)
// as a fixed-point value with four decimals, rounded half away from zero;
// values beyond the 64-bit range are clamped.
int64_t DecimalToFixed4(const uint8_t* value);

// The shape of one index's keys and how they compare.
class TKeyComparator {
 public:
  TKeyComparator() = default;
  TKeyComparator(std::vector<TIndexKeyField> fields, bool unique, bool case_insensitive,
                 uint32_t locale);

  // Key length L: sum of (1 + key form size), plus 4 for a non-unique index.
  uint16_t key_length() const { return key_length_; }
  bool unique() const { return unique_; }
  bool case_insensitive() const { return case_insensitive_; }
  const std::vector<TIndexKeyField>& fields() const { return fields_; }

  // Builds the key of a record (record layout: null flag + value per
  // column, RecordID at 5, RecordHash at 9) into out (key_length() bytes).
  void BuildKey(const uint8_t* record, uint8_t* out) const;
  std::vector<uint8_t> BuildKey(const uint8_t* record) const;

  // <0, 0, >0: field by field, null flag and key form unsigned bytewise (or
  // by the locale's collation for strings when the locale is not 0), negated
  // for descending columns; then the RecordID suffix bytewise.
  int Compare(const uint8_t* a, const uint8_t* b) const;
  // Compares only the first field_count key columns (no suffix): for
  // searches by a partial key.
  int ComparePrefix(const uint8_t* a, const uint8_t* b, size_t field_count) const;

 private:
  int CompareField(size_t i, const uint8_t* a, const uint8_t* b) const;

  std::vector<TIndexKeyField> fields_;
  std::vector<uint16_t> offsets_;  // of each field's null flag in the key
  std::vector<uint16_t> sizes_;    // key form sizes
  bool unique_ = true;
  bool case_insensitive_ = false;
  uint32_t locale_ = 0;
  uint16_t key_length_ = 0;
  bool all_bytewise_ascending_ = true;
};

}  // namespace downsql::storage
