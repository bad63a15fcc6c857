// Column type codes and subtypes as stored in a table's column definitions.
#pragma once

#include <cstdint>

namespace downsql::storage {

enum ColumnType : uint8_t {
  kTypeString = 1,      // VARCHAR(n), CHAR(n), WIDECHAR(n), GUID (by subtype)
  kTypeDate = 2,        // i32 day number, 1 Jan 0001 = 1
  kTypeBlob = 3,        // BLOB, MEMO, GRAPHIC (by subtype)
  kTypeBoolean = 4,     // u16 0/1
  kTypeSmallInt = 5,    // i16
  kTypeInteger = 6,     // i32; AUTOINC by subtype
  kTypeFloat = 7,       // double; MONEY by subtype
  kTypeDecimal = 8,     // packed decimal, 34 bytes
  kTypeBytes = 9,       // BYTES(n)
  kTypeTime = 10,       // i32 milliseconds since midnight
  kTypeTimestamp = 11,  // double milliseconds
  kTypeWord = 12,       // u16
  kTypeVarBytes = 15,   // VARBYTES(n)
  kTypeLargeInt = 18,   // i64
};

enum ColumnSubtype : uint8_t {
  kSubtypeNone = 0,
  kSubtypeMoney = 21,        // with kTypeFloat
  kSubtypeMemo = 22,         // with kTypeBlob
  kSubtypeGraphic = 26,      // with kTypeBlob
  kSubtypeAutoInc = 29,      // with kTypeInteger
  kSubtypeFixedChar = 31,    // CHAR with kTypeString
  kSubtypeWideChar = 32,     // WIDECHAR with kTypeString
  kSubtypeGuid = 50,         // GUID with kTypeString
  kSubtypeRecordHash = 100,  // the RecordHash pseudo-column, with kTypeBytes
};

// Pseudo-column numbers.
inline constexpr int kRecordIdColumn = -1;
inline constexpr int kRecordHashColumn = -2;

}  // namespace downsql::storage
