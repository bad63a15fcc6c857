// Column definitions of a table: the in-memory form (TFieldDef) and the
// 768-byte form stored after the data file's header, one per column in
// column-number order.
//
// Column definition on disk (integers little-endian; ShortString[n] is a
// length byte followed by n bytes, the bytes past the length undefined):
//
//   OFFSET  SIZE  MEANING
//        0     2  column number (1-based; definition i carries number i)
//        2    61  name, ShortString[60]
//       63   101  description, ShortString[100]
//      164     1  type code (column_type.h)
//      165     1  subtype code
//      166     2  declared size: characters for strings, bytes for
//                 BYTES/VARBYTES, 0 for every other type
//      168     1  scale (DECIMAL only)
//      169     2  stored size of the value in the record
//      171     1  copy of the scale
//      172     2  record offset of the null-flag byte; the value follows it
//      174     1  required flag
//      175     1  character case: 0 as entered, 1 lower, 2 upper
//      176   101  minimum value as text, ShortString[100] ("" = none)
//      277   101  maximum value as text
//      378   101  default value as text (or CURRENT_DATE/_TIME/_TIMESTAMP)
//      479     1  BLOB compression level 0..9 (0 for non-BLOB columns)
//      480     1  computed-column mark: 0 in stored tables
//      481   287  reserved: ignored on reading, written as zeros
//
// The index engineer's contract: a TFieldDef with number, type, subtype,
// size, scale, stored_size and offset filled describes exactly where and how
// a column's value sits in a record buffer (record.h). The pseudo-columns
// RecordID (-1) and RecordHash (-2) are TFieldDefs too; they have no null
// flag and their `offset` is the offset of the value itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/storage/column_type.h"

namespace downsql::storage {

inline constexpr uint32_t kFieldDefSize = 768;
inline constexpr uint16_t kFieldNameMax = 60;
inline constexpr uint16_t kFieldTextMax = 100;  // description, min, max, default
inline constexpr uint16_t kRecordHeaderSize = 25;
inline constexpr uint32_t kMaxRecordSize = 65534;
inline constexpr int kMaxColumnCount = 1024;

inline constexpr char kRecordIdName[] = "RecordID";
inline constexpr char kRecordHashName[] = "RecordHash";

struct TFieldDef {
  int number = 0;  // 1-based; kRecordIdColumn / kRecordHashColumn for the pseudo-columns
  std::string name;
  std::string description;
  uint8_t type = 0;
  uint8_t subtype = 0;
  uint16_t size = 0;  // declared size (strings, BYTES, VARBYTES), else 0
  uint8_t scale = 0;  // DECIMAL digits after the point, else 0
  uint16_t stored_size = 0;
  uint16_t offset = 0;  // null-flag byte (pseudo-columns: the value itself)
  bool required = false;
  uint8_t char_case = 0;  // 0 as entered, 1 lower, 2 upper
  std::string min_value;
  std::string max_value;
  std::string default_value;
  uint8_t compression = 0;  // BLOB columns only
  uint8_t computed = 0;     // non-zero: a computed column of a query result, not in the record

  bool IsPseudo() const { return number < 0; }
  bool IsBlob() const { return type == kTypeBlob; }
  bool IsString() const { return type == kTypeString; }
  // Record offset of the first value byte.
  uint16_t value_offset() const { return IsPseudo() ? offset : uint16_t(offset + 1); }
};

// The stored size of a value: type 1 n + 1 (2n + 1 for WIDECHAR, 39 for
// GUID); types 2, 6, 10: 4; 3, 7, 11, 18: 8; 4, 5, 12: 2; 8: 34; 9, 15: n.
// 0 for an unknown type code.
uint16_t StoredSizeOf(uint8_t type, uint8_t subtype, uint16_t size);

// Whether the type code is one this engine knows (1..12, 15, 18).
bool IsKnownType(uint8_t type);

// Whether the declared size suits the type: strings, BYTES and VARBYTES
// 1..512 (1..256 for WIDECHAR), every other type 0. GUID ignores the size.
bool IsValidDeclaredSize(uint8_t type, uint8_t subtype, uint16_t size);

// A name's first character may be A-Z, a-z, '_' or a byte 128..254.
bool IsValidFirstNameChar(char c);

// Fills stored_size and offset of every stored column in order (null flags
// from 25, each column taking 1 + stored size; computed columns get no space)
// and returns the record size: the running total rounded up to a multiple
// of 8. The caller checks the result against kMaxRecordSize.
uint32_t AssignRecordLayout(std::vector<TFieldDef>& fields);

// The unrounded end of the columns of a laid-out definition list.
uint32_t RecordSizeFor(const std::vector<TFieldDef>& fields);

// The pseudo-columns: RecordID (INTEGER at 5) and RecordHash (BYTES(16),
// subtype 100, at 9).
const TFieldDef& RecordIdField();
const TFieldDef& RecordHashField();

// Writes the 768-byte form (reserved bytes zero; texts longer than their
// ShortString are cut).
void EncodeFieldDef(const TFieldDef& def, uint8_t* out);
// Reads the 768-byte form; a length byte above its ShortString's size is
// cut to that size.
TFieldDef DecodeFieldDef(const uint8_t* in);

// ShortString[n] helpers (n + 1 bytes at p).
void PutShortString(uint8_t* p, size_t n, std::string_view text);
std::string GetShortString(const uint8_t* p, size_t n);

// The SQL-ish name of a column's type ("INTEGER", "VARCHAR(20)" ...).
std::string TypeName(const TFieldDef& def);

}  // namespace downsql::storage
