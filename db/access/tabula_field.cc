// Field types and the readings of a field's stored value.
#include "db/access/tabula_field.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/byte_order.h"
#include "base/date_time.h"
#include "db/storage/column_type.h"

namespace downsql::access {
namespace {

using namespace downsql::storage;

constexpr double kMsPerDay = 86400000.0;

[[noreturn]] void CannotAccess(const std::string& field_name, const char* as_type) {
  throw EFieldConversionError("Cannot access field '" + field_name + "' as type " + as_type);
}

[[noreturn]] void NotValid(const std::string& text, const char* what) {
  throw EFieldConversionError("'" + text + "' is not a valid " + what);
}

// The zero-terminated text at the start of the value bytes.
std::string StoredText(const TFieldValue& value) {
  const uint8_t* p = value.bytes.data();
  size_t n = 0;
  while (n < value.bytes.size() && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

// WIDECHAR: two bytes per character, little-endian, zero-terminated. Only
// characters that fit the 8-bit code page come through as themselves.
std::string StoredWideText(const TFieldValue& value) {
  std::string text;
  for (size_t i = 0; i + 1 < value.bytes.size(); i += 2) {
    uint16_t c = base::GetLE16(value.bytes.data() + i);
    if (c == 0) break;
    text.push_back(c < 256 ? static_cast<char>(c) : '?');
  }
  return text;
}

std::string Trimmed(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

bool IsTextType(TFieldType type) {
  return type == ftString || type == ftFixedChar || type == ftGuid || type == ftWideString;
}

std::string TextOf(TFieldType type, const TFieldValue& value) {
  return type == ftWideString ? StoredWideText(value) : StoredText(value);
}

int64_t ParseInteger(const std::string& text) {
  std::string t = Trimmed(text);
  if (t.empty()) NotValid(text, "integer value");
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(t.c_str(), &end, 10);
  if (*end != 0 || errno == ERANGE) NotValid(text, "integer value");
  return v;
}

double ParseFloat(const std::string& text) {
  std::string t = Trimmed(text);
  if (t.empty()) NotValid(text, "floating point value");
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  if (*end != 0 || !std::isfinite(v)) NotValid(text, "floating point value");
  return v;
}

// Host date-time of a timestamp: its whole days minus the host epoch, plus
// the fraction of the day.
double DateTimeOfTimestamp(double ms) {
  double days = std::floor(ms / kMsPerDay);
  double fraction = (ms - days * kMsPerDay) / kMsPerDay;
  return days - base::kHostEpochDayNumber + fraction;
}

double DecimalValue(std::span<const uint8_t> bcd) {
  return std::strtod(DecimalToString(bcd).c_str(), nullptr);
}

std::string FormatTime(int32_t ms) {
  char buf[16];
  int32_t s = ms / 1000;
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", (s / 3600) % 100, (s / 60) % 60, s % 60);
  return buf;
}

std::string FormatFloat(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

}  // namespace

const char* FieldTypeName(TFieldType type) {
  static const char* const kNames[] = {
      "Unknown",   "String",     "Smallint", "Integer", "Word", "Boolean",
      "Float",     "Currency",   "BCD",      "Date",    "Time", "DateTime",
      "Bytes",     "VarBytes",   "AutoInc",  "Blob",    "Memo", "Graphic",
      "FixedChar", "WideString", "Largeint", "Guid"};
  return type <= ftGuid ? kNames[type] : "Unknown";
}

TFieldTypeAndSize FieldTypeForColumn(uint8_t column_type, uint8_t subtype, uint16_t declared_size,
                                     uint8_t scale) {
  switch (column_type) {
    case kTypeString:
      switch (subtype) {
        case kSubtypeFixedChar:
          return {ftFixedChar, declared_size};
        case kSubtypeWideChar:
          return {ftWideString, declared_size};
        case kSubtypeGuid:
          return {ftGuid, declared_size};
        default:
          return {ftString, declared_size};
      }
    case kTypeDate:
      return {ftDate, 0};
    case kTypeBlob:
      switch (subtype) {
        case 22:
        case 24:
        case 33:
          return {ftMemo, 0};
        case 26:
          return {ftGraphic, 0};
        default:
          return {ftBlob, 0};
      }
    case kTypeBoolean:
      return {ftBoolean, 0};
    case kTypeSmallInt:
      return {ftSmallint, 0};
    case kTypeInteger:
      return {subtype == kSubtypeAutoInc ? ftAutoInc : ftInteger, 0};
    case kTypeFloat:
      return {subtype == kSubtypeMoney ? ftCurrency : ftFloat, 0};
    case kTypeDecimal:
      return {ftBCD, scale};
    case kTypeBytes:
      return {ftBytes, declared_size};
    case kTypeTime:
      return {ftTime, 0};
    case kTypeTimestamp:
      return {ftDateTime, 0};
    case kTypeWord:
      return {ftWord, 0};
    case 13:
      return {ftInteger, 0};
    case kTypeVarBytes:
      return {ftVarBytes, declared_size};
    case kTypeLargeInt:
    case 19:
      return {ftLargeint, 0};
    default:
      return {ftUnknown, 0};
  }
}

std::string DecimalToString(std::span<const uint8_t> bcd) {
  if (bcd.size() < 2) return "0";
  unsigned precision = bcd[0];
  bool negative = (bcd[1] & 0x80) != 0;
  unsigned places = bcd[1] & 0x3F;
  size_t nibbles = (bcd.size() - 2) * 2;
  if (precision > nibbles) precision = static_cast<unsigned>(nibbles);
  if (places > precision) places = precision;
  std::string digits;
  for (unsigned i = 0; i < precision; ++i) {
    uint8_t b = bcd[2 + i / 2];
    int d = (i % 2 == 0) ? (b >> 4) : (b & 0x0F);
    digits.push_back(static_cast<char>('0' + (d > 9 ? 9 : d)));
  }
  std::string whole = digits.substr(0, precision - places);
  std::string fraction = digits.substr(precision - places);
  size_t first = whole.find_first_not_of('0');
  whole = first == std::string::npos ? "0" : whole.substr(first);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  std::string text = whole;
  if (!fraction.empty()) text += "." + fraction;
  if (negative && text != "0") text.insert(text.begin(), '-');
  return text;
}

double FieldAsDateTime(TFieldType type, const TFieldValue& value, const std::string& field_name) {
  switch (type) {
    case ftDate:
    case ftTime:
    case ftDateTime:
      break;
    default:
      CannotAccess(field_name, "DateTime");
  }
  if (!value.has_value) return 0.0;
  const uint8_t* p = value.bytes.data();
  switch (type) {
    case ftDate:
      return static_cast<double>(static_cast<int32_t>(base::GetLE32(p))) -
             base::kHostEpochDayNumber;
    case ftTime:
      return static_cast<int32_t>(base::GetLE32(p)) / kMsPerDay;
    default:
      return DateTimeOfTimestamp(base::GetLEDouble(p));
  }
}

int64_t FieldAsInteger(TFieldType type, const TFieldValue& value, const std::string& field_name) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftAutoInc:
    case ftWord:
    case ftLargeint:
    case ftBoolean:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftString:
    case ftFixedChar:
    case ftWideString:
      break;
    default:
      CannotAccess(field_name, "Integer");
  }
  if (!value.has_value) return 0;
  const uint8_t* p = value.bytes.data();
  switch (type) {
    case ftSmallint:
      return static_cast<int16_t>(base::GetLE16(p));
    case ftInteger:
    case ftAutoInc:
      return static_cast<int32_t>(base::GetLE32(p));
    case ftWord:
      return base::GetLE16(p);
    case ftLargeint:
      return static_cast<int64_t>(base::GetLE64(p));
    case ftBoolean:
      return base::GetLE16(p) != 0 ? 1 : 0;
    case ftFloat:
    case ftCurrency:
    case ftBCD: {
      double v = type == ftBCD ? DecimalValue(value.bytes) : base::GetLEDouble(p);
      // Rounds half to even, as the default floating-point mode does.
      v = std::nearbyint(v);
      if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0)) {
        NotValid(FormatFloat(v), "integer value");
      }
      return static_cast<int64_t>(v);
    }
    default:
      return ParseInteger(TextOf(type, value));
  }
}

double FieldAsFloat(TFieldType type, const TFieldValue& value, const std::string& field_name) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftAutoInc:
    case ftWord:
    case ftLargeint:
      return static_cast<double>(FieldAsInteger(type, value, field_name));
    case ftFloat:
    case ftCurrency:
      return value.has_value ? base::GetLEDouble(value.bytes.data()) : 0.0;
    case ftBCD:
      return value.has_value ? DecimalValue(value.bytes) : 0.0;
    case ftDate:
    case ftTime:
    case ftDateTime:
      return FieldAsDateTime(type, value, field_name);
    case ftString:
    case ftFixedChar:
    case ftWideString:
      return value.has_value ? ParseFloat(TextOf(type, value)) : 0.0;
    default:
      CannotAccess(field_name, "Float");
  }
}

