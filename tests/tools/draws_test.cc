// The results service's pieces without HTTP: the game rows, the request
// payload, the sample history and the answer written from it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "base/date_time.h"
#include "db/storage/column_type.h"
#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"
#include "tests/platform/temp_dir.h"
#include "tests/sql/statement_test_util.h"
#include "tools/draws/draw_answer.h"
#include "tools/draws/draw_games.h"
#include "tools/draws/draw_history.h"
#include "tools/draws/draw_payload.h"
#include "updater/game_catalogue.h"

namespace downsql::draws {
namespace {

using platform::TempDir;

const TDrawGame& Game(std::string_view key) { return *FindDrawGameByKey(key); }

// ---- game rows ------------------------------------------------------------

TEST(DrawGamesTest, AgreeWithTheUpdatersCatalogueAndCanBeDrawn) {
  for (int i = 0; i < kDrawGameCount; ++i) {
    const TDrawGame& game = kDrawGames[size_t(i)];
    const updater::GameEntry& entry = updater::GameAt(i);
    SCOPED_TRACE(entry.DisplayName);
    EXPECT_EQ(game.request_key, entry.RequestKey);
    EXPECT_EQ(game.table_name, entry.TableName);
    EXPECT_EQ(std::to_string(game.draw_size), entry.DrawSize);
    EXPECT_EQ(game.with_time, entry.DateFormatKind == 2);
    int numbers = 0;
    for (const TNumberPool& pool : game.pools) {
      numbers += pool.count;
      EXPECT_LE(pool.count, pool.high - pool.low + 1);
    }
    EXPECT_EQ(numbers, game.draw_size);
    // A DATE table's unique date allows one draw a day.
    for (int w = 0; w < 7; ++w) {
      if (!game.with_time) {
        EXPECT_LE(DrawMinutes(game, w).size(), 1u);
      }
    }
  }
}

TEST(DrawGamesTest, RhythmsOfTheGames) {
  EXPECT_EQ(WeekdayOf(base::DayNumber(2025, 12, 1)), 0);  // a Monday
  EXPECT_THAT(DrawMinutes(Game("dl"), 0), ::testing::IsEmpty());
  EXPECT_THAT(DrawMinutes(Game("dl"), 1), ::testing::ElementsAre(22 * 60));
  EXPECT_THAT(DrawMinutes(Game("multi_multi"), 6), ::testing::ElementsAre(14 * 60, 22 * 60));
  std::vector<int> keno = DrawMinutes(Game("keno"), 3);
  EXPECT_EQ(keno.size(), 245u);
  EXPECT_EQ(keno[1] - keno[0], 4);
}

// ---- payload ----------------------------------------------------------------

TEST(DrawPayloadTest, ReadsTheMembersInRequestOrder) {
  std::vector<TPayloadMember> members = ParseDrawPayload(
      R"({"dl":["LOTTO","2013-05-04",6,5432],"multi_multi":["multi_multi","2013-05-04 21:40:00",20,98765],"keno":["keno","1899-12-30 00:00:00",20,-3]})");
  ASSERT_EQ(members.size(), 3u);
  EXPECT_EQ(members[0].key, "dl");
  EXPECT_EQ(members[0].table, "LOTTO");
  EXPECT_EQ(members[0].last_date, double(base::DayNumber(2013, 5, 4)) * base::kMsPerDay);
  EXPECT_EQ(members[0].draw_size, 6);
  EXPECT_EQ(members[0].last_id, 5432);
  EXPECT_EQ(members[1].key, "multi_multi");
  EXPECT_EQ(members[1].last_date,
            double(base::DayNumber(2013, 5, 4)) * base::kMsPerDay + (21 * 60 + 40) * 60000.0);
  EXPECT_EQ(members[2].key, "keno");
  EXPECT_EQ(members[2].last_date, PayloadDayZero());
  EXPECT_EQ(members[2].last_id, -3);
  EXPECT_THAT(ParseDrawPayload("{}"), ::testing::IsEmpty());
}

TEST(DrawPayloadTest, RefusesWhatIsNotTheShapeWithOneLine) {
  const struct {
    const char* payload;
    const char* reason;
  } cases[] = {
      {"", "the payload is not JSON (at byte 1)"},
      {R"({"dl":["LOTTO")", "the payload is not JSON (at byte 15)"},
      {R"(["dl"])", "the payload is not an object of games"},
      {R"({"dl":["LOTTO","2013-05-04",6]})", "member \"dl\" is not an array of four values"},
      {R"({"dl":{"a":1}})", "member \"dl\" is not an array of four values"},
      {R"({"dl":[1,"2013-05-04",6,1]})", "member \"dl\": the table name is not a text"},
      {R"({"dl":["LOTTO",20130504,6,1]})", "member \"dl\": the date is not a text"},
      {R"({"dl":["LOTTO","2013-02-29",6,1]})", "member \"dl\": \"2013-02-29\" is not a date"},
      {R"({"dl":["LOTTO","2013-05-04 24:00:00",6,1]})",
       "member \"dl\": \"2013-05-04 24:00:00\" is not a date"},
      {R"({"dl":["LOTTO","2013-5-4",6,1]})", "member \"dl\": \"2013-5-4\" is not a date"},
      {R"({"dl":["LOTTO","2013-05-04","6",1]})",
       "member \"dl\": the draw size is not a whole number"},
      {R"({"dl":["LOTTO","2013-05-04",6,1.5]})", "member \"dl\": the id is not a whole number"},
      {R"({"dl":["LOTTO","2013-05-04",6,2147483648]})", "member \"dl\": the id is out of range"},
      {R"({"dl":["LOTTO","2013-05-04",6,-2147483649]})", "member \"dl\": the id is out of range"},
      {R"({"dl":["LOTTO","2013-05-04",6,18446744073709551615]})",
       "member \"dl\": the id is out of range"},
      {"{\"a\\nb\":1}", "member \"a?b\" is not an array of four values"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    try {
      ParseDrawPayload(c.payload);
      ADD_FAILURE() << "accepted";
    } catch (const EBadPayload& e) {
      EXPECT_STREQ(e.what(), c.reason);
    }
  }
}

// ---- history ------------------------------------------------------------------

struct TDraw {
  int64_t id;
  double date;  // table timestamp
  std::vector<int64_t> numbers;
  bool operator==(const TDraw&) const = default;
};

// Every draw of a game table in id order.
std::vector<TDraw> ReadDraws(const std::string& dir, std::string_view table) {
  storage::EngineSettings settings;
  storage::TTableOpenOptions options;
  options.directory = dir;
  options.name = std::string(table);
  options.settings = &settings;
  storage::TDataCursor cursor(storage::TDataTable::Open(options), storage::TSessionSettings{});
  cursor.SetCurrentIndex(0);
  const auto& f = cursor.fields();
  std::vector<TDraw> draws;
  while (cursor.Next()) {
    const storage::TRecordBuffer& r = cursor.current();
    TDraw d{*r.GetInteger(f[0]), 0, {}};
    d.date = f[1].type == storage::kTypeTimestamp ? *r.GetFloat(f[1])
                                                  : double(*r.GetInteger(f[1])) * base::kMsPerDay;
    for (size_t i = 2; i < f.size(); ++i) d.numbers.push_back(*r.GetInteger(f[i]));
    draws.push_back(d);
  }
  return draws;
}

// A table file's bytes without what tells when and how often it was
// written: the update count (offset 0, 4 bytes), and in the data file the
// last-updated stamp (offset 63, 8 bytes) and the header-modified flag
// (offset 197, ignored on reading).
std::string TableFileBytes(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  std::string bytes = s.str();
  if (bytes.size() >= 4) bytes.replace(0, 4, 4, '\0');
  if (path.ends_with(".dat") && bytes.size() >= 198) {
    bytes.replace(63, 8, 8, '\0');
    bytes[197] = '\0';
  }
  return bytes;
}

class HistoryTest : public ::testing::Test {
 protected:
  // December 2025 into the service, up to the 20th into the host.
  THistoryCounts Generate(const TempDir& dir, uint64_t seed, std::vector<const TDrawGame*> games) {
    std::filesystem::create_directories(dir.path() + "/service");
    std::filesystem::create_directories(dir.path() + "/host");
    THistoryOptions options;
    options.seed = seed;
    options.first_day = base::DayNumber(2025, 12, 1);
    options.last_day = base::DayNumber(2025, 12, 31);
    options.host_last_day = base::DayNumber(2025, 12, 20);
    options.service_directory = dir.path() + "/service/";
    options.host_directory = dir.path() + "/host/";
    options.games = std::move(games);
    options.progress = [this](int64_t done, int64_t total) { last_progress_ = {done, total}; };
    return GenerateHistory(options, settings_);
  }

  storage::EngineSettings settings_;
  std::pair<int64_t, int64_t> last_progress_;
};

TEST_F(HistoryTest, DrawsEveryGameInItsRhythmWithNumbersFromItsPools) {
  TempDir dir;
  THistoryCounts counts = Generate(dir, 7, {});
  EXPECT_EQ(last_progress_.first, counts.service_draws);
  EXPECT_EQ(last_progress_.second, counts.service_draws);
  int64_t service_total = 0, host_total = 0;
  const double host_end = double(base::DayNumber(2025, 12, 21)) * base::kMsPerDay;
  for (const TDrawGame& game : kDrawGames) {
    SCOPED_TRACE(game.table_name);
    std::vector<TDraw> service = ReadDraws(dir.path() + "/service/", game.table_name);
    std::vector<TDraw> host = ReadDraws(dir.path() + "/host/", game.table_name);
    service_total += int64_t(service.size());
    host_total += int64_t(host.size());
    int64_t expected = 0;
    for (int32_t day = base::DayNumber(2025, 12, 1); day <= base::DayNumber(2025, 12, 31); ++day) {
      expected += int64_t(DrawMinutes(game, WeekdayOf(day)).size());
    }
    ASSERT_EQ(int64_t(service.size()), expected);
    for (size_t i = 0; i < service.size(); ++i) {
      EXPECT_EQ(service[i].id, int64_t(i) + 1);
      if (i > 0) {
        EXPECT_GT(service[i].date, service[i - 1].date);
      }
      size_t at = 0;
      for (const TNumberPool& pool : game.pools) {
        std::set<int64_t> seen;
        for (int k = 0; k < pool.count; ++k, ++at) {
          int64_t n = service[i].numbers[at];
          EXPECT_TRUE(n >= pool.low && n <= pool.high) << n;
          EXPECT_TRUE(seen.insert(n).second) << "repeated " << n;
        }
      }
    }
    // The host holds the service's first draws, up to its last day.
    ASSERT_LE(host.size(), service.size());
    EXPECT_TRUE(std::equal(host.begin(), host.end(), service.begin()));
    if (!host.empty()) {
      EXPECT_LT(host.back().date, host_end);
    }
    if (host.size() < service.size()) {
      EXPECT_GE(service[host.size()].date, host_end);
    }
  }
  EXPECT_EQ(service_total, counts.service_draws);
  EXPECT_EQ(host_total, counts.host_draws);
  EXPECT_LT(counts.host_draws, counts.service_draws);
}

TEST_F(HistoryTest, TheSameSeedGivesTheSameFilesWhateverTheOtherGames) {
  TempDir a, b, c;
  Generate(a, 42, {&Game("dl"), &Game("keno")});
  Generate(b, 42, {&Game("keno")});
  Generate(c, 43, {&Game("keno")});
  for (const char* ext : {".dat", ".idx"}) {
    std::string name = std::string("/service/keno") + ext;
    EXPECT_TRUE(TableFileBytes(a.path() + name) == TableFileBytes(b.path() + name)) << ext;
  }
  EXPECT_NE(ReadDraws(a.path() + "/service/", "keno"), ReadDraws(c.path() + "/service/", "keno"));
}

// ---- answer -------------------------------------------------------------------

std::string Answer(const std::string& dir, const std::string& payload, size_t budget = 1 << 20) {
  static storage::EngineSettings settings;
  TDrawAnswer answer(dir, ParseDrawPayload(payload), settings);
  std::string out;
  while (answer.Next(out, budget)) {
  }
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
    lines.push_back(text.substr(start, at - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last CR LF";
  return lines;
}

class AnswerTest : public HistoryTest {
 protected:
  AnswerTest() { Generate(dir_, 5, {&Game("dl"), &Game("multi_multi"), &Game("keno")}); }
  std::string service() const { return dir_.path() + "/service/"; }
  TempDir dir_;
};

TEST_F(AnswerTest, InsertsTheNewerDrawsOfEachGameInRequestOrder) {
  std::vector<TDraw> lotto = ReadDraws(service(), "LOTTO");
  std::vector<TDraw> multi = ReadDraws(service(), "multi_multi");
  // Host: LOTTO up to its 10th draw, MULTI MULTI up to its second-to-last.
  const TDraw& l10 = lotto[9];
  std::string payload = R"({"multi_multi":["multi_multi",")" +
                        DrawTimestampText(multi[multi.size() - 2].date) + R"(",20,)" +
                        std::to_string(multi.size() - 1) + R"(],"dl":["LOTTO",")" +
                        DrawDayText(int32_t(l10.date / base::kMsPerDay)) + R"(",6,10]})";
  std::vector<std::string> lines = Lines(Answer(service(), payload));
  ASSERT_EQ(lines.size(), 1 + lotto.size() - 10);
  std::string numbers;
  for (int64_t n : multi.back().numbers) numbers += "," + std::to_string(n);
  EXPECT_EQ(lines[0],
            "INSERT INTO multi_multi (id,[date],n1,n2,n3,n4,n5,n6,n7,n8,n9,n10,n11,n12,n13,n14,n15,"
            "n16,n17,n18,n19,n20) VALUES (" +
                std::to_string(multi.size()) + ",'2025-12-31 22:00:00'" + numbers + ");");
  numbers.clear();
  for (int64_t n : lotto[10].numbers) numbers += "," + std::to_string(n);
  EXPECT_EQ(lines[1], "INSERT INTO LOTTO (id,[date],n1,n2,n3,n4,n5,n6) VALUES (11,'" +
                          DrawDayText(int32_t(lotto[10].date / base::kMsPerDay)) + "'" + numbers +
                          ");");
  EXPECT_THAT(lines.back(),
              ::testing::StartsWith("INSERT INTO LOTTO (id,[date],n1,n2,n3,n4,n5,n6) VALUES (" +
                                    std::to_string(lotto.size()) + ","));
}

