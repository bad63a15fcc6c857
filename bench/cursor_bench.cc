// The table cursor beside SQLite doing the same work through its C API, row
// for row: inserts in one transaction, inserts each committed on its own,
// scans in natural and primary-index order, lookups by primary key at
// random, and an update of one non-key column over the whole table. Every
// figure is records (or lookups) per second.
//
// Two row shapes:
//   narrow  an id, a date and six numbers, all integers; no declared primary
//           key (Tabula's primary index is then RecordID, SQLite's the rowid)
//   keno    id INTEGER primary key, a timestamp and 20 SMALLINT numbers
//
// Reads run as a statement of the SQL engine would run them: the table is
// held for reading for the length of the statement (TTableReadHold), so the
// scan takes no lock and reads no header per row.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"

using namespace downsql::storage;

namespace {

constexpr int64_t kRows = 1000000;
// Each committed insert waits for the disk (a flush of the journal and of
// the table files; SQLite's synchronous=full likewise), so fewer of them.
constexpr int64_t kCommittedRows = 2000;
constexpr int64_t kLookups = 200000;

enum Shape { kNarrow, kKeno };

const char* TableName(Shape shape) { return shape == kNarrow ? "draws" : "keno"; }

std::string ScratchDir(const std::string& name) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string() + "/";
}

// The values of row i (1-based), the same on both sides.
int64_t Id(int64_t i) { return i; }
int64_t Day(int64_t i) { return 730000 + i / 3; }
int64_t Number(int64_t i, int n, int range) { return (i * 7 + n * 11) % range + 1; }
double Stamp(int64_t i) { return 63000000000000.0 + double(i) * 240000.0; }

// ---- table cursor -------------------------------------------------------

TFieldDef Column(const std::string& name, uint8_t type) {
  TFieldDef def;
  def.name = name;
  def.type = type;
  return def;
}

std::shared_ptr<TDataTable> CreateTabula(const std::string& dir, Shape shape,
                                         const EngineSettings& settings) {
  TNewTableDefinition new_table;
  std::vector<TFieldDef>& fields = new_table.table.fields;
  if (shape == kNarrow) {
    fields.push_back(Column("id", kTypeInteger));
    fields.push_back(Column("date", kTypeDate));
    for (int n = 1; n <= 6; ++n) fields.push_back(Column("n" + std::to_string(n), kTypeInteger));
  } else {
    fields.push_back(Column("id", kTypeInteger));
    fields.push_back(Column("ts", kTypeTimestamp));
    for (int n = 1; n <= 20; ++n) fields.push_back(Column("z" + std::to_string(n), kTypeSmallInt));
    TIndexDefinition primary;
    primary.columns = {1};
    primary.descending_of = {0};
    primary.unique = true;
    new_table.primary = primary;
  }
  TDataTable::Create(dir, TableName(shape), settings, new_table);
  TTableOpenOptions options;
  options.directory = dir;
  options.name = TableName(shape);
  options.settings = &settings;
  return TDataTable::Open(options);
}

void FillTabula(Shape shape, const std::vector<TFieldDef>& f, int64_t i, TRecordBuffer& r) {
  r.SetInteger(f[0], Id(i));
  if (shape == kNarrow) {
    r.SetInteger(f[1], Day(i));
    for (int n = 0; n < 6; ++n) r.SetInteger(f[2 + n], Number(i, n, 49));
  } else {
    r.SetFloat(f[1], Stamp(i));
    for (int n = 0; n < 20; ++n) r.SetInteger(f[2 + n], Number(i, n, 80));
  }
}

void TabulaInsert(TDataTable& table, const std::shared_ptr<TDataTable>& shared, Shape shape,
                  int64_t rows, bool in_transaction) {
  TDataCursor cursor(shared, TSessionSettings{});
  const std::vector<TFieldDef>& f = cursor.fields();
  if (in_transaction) table.BeginTransaction();
  TRecordBuffer r = cursor.NewRecord();
  for (int64_t i = 1; i <= rows; ++i) {
    FillTabula(shape, f, i, r);
    cursor.Insert(r);
  }
  if (in_transaction) table.CommitTransaction(false);
}

