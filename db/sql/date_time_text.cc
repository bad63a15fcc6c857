// Reading and writing the SQL text forms of dates, times, timestamps and
// Booleans.
#include "db/sql/date_time_text.h"

#include <cmath>
#include <cstdio>

#include "base/date_time.h"

namespace downsql::sql {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Reads 1..max_digits decimal digits from s at *pos.
bool ReadNumber(std::string_view s, size_t* pos, int max_digits, int* out) {
  int n = 0, digits = 0;
  while (*pos < s.size() && s[*pos] >= '0' && s[*pos] <= '9') {
    if (++digits > max_digits) return false;
    n = n * 10 + (s[*pos] - '0');
    ++*pos;
  }
  *out = n;
  return digits > 0;
}

bool SameWordNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != b[i]) return false;
  }
  return true;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

}  // namespace

std::optional<int32_t> DayNumberOf(int year, int month, int day) {
  if (!base::IsValidDate(year, month, day)) return std::nullopt;
  return base::DayNumber(year, month, day);
}

void SplitDayNumber(int32_t day_number, int* year, int* month, int* day) {
  const base::Date d = base::DateFromDayNumber(day_number);
  *year = d.year;
  *month = d.month;
  *day = d.day;
}

bool IsValidTimestamp(double ms) {
  return std::isfinite(ms) && ms >= 0 && ms < (base::kLastDayNumber + 1.0) * kMsPerDay;
}

std::optional<int32_t> ParseDateText(std::string_view text) {
  const std::string_view s = Trim(text);
  size_t pos = 0;
  int y, m, d;
  if (!ReadNumber(s, &pos, 4, &y) || pos >= s.size() || s[pos++] != '-') return std::nullopt;
  if (!ReadNumber(s, &pos, 2, &m) || pos >= s.size() || s[pos++] != '-') return std::nullopt;
  if (!ReadNumber(s, &pos, 2, &d) || pos != s.size()) return std::nullopt;
  return DayNumberOf(y, m, d);
}

std::optional<int32_t> ParseTimeText(std::string_view text) {
  std::string_view s = Trim(text);
  int half = 0;  // 1 AM, 2 PM
  if (s.size() >= 2) {
    const std::string_view suffix = s.substr(s.size() - 2);
    if (SameWordNoCase(suffix, "AM")) half = 1;
    if (SameWordNoCase(suffix, "PM")) half = 2;
    if (half != 0) s = Trim(s.substr(0, s.size() - 2));
  }
  size_t pos = 0;
  int h, m, sec = 0, ms = 0;
  if (!ReadNumber(s, &pos, 2, &h) || pos >= s.size() || s[pos++] != ':') return std::nullopt;
  if (!ReadNumber(s, &pos, 2, &m)) return std::nullopt;
  if (pos < s.size() && s[pos] == ':') {
    ++pos;
    if (!ReadNumber(s, &pos, 2, &sec)) return std::nullopt;
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      if (!ReadNumber(s, &pos, 3, &ms)) return std::nullopt;
    }
  }
  if (pos != s.size() || m > 59 || sec > 59) return std::nullopt;
  if (half != 0) {
    if (h > 12) return std::nullopt;
    if (half == 1 && h == 12) h = 0;
    if (half == 2 && h != 12) h += 12;
  } else if (h > 23) {
    return std::nullopt;
  }
  return ((h * 60 + m) * 60 + sec) * 1000 + ms;
}

std::optional<double> ParseTimestampText(std::string_view text) {
  const std::string_view s = Trim(text);
  const size_t blank = s.find(' ');
  if (blank == std::string_view::npos) {
    if (s.find(':') != std::string_view::npos) {
      const auto t = ParseTimeText(s);
      if (!t) return std::nullopt;
      return static_cast<double>(*t);
    }
    const auto d = ParseDateText(s);
    if (!d) return std::nullopt;
    return static_cast<double>(*d) * kMsPerDay;
  }
  const auto d = ParseDateText(s.substr(0, blank));
  const auto t = ParseTimeText(s.substr(blank + 1));
  if (!d || !t) return std::nullopt;
  return static_cast<double>(*d) * kMsPerDay + *t;
}

std::optional<bool> ParseBooleanText(std::string_view text) {
  const std::string_view s = Trim(text);
  if (SameWordNoCase(s, "TRUE")) return true;
  if (SameWordNoCase(s, "FALSE")) return false;
  return std::nullopt;
}

std::string DateText(int32_t day_number) {
  int y, m, d;
  SplitDayNumber(day_number, &y, &m, &d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::string TimeText(int32_t ms, bool twelve_hour) {
  ms = static_cast<int32_t>(((ms % kMsPerDay) + kMsPerDay) % kMsPerDay);
  int h = ms / 3600000;
  const int m = ms / 60000 % 60, s = ms / 1000 % 60, milli = ms % 1000;
  const char* half = nullptr;
  if (twelve_hour) {
    half = h < 12 ? " AM" : " PM";
    h %= 12;
    if (h == 0) h = 12;
  }
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%02d:%02d", h, m);
  if (s != 0 || milli != 0) n += std::snprintf(buf + n, sizeof buf - n, ":%02d", s);
  if (milli != 0) n += std::snprintf(buf + n, sizeof buf - n, ".%03d", milli);
  std::string out(buf, n);
  if (half) out += half;
  return out;
}

std::string TimestampText(double ms, bool twelve_hour) {
  if (!IsValidTimestamp(ms))
    ms = std::isfinite(ms) && ms > 0 ? (base::kLastDayNumber + 1.0) * kMsPerDay - 1 : 0;
  const double rounded = std::floor(ms + 0.5);
  const auto day = static_cast<int64_t>(std::floor(rounded / kMsPerDay));
  const auto time = static_cast<int32_t>(rounded - static_cast<double>(day) * kMsPerDay);
  return DateText(static_cast<int32_t>(day)) + " " + TimeText(time, twelve_hour);
}

const char* BooleanText(bool value) { return value ? "TRUE" : "FALSE"; }

std::string InvalidDateMessage(std::string_view text) {
  return Quoted(text) + " is not a valid date";
}
std::string InvalidTimeMessage(std::string_view text) {
  return Quoted(text) + " is not a valid time";
}
std::string InvalidTimestampMessage(std::string_view text) {
  return Quoted(text) + " is not a valid date and time";
}
std::string InvalidBooleanMessage(std::string_view text) {
  return Quoted(text) + " is not a valid boolean";
}

}  // namespace downsql::sql
