#include "base/date_time.h"

#include <gtest/gtest.h>

namespace downsql::base {
namespace {

TEST(DateTime, KnownDayNumbers) {
  struct Case {
    int y, m, d;
    int32_t day_number;
  } cases[] = {
      {1, 1, 1, 1},           {1, 12, 31, 365},     {2, 1, 1, 366},
      {1899, 12, 30, 693594}, {1900, 1, 1, 693596}, {1970, 1, 1, 719163},
      {2000, 2, 29, 730179},  {2008, 3, 5, 733106}, {9999, 12, 31, 3652059},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DayNumber(c.y, c.m, c.d), c.day_number) << c.y << '-' << c.m << '-' << c.d;
    Date back = DateFromDayNumber(c.day_number);
    EXPECT_EQ(back.year, c.y);
    EXPECT_EQ(back.month, c.m);
    EXPECT_EQ(back.day, c.d);
  }
  EXPECT_EQ(HostDateTimeFromDayNumber(733106), 39512.0);
  // The named calendar limits agree with the calendar.
  EXPECT_EQ(DayNumber(kFirstYear, 1, 1), kFirstDayNumber);
  EXPECT_EQ(DayNumber(kLastYear, 12, 31), kLastDayNumber);
  EXPECT_FALSE(IsValidDate(kLastYear + 1, 1, 1));
  EXPECT_EQ(HostDateTimeFromDayNumber(kLastDayNumber + 1), kEndHostDay);
}

TEST(DateTime, EveryDayRoundTripsAndIsValid) {
  int32_t previous = 0;
  for (int y = 1; y <= 9999; y += (y < 2100 ? 1 : 97)) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= 31; ++d) {
        if (!IsValidDate(y, m, d)) continue;
        int32_t n = DayNumber(y, m, d);
        if (y < 2100) {
          ASSERT_EQ(n, previous + 1) << y << '-' << m << '-' << d;
        }
        previous = n;
        Date back = DateFromDayNumber(n);
        ASSERT_TRUE(back.year == y && back.month == m && back.day == d) << n;
      }
    }
  }
  EXPECT_TRUE(IsValidDate(2000, 2, 29));
  EXPECT_FALSE(IsValidDate(1900, 2, 29));
  EXPECT_FALSE(IsValidDate(2023, 4, 31));
  EXPECT_FALSE(IsValidDate(0, 1, 1));
}

TEST(DateTime, TimesAndTimestamps) {
  EXPECT_EQ(TimeMs(21, 40, 0, 0), 78000000);
  TimeOfDay t = TimeFromMs(TimeMs(23, 59, 58, 999));
  EXPECT_EQ(t.hour, 23);
  EXPECT_EQ(t.minute, 59);
  EXPECT_EQ(t.second, 58);
  EXPECT_EQ(t.millisecond, 999);

  double ts = double(DayNumber(2013, 5, 4)) * kMsPerDay + TimeMs(21, 40, 0, 0);
  double host = HostDateTimeFromTimestamp(ts);
  EXPECT_DOUBLE_EQ(host, 41398.0 + 78000000.0 / kMsPerDay);
  EXPECT_EQ(TimestampFromHostDateTime(host), ts);
  EXPECT_EQ(TimestampFromHostDateTime(0.0), double(kHostEpochDayNumber) * kMsPerDay);
}

TEST(DateTime, Formatting) {
  double host =
      HostDateTimeFromTimestamp(double(DayNumber(2013, 5, 4)) * kMsPerDay + TimeMs(21, 40, 7, 999));
  EXPECT_EQ(FormatYmd(host), "2013-05-04");
  EXPECT_EQ(FormatYmdHms(host), "2013-05-04 21:40:07");  // seconds truncated
  EXPECT_EQ(FormatDmy(host), "04-05-2013");
  EXPECT_EQ(FormatYmdHms(0.0), "1899-12-30 00:00:00");
  EXPECT_EQ(FormatDmy(-1.0), "29-12-1899");
  // A fraction a hair below the next midnight rounds to it, not to 23:59:59.
  EXPECT_EQ(FormatYmdHms(39512.0 - 1e-10), "2008-03-05 00:00:00");
}

}  // namespace
}  // namespace downsql::base
