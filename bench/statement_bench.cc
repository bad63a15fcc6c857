// An import script: many single-row INSERT ... VALUES statements inside one
// transaction, each prepared and executed on its own through TQueryStatement,
// beside SQLite preparing and stepping the same statement texts one by one.
// What the import of draws costs per statement (lexer, parser, verifier,
// binding and the row) decides this figure, not only the row.
//
// The table is keno-like: an id (primary key), a timestamp and 20 SMALLINTs.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/access/data_directory.h"
#include "db/access/data_engine.h"
#include "db/access/data_session.h"
#include "db/access/directory_statement_database.h"
#include "db/access/directory_table.h"
#include "db/sql/query_statement.h"

using namespace downsql;

namespace {

constexpr int kNumbers = 20;

std::string ScratchDir(const char* name) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string() + "/";
}

std::string CreateText() {
  std::string s = "CREATE TABLE keno (id INTEGER PRIMARY KEY, at TIMESTAMP";
  for (int n = 1; n <= kNumbers; ++n) s += ", n" + std::to_string(n) + " SMALLINT";
  return s + ")";
}

// The statement texts as the results service sends them.
std::vector<std::string> InsertTexts(int64_t rows) {
  std::string columns = "id, at";
  for (int n = 1; n <= kNumbers; ++n) columns += ", n" + std::to_string(n);
  std::vector<std::string> texts;
  texts.reserve(size_t(rows));
  for (int64_t i = 0; i < rows; ++i) {
    std::string s = "INSERT INTO keno (" + columns + ") VALUES (" + std::to_string(i + 1) +
                    ", '2024-" + std::to_string(1 + i % 12) + "-" + std::to_string(1 + i % 28) +
                    " 21:" + std::to_string(10 + i % 50) + ":00'";
    for (int n = 0; n < kNumbers; ++n) s += ", " + std::to_string((i * 7 + n * 11) % 80 + 1);
    texts.push_back(s + ");");
  }
  return texts;
}

void BM_TabulaInsertStatements(benchmark::State& state) {
  const std::vector<std::string> texts = InsertTexts(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    const std::string dir = ScratchDir("downsql_bench_statements");
    {
      access::TDataEngine engine;
      access::InstallTableOpener(engine);
      engine.Start();
      access::TDataSession& session = engine.CreateSession("bench");
      access::TDataDirectory& directory = session.OpenDirectory("bench", dir, false);
      access::TDirectoryStatementDatabase database(directory);
      sql::TQueryStatement statement(database);
      statement.Prepare(CreateText());
      statement.Execute();
      state.ResumeTiming();

      statement.Prepare("START TRANSACTION;");
      statement.Execute();
      for (const std::string& text : texts) {
        statement.Prepare(text);
        statement.Execute();
      }
      statement.Prepare("COMMIT;");
      statement.Execute();

      state.PauseTiming();
    }
    std::filesystem::remove_all(dir);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
}

void Run(sqlite3* db, const std::string& text) {
  sqlite3_stmt* stmt = nullptr;
  Check(sqlite3_prepare_v2(db, text.c_str(), int(text.size()), &stmt, nullptr), db);
  const int rc = sqlite3_step(stmt);
  sqlite3_finalize(stmt);
  Check(rc, db);
}

void BM_SqliteInsertStatements(benchmark::State& state) {
  const std::vector<std::string> texts = InsertTexts(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    const std::string dir = ScratchDir("downsql_bench_statements_sqlite");
    sqlite3* db = nullptr;
    Check(sqlite3_open((dir + "keno.db").c_str(), &db), db);
    std::string create = CreateText();
    // SQLite keeps a timestamp as text; the other columns alike.
    Run(db, create);
    state.ResumeTiming();

    Run(db, "begin");
    for (const std::string& text : texts) Run(db, text);
    Run(db, "commit");

    state.PauseTiming();
    sqlite3_close(db);
    std::filesystem::remove_all(dir);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_TabulaInsertStatements)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SqliteInsertStatements)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
