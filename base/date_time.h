// Dates and times as the host and the table files hold them.
//
//  - day number: days counted from 1 January 0001 = day 1 (table DATE);
//  - time: milliseconds since midnight (table TIME);
//  - timestamp: milliseconds, day number * 86400000 + time (table TIMESTAMP);
//  - host date-time: a double of days since 30 December 1899 00:00 with the
//    time of day as the fraction; day number - 693594 = host days.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace downsql::base {

inline constexpr int32_t kHostEpochDayNumber = 693594;  // 30 December 1899
inline constexpr int64_t kMsPerDay = 86400000;

// The calendar runs from 1 January 0001 (day number 1) to 31 December 9999
// (day number kLastDayNumber); every date the engine stores, converts or
// computes lies in it.
inline constexpr int kFirstYear = 1;
inline constexpr int kLastYear = 9999;
inline constexpr int32_t kFirstDayNumber = 1;
inline constexpr int32_t kLastDayNumber = 3652059;
// Host date-times of the first day and of the day after the last.
inline constexpr double kFirstHostDay = kFirstDayNumber - kHostEpochDayNumber;
inline constexpr double kEndHostDay = kLastDayNumber + 1 - kHostEpochDayNumber;

struct Date {
  int year, month, day;
};
struct TimeOfDay {
  int hour, minute, second, millisecond;
};

bool IsLeapYear(int year);
bool IsValidDate(int year, int month, int day);
// Day number of a valid date (1 January 0001 = 1).
int32_t DayNumber(int year, int month, int day);
Date DateFromDayNumber(int32_t day_number);
int32_t TimeMs(int hour, int minute, int second, int millisecond);
TimeOfDay TimeFromMs(int32_t ms);

double HostDateTimeFromDayNumber(int32_t day_number);
double HostDateTimeFromTimestamp(double timestamp_ms);
double TimestampFromHostDateTime(double host);

// "yyyy-mm-dd", "yyyy-mm-dd hh:nn:ss" and "dd-mm-yyyy" of a host date-time
// (the time part truncated to whole seconds).
std::string FormatYmd(double host);
std::string FormatYmdHms(double host);
std::string FormatDmy(double host);

}  // namespace downsql::base
