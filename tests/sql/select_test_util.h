// A statement database over a temporary directory (result tables in
// memory), and a small driver that runs one SELECT and reads its result.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/sql/data_query.h"
#include "db/sql/record_values.h"
#include "db/sql/statement_database.h"
#include "db/storage/data_table.h"
#include "tests/platform/temp_dir.h"

namespace downsql::sql::testing {

class TestDatabase : public TStatementDatabase {
 public:
  TestDatabase() : dir_(temp_.path() + "/") {}

  const std::string& DatabaseName() const override { return name_; }
  const storage::EngineSettings& Settings() const override { return settings_; }
  uint32_t ProgressStep() const override { return 5; }
  bool TableExists(const std::string& name) override {
    return std::filesystem::exists(dir_ + name + ".dat");
  }
  std::unique_ptr<storage::TDataCursor> OpenTable(const std::string& name,
                                                  bool exclusive) override {
    return OpenIn(dir_, name, exclusive, false);
  }
  void CreateTable(const std::string& name,
                   const storage::TNewTableDefinition& definition) override {
    storage::TDataTable::Create(dir_, name, settings_, definition);
  }
  void DropTable(const std::string& name) override {
    storage::TDataTable::Delete(dir_, name, settings_);
  }
  void RenameTable(const std::string&, const std::string&) override {}
  bool TransactionActive() const override { return false; }
  void StartTransaction(const std::vector<std::string>&) override {}
  void CommitTransaction(bool, bool) override {}
  void RollbackTransaction() override {}
  std::unique_ptr<TResultTable> CreateResultTable(
      const storage::TNewTableDefinition& definition) override {
    const std::string name = "result" + std::to_string(++results_);
    const std::string mem_dir = dir_ + "mem/";
    storage::TDataTable::Create(mem_dir, name, settings_, definition, true);
    auto cursor = OpenIn(mem_dir, name, true, true);
    auto settings = &settings_;
    return std::make_unique<TResultTable>(std::move(cursor), [mem_dir, name, settings] {
      storage::TDataTable::Delete(mem_dir, name, *settings, true);
    });
  }

  const std::string& dir() const { return dir_; }
  storage::EngineSettings& settings() { return settings_; }

 private:
  std::unique_ptr<storage::TDataCursor> OpenIn(const std::string& dir, const std::string& name,
                                               bool exclusive, bool in_memory) {
    storage::TTableOpenOptions options;
    options.directory = dir;
    options.name = name;
    options.settings = &settings_;
    options.exclusive = exclusive;
    options.in_memory = in_memory;
    storage::TSessionSettings session;
    session.lock_retry_count = 1;
    session.lock_wait_time = 1;
    return std::make_unique<storage::TDataCursor>(storage::TDataTable::Open(options), session);
  }

  platform::TempDir temp_;
  std::string dir_;
  std::string name_ = "test";
  storage::EngineSettings settings_;
  int results_ = 0;
};

// One executed SELECT: its column names and rows (the columns its cursor
// does not hide), and whether it was live.
struct SelectResult {
  bool live = false;
  std::vector<std::string> names;
  std::vector<storage::TFieldDef> columns;
  std::vector<std::vector<TValue>> rows;
  uint32_t rows_affected = 0;
};

struct SelectOptions {
  std::function<void(uint16_t, bool&)> progress;
  int32_t max_row_count = -1;
  size_t memory_groups = kMemoryGroups;
  std::vector<TValue> parameters;
  std::vector<std::string>* plan = nullptr;
  bool request_live = false;
  // When set, receives the result table, which outlives the query.
  std::unique_ptr<TResultTable>* keep = nullptr;
};

inline SelectResult RunSelect(TestDatabase& db, const std::string& sql,
                              const SelectOptions& options = {}) {
  TExpressionParser parser;
  TExpressionVerifier verifier;
  parser.Load(sql, 1, 1);
  parser.NextToken();
  parser.MarkStatementStart();
  parser.MarkKeywordsStart();
  bool parenthesised = parser.AcceptKind('(');
  parser.RequireKeyword("SELECT");
  parser.SetContextFromKeywords();
  verifier.set_context(parser.context());
  TDataQuery query(db, parser, verifier);
  query.Parse(parenthesised);
  parser.AcceptKind(';');
  parser.ExpectKind(kTokEnd, "end of statement");
  query.Prepare(options.request_live);
  TQueryRun run;
  run.progress = options.progress;
  run.max_row_count = options.max_row_count;
  run.memory_groups = options.memory_groups;
  run.parameters = &options.parameters;
  run.plan = options.plan;
  run.plan_wanted = options.plan != nullptr;
  SelectResult out;
  auto result = query.Execute(run, &out.rows_affected);
  out.live = query.live();
  storage::TDataCursor& c = result->cursor();
  const std::vector<bool>& hidden = c.hidden_columns();
  auto shown = [&](size_t i) { return i >= hidden.size() || !hidden[i]; };
  for (size_t i = 0; i < c.fields().size(); ++i) {
    if (!shown(i)) continue;
    out.columns.push_back(c.fields()[i]);
    out.names.push_back(c.fields()[i].name);
  }
  c.First();
  while (c.Next()) {
    std::vector<TValue> row;
    for (size_t i = 0; i < c.fields().size(); ++i) {
      if (!shown(i)) continue;
      const storage::TFieldDef& f = c.fields()[i];
      if (f.IsBlob()) {
        const auto bytes = c.ReadBlob(f);
        TValue v = TValue::String(std::string(bytes.begin(), bytes.end()));
        v.type = storage::kTypeBlob;
        row.push_back(v);
      } else {
        row.push_back(ReadColumnValue(c.current(), f));
      }
    }
    out.rows.push_back(std::move(row));
  }
  if (options.keep != nullptr) *options.keep = std::move(result);
  return out;
}

// Runs a statement's text through the engine's cursor API: a table with
// the given columns, filled from rows of values.
inline void MakeTable(TestDatabase& db, const std::string& name,
                      std::vector<storage::TFieldDef> columns,
                      const std::vector<std::vector<TValue>>& rows,
                      std::vector<storage::TIndexDefinition> indexes = {}) {
  storage::TNewTableDefinition def;
  def.table.fields = std::move(columns);
  def.secondary = std::move(indexes);
  db.CreateTable(name, def);
  auto cursor = db.OpenTable(name, false);
  for (const auto& row : rows) {
    storage::TRecordBuffer record = cursor->NewRecord();
    for (size_t i = 0; i < row.size(); ++i) WriteColumnValue(record, cursor->fields()[i], row[i]);
    cursor->Insert(record);
  }
}

inline storage::TFieldDef Column(const char* name, uint8_t type, uint8_t subtype = 0,
                                 uint16_t size = 0) {
  storage::TFieldDef def;
  def.name = name;
  def.type = type;
  def.subtype = subtype;
  def.size = size;
  return def;
}

}  // namespace downsql::sql::testing
