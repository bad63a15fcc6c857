// Writing a host date-time (days since 30 December 1899 00:00, the time of
// day as the fraction) with a pattern of the game catalogue.
#pragma once

#include <string>
#include <string_view>

namespace downsql::updater {

// Writes host with pattern: "yyyy" four-digit year, "mm" month 01-12, "dd"
// day, "hh" hour 00-23, "nn" minute, "ss" second; every other character is
// copied (the time separator is always a colon). The value is rounded to the
// millisecond first, so 21:40:00 stored as 21:39:59.9999999 still writes as
// 21:40:00. Raises std::out_of_range when host is not a finite date-time of
// the years 1 to 9999.
std::string FormatDateTime(double host, std::string_view pattern);

}  // namespace downsql::updater
