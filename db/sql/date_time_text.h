// Text forms of dates, times, timestamps and Booleans in SQL.
//
//   date       year-month-day, each a decimal integer ("2009-3-14");
//              written yyyy-mm-dd
//   time       hours:minutes[:seconds[.milliseconds]] [AM|PM]; 12 AM is
//              hour 0, PM adds 12 except to 12. Written hh:mm, then :ss only
//              when seconds or milliseconds are not zero, then .mmm only
//              when milliseconds are not zero; the 12-hour form appends
//              " AM" or " PM" (hour 0 is written 12)
//   timestamp  a date, one blank, a time; text without a blank is a time
//              when it holds ':', else a date
//   Boolean    TRUE or FALSE, any letter case
//
// Values are the stored forms: day numbers (1 January 0001 = 1),
// milliseconds since midnight, and timestamps of day number * 86400000 +
// milliseconds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/date_time.h"

namespace downsql::sql {

using base::kMsPerDay;

// Day number of a valid date, nullopt otherwise (year 1..9999).
std::optional<int32_t> DayNumberOf(int year, int month, int day);
// Year, month and day of a day number.
void SplitDayNumber(int32_t day_number, int* year, int* month, int* day);

// True for a finite timestamp from day 0 to 31 December 9999.
bool IsValidTimestamp(double ms);

std::optional<int32_t> ParseDateText(std::string_view text);
std::optional<int32_t> ParseTimeText(std::string_view text);
std::optional<double> ParseTimestampText(std::string_view text);
std::optional<bool> ParseBooleanText(std::string_view text);

std::string DateText(int32_t day_number);
std::string TimeText(int32_t ms, bool twelve_hour = false);
std::string TimestampText(double ms, bool twelve_hour = false);
const char* BooleanText(bool value);

// The messages of failed conversions: "'<text>' is not a valid date" and
// the like.
std::string InvalidDateMessage(std::string_view text);
std::string InvalidTimeMessage(std::string_view text);
std::string InvalidTimestampMessage(std::string_view text);
std::string InvalidBooleanMessage(std::string_view text);

}  // namespace downsql::sql
