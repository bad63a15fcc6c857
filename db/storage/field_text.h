// Column values from and to text, and the host's date-time.
//
// Text forms (defaults, minimum and maximum values, constants and the
// import): dates "yyyy-mm-dd" (each part an integer), times
// "hh:nn[:ss[.zzz]]" optionally followed by AM or PM, timestamps a date, one
// blank and a time (text without a blank is a time when it holds ":", else
// a date), booleans "TRUE"/"FALSE" in any case, numbers in decimal with "."
// as the point. CURRENT_DATE gives today (a timestamp at midnight),
// CURRENT_TIME the time now (a timestamp on day 0), CURRENT_TIMESTAMP now.
//
// The host's date-time is a double of days since 30 December 1899 with the
// time of day as the fraction: DATE = whole days + 693594, TIME = fraction
// * 86400000 rounded, TIMESTAMP = DATE * 86400000 + TIME.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/storage/column_def.h"
#include "db/storage/record.h"
#include "platform/clock.h"

namespace downsql::storage {

bool ParseDateText(std::string_view text, int32_t* day_number);
bool ParseTimeText(std::string_view text, int32_t* ms);
bool ParseTimestampText(std::string_view text, double* timestamp_ms);
bool ParseBooleanText(std::string_view text, bool* value);

// "yyyy-mm-dd"; "hh:nn", then ":ss" when seconds or milliseconds are not
// zero, then ".zzz" when milliseconds are not zero; a timestamp is both,
// separated by one blank.
std::string FormatDateText(int32_t day_number);
std::string FormatTimeText(int32_t ms);
std::string FormatTimestampText(double timestamp_ms);

int32_t DayNumberFromHost(double host);
int32_t TimeFromHost(double host);
double TimestampFromHost(double host);
double HostFromDayNumber(int32_t day_number);
double HostFromTime(int32_t ms);
double HostFromTimestamp(double timestamp_ms);

// Sets a column from its text form (see above); an empty text stores NULL.
// WIDECHAR columns take the Windows-1250 text as UTF-16LE.
// Returns false, leaving the record unchanged, when the text is not a valid
// value of the column's type. now (the local time) defaults to the clock.
// BLOB columns take no value from text (false unless the text is empty).
bool SetColumnFromText(TRecordBuffer& record, const TFieldDef& def, std::string_view text,
                       uint32_t locale = 0, const platform::LocalDateTime* now = nullptr);

// Whether text is a valid minimum, maximum or default text for the column:
// "" (none) always is; the CURRENT_ words only for dates, times and
// timestamps.
bool IsValidColumnText(const TFieldDef& def, std::string_view text);

// The column's value as text ("" for NULL). Strings as stored (WIDECHAR as
// UTF-16LE bytes), BYTES and VARBYTES as hex, BLOBs as "block/version".
std::string ColumnToText(const TRecordBuffer& record, const TFieldDef& def);

}  // namespace downsql::storage