std::string FieldAsString(TFieldType type, const TFieldValue& value,
                          const std::string& field_name) {
  if (type == ftUnknown || type == ftBlob || type == ftGraphic || type == ftMemo) {
    CannotAccess(field_name, "String");
  }
  if (!value.has_value) return "";
  const uint8_t* p = value.bytes.data();
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftAutoInc:
    case ftWord:
    case ftLargeint:
      return std::to_string(FieldAsInteger(type, value, field_name));
    case ftBoolean:
      return base::GetLE16(p) != 0 ? "True" : "False";
    case ftFloat:
    case ftCurrency:
      return FormatFloat(base::GetLEDouble(p));
    case ftBCD:
      return DecimalToString(value.bytes);
    case ftDate:
      return base::FormatYmd(FieldAsDateTime(type, value, field_name));
    case ftTime:
      return FormatTime(static_cast<int32_t>(base::GetLE32(p)));
    case ftDateTime:
      return base::FormatYmdHms(FieldAsDateTime(type, value, field_name));
    case ftBytes:
    case ftVarBytes:
      return std::string(reinterpret_cast<const char*>(p), value.bytes.size());
    default:
      return TextOf(type, value);
  }
}

bool FieldAsBoolean(TFieldType type, const TFieldValue& value, const std::string& field_name) {
  switch (type) {
    case ftBoolean:
    case ftSmallint:
    case ftInteger:
    case ftAutoInc:
    case ftWord:
    case ftLargeint:
    case ftString:
    case ftFixedChar:
    case ftWideString:
      break;
    default:
      CannotAccess(field_name, "Boolean");
  }
  if (!value.has_value) return false;
  if (!IsTextType(type)) return FieldAsInteger(type, value, field_name) != 0;
  std::string text = TextOf(type, value);
  switch (text.empty() ? 0 : text[0]) {
    case 'T':
    case 't':
    case 'Y':
    case 'y':
    case '1':
      return true;
    case 'F':
    case 'f':
    case 'N':
    case 'n':
    case '0':
      return false;
    default:
      NotValid(text, "boolean value");
  }
}

}  // namespace downsql::access