// The sum of the ids and the last number of every row, read in the order of
// index slot (kNaturalOrder for natural order).
int64_t TabulaScan(const std::shared_ptr<TDataTable>& table, uint8_t slot) {
  TDataCursor cursor(table, TSessionSettings{});
  TTableReadHold hold(*table);
  const TFieldDef& id = cursor.fields()[0];
  const TFieldDef& last = cursor.fields().back();
  cursor.SetCurrentIndex(slot);
  int64_t sum = 0;
  while (cursor.Next()) {
    const TRecordBuffer& r = cursor.current();
    sum += r.GetInteger(id).value_or(0) + r.GetInteger(last).value_or(0);
  }
  return sum;
}

// Looks up random ids through the primary index (on id for keno, on
// RecordID for narrow, whose RecordIDs equal the ids).
int64_t TabulaLookups(const std::shared_ptr<TDataTable>& table, Shape shape, int64_t rows) {
  TDataCursor cursor(table, TSessionSettings{});
  TTableReadHold hold(*table);
  cursor.SetCurrentIndex(0);
  TRecordBuffer key = cursor.NewRecord();
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int64_t> pick(1, rows);
  const TFieldDef& id = cursor.fields()[0];
  int64_t sum = 0;
  for (int64_t k = 0; k < kLookups; ++k) {
    int64_t i = pick(random);
    if (shape == kNarrow) {
      key.set_record_id(static_cast<int32_t>(i));
    } else {
      key.SetInteger(id, i);
    }
    if (!cursor.FindKey(key)) throw std::runtime_error("key not found");
    sum += cursor.current().GetInteger(id).value_or(0);
  }
  return sum;
}

// Adds one to the last number of every row, in one transaction.
void TabulaUpdate(TDataTable& table, const std::shared_ptr<TDataTable>& shared) {
  TDataCursor cursor(shared, TSessionSettings{});
  const TFieldDef& last = cursor.fields().back();
  table.BeginTransaction();
  TRecordBuffer r(cursor.record_size());
  cursor.First();
  while (cursor.Next()) {
    r = cursor.current();
    r.SetInteger(last, r.GetInteger(last).value_or(0) + 1);
    cursor.Update(r);
  }
  table.CommitTransaction(false);
}

// ---- SQLite -------------------------------------------------------------

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    throw std::runtime_error(sqlite3_errmsg(db));
  }
}

void Exec(sqlite3* db, const std::string& sql) {
  Check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db);
}

// synchronous: "off" (writes through the system's cache, not safe against a
// power cut) or "full" (SQLite's default, safe).
sqlite3* OpenSqlite(const std::string& dir, Shape shape, const char* synchronous = "off") {
  sqlite3* db = nullptr;
  Check(sqlite3_open((dir + TableName(shape) + ".db").c_str(), &db), db);
  Exec(db, std::string("pragma synchronous=") + synchronous);
  std::string sql = std::string("create table ") + TableName(shape);
  if (shape == kNarrow) {
    sql += "(id integer, date integer";
    for (int n = 1; n <= 6; ++n) sql += ", n" + std::to_string(n) + " integer";
  } else {
    sql += "(id integer primary key, ts real";
    for (int n = 1; n <= 20; ++n) sql += ", z" + std::to_string(n) + " integer";
  }
  Exec(db, sql + ")");
  return db;
}

int ColumnCount(Shape shape) { return shape == kNarrow ? 8 : 22; }

void SqliteInsert(sqlite3* db, Shape shape, int64_t rows, bool in_transaction) {
  std::string sql = std::string("insert into ") + TableName(shape) + " values(?";
  for (int c = 1; c < ColumnCount(shape); ++c) sql += ",?";
  sql += ")";
  sqlite3_stmt* stmt = nullptr;
  if (in_transaction) Exec(db, "begin");
  Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), db);
  for (int64_t i = 1; i <= rows; ++i) {
    sqlite3_bind_int64(stmt, 1, Id(i));
    if (shape == kNarrow) {
      sqlite3_bind_int64(stmt, 2, Day(i));
      for (int n = 0; n < 6; ++n) sqlite3_bind_int64(stmt, 3 + n, Number(i, n, 49));
    } else {
      sqlite3_bind_double(stmt, 2, Stamp(i));
      for (int n = 0; n < 20; ++n) sqlite3_bind_int64(stmt, 3 + n, Number(i, n, 80));
    }
    Check(sqlite3_step(stmt), db);
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  if (in_transaction) Exec(db, "commit");
}

