#include "db/storage/index_key.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

#include "base/byte_order.h"
#include "db/storage/column_type.h"
#include "platform/locale.h"

namespace downsql::storage {

namespace {

constexpr uint16_t kRecordIdOffset = 5;
constexpr uint16_t kRecordHashOffset = 9;
constexpr size_t kRecordIdSuffix = 4;

bool IsPseudo(const TIndexKeyField& f) { return f.column < 0; }

// The string stored in a key form: bytes up to the first zero.
std::string_view KeyString(const uint8_t* form, size_t size) {
  const char* p = reinterpret_cast<const char*>(form);
  return std::string_view(p, strnlen(p, size));
}

}  // namespace

TIndexKeyField KeyFieldFor(const TFieldDef& def, bool descending) {
  TIndexKeyField f;
  f.column = static_cast<int16_t>(def.number);
  f.name = def.name;
  f.type = def.type;
  f.subtype = def.subtype;
  f.stored_size = def.stored_size;
  f.null_offset = def.offset;
  f.descending = descending;
  return f;
}

TIndexKeyField RecordIdKeyField() {
  TIndexKeyField f;
  f.column = kRecordIdColumn;
  f.name = "RecordID";
  f.type = kTypeInteger;
  f.stored_size = 4;
  f.null_offset = kRecordIdOffset;
  return f;
}

TIndexKeyField RecordHashKeyField() {
  TIndexKeyField f;
  f.column = kRecordHashColumn;
  f.name = "RecordHash";
  f.type = kTypeBytes;
  f.subtype = kSubtypeRecordHash;
  f.stored_size = 16;
  f.null_offset = kRecordHashOffset;
  return f;
}

uint16_t KeyFormSize(uint8_t type, uint8_t /*subtype*/, uint16_t stored_size) {
  switch (type) {
    case kTypeString:
    case kTypeBytes:
    case kTypeVarBytes:
      return stored_size;
    case kTypeDate:
    case kTypeInteger:
    case kTypeTime:
      return 4;
    case kTypeSmallInt:
    case kTypeBoolean:
    case kTypeWord:
      return 2;
    case kTypeFloat:
    case kTypeTimestamp:
    case kTypeLargeInt:
    case kTypeDecimal:
      return 8;
    default:
      return 0;
  }
}

void EncodeKeyInt32(int32_t v, uint8_t* out) {
  base::PutBE32(out, static_cast<uint32_t>(v) ^ 0x80000000u);
}

void EncodeKeyInt16(int16_t v, uint8_t* out) {
  base::PutBE16(out, static_cast<uint16_t>(static_cast<uint16_t>(v) ^ 0x8000u));
}

void EncodeKeyInt64(int64_t v, uint8_t* out) {
  base::PutBE64(out, static_cast<uint64_t>(v) ^ 0x8000000000000000ull);
}

void EncodeKeyDouble(double v, uint8_t* out) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  // -0.0 has the sign bit set but equals 0.0; give it the form of 0.0.
  if (v == 0) bits = 0;
  if (bits & 0x8000000000000000ull)
    bits = ~bits;
  else
    bits |= 0x8000000000000000ull;
  base::PutBE64(out, bits);
}

int64_t DecimalToFixed4(const uint8_t* value) {
  // `precision` digits from the first nibble on, the last `scale` of them
  // after the point.
  const bool negative = (value[1] & 0x80) != 0;
  const int scale = value[1] & 0x3F;
  const int precision = std::min<int>(value[0], 64);
  auto digit = [&](int i) {
    uint8_t b = value[2 + i / 2];
    return (i % 2 == 0) ? (b >> 4) : (b & 0x0F);
  };
  // Digits down to 1/10000, and the first one dropped (for rounding).
  const int keep = scale > 4 ? precision - (scale - 4) : precision;
  // Saturates just above 2^63, which is all the clamping below needs to know.
  constexpr uint64_t kCap = (uint64_t{1} << 63) + 1;
  auto times10_plus = [&](uint64_t acc, uint64_t d) {
    return acc > (kCap - d) / 10 ? kCap : acc * 10 + d;
  };
  uint64_t acc = 0;
  for (int i = 0; i < keep; ++i) acc = times10_plus(acc, digit(i));
  for (int i = scale; i < 4; ++i) acc = times10_plus(acc, 0);
  if (keep >= 0 && keep < precision && digit(keep) >= 5 && acc < kCap) ++acc;
  const uint64_t max_pos = std::numeric_limits<int64_t>::max();
  if (acc > max_pos + (negative ? 1 : 0))
    return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
  if (negative)
    return acc == max_pos + 1 ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(acc);
  return static_cast<int64_t>(acc);
}

