// TValue: one value of an SQL expression while it is verified and evaluated.
//
// A value carries the column type it stands for (the type codes of table
// columns, 0 for the untyped NULL constant), a NULL flag and the payload in
// the member that suits the type:
//
//   type                                   member  meaning
//   Boolean, SmallInt, Integer, Word,      i       the integer (Boolean 0/1)
//   LargeInt
//   Date                                   i       day number, 1 Jan 0001 = 1
//   Time                                   i       milliseconds since midnight
//   Float, Decimal                         f       the number
//   Timestamp                              f       day number * 86400000 + ms
//   String, Blob (memo), Bytes, VarBytes   s       the bytes (Windows-1250 text)
//
// Record buffers are read into and written from this form by the statements
// and table filters; the evaluator never sees a record.
#pragma once

#include <cstdint>
#include <string>

#include "db/storage/column_type.h"

namespace downsql::sql {

struct TValue {
  uint8_t type = 0;  // storage::ColumnType, 0 = no type
  uint8_t subtype = 0;
  bool null = true;
  int64_t i = 0;
  double f = 0;
  std::string s;

  static TValue Null(uint8_t type = 0, uint8_t subtype = 0) {
    TValue v;
    v.type = type;
    v.subtype = subtype;
    return v;
  }
  static TValue Integer(int64_t value, uint8_t type = storage::kTypeInteger) {
    TValue v;
    v.type = type;
    v.null = false;
    v.i = value;
    return v;
  }
  static TValue Boolean(bool value) { return Integer(value ? 1 : 0, storage::kTypeBoolean); }
  static TValue Float(double value, uint8_t type = storage::kTypeFloat) {
    TValue v;
    v.type = type;
    v.null = false;
    v.f = value;
    return v;
  }
  // An empty text is NULL, as everywhere in the engine.
  static TValue String(std::string text, uint8_t subtype = 0) {
    TValue v;
    v.type = storage::kTypeString;
    v.subtype = subtype;
    v.null = text.empty();
    v.s = std::move(text);
    return v;
  }
  static TValue Date(int32_t day_number) { return Integer(day_number, storage::kTypeDate); }
  static TValue Time(int32_t ms) { return Integer(ms, storage::kTypeTime); }
  static TValue Timestamp(double ms) { return Float(ms, storage::kTypeTimestamp); }

  bool IsTrue() const { return !null && i != 0; }
};

// Type classes used by the verifier and the evaluator.
bool IsIntegerType(uint8_t type);   // SmallInt, Integer, Word, LargeInt
bool IsNumericType(uint8_t type);   // the integers, Float, Decimal
bool IsTextType(uint8_t type);      // String and Blob (memo)
bool IsBytesType(uint8_t type);     // Bytes, VarBytes
bool IsDateTimeType(uint8_t type);  // Date, Time, Timestamp

// The numeric payload of a numeric, Boolean, date or time value as a double.
double NumberOf(const TValue& v);

}  // namespace downsql::sql

namespace downsql::sql {

// The value converted to type/subtype (strings cut to size when size > 0,
// decimals rounded to scale). NULL stays NULL. Text converts to every type
// by its text form; numbers, Booleans and date-times convert among
// themselves and to text. Raises storage::ETabulaEngineError 11950 with the
// conversion message ("'x' is not a valid date" and the like) when the
// value has no form in the target type.
TValue ConvertValue(const TValue& v, uint8_t type, uint8_t subtype = 0, uint32_t size = 0,
                    int scale = 0);

// The text form of a value (dates, times and timestamps as in
// date_time_text.h, Booleans TRUE/FALSE, numbers in decimal); "" for NULL.
std::string ValueText(const TValue& v);

// The SQL name of a type code ("DATE", "INTEGER" ...; "NULL" for 0).
const char* TypeName(uint8_t type);

// Rounds half away from zero to `scale` decimals.
double RoundToScale(double value, int scale);

}  // namespace downsql::sql
