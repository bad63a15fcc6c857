// Type classes of values and the conversions between value types.
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

#include <charconv>
#include <cmath>
#include <limits>

#include "db/sql/date_time_text.h"
#include "db/storage/engine_error.h"

namespace downsql::sql {

using namespace storage;

namespace {

[[noreturn]] void ConversionError(const std::string& message) {
  throw storage::ETabulaEngineError(kErrSqlExecution, {message});
}

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string NumberText(double d) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

int64_t ClampToInt64(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
  if (d <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(d);
}

}  // namespace

const char* TypeName(uint8_t type) {
  switch (type) {
    case kTypeString:
      return "VARCHAR";
    case kTypeDate:
      return "DATE";
    case kTypeBlob:
      return "BLOB";
    case kTypeBoolean:
      return "BOOLEAN";
    case kTypeSmallInt:
      return "SMALLINT";
    case kTypeInteger:
      return "INTEGER";
    case kTypeFloat:
      return "FLOAT";
    case kTypeDecimal:
      return "DECIMAL";
    case kTypeBytes:
      return "BYTES";
    case kTypeTime:
      return "TIME";
    case kTypeTimestamp:
      return "TIMESTAMP";
    case kTypeWord:
      return "WORD";
    case kTypeVarBytes:
      return "VARBYTES";
    case kTypeLargeInt:
      return "LARGEINT";
    default:
      return "NULL";
  }
}

double RoundToScale(double value, int scale) {
  const double f = std::pow(10.0, scale);
  const double r = std::round(value * f) / f;
  return std::isfinite(r) ? r : value;
}

std::string ValueText(const TValue& v) {
  if (v.null) return "";
  switch (v.type) {
    case kTypeBoolean:
      return BooleanText(v.i != 0);
    case kTypeDate:
      return DateText(static_cast<int32_t>(v.i));
    case kTypeTime:
      return TimeText(static_cast<int32_t>(v.i));
    case kTypeTimestamp:
      return TimestampText(v.f);
    case kTypeFloat:
    case kTypeDecimal:
      return NumberText(v.f);
    case kTypeSmallInt:
    case kTypeInteger:
    case kTypeWord:
    case kTypeLargeInt:
      return std::to_string(v.i);
    default:
      return v.s;
  }
}

TValue ConvertValue(const TValue& v, uint8_t type, uint8_t subtype, uint32_t size, int scale) {
  if (v.null) return TValue::Null(type, subtype);
  if (v.type == type && !(type == kTypeString && size > 0 && v.s.size() > size) &&
      !(type == kTypeDecimal && scale > 0)) {
    TValue out = v;
    out.subtype = subtype;
    return out;
  }
  const bool from_text = IsTextType(v.type) || IsBytesType(v.type);
  switch (type) {
    case kTypeString:
    case kTypeBlob:
    case kTypeBytes:
    case kTypeVarBytes: {
      std::string s = ValueText(v);
      if (size > 0 && s.size() > size) s.resize(size);
      TValue out = TValue::String(std::move(s), subtype);
      out.type = type;
      return out;
    }
    case kTypeDate: {
      if (from_text) {
        const auto d = ParseDateText(v.s);
        if (!d) ConversionError(InvalidDateMessage(v.s));
        return TValue::Date(*d);
      }
      if (v.type == kTypeTimestamp) {
        if (!IsValidTimestamp(v.f)) ConversionError(InvalidDateMessage(ValueText(v)));
        return TValue::Date(static_cast<int32_t>(std::floor(v.f / kMsPerDay)));
      }
      break;
    }
    case kTypeTime: {
      if (from_text) {
        const auto t = ParseTimeText(v.s);
        if (!t) ConversionError(InvalidTimeMessage(v.s));
        return TValue::Time(*t);
      }
      if (v.type == kTypeTimestamp) {
        if (!IsValidTimestamp(v.f)) ConversionError(InvalidTimeMessage(ValueText(v)));
        const double day = std::floor(v.f / kMsPerDay);
        return TValue::Time(static_cast<int32_t>(v.f - day * kMsPerDay));
      }
      break;
    }
    case kTypeTimestamp: {
      if (from_text) {
        const auto t = ParseTimestampText(v.s);
        if (!t) ConversionError(InvalidTimestampMessage(v.s));
        return TValue::Timestamp(*t);
      }
      if (v.type == kTypeDate) return TValue::Timestamp(static_cast<double>(v.i) * kMsPerDay);
      if (v.type == kTypeTime) return TValue::Timestamp(static_cast<double>(v.i));
      break;
    }
    case kTypeBoolean: {
      if (from_text) {
        const auto b = ParseBooleanText(v.s);
        if (!b) ConversionError(InvalidBooleanMessage(v.s));
        return TValue::Boolean(*b);
      }
      if (IsNumericType(v.type)) return TValue::Boolean(NumberOf(v) != 0);
      break;
    }
    case kTypeSmallInt:
    case kTypeInteger:
    case kTypeWord:
    case kTypeLargeInt: {
      TValue out;
      if (from_text) {
        const std::string s = Trimmed(v.s);
        int64_t n = 0;
        const auto r = std::from_chars(s.data(), s.data() + s.size(), n);
        if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
          ConversionError("'" + v.s + "' is not a valid integer");
        }
        out = TValue::Integer(n, type);
      } else if (IsNumericType(v.type) || v.type == kTypeBoolean) {
        const bool exact = IsIntegerType(v.type) || v.type == kTypeBoolean;
        out = TValue::Integer(exact ? v.i : ClampToInt64(std::round(v.f)), type);
      } else {
        break;
      }
      out.subtype = subtype;
      return out;
    }
    case kTypeFloat:
    case kTypeDecimal: {
      double d = 0;
      if (from_text) {
        const std::string s = Trimmed(v.s);
        const auto r = std::from_chars(s.data(), s.data() + s.size(), d);
        if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
          ConversionError("'" + v.s + "' is not a valid floating-point number");
        }
      } else if (IsNumericType(v.type) || v.type == kTypeBoolean) {
        d = NumberOf(v);
      } else {
        break;
      }
      if (type == kTypeDecimal) d = RoundToScale(d, scale);
      TValue out = TValue::Float(d, type);
      out.subtype = subtype;
      return out;
    }
    default:
      break;
  }
  ConversionError("Cannot convert " + ValueText(v) + " to " + TypeName(type));
}

}  // namespace downsql::sql
