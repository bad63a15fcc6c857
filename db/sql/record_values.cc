// Record columns as expression values, and back.
#include "db/sql/record_values.h"

#include "db/storage/decimal.h"

namespace downsql::sql {

using namespace storage;

TValue ReadColumnValue(const TRecordBuffer& record, const TFieldDef& def) {
  if (def.number == kRecordIdColumn) return TValue::Integer(record.record_id());
  if (def.number == kRecordHashColumn) {
    const auto hash = record.record_hash();
    TValue v = TValue::String(std::string(reinterpret_cast<const char*>(hash.data()), hash.size()),
                              kSubtypeRecordHash);
    v.type = kTypeBytes;
    v.null = false;
    return v;
  }
  if (record.IsNull(def) || def.type == kTypeBlob) return TValue::Null(def.type, def.subtype);
  const uint8_t* p = record.value_ptr(def);
  TValue v;
  v.type = def.type;
  v.subtype = def.subtype;
  v.null = false;
  switch (def.type) {
    case kTypeString:
      v.s = *record.GetString(def);
      v.null = v.s.empty();
      break;
    case kTypeBytes:
    case kTypeVarBytes:
      v.s.assign(reinterpret_cast<const char*>(p), def.stored_size);
      break;
    case kTypeFloat:
    case kTypeTimestamp:
      v.f = *record.GetFloat(def);
      break;
    case kTypeDecimal:
      v.f = DecimalToDouble(p);
      break;
    default:
      v.i = *record.GetInteger(def);
      break;
  }
  return v;
}

void WriteColumnValue(TRecordBuffer& record, const TFieldDef& def, const TValue& value,
                      uint32_t locale) {
  if (def.type == kTypeBlob || def.IsPseudo()) return;
  if (value.null) {
    record.SetNull(def);
    return;
  }
  if (IsIntegerType(def.type) && (IsIntegerType(value.type) || value.type == kTypeBoolean)) {
    // Whole numbers keep their value in any integer column.
    record.SetInteger(def, value.i);
    return;
  }
  TValue converted;
  if (value.type != def.type || def.type == kTypeString)
    converted = ConvertValue(value, def.type, def.subtype, 0, def.scale);
  const TValue& v = value.type != def.type || def.type == kTypeString ? converted : value;
  if (v.null) {
    record.SetNull(def);
    return;
  }
  switch (def.type) {
    case kTypeString:
      record.SetString(def, v.s, locale);
      break;
    case kTypeBytes:
    case kTypeVarBytes:
      record.SetBytes(def, v.s.data(), v.s.size());
      break;
    case kTypeFloat:
    case kTypeTimestamp:
      record.SetFloat(def, v.f);
      break;
    case kTypeDecimal: {
      uint8_t bcd[kDecimalSize];
      if (DecimalFromDouble(v.f, def.scale, bcd))
        record.SetColumn(def, bcd);
      else
        record.SetNull(def);
      break;
    }
    default:
      record.SetInteger(def, v.i);
      break;
  }
}

}  // namespace downsql::sql
