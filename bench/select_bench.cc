// SELECT through the statement dispatch beside SQLite running the same
// statement, on the same 1,000,000 rows of a keno-like table: id INTEGER
// primary key, date TIMESTAMP, n1..n20 SMALLINT.
//
//   LastDraw   select max([date]) as mx, max(id) as mid   (one grouped row)
//   GroupBy    select n1, count(*) ... group by n1
//   GroupByMany select date, count(*) ... where id <= 100000 group by date
//              (100,000 groups: grouped through the temporary index)
//   CountWhere select count(*) ... where n5 = 7
//
// Both tables live in files of one scratch directory, built on the first
// run and kept (a marker file says they are complete) so that later runs and
// profiles see the queries alone.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "db/access/data_directory.h"
#include "db/access/data_engine.h"
#include "db/access/data_session.h"
#include "db/access/directory_statement_database.h"
#include "db/access/directory_table.h"
#include "db/sql/query_statement.h"
#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"

using namespace downsql;
using namespace downsql::storage;

namespace {

constexpr int64_t kRows = 1000000;
constexpr int kNumbers = 20;

int Number(int64_t row, int n) { return static_cast<int>((row * 7 + n * 11 + row / 3) % 70 + 1); }
double Stamp(int64_t row) { return (730000.0 + static_cast<double>(row) / 2) * 86400000.0; }

const char* kLastDraw = "select  max([date]) as mx,max(id) as mid from keno";
const char* kGroupBy = "select n1, count(*) from keno group by n1";
const char* kCountWhere = "select count(*) from keno where n5 = 7";
const char* kGroupByMany = "select date, count(*) from keno where id <= 100000 group by date";

std::string Dir() {
  static const std::string dir = [] {
    std::filesystem::path p = std::filesystem::temp_directory_path() / "downsql_select_bench";
    if (!std::filesystem::exists(p / "complete")) {
      std::filesystem::remove_all(p);
      std::filesystem::create_directories(p);
    }
    return p.string() + "/";
  }();
  return dir;
}

bool Built() { return std::filesystem::exists(Dir() + "complete"); }

void MarkBuilt() {
  if (std::filesystem::exists(Dir() + "keno.dat") &&
      std::filesystem::exists(Dir() + "keno.sqlite")) {
    std::ofstream(Dir() + "complete") << kRows << "\n";
  }
}

void BuildTabula(const std::string& dir) {
  EngineSettings settings;
  TNewTableDefinition def;
  auto add = [&](const std::string& name, uint8_t type) {
    TFieldDef f;
    f.name = name;
    f.type = type;
    def.table.fields.push_back(f);
  };
  add("id", kTypeInteger);
  add("date", kTypeTimestamp);
  for (int n = 1; n <= kNumbers; ++n) add("n" + std::to_string(n), kTypeSmallInt);
  TIndexDefinition primary;
  primary.unique = true;
  primary.columns = {1};
  primary.descending_of = {0};
  def.primary = primary;
  TDataTable::Create(dir, "keno", settings, def);
  TTableOpenOptions options;
  options.directory = dir;
  options.name = "keno";
  options.settings = &settings;
  auto table = TDataTable::Open(options);
  TDataCursor cursor(table, TSessionSettings{});
  const auto& f = cursor.fields();
  table->BeginTransaction();
  TRecordBuffer r = cursor.NewRecord();
  for (int64_t i = 0; i < kRows; ++i) {
    r.SetInteger(f[0], i + 1);
    r.SetFloat(f[1], Stamp(i));
    for (int n = 0; n < kNumbers; ++n) r.SetInteger(f[2 + n], Number(i, n));
    cursor.Insert(r);
  }
  table->CommitTransaction(false);
}

void BuildSqlite(const std::string& file) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  std::string create = "create table keno(id integer primary key, date real";
  std::string insert = "insert into keno values(?, ?";
  for (int n = 1; n <= kNumbers; ++n) {
    create += ", n" + std::to_string(n) + " smallint";
    insert += ", ?";
  }
  sqlite3_exec(db, (create + ")").c_str(), nullptr, nullptr, nullptr);
  sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &st, nullptr);
  for (int64_t i = 0; i < kRows; ++i) {
    sqlite3_bind_int64(st, 1, i + 1);
    sqlite3_bind_double(st, 2, Stamp(i));
    for (int n = 0; n < kNumbers; ++n) sqlite3_bind_int(st, 3 + n, Number(i, n));
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// The engine, session and directory the statements run in, built once.
struct Tabula {
  Tabula() {
    if (!Built()) BuildTabula(Dir());
    access::InstallTableOpener(engine);
    engine.Start();
    session = &engine.CreateSession("bench");
    directory = &session->OpenDirectory("Bench", Dir(), false);
    database = std::make_unique<access::TDirectoryStatementDatabase>(*directory);
  }
  access::TDataEngine engine;
  access::TDataSession* session = nullptr;
  access::TDataDirectory* directory = nullptr;
  std::unique_ptr<access::TDirectoryStatementDatabase> database;
};

Tabula& TabulaDb() {
  static Tabula tabula;
  return tabula;
}

sqlite3* SqliteDb();

sqlite3* SqliteDb() {
  static sqlite3* db = [] {
    const std::string file = Dir() + "keno.sqlite";
    if (!Built()) BuildSqlite(file);
    sqlite3* d = nullptr;
    sqlite3_open(file.c_str(), &d);
    return d;
  }();
  return db;
}

void RunTabula(benchmark::State& state, const char* sql) {
  Tabula& t = TabulaDb();
  SqliteDb();
  MarkBuilt();
  for (auto _ : state) {
    sql::TQueryStatement statement(*t.database);
    statement.Prepare(sql);
    auto result = statement.Execute();
    benchmark::DoNotOptimize(result);
    if (statement.RowsAffected() == 0) state.SkipWithError("no rows");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void RunSqlite(benchmark::State& state, const char* sql) {
  sqlite3* db = SqliteDb();
  for (auto _ : state) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    int rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW) ++rows;
    sqlite3_finalize(st);
    if (rows == 0) state.SkipWithError("no rows");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_TabulaLastDraw(benchmark::State& s) { RunTabula(s, kLastDraw); }
void BM_SqliteLastDraw(benchmark::State& s) { RunSqlite(s, kLastDraw); }
void BM_TabulaGroupBy(benchmark::State& s) { RunTabula(s, kGroupBy); }
void BM_SqliteGroupBy(benchmark::State& s) { RunSqlite(s, kGroupBy); }
void BM_TabulaCountWhere(benchmark::State& s) { RunTabula(s, kCountWhere); }
void BM_TabulaGroupByMany(benchmark::State& s) { RunTabula(s, kGroupByMany); }
void BM_SqliteGroupByMany(benchmark::State& s) { RunSqlite(s, kGroupByMany); }
void BM_SqliteCountWhere(benchmark::State& s) { RunSqlite(s, kCountWhere); }

BENCHMARK(BM_TabulaLastDraw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteLastDraw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TabulaGroupBy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteGroupBy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TabulaCountWhere)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteCountWhere)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TabulaGroupByMany)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteGroupByMany)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
