// SQL scripts prepared and executed statement by statement against a small
// in-memory database of three tables: any statement either runs or raises
// the engine's own error; nothing else may escape, nothing may crash or read
// out of bounds, and afterwards every table still passes the structural
// check of its files.
//
// The input is cut into statements as the query component cuts a script.
// Two limits keep one input short: a statement may open at most four tables
// (so a join holds at most four sources), and the script stops once a table
// holds more than 40 rows. Progress is asked for and aborts a statement now
// and then, so the rollback paths run too. Every table a script creates is
// dropped at the end, so each input starts from the same database.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "db/access/data_directory.h"
#include "db/access/data_engine.h"
#include "db/access/data_session.h"
#include "db/access/directory_statement_database.h"
#include "db/access/directory_table.h"
#include "db/access/script_cutter.h"
#include "db/sql/query_statement.h"
#include "db/sql/statement_kinds.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"
#include "db/storage/table_verifier.h"

namespace {

using namespace downsql;
using namespace downsql::sql;

constexpr int kMaxOpensPerStatement = 4;
constexpr uint32_t kMaxRows = 40;
constexpr int kMaxStatements = 24;

const char* const kSetup[] = {
    ("CREATE TABLE a (id AUTOINC, k INTEGER, s VARCHAR(10), d DATE, f FLOAT, m MEMO, "
     "PRIMARY KEY (id))"),
    "CREATE INDEX byk ON a (k)",
    "CREATE NOCASE INDEX bys ON a (s DESC, k)",
    "CREATE TABLE b (k INTEGER NOT NULL, v SMALLINT DEFAULT 7, t TIMESTAMP, ok BOOLEAN)",
    "CREATE UNIQUE INDEX bykv ON b (k, v)",
    "CREATE TABLE c (n LARGEINT, w WORD, g GUID, x DECIMAL(8,2), y BYTES(4))",
    "INSERT INTO a (k, s, d, f, m) VALUES (1, 'one', '2009-03-14', 1.5, 'memo')",
    "INSERT INTO a (k, s, d, f) VALUES (2, 'Two', '2010-01-02', -2.25)",
    "INSERT INTO a (k, s) VALUES (2, 'two')",
    "INSERT INTO a (k) VALUES (NULL)",
    "INSERT INTO b VALUES (1, 1, '2009-03-14 13:05:07', TRUE)",
    "INSERT INTO b VALUES (2, 5, NULL, FALSE)",
    "INSERT INTO b (k) VALUES (3)",
    "INSERT INTO c VALUES (9000000000, 65535, NULL, 12.5, NULL)",
};

// The directory's statement database, with a limit on the tables one
// statement opens and a record of every table name a statement creates.
class TFuzzDatabase : public TStatementDatabase {
 public:
  explicit TFuzzDatabase(access::TDirectoryStatementDatabase& inner) : inner_(inner) {}

  void NewStatement() { opens_ = 0; }
  const std::set<std::string>& created() const { return created_; }

  const std::string& DatabaseName() const override { return inner_.DatabaseName(); }
  const storage::EngineSettings& Settings() const override { return inner_.Settings(); }
  uint32_t ProgressStep() const override { return inner_.ProgressStep(); }
  bool TableExists(const std::string& name) override { return inner_.TableExists(name); }
  std::unique_ptr<storage::TDataCursor> OpenTable(const std::string& name,
                                                  bool exclusive) override {
    if (++opens_ > kMaxOpensPerStatement) ExecutionError("too many tables for the fuzz target");
    return inner_.OpenTable(name, exclusive);
  }
  bool ReopenTable(storage::TDataCursor& cursor, const std::string& name, bool exclusive) override {
    if (++opens_ > kMaxOpensPerStatement) ExecutionError("too many tables for the fuzz target");
    return inner_.ReopenTable(cursor, name, exclusive);
  }
  void CreateTable(const std::string& name,
                   const storage::TNewTableDefinition& definition) override {
    created_.insert(name);
    inner_.CreateTable(name, definition);
  }
  void DropTable(const std::string& name) override { inner_.DropTable(name); }
  void RenameTable(const std::string& from, const std::string& to) override {
    created_.insert(to);
    inner_.RenameTable(from, to);
  }
  bool TransactionActive() const override { return inner_.TransactionActive(); }
  void StartTransaction(const std::vector<std::string>& tables) override {
    inner_.StartTransaction(tables);
  }
  void CommitTransaction(bool flush, bool end) override { inner_.CommitTransaction(flush, end); }
  void RollbackTransaction() override { inner_.RollbackTransaction(); }
  std::unique_ptr<TResultTable> CreateResultTable(
      const storage::TNewTableDefinition& definition) override {
    return inner_.CreateResultTable(definition);
  }
  std::optional<int64_t> LastIdentity() const override { return inner_.LastIdentity(); }
  void SetLastIdentity(int64_t value) override { inner_.SetLastIdentity(value); }

