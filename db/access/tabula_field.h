// Field types of the dataset layer and the readings of a field's value.
//
// A dataset shows each visible column of its cursor as a field. The field's
// type follows from the column's type code and subtype; its value is the
// column's stored bytes in the record (null flag first, then the value in the
// record encoding), and the readings below turn those bytes into a date-time,
// an integer, a float, a text or a Boolean the way the application expects:
//
//   DATE      i32 day number (1 Jan 0001 = 1); as date-time: day - 693594
//   TIME      i32 ms since midnight;           as date-time: ms / 86400000
//   TIMESTAMP f64 ms since day 0;              as date-time: whole days -
//                                              693594 + fraction of the day
//   integers  as stored (i16, i32, u16, i64)
//
// A field without a value (null flag 0) reads as 0, 0.0, "" or false.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace downsql::access {

enum TFieldType : uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftGuid,
};

// "String", "Integer", ... for messages.
const char* FieldTypeName(TFieldType type);

struct TFieldTypeAndSize {
  TFieldType type;
  uint16_t size;
};

// The field type and size of a column: strings, BYTES and VARBYTES carry the
// declared length, DECIMAL its scale, every other type size 0. Unknown type
// codes give ftUnknown.
TFieldTypeAndSize FieldTypeForColumn(uint8_t column_type, uint8_t subtype, uint16_t declared_size,
                                     uint8_t scale);

// A field's stored value: whether the column has a value, and its value bytes
// in the record encoding (for strings the whole zero-terminated area).
struct TFieldValue {
  bool has_value = false;
  std::span<const uint8_t> bytes;
};

// A reading that the field's type does not offer, or a text that does not
// convert. Raised by the readings below with the runtime's messages
// ("Cannot access field '%s' as type %s", "'%s' is not a valid integer
// value" and the like).
class EFieldConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Readings of a value of the given field type. field_name only fills
// messages. Each raises EFieldConversionError when the type has no such
// reading (BLOBs and bytes as numbers, numbers as date-times ...) or a text
// does not convert.
double FieldAsDateTime(TFieldType type, const TFieldValue& value, const std::string& field_name);
int64_t FieldAsInteger(TFieldType type, const TFieldValue& value, const std::string& field_name);
double FieldAsFloat(TFieldType type, const TFieldValue& value, const std::string& field_name);
// Texts stay 8-bit Windows-1250. Dates read "yyyy-mm-dd", times
// "hh:nn:ss", timestamps "yyyy-mm-dd hh:nn:ss", Booleans "True"/"False".
std::string FieldAsString(TFieldType type, const TFieldValue& value, const std::string& field_name);
bool FieldAsBoolean(TFieldType type, const TFieldValue& value, const std::string& field_name);

// The decimal text of a packed DECIMAL value (precision byte, sign and scale
// byte, 32 bytes of digits two per byte): "-12.50" and the like.
std::string DecimalToString(std::span<const uint8_t> bcd);

}  // namespace downsql::access
