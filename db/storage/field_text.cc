// Column values from and to text, and the host's date-time.
#include "db/storage/field_text.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "base/byte_order.h"
#include "base/code_page.h"
#include "base/date_time.h"
#include "db/storage/decimal.h"

namespace downsql::storage {

namespace {
using base::kLastDayNumber;
}  // namespace
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = char(x - 32);
    if (y >= 'a' && y <= 'z') y = char(y - 32);
    if (x != y) return false;
  }
  return true;
}

// An optionally signed decimal integer filling the whole text.
bool ParseInt(std::string_view s, int64_t* out) {
  s = Trim(s);
  if (s.empty() || s.size() > 20) return false;
  std::string buf(s);
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(buf.c_str(), &end, 10);
  if (errno != 0 || end != buf.c_str() + buf.size()) return false;
  if (!(buf[0] == '-' || buf[0] == '+' || (buf[0] >= '0' && buf[0] <= '9'))) return false;
  *out = v;
  return true;
}

bool ParseDouble(std::string_view s, double* out) {
  s = Trim(s);
  if (s.empty()) return false;
  std::string buf(s);
  for (char c : buf)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return false;
  char* end = nullptr;
  double v = std::strtod(buf.c_str(), &end);
  if (end != buf.c_str() + buf.size() || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

platform::LocalDateTime NowOr(const platform::LocalDateTime* now) {
  return now ? *now : platform::LocalNow();
}

int32_t TodayOf(const platform::LocalDateTime& t) {
  return base::DayNumber(t.year, t.month, t.day);
}
int32_t TimeOf(const platform::LocalDateTime& t) {
  return base::TimeMs(t.hour, t.minute, t.second, t.millisecond);
}

// Windows-1250 text as UTF-16LE bytes (every character of the code page
// lies in the basic multilingual plane).
std::string WideFromAnsi(std::string_view text) {
  std::string utf8 = base::Cp1250ToUtf8(text);
  std::string wide;
  for (size_t i = 0; i < utf8.size();) {
    uint8_t c = uint8_t(utf8[i]);
    uint32_t cp = c;
    size_t len = 1;
    if (c >= 0xE0 && i + 2 < utf8.size()) {
      cp =
          ((c & 0x0F) << 12) | ((uint8_t(utf8[i + 1]) & 0x3F) << 6) | (uint8_t(utf8[i + 2]) & 0x3F);
      len = 3;
    } else if (c >= 0xC0 && i + 1 < utf8.size()) {
      cp = ((c & 0x1F) << 6) | (uint8_t(utf8[i + 1]) & 0x3F);
      len = 2;
    }
    wide += char(cp & 0xFF);
    wide += char(cp >> 8);
    i += len;
  }
  return wide;
}

enum class Now { kNone, kDate, kTime, kTimestamp };

Now NowWord(std::string_view s) {
  if (SameNoCase(s, "CURRENT_DATE")) return Now::kDate;
  if (SameNoCase(s, "CURRENT_TIME")) return Now::kTime;
  if (SameNoCase(s, "CURRENT_TIMESTAMP")) return Now::kTimestamp;
  return Now::kNone;
}

// Converts a text to the value bytes of a non-string, non-BLOB column;
// false when the text is not a value of the type.
bool ValueBytes(const TFieldDef& def, std::string_view text, const platform::LocalDateTime* now,
                uint8_t* v) {
  std::string_view s = Trim(text);
  Now word = NowWord(s);
  int64_t i = 0;
  double d = 0;
  switch (def.type) {
    case kTypeDate: {
      int32_t day = 0;
      if (word == Now::kDate || word == Now::kTimestamp) {
        day = TodayOf(NowOr(now));
      } else if (word != Now::kNone || !ParseDateText(s, &day)) {
        return false;
      }
      base::PutLE32(v, uint32_t(day));
      return true;
    }
    case kTypeTime: {
      int32_t ms = 0;
      if (word == Now::kTime || word == Now::kTimestamp) {
        ms = TimeOf(NowOr(now));
      } else if (word != Now::kNone || !ParseTimeText(s, &ms)) {
        return false;
      }
      base::PutLE32(v, uint32_t(ms));
      return true;
    }
    case kTypeTimestamp: {
      double ts = 0;
      if (word != Now::kNone) {
        platform::LocalDateTime t = NowOr(now);
        double day = word == Now::kTime ? 0 : TodayOf(t);
        double ms = word == Now::kDate ? 0 : TimeOf(t);
        ts = day * double(base::kMsPerDay) + ms;
      } else if (!ParseTimestampText(s, &ts)) {
        return false;
      }
      base::PutLEDouble(v, ts);
      return true;
    }
    case kTypeBoolean: {
      bool b = false;
      if (!ParseBooleanText(s, &b)) return false;
      base::PutLE16(v, b ? 1 : 0);
      return true;
    }
    case kTypeSmallInt:
      if (!ParseInt(s, &i) || i < -32768 || i > 32767) return false;
      base::PutLE16(v, uint16_t(i));
      return true;
    case kTypeWord:
      if (!ParseInt(s, &i) || i < 0 || i > 65535) return false;
      base::PutLE16(v, uint16_t(i));
      return true;
    case kTypeInteger:
      if (!ParseInt(s, &i) || i < std::numeric_limits<int32_t>::min() ||
          i > std::numeric_limits<int32_t>::max())
        return false;
      base::PutLE32(v, uint32_t(i));
      return true;
    case kTypeLargeInt:
      if (!ParseInt(s, &i)) return false;
      base::PutLE64(v, uint64_t(i));
      return true;
    case kTypeFloat:
      if (!ParseDouble(s, &d)) return false;
      base::PutLEDouble(v, d);
      return true;
    case kTypeDecimal:
      return DecimalFromText(s, def.scale, v);
    default:
      return false;
  }
}

}  // namespace

bool ParseDateText(std::string_view text, int32_t* day_number) {
  std::string_view s = Trim(text);
  size_t a = s.find('-', 1);  // a leading "-" would be a sign, not a separator
  if (a == std::string_view::npos) return false;
  size_t b = s.find('-', a + 1);
  if (b == std::string_view::npos) return false;
  int64_t y, m, d;
  if (!ParseInt(s.substr(0, a), &y) || !ParseInt(s.substr(a + 1, b - a - 1), &m) ||
      !ParseInt(s.substr(b + 1), &d))
    return false;
  if (y < base::kFirstYear || y > base::kLastYear || !base::IsValidDate(int(y), int(m), int(d)))
    return false;
  *day_number = base::DayNumber(int(y), int(m), int(d));
  return true;
}

bool ParseTimeText(std::string_view text, int32_t* ms) {
  std::string_view s = Trim(text);
  int am_pm = 0;  // 1 AM, 2 PM
  if (s.size() >= 2) {
    std::string_view tail = s.substr(s.size() - 2);
    if (SameNoCase(tail, "AM")) am_pm = 1;
    if (SameNoCase(tail, "PM")) am_pm = 2;
    if (am_pm) s = Trim(s.substr(0, s.size() - 2));
  }
  int64_t part[4] = {0, 0, 0, 0};
  size_t colon1 = s.find(':');
  if (colon1 == std::string_view::npos) return false;
  size_t colon2 = s.find(':', colon1 + 1);
  size_t dot = s.find('.', colon1 + 1);
  size_t min_end = std::min(colon2, dot);
  if (!ParseInt(s.substr(0, colon1), &part[0])) return false;
  if (!ParseInt(s.substr(colon1 + 1, min_end == std::string_view::npos ? std::string_view::npos
                                                                       : min_end - colon1 - 1),
                &part[1]))
    return false;
  if (colon2 != std::string_view::npos) {
    size_t sec_end = dot == std::string_view::npos ? std::string_view::npos : dot - colon2 - 1;
    if (dot != std::string_view::npos && dot < colon2) return false;
    if (!ParseInt(s.substr(colon2 + 1, sec_end), &part[2])) return false;
  }
  if (dot != std::string_view::npos) {
    if (colon2 == std::string_view::npos) return false;
    if (!ParseInt(s.substr(dot + 1), &part[3])) return false;
  }
  for (int64_t p : part)
    if (p < 0) return false;
  if (am_pm) {
    if (part[0] < 1 || part[0] > 12) return false;
    if (am_pm == 1 && part[0] == 12) part[0] = 0;
    if (am_pm == 2 && part[0] != 12) part[0] += 12;
  }
  if (part[0] > 23 || part[1] > 59 || part[2] > 59 || part[3] > 999) return false;
  *ms = base::TimeMs(int(part[0]), int(part[1]), int(part[2]), int(part[3]));
  return true;
}

bool ParseTimestampText(std::string_view text, double* timestamp_ms) {
  std::string_view s = Trim(text);
  size_t blank = s.find(' ');
  int32_t day = 0, ms = 0;
  if (blank == std::string_view::npos) {
    if (s.find(':') != std::string_view::npos) {
      if (!ParseTimeText(s, &ms)) return false;
    } else if (!ParseDateText(s, &day)) {
      return false;
    }
  } else if (!ParseDateText(s.substr(0, blank), &day) || !ParseTimeText(s.substr(blank + 1), &ms)) {
    return false;
  }
  *timestamp_ms = double(day) * double(base::kMsPerDay) + ms;
  return true;
}

bool ParseBooleanText(std::string_view text, bool* value) {
  std::string_view s = Trim(text);
  if (SameNoCase(s, "TRUE")) {
    *value = true;
    return true;
  }
  if (SameNoCase(s, "FALSE")) {
    *value = false;
    return true;
  }
  return false;
}

std::string FormatDateText(int32_t day_number) {
  base::Date d = base::DateFromDayNumber(day_number);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

std::string FormatTimeText(int32_t ms) {
  base::TimeOfDay t = base::TimeFromMs(ms);
  char buf[32];
  if (t.millisecond != 0)
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                  t.millisecond);
  else if (t.second != 0)
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  else
    std::snprintf(buf, sizeof buf, "%02d:%02d", t.hour, t.minute);
  return buf;
}

std::string FormatTimestampText(double timestamp_ms) {
  double day = std::floor(timestamp_ms / double(base::kMsPerDay));
  // A stored value outside the calendar (a damaged or foreign file) is shown
  // as the number it is rather than converted out of range.
  if (!std::isfinite(day) || day < 1 || day > double(kLastDayNumber)) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", timestamp_ms);
    return buf;
  }
  int32_t ms = int32_t(timestamp_ms - day * double(base::kMsPerDay));
  return FormatDateText(int32_t(day)) + " " + FormatTimeText(ms);
}

