// Date patterns over the host date-time.
#include "updater/date_pattern.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "base/date_time.h"

namespace downsql::updater {
namespace {

void AppendNumber(std::string& out, int value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", digits, value);
  out += buffer;
}

}  // namespace

std::string FormatDateTime(double host, std::string_view pattern) {
  if (!std::isfinite(host) || host <= base::kFirstHostDay - 1.0 || host >= base::kEndHostDay) {
    throw std::out_of_range("Invalid date-time value");
  }
  // The day is the whole part taken toward zero and the time of day the
  // fraction's magnitude, as the host's runtime splits a date-time.
  int64_t total_ms = std::llround(host * double(base::kMsPerDay));
  int64_t days = total_ms / base::kMsPerDay;
  int64_t time_ms = std::llabs(total_ms) % base::kMsPerDay;
  base::Date date = base::DateFromDayNumber(static_cast<int32_t>(days + base::kHostEpochDayNumber));
  base::TimeOfDay time = base::TimeFromMs(static_cast<int32_t>(time_ms));

  std::string out;
  size_t i = 0;
  while (i < pattern.size()) {
    std::string_view rest = pattern.substr(i);
    if (rest.starts_with("yyyy")) {
      AppendNumber(out, date.year, 4);
      i += 4;
    } else if (rest.starts_with("mm")) {
      AppendNumber(out, date.month, 2);
      i += 2;
    } else if (rest.starts_with("dd")) {
      AppendNumber(out, date.day, 2);
      i += 2;
    } else if (rest.starts_with("hh")) {
      AppendNumber(out, time.hour, 2);
      i += 2;
    } else if (rest.starts_with("nn")) {
      AppendNumber(out, time.minute, 2);
      i += 2;
    } else if (rest.starts_with("ss")) {
      AppendNumber(out, time.second, 2);
      i += 2;
    } else {
      out += pattern[i++];
    }
  }
  return out;
}

}  // namespace downsql::updater
