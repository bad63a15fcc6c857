#include "db/storage/field_text.h"

#include <gtest/gtest.h>

#include "base/byte_order.h"

namespace downsql::storage {
namespace {

TEST(DateText, DayNumbersOfKnownDates) {
  struct Case {
    const char* text;
    int32_t day;
  } cases[] = {
      {"0001-01-01", 1}, {"1899-12-30", 693594}, {"1900-01-01", 693596}, {"2013-5-4", 734992}};
  for (const Case& c : cases) {
    int32_t d = 0;
    ASSERT_TRUE(ParseDateText(c.text, &d)) << c.text;
    EXPECT_EQ(d, c.day) << c.text;
    EXPECT_EQ(ParseDateText(FormatDateText(c.day), &d) ? d : -1, c.day);
  }
  int32_t d;
  for (const char* bad :
       {"2013-02-29", "2013/05/04", "20130504", "2013-05-", "x-1-1", "0000-01-01"})
    EXPECT_FALSE(ParseDateText(bad, &d)) << bad;
}

TEST(TimeText, FormsAndTwelveHourClock) {
  struct Case {
    const char* text;
    int32_t ms;
  } cases[] = {{"21:40", 78000000},   {"21:40:05", 78005000}, {"00:00:01.5", 1005},
               {"12:30 AM", 1800000}, {"12:30pm", 45000000},  {"1:00 PM", 46800000}};
  for (const Case& c : cases) {
    int32_t ms = -1;
    ASSERT_TRUE(ParseTimeText(c.text, &ms)) << c.text;
    EXPECT_EQ(ms, c.ms) << c.text;
  }
  int32_t ms;
  for (const char* bad : {"24:00", "10", "10:60", "13:00 PM", "10:00.5"})
    EXPECT_FALSE(ParseTimeText(bad, &ms)) << bad;
  EXPECT_EQ(FormatTimeText(78000000), "21:40");
  EXPECT_EQ(FormatTimeText(78005000), "21:40:05");
  EXPECT_EQ(FormatTimeText(1005), "00:00:01.005");
}

TEST(TimestampText, DateBlankTimeOrEitherAlone) {
  double ts = 0;
  ASSERT_TRUE(ParseTimestampText("1899-12-30 06:00", &ts));
  EXPECT_DOUBLE_EQ(ts, 693594.0 * 86400000 + 21600000);
  ASSERT_TRUE(ParseTimestampText("06:00", &ts));
  EXPECT_DOUBLE_EQ(ts, 21600000);
  ASSERT_TRUE(ParseTimestampText("0001-01-01", &ts));
  EXPECT_DOUBLE_EQ(ts, 86400000);
  EXPECT_EQ(FormatTimestampText(693594.0 * 86400000 + 21600000), "1899-12-30 06:00");
}

TEST(HostDateTime, ConvertsBothWays) {
  EXPECT_EQ(DayNumberFromHost(0.25), 693594);
  EXPECT_EQ(TimeFromHost(0.25), 21600000);
  EXPECT_DOUBLE_EQ(TimestampFromHost(1.5), 693595.0 * 86400000 + 43200000);
  EXPECT_DOUBLE_EQ(HostFromTimestamp(693595.0 * 86400000 + 43200000), 1.5);
  EXPECT_DOUBLE_EQ(HostFromDayNumber(693596), 2.0);
  EXPECT_DOUBLE_EQ(HostFromTime(43200000), 0.5);
}

// Values a damaged or foreign file may hold must never convert out of range.
TEST(HostDateTime, ValuesOutsideTheCalendarStayInRange) {
  EXPECT_EQ(FormatTimestampText(1e300), "1.0000000000000001e+300");
  EXPECT_EQ(FormatTimestampText(-86400000.0), "-86400000");
  EXPECT_EQ(DayNumberFromHost(1e300), 3652059);
  EXPECT_EQ(DayNumberFromHost(-1e300), 1);
}

TFieldDef Col(uint8_t type, uint8_t subtype = 0, uint16_t size = 0, uint8_t scale = 0) {
  TFieldDef d;
  d.number = 1;
  d.type = type;
  d.subtype = subtype;
  d.size = size;
  d.scale = scale;
  std::vector<TFieldDef> one{d};
  AssignRecordLayout(one);
  return one[0];
}

TEST(ColumnText, SetsEachTypeFromText) {
  platform::LocalDateTime now{2013, 5, 4, 21, 40, 0, 0};
  struct Case {
    TFieldDef def;
    const char* text;
    std::string back;  // ColumnToText after setting
  } cases[] = {
      {Col(kTypeInteger), "-42", "-42"},
      {Col(kTypeSmallInt), "300", "300"},
      {Col(kTypeLargeInt), "9000000000", "9000000000"},
      {Col(kTypeBoolean), "true", "TRUE"},
      {Col(kTypeFloat), "2.5", "2.5"},
      {Col(kTypeDecimal, 0, 0, 2), "3.14159", "3.14"},
      {Col(kTypeDate), "CURRENT_DATE", "2013-05-04"},
      {Col(kTypeTime), "current_time", "21:40"},
      {Col(kTypeTimestamp), "CURRENT_DATE", "2013-05-04 00:00"},
      {Col(kTypeTimestamp), "CURRENT_TIMESTAMP", "2013-05-04 21:40"},
      {Col(kTypeString, 0, 4), "abcdef", "abcd"},
      {Col(kTypeString, kSubtypeWideChar, 4), "a\xB9", std::string("a\0\x05\x01", 4)},
  };
  for (const Case& c : cases) {
    TRecordBuffer r(64);
    ASSERT_TRUE(SetColumnFromText(r, c.def, c.text, 0, &now)) << c.text;
    EXPECT_EQ(ColumnToText(r, c.def), c.back) << c.text;
  }
  TRecordBuffer r(64);
  TFieldDef ts = Col(kTypeTimestamp);
  ASSERT_TRUE(SetColumnFromText(r, ts, "CURRENT_TIME", 0, &now));
  EXPECT_DOUBLE_EQ(*r.GetFloat(ts), 78000000.0);
}

TEST(ColumnText, RejectsTextsOutsideTheType) {
  struct Case {
    TFieldDef def;
    const char* text;
  } cases[] = {
      {Col(kTypeInteger), "2147483648"}, {Col(kTypeSmallInt), "40000"},  {Col(kTypeWord), "-1"},
      {Col(kTypeInteger), "12a"},        {Col(kTypeBoolean), "yes"},     {Col(kTypeFloat), "1,5"},
      {Col(kTypeDate), "CURRENT_TIME"},  {Col(kTypeDate), "2013-13-01"},
  };
  for (const Case& c : cases) {
    TRecordBuffer r(64);
    r.SetInteger(c.def, 1);
    std::vector<uint8_t> before(r.data(), r.data() + r.size());
    EXPECT_FALSE(SetColumnFromText(r, c.def, c.text)) << c.text;
    EXPECT_EQ(std::vector<uint8_t>(r.data(), r.data() + r.size()), before) << c.text;
    EXPECT_FALSE(IsValidColumnText(c.def, c.text)) << c.text;
  }
  EXPECT_TRUE(IsValidColumnText(Col(kTypeInteger), ""));
  EXPECT_TRUE(IsValidColumnText(Col(kTypeTimestamp), "CURRENT_TIMESTAMP"));
}

}  // namespace
}  // namespace downsql::storage
