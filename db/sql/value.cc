#include "db/sql/value.h"

namespace downsql::sql {

using namespace storage;

bool IsIntegerType(uint8_t type) {
  return type == kTypeSmallInt || type == kTypeInteger || type == kTypeWord ||
         type == kTypeLargeInt;
}

bool IsNumericType(uint8_t type) {
  return IsIntegerType(type) || type == kTypeFloat || type == kTypeDecimal;
}

bool IsTextType(uint8_t type) { return type == kTypeString || type == kTypeBlob; }

bool IsBytesType(uint8_t type) { return type == kTypeBytes || type == kTypeVarBytes; }

bool IsDateTimeType(uint8_t type) {
  return type == kTypeDate || type == kTypeTime || type == kTypeTimestamp;
}

double NumberOf(const TValue& v) {
  if (v.type == kTypeFloat || v.type == kTypeDecimal || v.type == kTypeTimestamp) return v.f;
  return static_cast<double>(v.i);
}

}  // namespace downsql::sql