int64_t SqliteQuerySum(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), db);
  int last = sqlite3_column_count(stmt) - 1;
  int64_t sum = 0;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    sum += sqlite3_column_int64(stmt, 0) + sqlite3_column_int64(stmt, last);
  }
  sqlite3_finalize(stmt);
  return sum;
}

int64_t SqliteScan(sqlite3* db, Shape shape, bool by_key) {
  std::string sql = std::string("select * from ") + TableName(shape);
  if (by_key) sql += shape == kNarrow ? " order by rowid" : " order by id";
  return SqliteQuerySum(db, sql);
}

int64_t SqliteLookups(sqlite3* db, Shape shape, int64_t rows) {
  std::string sql = std::string("select * from ") + TableName(shape) +
                    (shape == kNarrow ? " where rowid=?" : " where id=?");
  sqlite3_stmt* stmt = nullptr;
  Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), db);
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int64_t> pick(1, rows);
  int64_t sum = 0;
  for (int64_t k = 0; k < kLookups; ++k) {
    sqlite3_bind_int64(stmt, 1, pick(random));
    if (sqlite3_step(stmt) != SQLITE_ROW) throw std::runtime_error("key not found");
    sum += sqlite3_column_int64(stmt, 0);
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  return sum;
}

void SqliteUpdate(sqlite3* db, Shape shape) {
  std::string column = shape == kNarrow ? "n6" : "z20";
  Exec(db, "begin");
  Exec(db, std::string("update ") + TableName(shape) + " set " + column + "=" + column + "+1");
  Exec(db, "commit");
}

// ---- benchmarks -----------------------------------------------------------

Shape ShapeOf(const benchmark::State& state) { return state.range(0) == 0 ? kNarrow : kKeno; }

// A filled table per engine and shape, made once and kept for the reading
// benchmarks.
struct Filled {
  std::string dir;
  EngineSettings settings;
  std::shared_ptr<TDataTable> table;
  sqlite3* db = nullptr;
};

Filled& FilledTable(Shape shape) {
  static Filled filled[2];
  Filled& f = filled[shape];
  if (!f.table) {
    f.dir = ScratchDir(std::string("downsql_bench_filled_") + TableName(shape));
    f.table = CreateTabula(f.dir, shape, f.settings);
    TabulaInsert(*f.table, f.table, shape, kRows, true);
    f.db = OpenSqlite(f.dir, shape);
    SqliteInsert(f.db, shape, kRows, true);
  }
  return f;
}

template <class Body>
void RunInserts(benchmark::State& state, const char* tag, Body body) {
  Shape shape = ShapeOf(state);
  for (auto _ : state) {
    state.PauseTiming();
    std::string dir = ScratchDir(std::string("downsql_bench_") + tag + TableName(shape));
    state.ResumeTiming();
    body(dir, shape);
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    state.ResumeTiming();
  }
}

