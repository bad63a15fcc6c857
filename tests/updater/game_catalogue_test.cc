#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "updater/date_pattern.h"
#include "updater/game_catalogue.h"
#include "updater/update_state.h"

namespace downsql::updater {
namespace {

TEST(GameCatalogueTest, ThirteenRowsInOrderWithExactCase) {
  const GameEntry expected[kGameCount] = {
      {"LOTTO", "LOTTO", "dl", "6", 1},
      {"MULTI MULTI", "multi_multi", "multi_multi", "20", 2},
      {"MULTI LOTEK 22", "MULTI_22", "multi", "20", 1},
      {"MULTI LOTEK 14", "MULTI_14", "mm14", "20", 1},
      {"MINI LOTTO", "MINI_LOTTO", "ex", "5", 1},
      {"KENO DE", "keno_de", "keno_de", "20", 1},
      {"KENO SVENSKA", "keno_svenska", "keno_svenska", "20", 1},
      {"EKSTRA PENSJA", "ekstrapensja", "ekstrapensja", "6", 1},
      {"LOTTO PLUS", "lotto_plus", "lottoplus", "6", 1},
      {"EUROJACKPOT", "eurojackpot", "eurojackpot", "7", 1},
      {"LOTTO DE", "lotto_de", "lotto_de", "7", 1},
      {"KENO", "keno", "keno", "20", 2},
      {"SZYBKIE600", "szybkie600", "szybkie600", "6", 2},
  };
  for (int i = 0; i < kGameCount; ++i) {
    const GameEntry& game = GameAt(i);
    EXPECT_EQ(game.DisplayName, expected[i].DisplayName) << i;
    EXPECT_EQ(game.TableName, expected[i].TableName) << i;
    EXPECT_EQ(game.RequestKey, expected[i].RequestKey) << i;
    EXPECT_EQ(game.DrawSize, expected[i].DrawSize) << i;
    EXPECT_EQ(game.DateFormatKind, expected[i].DateFormatKind) << i;
  }
  EXPECT_THROW(GameAt(-1), std::out_of_range);
  EXPECT_THROW(GameAt(13), std::out_of_range);
  EXPECT_EQ(DateFormats(1), "yyyy-mm-dd");
  EXPECT_EQ(DateFormats(2), "yyyy-mm-dd hh:nn:ss");
  EXPECT_THROW(DateFormats(0), std::out_of_range);
  EXPECT_THROW(DateFormats(3), std::out_of_range);
}

TEST(UpdateStateTest, InitialValuesAtLoad) {
  const UpdateState& state = LibraryUpdateState();
  EXPECT_EQ(state.DatabaseDirectory, "");
  for (int i = 0; i < kGameCount; ++i) {
    EXPECT_TRUE(state.Present[i]);
    EXPECT_EQ(state.LastDrawDate[i], 0.0);
    EXPECT_EQ(state.LastDrawId[i], 1);
  }
  EXPECT_TRUE(state.ExecuteLocked);
  EXPECT_EQ(state.LastImportCount, 0);
}

TEST(DatePatternTest, WritesHostDateTimes) {
  constexpr double k20130504 = 41398.0;
  constexpr double k2140 = (21 * 3600 + 40 * 60) / 86400.0;
  struct Case {
    double host;
    const char* ymd_hms;
    const char* dmy;
  };
  const Case cases[] = {
      {0.0, "1899-12-30 00:00:00", "30-12-1899"},
      {1.0, "1899-12-31 00:00:00", "31-12-1899"},
      {-1.0, "1899-12-29 00:00:00", "29-12-1899"},
      {k20130504 + k2140, "2013-05-04 21:40:00", "04-05-2013"},
      // A stored 21:40 a hair short of the minute still writes 21:40:00.
      {std::nextafter(k20130504 + k2140, 0.0), "2013-05-04 21:40:00", "04-05-2013"},
      {k20130504 + 0.999994, "2013-05-04 23:59:59", "04-05-2013"},
      {2958465.0, "9999-12-31 00:00:00", "31-12-9999"},
      {-693593.0, "0001-01-01 00:00:00", "01-01-0001"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatDateTime(c.host, "yyyy-mm-dd hh:nn:ss"), c.ymd_hms) << c.host;
    EXPECT_EQ(FormatDateTime(c.host, "dd-mm-yyyy"), c.dmy) << c.host;
  }
}

TEST(DatePatternTest, RejectsValuesOutsideTheCalendar) {
  for (double host : {std::numeric_limits<double>::quiet_NaN(),
                      std::numeric_limits<double>::infinity(), 2958466.0, -693594.0, 1e300}) {
    EXPECT_THROW(FormatDateTime(host, "yyyy"), std::out_of_range) << host;
  }
}

TEST(UpdateStateTest, RequestDateCarriesTheTimeOnlyForKindTwo) {
  UpdateState state;
  state.LastDrawDate.fill(41398.0 + 0.5);
  for (int i = 0; i < kGameCount; ++i) {
    bool with_time = i == 1 || i == 11 || i == 12;  // MULTI MULTI, KENO, SZYBKIE600
    EXPECT_EQ(FormatRequestDate(state, i), with_time ? "2013-05-04 12:00:00" : "2013-05-04") << i;
    EXPECT_EQ(FormatSummaryDate(state, i), "04-05-2013") << i;
  }
}

}  // namespace
}  // namespace downsql::updater