void EncodeKeyForm(const TIndexKeyField& field, const uint8_t* value, bool case_insensitive,
                   uint32_t locale, uint8_t* out) {
  const uint16_t size = KeyFormSize(field.type, field.subtype, field.stored_size);
  std::memset(out, 0, size);
  if (value == nullptr) return;
  switch (field.type) {
    case kTypeString: {
      if (field.subtype == kSubtypeWideChar) {
        std::memcpy(out, value, size);
        break;
      }
      std::string_view text = KeyString(value, size);
      if (case_insensitive) {
        std::string upper = platform::UpperCase(text, locale);
        std::memcpy(out, upper.data(), std::min<size_t>(upper.size(), size));
      } else {
        std::memcpy(out, text.data(), text.size());
      }
      break;
    }
    case kTypeDate:
    case kTypeInteger:
    case kTypeTime:
      EncodeKeyInt32(static_cast<int32_t>(base::GetLE32(value)), out);
      break;
    case kTypeSmallInt:
      EncodeKeyInt16(static_cast<int16_t>(base::GetLE16(value)), out);
      break;
    case kTypeBoolean:
    case kTypeWord:
      base::PutBE16(out, base::GetLE16(value));
      break;
    case kTypeFloat:
    case kTypeTimestamp:
      EncodeKeyDouble(base::GetLEDouble(value), out);
      break;
    case kTypeLargeInt:
      EncodeKeyInt64(static_cast<int64_t>(base::GetLE64(value)), out);
      break;
    case kTypeDecimal:
      EncodeKeyInt64(DecimalToFixed4(value), out);
      break;
    case kTypeBytes:
    case kTypeVarBytes:
      std::memcpy(out, value, size);
      break;
    default:
      break;
  }
}

TKeyComparator::TKeyComparator(std::vector<TIndexKeyField> fields, bool unique,
                               bool case_insensitive, uint32_t locale)
    : fields_(std::move(fields)),
      unique_(unique),
      case_insensitive_(case_insensitive),
      locale_(locale) {
  uint16_t offset = 0;
  for (const TIndexKeyField& f : fields_) {
    const uint16_t size = KeyFormSize(f.type, f.subtype, f.stored_size);
    offsets_.push_back(offset);
    sizes_.push_back(size);
    offset = static_cast<uint16_t>(offset + 1 + size);
    if (f.descending || (locale_ != 0 && f.type == kTypeString)) all_bytewise_ascending_ = false;
  }
  key_length_ = static_cast<uint16_t>(offset + (unique_ ? 0 : kRecordIdSuffix));
}

void TKeyComparator::BuildKey(const uint8_t* record, uint8_t* out) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    const TIndexKeyField& f = fields_[i];
    uint8_t* dst = out + offsets_[i];
    const uint8_t* value;
    if (IsPseudo(f)) {
      value = record + f.null_offset;
    } else {
      value = record[f.null_offset] != 0 ? record + f.null_offset + 1 : nullptr;
    }
    dst[0] = value != nullptr ? 1 : 0;
    EncodeKeyForm(f, value, case_insensitive_, locale_, dst + 1);
  }
  if (!unique_) {
    EncodeKeyInt32(static_cast<int32_t>(base::GetLE32(record + kRecordIdOffset)),
                   out + key_length_ - kRecordIdSuffix);
  }
}

std::vector<uint8_t> TKeyComparator::BuildKey(const uint8_t* record) const {
  std::vector<uint8_t> key(key_length_);
  BuildKey(record, key.data());
  return key;
}

int TKeyComparator::CompareField(size_t i, const uint8_t* a, const uint8_t* b) const {
  const TIndexKeyField& f = fields_[i];
  const uint8_t* fa = a + offsets_[i];
  const uint8_t* fb = b + offsets_[i];
  int c;
  if (locale_ != 0 && f.type == kTypeString && f.subtype != kSubtypeWideChar) {
    c = int(fa[0]) - int(fb[0]);
    if (c == 0) {
      c = platform::CollationFor(locale_).Compare(KeyString(fa + 1, sizes_[i]),
                                                  KeyString(fb + 1, sizes_[i]), false);
    }
  } else {
    c = std::memcmp(fa, fb, size_t(1) + sizes_[i]);
  }
  return f.descending ? -c : c;
}

int TKeyComparator::Compare(const uint8_t* a, const uint8_t* b) const {
  if (all_bytewise_ascending_) return std::memcmp(a, b, key_length_);
  for (size_t i = 0; i < fields_.size(); ++i) {
    int c = CompareField(i, a, b);
    if (c != 0) return c;
  }
  if (!unique_) {
    const size_t at = key_length_ - kRecordIdSuffix;
    return std::memcmp(a + at, b + at, kRecordIdSuffix);
  }
  return 0;
}

int TKeyComparator::ComparePrefix(const uint8_t* a, const uint8_t* b, size_t field_count) const {
  for (size_t i = 0; i < std::min(field_count, fields_.size()); ++i) {
    int c = CompareField(i, a, b);
    if (c != 0) return c;
  }
  return 0;
}

}  // namespace downsql::storage
