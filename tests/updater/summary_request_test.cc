#include <gtest/gtest.h>

#include <string>

#include "tests/platform/temp_dir.h"
#include "updater/request_builder.h"
#include "updater/summary.h"
#include "updater/update_state.h"

namespace downsql::updater {
namespace {

using platform::TempDir;

constexpr double k20130504 = 41398.0;
constexpr double k2140 = (21 * 3600 + 40 * 60) / 86400.0;

UpdateState OnlyPresent(std::initializer_list<int> games) {
  UpdateState state;
  state.Present.fill(false);
  for (int i : games) state.Present[i] = true;
  return state;
}

TEST(SummaryTest, PresentAndAbsentGamesByteForByte) {
  UpdateState state = OnlyPresent({0, 11});
  state.LastDrawDate[11] = k20130504 + k2140;
  EXPECT_EQ(BuildSummaryText(state),
            "Pobrane b\xEA"
            "d\xB9 losowania :\r\n"
            "---------------------- :\r\n"
            "                  LOTTO nast\xEApne po dniu 30-12-1899\r\n"
            "MULTI MULTI gra nie jest aktywna\r\n"
            "MULTI LOTEK 22 gra nie jest aktywna\r\n"
            "MULTI LOTEK 14 gra nie jest aktywna\r\n"
            "MINI LOTTO gra nie jest aktywna\r\n"
            "KENO DE gra nie jest aktywna\r\n"
            "KENO SVENSKA gra nie jest aktywna\r\n"
            "EKSTRA PENSJA gra nie jest aktywna\r\n"
            "LOTTO PLUS gra nie jest aktywna\r\n"
            "EUROJACKPOT gra nie jest aktywna\r\n"
            "LOTTO DE gra nie jest aktywna\r\n"
            "                   KENO nast\xEApne po dniu 04-05-2013\r\n"
            "SZYBKIE600 gra nie jest aktywna\r\n"
            "---------------------- :");
}

TEST(SummaryTest, NamesAreRightAlignedInTwentyThreeCharacters) {
  UpdateState state;  // all present after load
  EXPECT_EQ(SummaryLine(state, 2), "         MULTI LOTEK 22 nast\xEApne po dniu 30-12-1899");
  EXPECT_EQ(SummaryLine(state, 12), "             SZYBKIE600 nast\xEApne po dniu 30-12-1899");
}

TEST(RequestBuilderTest, GameZeroIsAlwaysSentOthersOnlyWhenPresent) {
  struct Case {
    std::initializer_list<int> present;
    std::string payload;
  };
  const Case cases[] = {
      {{}, R"({"dl":["LOTTO","1899-12-30",6,1]})"},
      {{0}, R"({"dl":["LOTTO","1899-12-30",6,1]})"},
      {{11}, R"({"dl":["LOTTO","1899-12-30",6,1],"keno":["keno","1899-12-30 00:00:00",20,1]})"},
      {{2, 4, 8},
       R"({"dl":["LOTTO","1899-12-30",6,1],"multi":["MULTI_22","1899-12-30",20,1],)"
       R"("ex":["MINI_LOTTO","1899-12-30",5,1],"lottoplus":["lotto_plus","1899-12-30",6,1]})"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BuildRequestPayload(OnlyPresent(c.present)), c.payload);
  }
}

TEST(RequestBuilderTest, AddressWithDatesAndIds) {
  UpdateState state = OnlyPresent({0, 1});
  state.LastDrawDate[0] = k20130504;
  state.LastDrawId[0] = 5432;
  state.LastDrawDate[1] = k20130504 + k2140;
  state.LastDrawId[1] = 98765;
  EXPECT_EQ(BuildRequestAddress(state, "results.example:8080"),
            "http://results.example:8080/dtools/down_all_232.php?data="
            R"({"dl":["LOTTO","2013-05-04",6,5432],)"
            R"("multi_multi":["multi_multi","2013-05-04 21:40:00",20,98765]})");
  // An empty table reads id 0; ids are plain decimal with a sign.
  state.LastDrawId[0] = 0;
  state.LastDrawId[1] = -7;
  EXPECT_EQ(BuildRequestPayload(state),
            R"({"dl":["LOTTO","2013-05-04",6,0],)"
            R"("multi_multi":["multi_multi","2013-05-04 21:40:00",20,-7]})");
}

TEST(RequestBuilderTest, AllThirteenInCatalogueOrder) {
  UpdateState state;
  std::string expected = "{";
  for (int i = 0; i < kGameCount; ++i) {
    const GameEntry& g = GameCatalogue[i];
    if (i > 0) expected += ',';
    expected += "\"" + std::string(g.RequestKey) + "\":[\"" + std::string(g.TableName) + "\",\"" +
                (g.DateFormatKind == 2 ? "1899-12-30 00:00:00" : "1899-12-30") + "\"," +
                std::string(g.DrawSize) + ",1]";
  }
  expected += "}";
  EXPECT_EQ(BuildRequestPayload(state), expected);
}

TEST(PresenceTest, PlainConcatenationOfDirectoryAndTableFile) {
  TempDir dir;
  dir.AddFile("LOTTO.dat");
  dir.AddFile("keno.dat");
  dir.AddFile("multi_multi.idx");
  dir.AddFile("lotto_de.DAT");       // the name's case is kept on a case-sensitive system
  dir.AddDirectory("MULTI_22.dat");  // a directory is not a table file

  UpdateState state;
  state.DatabaseDirectory = dir.path() + "/";
  MarkPresentGames(state);
  for (int i = 0; i < kGameCount; ++i) EXPECT_EQ(state.Present[i], i == 0 || i == 11) << i;

  // Without the trailing separator every game is absent.
  state.DatabaseDirectory = dir.path();
  MarkPresentGames(state);
  for (int i = 0; i < kGameCount; ++i) EXPECT_FALSE(state.Present[i]) << i;
}

}  // namespace
}  // namespace downsql::updater