TEST_F(AnswerTest, WhatIsNotAskedForOrNotNewIsLeftOut) {
  const int64_t keno = int64_t(ReadDraws(service(), "keno").size());
  const struct {
    std::string payload;
    int64_t lines;
  } cases[] = {
      // An empty host table asks for everything; id 1 and day 0 mean
      // nothing special for other games than LOTTO.
      {R"({"keno":["keno","1899-12-30 00:00:00",20,0]})", keno},
      {R"({"keno":["keno","1899-12-30 00:00:00",20,1]})", keno - 1},
      // Up to date.
      {R"({"keno":["keno","2025-12-31 22:50:00",20,)" + std::to_string(keno) + "]}", 0},
      // Newer by id but not by date: nothing.
      {R"({"keno":["keno","2026-01-01 00:00:00",20,5]})", 0},
      // The updater's mark of LOTTO without a table, unknown keys, a game
      // the service has no table for.
      {R"({"dl":["LOTTO","1899-12-30",6,1],"zz":["zz","2025-01-01",1,0],"ex":["MINI_LOTTO","1899-12-30",5,0]})",
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    EXPECT_EQ(int64_t(Lines(Answer(service(), c.payload)).size()), c.lines);
  }
}

TEST_F(AnswerTest, PiecesMakeTheSameTextAsOneWhole) {
  const std::string payload =
      R"({"dl":["LOTTO","1899-12-30",6,0],"keno":["keno","1899-12-30 00:00:00",20,0]})";
  storage::EngineSettings settings;
  TDrawAnswer answer(service(), ParseDrawPayload(payload), settings);
  std::string whole, piece;
  int pieces = 0;
  while (answer.Next(piece, 1000)) {
    EXPECT_LT(piece.size(), 1000u + 300u);
    whole += piece;
    piece.clear();
    ++pieces;
  }
  EXPECT_EQ(whole, Answer(service(), payload));
  EXPECT_GT(pieces, 100);
  EXPECT_EQ(answer.games(), 2);
  EXPECT_EQ(answer.draws(), int64_t(Lines(whole).size()));
}

}  // namespace
}  // namespace downsql::draws

