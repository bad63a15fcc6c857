// The statements that make, remove and rename tables and indexes: CREATE
// TABLE, DROP TABLE, RENAME TABLE, EMPTY TABLE, CREATE INDEX, DROP INDEX.
// They run on the storage engine; they count no rows and report no
// progress.
#include <memory>
#include <string>
#include <vector>

#include "db/sql/row_change.h"
#include "db/sql/statement_kinds.h"
#include "db/sql/table_definition_grammar.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"
#include "platform/locale.h"

namespace downsql::sql {

using namespace storage;

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && platform::SameTextNoCase(a, b);
}

// Whether table has a secondary index called name (in any letter case).
bool HasSecondaryIndex(TDataTable& table, std::string_view name) {
  for (const TTableIndex& index : table.indexes())
    if (index.slot != 0 && SameName(index.name, name)) return true;
  return false;
}

bool AcceptIfExists(TExpressionParser& p) {
  if (!p.AcceptKeyword("IF")) return false;
  p.RequireKeyword("EXISTS");
  return true;
}

bool AcceptIfNotExists(TExpressionParser& p) {
  if (!p.AcceptKeyword("IF")) return false;
  p.RequireKeyword("NOT");
  p.RequireKeyword("EXISTS");
  return true;
}

// Fills the key columns of def from keys; an unknown name is the Expected
// error at its place.
void ResolveKeys(TExpressionParser& p, const std::vector<TFieldDef>& fields,
                 const std::vector<TKeyColumn>& keys, TIndexDefinition& def) {
  for (const TKeyColumn& k : keys) {
    const TFieldDef* f = FindField(fields, k.name);
    if (f == nullptr) {
      if (SameName(k.name, kRecordIdName)) {
        f = &RecordIdField();
      } else {
        p.Error("Expected column name but instead found " + k.name + " in " + p.context(), k.line,
                k.column);
      }
    }
    def.columns.push_back(int16_t(f->number));
    def.descending_of.push_back(k.descending ? 1 : 0);
    if (k.descending) def.descending = true;
  }
}

class TCreateTableStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    if_not_exists_ = AcceptIfNotExists(p);
    name_ = ParseTableName(p);
    p.RequireChar('(');
    std::vector<TKeyColumn> primary;
    uint8_t primary_compression = 0;
    bool primary_no_key_statistics = false;
    std::vector<std::pair<std::string, uint32_t>> unique_columns;
    do {
      if (p.IsKeyword("CONSTRAINT") || p.IsKeyword("PRIMARY")) {
        TPrimaryKeyClause clause = ParsePrimaryKey(p);
        if (!primary.empty())
          p.Error("A primary key is already defined", clause.line, clause.column);
        primary = std::move(clause.keys);
        primary_compression = clause.compression;
        primary_no_key_statistics = clause.no_key_statistics;
        continue;
      }
      if (!p.IsIdentifier()) p.ExpectedError("column name");
      const uint32_t line = p.line(), column = p.column();
      std::string name = p.TokenValue();
      p.NextToken();
      TColumnDefinition c = ParseColumnDefinition(env, std::move(name), line, column);
      const uint32_t number = uint32_t(def_.table.fields.size() + 1);
      if (c.primary_key) {
        if (!primary.empty()) p.Error("A primary key is already defined", line, column);
        primary.push_back({c.field.name, false, line, column});
      }
      if (c.unique) unique_columns.emplace_back(c.field.name, number);
      def_.table.fields.push_back(std::move(c.field));
    } while (p.AcceptKind(','));
    p.RequireChar(')');
    TTableOptions options;
    while (ParseTableOption(p, options)) {
    }
    options.ApplyTo(def_.table);

    std::vector<TFieldDef>& fields = def_.table.fields;
    for (size_t i = 0; i < fields.size(); ++i) fields[i].number = int(i + 1);
    if (!primary.empty()) {
      TIndexDefinition index;
      index.unique = true;
      index.compression = primary_compression;
      index.no_key_statistics = primary_no_key_statistics;
      ResolveKeys(p, fields, primary, index);
      def_.primary = std::move(index);
    }
    for (const auto& [column, number] : unique_columns) {
      TIndexDefinition index;
      index.name = column;
      index.unique = true;
      index.columns.push_back(int16_t(number));
      index.descending_of.push_back(0);
      def_.secondary.push_back(std::move(index));
    }
    def_.table.secondary_indexes = int(def_.secondary.size());
  }

  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    if (if_not_exists_ && env.database.TableExists(name_)) return nullptr;
    env.database.CreateTable(name_, def_);
    return nullptr;
  }

  const std::string& TableName() const override { return name_; }

 private:
  std::string name_;
  bool if_not_exists_ = false;
  TNewTableDefinition def_;
};

