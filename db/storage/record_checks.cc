// Default values and column constraints of records.
#include "db/storage/record_checks.h"

#include <cstring>

#include "base/byte_order.h"
#include "db/storage/decimal.h"
#include "db/storage/engine_error.h"
#include "db/storage/field_text.h"
#include "platform/locale.h"

namespace downsql::storage {
namespace {

template <class T>
int Order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Whether the value of def in record lies beyond the limit text in the
// direction sign (-1: below, +1: above). A limit that does not convert is
// no limit.
bool Beyond(const TFieldDef& def, const TRecordBuffer& record, const std::string& limit_text,
            int sign, uint32_t locale) {
  if (limit_text.empty()) return false;
  TRecordBuffer limit(record.size());
  if (!SetColumnFromText(limit, def, limit_text, locale) || limit.IsNull(def)) return false;
  int order = CompareColumnValues(def, record, limit, locale);
  return sign < 0 ? order < 0 : order > 0;
}

bool IsStored(const TFieldDef& def) { return !def.computed && !def.IsPseudo(); }

}  // namespace

int CompareColumnValues(const TFieldDef& def, const TRecordBuffer& a, const TRecordBuffer& b,
                        uint32_t locale) {
  const uint8_t* va = a.value_ptr(def);
  const uint8_t* vb = b.value_ptr(def);
  switch (def.type) {
    case kTypeString:
      if (def.subtype == kSubtypeWideChar) return std::memcmp(va, vb, def.stored_size);
      return platform::CompareText(*a.GetString(def), *b.GetString(def), locale);
    case kTypeDate:
    case kTypeInteger:
    case kTypeTime:
      return Order(int32_t(base::GetLE32(va)), int32_t(base::GetLE32(vb)));
    case kTypeSmallInt:
      return Order(int16_t(base::GetLE16(va)), int16_t(base::GetLE16(vb)));
    case kTypeBoolean:
    case kTypeWord:
      return Order(base::GetLE16(va), base::GetLE16(vb));
    case kTypeFloat:
    case kTypeTimestamp:
      return Order(base::GetLEDouble(va), base::GetLEDouble(vb));
    case kTypeLargeInt:
      return Order(int64_t(base::GetLE64(va)), int64_t(base::GetLE64(vb)));
    case kTypeDecimal:
      return Order(DecimalToDouble(va), DecimalToDouble(vb));
    default:
      return std::memcmp(va, vb, def.stored_size);
  }
}

void ApplyDefaults(const std::vector<TFieldDef>& fields, TRecordBuffer& record, uint32_t locale,
                   const platform::LocalDateTime* now) {
  platform::LocalDateTime clock_now{};
  for (const TFieldDef& def : fields) {
    if (!IsStored(def) || def.default_value.empty() || def.IsBlob()) continue;
    if (now == nullptr) {
      clock_now = platform::LocalNow();
      now = &clock_now;
    }
    if (!SetColumnFromText(record, def, def.default_value, locale, now)) record.SetNull(def);
  }
}

void CheckConstraints(const std::vector<TFieldDef>& fields, const TRecordBuffer& record,
                      const std::string& table_name, uint32_t locale) {
  for (const TFieldDef& def : fields) {
    if (!IsStored(def)) continue;
    if (record.IsNull(def)) {
      if (def.required) throw ETabulaEngineError(kErrValueRequired, {def.name, table_name});
      continue;
    }
    if (def.IsBlob()) continue;
    if (Beyond(def, record, def.min_value, -1, locale)) {
      throw ETabulaEngineError(kErrBelowMinimum, {def.name, table_name});
    }
    if (Beyond(def, record, def.max_value, +1, locale)) {
      throw ETabulaEngineError(kErrAboveMaximum, {def.name, table_name});
    }
  }
}

bool HasDefaults(const std::vector<TFieldDef>& fields) {
  for (const TFieldDef& def : fields) {
    if (IsStored(def) && !def.default_value.empty()) return true;
  }
  return false;
}

bool HasConstraints(const std::vector<TFieldDef>& fields) {
  for (const TFieldDef& def : fields) {
    if (IsStored(def) && (def.required || !def.min_value.empty() || !def.max_value.empty())) {
      return true;
    }
  }
  return false;
}

}  // namespace downsql::storage
