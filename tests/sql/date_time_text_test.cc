#include "db/sql/date_time_text.h"

#include <gtest/gtest.h>

namespace downsql::sql {
namespace {

TEST(DateTimeText, DayNumbers) {
  EXPECT_EQ(DayNumberOf(1, 1, 1), 1);
  EXPECT_EQ(DayNumberOf(1899, 12, 30), 693594);
  EXPECT_EQ(DayNumberOf(1900, 1, 1), 693596);
  EXPECT_EQ(DayNumberOf(2000, 2, 29), 730179);
  EXPECT_EQ(DayNumberOf(1900, 2, 29), std::nullopt);
  for (int32_t n : {1, 59, 60, 693594, 730179, 730180, 3652059}) {
    int y, m, d;
    SplitDayNumber(n, &y, &m, &d);
    EXPECT_EQ(DayNumberOf(y, m, d), n) << n;
  }
}

struct TextCase {
  const char* text;
  std::optional<double> value;
};

TEST(DateTimeText, Parsing) {
  const int32_t d = *DayNumberOf(2009, 2, 3);
  const TextCase dates[] = {{"2009-2-3", d},
                            {"2009-02-03", d},
                            {" 2009-02-03 ", d},
                            {"2009/02/03", std::nullopt},
                            {"2009-02-30", std::nullopt},
                            {"2009-02", std::nullopt},
                            {"2009-02-03x", std::nullopt},
                            {"", std::nullopt}};
  for (const auto& c : dates) {
    const auto v = ParseDateText(c.text);
    EXPECT_EQ(v ? std::optional<double>(*v) : std::nullopt, c.value) << c.text;
  }
  const TextCase times[] = {
      {"13:05", 47100000},     {"1:05:07", 3907000},           {"1:05:07.25", 3907025},
      {"12:00 AM", 0},         {"12:30pm", 45000000},          {"1:00 PM", 46800000},
      {"24:00", std::nullopt}, {"13:00 PM", std::nullopt},     {"10:60", std::nullopt},
      {"10", std::nullopt},    {"10:00:00.1234", std::nullopt}};
  for (const auto& c : times) {
    const auto v = ParseTimeText(c.text);
    EXPECT_EQ(v ? std::optional<double>(*v) : std::nullopt, c.value) << c.text;
  }
  const TextCase stamps[] = {{"2009-2-3 1:00", d * 86400000.0 + 3600000},
                             {"2009-2-3", d * 86400000.0},
                             {"10:30", 37800000},
                             {"2009-2-3T1:00", std::nullopt}};
  for (const auto& c : stamps) EXPECT_EQ(ParseTimestampText(c.text), c.value) << c.text;
  EXPECT_EQ(ParseBooleanText("true"), true);
  EXPECT_EQ(ParseBooleanText("FALSE"), false);
  EXPECT_EQ(ParseBooleanText("yes"), std::nullopt);
}

TEST(DateTimeText, Writing) {
  EXPECT_EQ(DateText(*DayNumberOf(2009, 3, 14)), "2009-03-14");
  EXPECT_EQ(DateText(1), "0001-01-01");
  EXPECT_EQ(TimeText(47100000), "13:05");
  EXPECT_EQ(TimeText(47100000 + 7000), "13:05:07");
  EXPECT_EQ(TimeText(47100000 + 5), "13:05:00.005");
  EXPECT_EQ(TimeText(300000, true), "12:05 AM");
  EXPECT_EQ(TimeText(47100000, true), "01:05 PM");
  EXPECT_EQ(TimeText(43200000, true), "12:00 PM");
  EXPECT_EQ(TimestampText(*DayNumberOf(2009, 3, 14) * 86400000.0 + 1000), "2009-03-14 00:00:01");
  EXPECT_EQ(BooleanText(true), std::string("TRUE"));
  EXPECT_EQ(InvalidDateMessage("2009/02/03"), "'2009/02/03' is not a valid date");
  EXPECT_EQ(InvalidTimestampMessage("x"), "'x' is not a valid date and time");
  // Written forms read back to the same value.
  for (int32_t ms : {0, 1, 59999, 3600000, 86399999}) {
    EXPECT_EQ(ParseTimeText(TimeText(ms)), ms);
    EXPECT_EQ(ParseTimeText(TimeText(ms, true)), ms);
  }
}

}  // namespace
}  // namespace downsql::sql