int32_t DayNumberFromHost(double host) {
  // Clamped to the calendar so that no value converts out of range.
  double day = std::trunc(host) + base::kHostEpochDayNumber;
  if (!(day >= 1)) return 1;
  if (day > double(kLastDayNumber)) return kLastDayNumber;
  return int32_t(day);
}

int32_t TimeFromHost(double host) {
  double frac = std::fabs(host - std::trunc(host));
  return int32_t(std::llround(frac * double(base::kMsPerDay)));
}

double TimestampFromHost(double host) {
  return double(DayNumberFromHost(host)) * double(base::kMsPerDay) + TimeFromHost(host);
}

double HostFromDayNumber(int32_t day_number) {
  return double(day_number) - base::kHostEpochDayNumber;
}

double HostFromTime(int32_t ms) { return double(ms) / double(base::kMsPerDay); }

double HostFromTimestamp(double timestamp_ms) {
  double day = std::floor(timestamp_ms / double(base::kMsPerDay));
  double ms = timestamp_ms - day * double(base::kMsPerDay);
  double host_day = day - base::kHostEpochDayNumber;
  // The host keeps the time's fraction positive in magnitude on both sides
  // of its epoch.
  return host_day >= 0 ? host_day + ms / double(base::kMsPerDay)
                       : host_day - ms / double(base::kMsPerDay);
}

