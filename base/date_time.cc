// Day numbers, times of day and the host date-time double.
//
// Day numbers are proleptic Gregorian, 1 January 0001 = day 1. The
// conversion uses the era arithmetic of civil calendars (400-year cycles of
// 146097 days counted from 1 March 0000), which is exact for every integer.
#include "base/date_time.h"

#include <cmath>
#include <cstdio>

namespace downsql::base {
namespace {

// Day number of 1 March 0000 minus one: the day before the first era starts,
// so that DayNumber(1, 1, 1) == 1.
constexpr int32_t kEraOrigin = -305;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Splits a host date-time into its day number and milliseconds of the day,
// rounding to the millisecond first so that 0.99999999 of a day becomes the
// next midnight rather than 23:59:59.999.
void SplitHost(double host, int64_t& day_number, int64_t& ms) {
  double days = std::floor(host);
  ms = std::llround((host - days) * double(kMsPerDay));
  day_number = int64_t(days) + kHostEpochDayNumber;
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    ++day_number;
  }
}

std::string FormatHost(double host, bool dmy, bool with_time) {
  int64_t day_number, ms;
  SplitHost(host, day_number, ms);
  Date d = DateFromDayNumber(int32_t(day_number));
  char buf[48];
  if (dmy) {
    std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", d.day, d.month, d.year);
  } else if (!with_time) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  } else {
    TimeOfDay t = TimeFromMs(int32_t(ms));
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, t.hour,
                  t.minute, t.second);
  }
  return buf;
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

bool IsValidDate(int year, int month, int day) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < kFirstYear || year > kLastYear || month < 1 || month > 12 || day < 1) return false;
  int limit = kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
  return day <= limit;
}

int32_t DayNumber(int year, int month, int day) {
  int64_t y = year - (month <= 2 ? 1 : 0);
  int64_t era = FloorDiv(y, 400);
  int64_t yoe = y - era * 400;                                             // [0, 399]
  int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;  // [0, 365]
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;                     // [0, 146096]
  return int32_t(era * 146097 + doe + kEraOrigin);
}

Date DateFromDayNumber(int32_t day_number) {
  int64_t z = int64_t(day_number) - kEraOrigin;
  int64_t era = FloorDiv(z, 146097);
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int day = int(doy - (153 * mp + 2) / 5 + 1);
  int month = int(mp < 10 ? mp + 3 : mp - 9);
  int year = int(yoe + era * 400 + (month <= 2 ? 1 : 0));
  return {year, month, day};
}

int32_t TimeMs(int hour, int minute, int second, int millisecond) {
  return ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
}

TimeOfDay TimeFromMs(int32_t ms) {
  return {ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000};
}

double HostDateTimeFromDayNumber(int32_t day_number) {
  return double(day_number) - kHostEpochDayNumber;
}

double HostDateTimeFromTimestamp(double timestamp_ms) {
  double days = std::floor(timestamp_ms / double(kMsPerDay));
  double ms = timestamp_ms - days * double(kMsPerDay);
  return (days - kHostEpochDayNumber) + ms / double(kMsPerDay);
}

double TimestampFromHostDateTime(double host) {
  int64_t day_number, ms;
  SplitHost(host, day_number, ms);
  return double(day_number) * double(kMsPerDay) + double(ms);
}

std::string FormatYmd(double host) { return FormatHost(host, false, false); }
std::string FormatYmdHms(double host) { return FormatHost(host, false, true); }
std::string FormatDmy(double host) { return FormatHost(host, true, false); }

}  // namespace downsql::base