void BM_TabulaInsertInTransaction(benchmark::State& state) {
  EngineSettings settings;
  std::shared_ptr<TDataTable> table;
  RunInserts(state, "tabula_tx_", [&](const std::string& dir, Shape shape) {
    state.PauseTiming();
    table = CreateTabula(dir, shape, settings);
    state.ResumeTiming();
    TabulaInsert(*table, table, shape, kRows, true);
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  });
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SqliteInsertInTransaction(benchmark::State& state) {
  RunInserts(state, "sqlite_tx_", [&](const std::string& dir, Shape shape) {
    state.PauseTiming();
    sqlite3* db = OpenSqlite(dir, shape);
    state.ResumeTiming();
    SqliteInsert(db, shape, kRows, true);
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  });
  state.SetItemsProcessed(state.iterations() * kRows);
}

constexpr char kSyncOff[] = "off";
constexpr char kSyncFull[] = "full";

void BM_TabulaInsertEachCommitted(benchmark::State& state) {
  EngineSettings settings;
  std::shared_ptr<TDataTable> table;
  RunInserts(state, "tabula_each_", [&](const std::string& dir, Shape shape) {
    state.PauseTiming();
    table = CreateTabula(dir, shape, settings);
    state.ResumeTiming();
    TabulaInsert(*table, table, shape, kCommittedRows, false);
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  });
  state.SetItemsProcessed(state.iterations() * kCommittedRows);
}

template <const char* kSynchronous>
void BM_SqliteInsertEachCommitted(benchmark::State& state) {
  RunInserts(state, "sqlite_each_", [&](const std::string& dir, Shape shape) {
    state.PauseTiming();
    sqlite3* db = OpenSqlite(dir, shape, kSynchronous);
    state.ResumeTiming();
    SqliteInsert(db, shape, kCommittedRows, false);
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  });
  state.SetItemsProcessed(state.iterations() * kCommittedRows);
}

void BM_TabulaScan(benchmark::State& state) {
  Filled& f = FilledTable(ShapeOf(state));
  for (auto _ : state) benchmark::DoNotOptimize(TabulaScan(f.table, kNaturalOrder));
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SqliteScan(benchmark::State& state) {
  Filled& f = FilledTable(ShapeOf(state));
  for (auto _ : state) benchmark::DoNotOptimize(SqliteScan(f.db, ShapeOf(state), false));
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_TabulaScanByKey(benchmark::State& state) {
  Filled& f = FilledTable(ShapeOf(state));
  for (auto _ : state) benchmark::DoNotOptimize(TabulaScan(f.table, 0));
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SqliteScanByKey(benchmark::State& state) {
  Filled& f = FilledTable(ShapeOf(state));
  for (auto _ : state) benchmark::DoNotOptimize(SqliteScan(f.db, ShapeOf(state), true));
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_TabulaFindKey(benchmark::State& state) {
  Filled& f = FilledTable(ShapeOf(state));
  for (auto _ : state) benchmark::DoNotOptimize(TabulaLookups(f.table, ShapeOf(state), kRows));
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void BM_SqliteFindKey(benchmark::State& state) {
  Filled& f = FilledTable(ShapeOf(state));
  for (auto _ : state) benchmark::DoNotOptimize(SqliteLookups(f.db, ShapeOf(state), kRows));
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void BM_TabulaUpdate(benchmark::State& state) {
  Filled& f = FilledTable(ShapeOf(state));
  for (auto _ : state) TabulaUpdate(*f.table, f.table);
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SqliteUpdate(benchmark::State& state) {
  Filled& f = FilledTable(ShapeOf(state));
  for (auto _ : state) SqliteUpdate(f.db, ShapeOf(state));
  state.SetItemsProcessed(state.iterations() * kRows);
}

// Arg 0: narrow rows, 1: keno rows.
void Shapes(benchmark::internal::Benchmark* b) {
  b->ArgName("keno")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_TabulaInsertInTransaction)->Apply(Shapes)->Iterations(1);
BENCHMARK(BM_SqliteInsertInTransaction)->Apply(Shapes)->Iterations(1);
// Real time: the flushes wait for the disk without using the processor.
BENCHMARK(BM_TabulaInsertEachCommitted)->Apply(Shapes)->Iterations(1)->UseRealTime();
BENCHMARK_TEMPLATE(BM_SqliteInsertEachCommitted, kSyncOff)
    ->Apply(Shapes)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_SqliteInsertEachCommitted, kSyncFull)
    ->Apply(Shapes)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(BM_TabulaScan)->Apply(Shapes);
BENCHMARK(BM_SqliteScan)->Apply(Shapes);
BENCHMARK(BM_TabulaScanByKey)->Apply(Shapes);
BENCHMARK(BM_SqliteScanByKey)->Apply(Shapes);
BENCHMARK(BM_TabulaFindKey)->Apply(Shapes);
BENCHMARK(BM_SqliteFindKey)->Apply(Shapes);
BENCHMARK(BM_TabulaUpdate)->Apply(Shapes)->Iterations(1);
BENCHMARK(BM_SqliteUpdate)->Apply(Shapes)->Iterations(1);

BENCHMARK_MAIN();