bool SetColumnFromText(TRecordBuffer& record, const TFieldDef& def, std::string_view text,
                       uint32_t locale, const platform::LocalDateTime* now) {
  if (def.computed || def.IsPseudo()) return false;
  if (text.empty()) {
    record.SetNull(def);
    return true;
  }
  switch (def.type) {
    case kTypeString:
      record.SetString(
          def, def.subtype == kSubtypeWideChar ? WideFromAnsi(text) : std::string(text), locale);
      return true;
    case kTypeBytes:
    case kTypeVarBytes:
      record.SetBytes(def, text.data(), text.size());
      return true;
    case kTypeBlob:
      return false;
    default: {
      uint8_t v[kDecimalSize] = {};
      if (!ValueBytes(def, text, now, v)) return false;
      record.SetColumn(def, v);
      return true;
    }
  }
}

bool IsValidColumnText(const TFieldDef& def, std::string_view text) {
  if (text.empty()) return true;
  switch (def.type) {
    case kTypeString:
      return text.size() <= 100;
    case kTypeBytes:
    case kTypeVarBytes:
      return text.size() <= def.size;
    case kTypeBlob:
      return true;  // a default text for MEMO columns; nothing is checked
    default: {
      platform::LocalDateTime fixed{2000, 1, 1, 0, 0, 0, 0};
      uint8_t v[kDecimalSize] = {};
      return ValueBytes(def, text, &fixed, v);
    }
  }
}

std::string ColumnToText(const TRecordBuffer& record, const TFieldDef& def) {
  if (record.IsNull(def)) return "";
  const uint8_t* v = record.value_ptr(def);
  char buf[64];
  switch (def.type) {
    case kTypeString:
      return *record.GetString(def);
    case kTypeDate:
      return FormatDateText(int32_t(base::GetLE32(v)));
    case kTypeTime:
      return FormatTimeText(int32_t(base::GetLE32(v)));
    case kTypeTimestamp:
      return FormatTimestampText(base::GetLEDouble(v));
    case kTypeBoolean:
      return base::GetLE16(v) ? "TRUE" : "FALSE";
    case kTypeSmallInt:
    case kTypeWord:
    case kTypeInteger:
    case kTypeLargeInt:
      return std::to_string(*record.GetInteger(def));
    case kTypeFloat:
      std::snprintf(buf, sizeof buf, "%.17g", base::GetLEDouble(v));
      return buf;
    case kTypeDecimal:
      return DecimalToText(v);
    case kTypeBlob:
      return std::to_string(int32_t(base::GetLE32(v))) + "/" + std::to_string(base::GetLE32(v + 4));
    case kTypeBytes:
    case kTypeVarBytes: {
      std::string hex;
      for (uint16_t k = 0; k < def.stored_size; ++k) {
        std::snprintf(buf, sizeof buf, "%02X", v[k]);
        hex += buf;
      }
      return hex;
    }
    default:
      return "?";
  }
}

}  // namespace downsql::storage