 private:
  access::TDirectoryStatementDatabase& inner_;
  int opens_ = 0;
  std::set<std::string> created_;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "sql_script_fuzz: %s\n", what.c_str());
  std::abort();
}

// Runs one statement through the script's statement handle (as the query
// component does, so statements that begin alike are read on from where
// they differ); only the engine's errors are allowed.
void Run(TFuzzDatabase& db, TQueryStatement& statement, std::string_view text, uint32_t line,
         uint32_t column, bool abort_halfway) {
  db.NewStatement();
  try {
    // Half the statements ask for a live result.
    statement.SetRequestLive((column & 1) != 0);
    statement.Prepare(text, line, column);
    statement.callbacks.progress = [abort_halfway](uint16_t percent, bool& abort) {
      if (percent > 100) Fail("progress above 100");
      abort = abort_halfway && percent >= 50;
    };
    TExecuteOptions options;
    options.progress = true;
    options.plan = (line & 1) != 0;
    const std::vector<TValue> parameters = {TValue::String("2"), TValue::Integer(3),
                                            TValue::String("2009-03-14")};
    auto result = statement.Execute(parameters, options);
    if (result) {
      storage::TDataCursor& c = result->cursor();
      c.First();
      for (int n = 0; n < 100 && c.Next(); ++n) {
      }
    }
  } catch (const storage::ETabulaEngineError&) {
    // The engine's own error is the one allowed outcome besides success.
  }
}

uint32_t RecordCount(access::TDataDirectory& directory, const std::string& table) {
  try {
    return access::OpenTableCursor(directory, table)->RecordCount();
  } catch (const storage::ETabulaEngineError&) {
    return 0;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view script(reinterpret_cast<const char*>(data), size);
  access::TDataEngine engine;
  access::InstallTableOpener(engine);
  engine.Start();
  access::TDataSession& session = engine.CreateSession("fuzz");
  access::TDataDirectory& directory = session.OpenDirectory("Memory", "", false);
  access::TDirectoryStatementDatabase inner(directory);
  TFuzzDatabase db(inner);
  std::set<std::string> tables = {"a", "b", "c"};
  for (const char* sql : kSetup) {
    db.NewStatement();
    TQueryStatement statement(db);
    try {
      statement.Prepare(sql);
      statement.Execute({});
    } catch (const storage::ETabulaEngineError& e) {
      Fail(std::string("setup failed: ") + e.what());
    }
  }

  {
    access::TScriptCutter cutter;
    TQueryStatement statement(db);
    for (int n = 0; n < kMaxStatements && !cutter.AtEnd(script); ++n) {
      const std::string text = cutter.Cut(script);
      if (access::IsEmptyStatement(text)) continue;
      Run(db, statement, text, cutter.start_line(), cutter.start_column(), (n % 4) == 3);
      bool full = false;
      for (const std::string& t : tables) full |= RecordCount(directory, t) > kMaxRows;
      if (full) break;
    }
  }
  if (db.TransactionActive()) {
    try {
      db.RollbackTransaction();
    } catch (const storage::ETabulaEngineError&) {
    }
  }

  tables.insert(db.created().begin(), db.created().end());
  directory.CloseUnusedTables();
  for (const std::string& t : tables) {
    if (!inner.TableExists(t)) continue;
    try {
      auto cursor = access::OpenTableCursor(directory, t);
      const storage::TVerifyReport report = storage::TTableVerifier(cursor->table()).Run();
      if (!report.findings.empty()) Fail("table " + t + ": " + report.findings.front().text);
    } catch (const storage::ETabulaEngineError& e) {
      Fail("table " + t + " cannot be checked: " + e.what());
    }
    directory.CloseUnusedTables();
    try {
      inner.DropTable(t);
    } catch (const storage::ETabulaEngineError& e) {
      Fail("table " + t + " cannot be dropped: " + e.what());
    }
  }
  return 0;
}