namespace downsql::draws {
namespace {

// CREATE TABLE and CREATE UNIQUE INDEX through SQL make the files that
// CreateDrawTable makes through the storage engine.
TEST(DrawTablesTest, StorageAndSqlMakeTheSameFiles) {
  for (std::string_view key : {"dl", "keno"}) {
    const TDrawGame& game = *FindDrawGameByKey(key);
    SCOPED_TRACE(game.table_name);
    TempDir by_storage;
    storage::EngineSettings settings;
    CreateDrawTable(by_storage.path() + "/", game, settings);
    std::string table(game.table_name),
        create = "CREATE TABLE " + table + " (id INTEGER NOT NULL, [date] ";
    create += game.with_time ? "TIMESTAMP" : "DATE";
    for (int n = 1; n <= game.draw_size; ++n) create += ", n" + std::to_string(n) + " SMALLINT";
    create += ", PRIMARY KEY (id))";
    TempDir by_sql;
    {
      sql::testing::StatementDb db(by_sql.path());
      db.Run(create);
      db.Run("CREATE UNIQUE INDEX ByDate ON " + table + " ([date])");
    }
    for (const char* ext : {".dat", ".idx"}) {
      std::string a = TableFileBytes(by_storage.path() + "/" + table + ext);
      std::string b = TableFileBytes(by_sql.path() + "/" + table + ext);
      EXPECT_EQ(a.size(), b.size()) << ext;
      size_t at = 0;
      while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
      EXPECT_EQ(at, a.size()) << ext << ": the first difference";
    }
  }
}

}  // namespace
}  // namespace downsql::draws