// A statement on one existing table: "[IF EXISTS] table" and what
// PrepareRest reads after it. With IF EXISTS and no such table it does
// nothing; otherwise Run does the work.
class TExistingTableStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    if_exists_ = AcceptIfExists(env.parser);
    name_ = ParseTableName(env.parser);
    PrepareRest(env.parser);
  }
  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    if (if_exists_ && !env.database.TableExists(name_)) return nullptr;
    Run(env);
    return nullptr;
  }
  const std::string& TableName() const override { return name_; }

 protected:
  virtual void PrepareRest(TExpressionParser&) {}
  virtual void Run(TStatementEnv& env) = 0;

  std::string name_;
  bool if_exists_ = false;
};

class TDropTableStatement : public TExistingTableStatement {
  void Run(TStatementEnv& env) override { env.database.DropTable(name_); }
};

class TRenameTableStatement : public TExistingTableStatement {
  void PrepareRest(TExpressionParser& p) override {
    p.RequireKeyword("TO");
    new_name_ = ParseTableName(p);
  }
  void Run(TStatementEnv& env) override { env.database.RenameTable(name_, new_name_); }

  std::string new_name_;
};

class TEmptyTableStatement : public TExistingTableStatement {
  void Run(TStatementEnv& env) override { env.database.OpenTable(name_, true)->table().Empty(); }
};

class TCreateIndexStatement : public TStatementBody {
 public:
  TCreateIndexStatement(bool unique, bool nocase) {
    def_.unique = unique;
    def_.case_insensitive = nocase;
  }
  void Prepare(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    if_not_exists_ = AcceptIfNotExists(p);
    if (!p.IsIdentifier()) p.ExpectedError("index name");
    def_.name = p.TokenValue();
    p.NextToken();
    p.RequireKeyword("ON");
    name_ = ParseTableName(p);
    keys_ = ParseKeyColumns(p);
    if (p.AcceptKeyword("COMPRESS")) def_.compression = ParseIndexCompression(p);
    context_ = p.context();
  }
  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    std::unique_ptr<TDataCursor> cursor = env.database.OpenTable(name_, true);
    TDataTable& table = cursor->table();
    if (if_not_exists_ && HasSecondaryIndex(table, def_.name)) return nullptr;
    TIndexDefinition def = def_;
    for (const TKeyColumn& k : keys_) {
      const TFieldDef* f = FindField(cursor->fields(), k.name);
      if (f == nullptr) throw ETabulaEngineError(kErrInvalidIndexField, {k.name, def_.name, name_});
      def.columns.push_back(int16_t(f->number));
      def.descending_of.push_back(k.descending ? 1 : 0);
      if (k.descending) def.descending = true;
    }
    table.AddIndex(def);
    return nullptr;
  }
  const std::string& TableName() const override { return name_; }

 private:
  std::string name_;
  bool if_not_exists_ = false;
  TIndexDefinition def_;
  std::vector<TKeyColumn> keys_;
  std::string context_;
};

class TDropIndexStatement : public TExistingTableStatement {
  void PrepareRest(TExpressionParser& p) override {
    if (p.AcceptKind('.')) {
      if (!p.IsIdentifier()) p.ExpectedError("index name");
      index_ = p.TokenValue();
      p.NextToken();
    }
  }
  void Run(TStatementEnv& env) override {
    std::unique_ptr<TDataCursor> cursor = env.database.OpenTable(name_, true);
    TDataTable& table = cursor->table();
    if (index_.empty()) {
      // Without an index name: every secondary index.
      std::vector<std::string> names;
      for (const TTableIndex& index : table.indexes())
        if (index.slot != 0) names.push_back(index.name);
      for (const std::string& n : names) table.DropIndex(n);
      return;
    }
    if (if_exists_ && !HasSecondaryIndex(table, index_)) return;
    table.DropIndex(index_);
  }

  std::string index_;
};

}  // namespace

std::unique_ptr<TStatementBody> NewCreateTableStatement() {
  return std::make_unique<TCreateTableStatement>();
}
std::unique_ptr<TStatementBody> NewDropTableStatement() {
  return std::make_unique<TDropTableStatement>();
}
std::unique_ptr<TStatementBody> NewRenameTableStatement() {
  return std::make_unique<TRenameTableStatement>();
}
std::unique_ptr<TStatementBody> NewEmptyTableStatement() {
  return std::make_unique<TEmptyTableStatement>();
}
std::unique_ptr<TStatementBody> NewCreateIndexStatement(bool unique, bool nocase) {
  return std::make_unique<TCreateIndexStatement>(unique, nocase);
}
std::unique_ptr<TStatementBody> NewDropIndexStatement() {
  return std::make_unique<TDropIndexStatement>();
}

}  // namespace downsql::sql
