// Inserting rows in one transaction and scanning them in natural order:
// the table cursor beside SQLite doing the same through a prepared
// statement. Both report records per second.
//
// Rows look like lottery draws: an id, a date and six numbers.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"

using namespace downsql::storage;

namespace {

constexpr int kNumbers = 6;

std::string ScratchDir(const char* name) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string() + "/";
}

// ---- table cursor -------------------------------------------------------

std::shared_ptr<TDataTable> CreateTabula(const std::string& dir, const EngineSettings& settings) {
  TNewTableDefinition new_table;
  const char* names[] = {"id", "date", "n1", "n2", "n3", "n4", "n5", "n6"};
  for (const char* name : names) {
    TFieldDef def;
    def.name = name;
    def.type = std::string(name) == "date" ? kTypeDate : kTypeInteger;
    new_table.table.fields.push_back(def);
  }
  TDataTable::Create(dir, "draws", settings, new_table);
  TTableOpenOptions options;
  options.directory = dir;
  options.name = "draws";
  options.settings = &settings;
  return TDataTable::Open(options);
}

void TabulaInsert(const std::shared_ptr<TDataTable>& table, int64_t rows) {
  TDataCursor cursor(table, TSessionSettings{});
  const std::vector<TFieldDef>& f = cursor.fields();
  table->BeginTransaction();
  TRecordBuffer r = cursor.NewRecord();
  for (int64_t i = 0; i < rows; ++i) {
    r.SetInteger(f[0], i + 1);
    r.SetInteger(f[1], 730000 + i / 3);
    for (int n = 0; n < kNumbers; ++n) r.SetInteger(f[2 + n], (i * 7 + n * 11) % 49 + 1);
    cursor.Insert(r);
  }
  table->CommitTransaction(false);
}

int64_t TabulaScan(const std::shared_ptr<TDataTable>& table) {
  TDataCursor cursor(table, TSessionSettings{});
  const TFieldDef& id = cursor.fields()[0];
  int64_t sum = 0;
  cursor.First();
  while (cursor.Next()) sum += cursor.current().GetInteger(id).value_or(0);
  return sum;
}

void BM_TabulaInsertInTransaction(benchmark::State& state) {
  const int64_t rows = state.range(0);
  EngineSettings settings;
  for (auto _ : state) {
    state.PauseTiming();
    std::string dir = ScratchDir("downsql_bench_tabula");
    auto table = CreateTabula(dir, settings);
    state.ResumeTiming();
    TabulaInsert(table, rows);
    state.PauseTiming();
    table.reset();
    std::filesystem::remove_all(dir);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

void BM_TabulaScan(benchmark::State& state) {
  const int64_t rows = state.range(0);
  EngineSettings settings;
  std::string dir = ScratchDir("downsql_bench_tabula_scan");
  auto table = CreateTabula(dir, settings);
  TabulaInsert(table, rows);
  for (auto _ : state) benchmark::DoNotOptimize(TabulaScan(table));
  table.reset();
  std::filesystem::remove_all(dir);
  state.SetItemsProcessed(state.iterations() * rows);
}

// ---- SQLite -------------------------------------------------------------

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    throw std::runtime_error(sqlite3_errmsg(db));
  }
}

sqlite3* OpenSqlite(const std::string& dir) {
  sqlite3* db = nullptr;
  Check(sqlite3_open((dir + "draws.db").c_str(), &db), db);
  Check(sqlite3_exec(db,
                     "create table draws(id integer, date integer, n1 integer, n2 integer, "
                     "n3 integer, n4 integer, n5 integer, n6 integer)",
                     nullptr, nullptr, nullptr),
        db);
  return db;
}

void SqliteInsert(sqlite3* db, int64_t rows) {
  sqlite3_stmt* stmt = nullptr;
  Check(sqlite3_exec(db, "begin", nullptr, nullptr, nullptr), db);
  Check(sqlite3_prepare_v2(db, "insert into draws values(?,?,?,?,?,?,?,?)", -1, &stmt, nullptr),
        db);
  for (int64_t i = 0; i < rows; ++i) {
    sqlite3_bind_int(stmt, 1, int(i + 1));
    sqlite3_bind_int(stmt, 2, int(730000 + i / 3));
    for (int n = 0; n < kNumbers; ++n)
      sqlite3_bind_int(stmt, 3 + n, int((i * 7 + n * 11) % 49 + 1));
    Check(sqlite3_step(stmt), db);
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  Check(sqlite3_exec(db, "commit", nullptr, nullptr, nullptr), db);
}

int64_t SqliteScan(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  Check(sqlite3_prepare_v2(db, "select * from draws", -1, &stmt, nullptr), db);
  int64_t sum = 0;
  while (sqlite3_step(stmt) == SQLITE_ROW) sum += sqlite3_column_int(stmt, 0);
  sqlite3_finalize(stmt);
  return sum;
}

void BM_SqliteInsertInTransaction(benchmark::State& state) {
  const int64_t rows = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    std::string dir = ScratchDir("downsql_bench_sqlite");
    sqlite3* db = OpenSqlite(dir);
    state.ResumeTiming();
    SqliteInsert(db, rows);
    state.PauseTiming();
    sqlite3_close(db);
    std::filesystem::remove_all(dir);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

void BM_SqliteScan(benchmark::State& state) {
  const int64_t rows = state.range(0);
  std::string dir = ScratchDir("downsql_bench_sqlite_scan");
  sqlite3* db = OpenSqlite(dir);
  SqliteInsert(db, rows);
  for (auto _ : state) benchmark::DoNotOptimize(SqliteScan(db));
  sqlite3_close(db);
  std::filesystem::remove_all(dir);
  state.SetItemsProcessed(state.iterations() * rows);
}

}  // namespace

BENCHMARK(BM_TabulaInsertInTransaction)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TabulaScan)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteInsertInTransaction)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SqliteScan)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
