// The statements that make, remove and rename tables and indexes: CREATE
// TABLE, DROP TABLE, RENAME TABLE, EMPTY TABLE, CREATE INDEX, DROP INDEX.
// They run on the storage engine; they count no rows and report no
// progress.
#include <memory>
#include <string>
#include <vector>

#include "db/sql/row_change.h"
#include "db/sql/statement_kinds.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"
#include "platform/locale.h"

namespace downsql::sql {

using namespace storage;

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && platform::SameTextNoCase(a, b);
}

// Index compression levels by name.
struct TCompressionName {
  const char* name;
  uint8_t level;
};
constexpr TCompressionName kIndexCompression[] = {
    {"NONE", 0}, {"DUPBYTE", 1}, {"TRAILBYTE", 2}, {"FULL", 3}};

uint8_t ParseIndexCompression(TExpressionParser& p) {
  for (const TCompressionName& c : kIndexCompression) {
    if (p.AcceptKeyword(c.name)) return c.level;
  }
  p.ExpectedError("FULL, DUPBYTE, TRAILBYTE, or NONE");
}

uint32_t ParseInteger(TExpressionParser& p) {
  p.ExpectKind(kTokInteger, "Integer");
  const std::string digits = p.TokenText();
  p.NextToken();
  return digits.size() > 9 ? 999999999u : uint32_t(std::stoul(digits));
}

std::string ParseString(TExpressionParser& p, std::string_view what) {
  p.ExpectKind(kTokString, what);
  std::string s = p.TokenValue();
  p.NextToken();
  return s;
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

// The key columns of an index: names with ASC, ASCENDING, DESC or
// DESCENDING. Resolved against the table's columns later.
struct TKeyColumn {
  std::string name;
  bool descending = false;
  uint32_t line = 0;
  uint32_t column = 0;
};

std::vector<TKeyColumn> ParseKeyColumns(TExpressionParser& p) {
  std::vector<TKeyColumn> keys;
  p.RequireChar('(');
  do {
    if (!p.IsIdentifier()) p.ExpectedError("column name");
    TKeyColumn k;
    k.line = p.line();
    k.column = p.column();
    k.name = p.TokenValue();
    p.NextToken();
    if (p.AcceptKeyword("DESC") || p.AcceptKeyword("DESCENDING")) {
      k.descending = true;
    } else if (!p.AcceptKeyword("ASC")) {
      p.AcceptKeyword("ASCENDING");
    }
    keys.push_back(std::move(k));
  } while (p.AcceptKind(','));
  p.RequireChar(')');
  return keys;
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

// The text a DEFAULT, MIN or MAX expression is stored as: a constant's
// text, or the name of CURRENT_DATE, CURRENT_TIME, CURRENT_TIMESTAMP or
// CURRENT_GUID.
std::string ConstraintText(TStatementEnv& env, std::string_view what) {
  TExpressionParser& p = env.parser;
  p.Mark();
  std::unique_ptr<TExpToken> node = p.ParseExpression(0);
  if (node->kind == kNodeConstant && node->param_index < 0) {
    if (node->value.type == kTypeBoolean) return node->value.i ? "TRUE" : "FALSE";
    return ValueText(node->value);
  }
  if (node->kind == kNodeFunction &&
      (node->code == kFnCurrentDate || node->code == kFnCurrentTime ||
       node->code == kFnCurrentTimestamp || node->code == kFnCurrentGuid))
    return FunctionName(node->code);
  if (node->kind == kNodeUnary && node->code == kOpNegate && node->left &&
      node->left->kind == kNodeConstant)
    return "-" + ValueText(node->left->value);
  p.MarkedExpectedError(what);
}

class TCreateTableStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    if_not_exists_ = AcceptIfNotExists(p);
    name_ = ParseTableName(p);
    p.RequireChar('(');
    std::vector<TKeyColumn> primary;
    std::vector<std::pair<std::string, uint32_t>> unique_columns;
    do {
      if (p.IsKeyword("CONSTRAINT") || p.IsKeyword("PRIMARY")) {
        ParsePrimaryConstraint(p, primary);
        continue;
      }
      ParseColumn(env, primary, unique_columns);
    } while (p.AcceptKind(','));
    p.RequireChar(')');
    ParseTableOptions(p);

    std::vector<TFieldDef>& fields = def_.table.fields;
    for (size_t i = 0; i < fields.size(); ++i) fields[i].number = int(i + 1);
    if (!primary.empty()) {
      TIndexDefinition index;
      index.unique = true;
      index.compression = primary_compression_;
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
  void ParsePrimaryConstraint(TExpressionParser& p, std::vector<TKeyColumn>& primary) {
    if (p.AcceptKeyword("CONSTRAINT")) {
      if (!p.IsIdentifier()) p.ExpectedError("constraint name");
      p.NextToken();
    }
    p.RequireKeyword("PRIMARY");
    p.RequireKeyword("KEY");
    if (!primary.empty()) p.Error("A primary key is already defined", p.line(), p.column());
    primary = ParseKeyColumns(p);
    for (;;) {
      if (p.AcceptKeyword("COMPRESS")) {
        primary_compression_ = ParseIndexCompression(p);
      } else if (p.AcceptKeyword("NOKEYSTATS")) {
        no_key_statistics_ = true;
      } else {
        break;
      }
    }
  }

  void ParseColumn(TStatementEnv& env, std::vector<TKeyColumn>& primary,
                   std::vector<std::pair<std::string, uint32_t>>& unique_columns) {
    TExpressionParser& p = env.parser;
    if (!p.IsIdentifier()) p.ExpectedError("column name");
    TFieldDef f;
    const uint32_t line = p.line(), column = p.column();
    f.name = p.TokenValue();
    p.NextToken();
    const TSqlDataType t = p.ParseDataType();
    f.type = t.type;
    f.subtype = t.subtype;
    // Declared sizes belong to strings and byte columns (GUID's is fixed).
    f.size = f.type == kTypeString || f.type == kTypeBytes || f.type == kTypeVarBytes
                 ? uint16_t(t.size)
                 : 0;
    f.scale = f.type == kTypeDecimal ? uint8_t(t.scale) : 0;
    const uint32_t number = uint32_t(def_.table.fields.size() + 1);
    for (;;) {
      if (p.AcceptKeyword("DESCRIPTION")) {
        f.description = ParseString(p, "description");
      } else if (p.AcceptKeyword("NULLABLE")) {
        f.required = false;
      } else if (p.AcceptKeyword("NOT")) {
        p.RequireKeyword("NULL");
        f.required = true;
      } else if (p.AcceptKeyword("PRIMARY")) {
        p.RequireKeyword("KEY");
        if (!primary.empty()) p.Error("A primary key is already defined", line, column);
        primary.push_back({f.name, false, line, column});
      } else if (p.AcceptKeyword("UNIQUE")) {
        unique_columns.emplace_back(f.name, number);
      } else if (p.AcceptKeyword("DEFAULT")) {
        f.default_value = ConstraintText(env, "default expression");
      } else if (p.AcceptKeyword("MIN") || p.AcceptKeyword("MINIMUM")) {
        f.min_value = ConstraintText(env, "minimum expression");
      } else if (p.AcceptKeyword("MAX") || p.AcceptKeyword("MAXIMUM")) {
        f.max_value = ConstraintText(env, "maximum expression");
      } else if (p.AcceptKeyword("CHARCASE")) {
        if (p.AcceptKeyword("UPPER")) {
          f.char_case = 2;
        } else if (p.AcceptKeyword("LOWER")) {
          f.char_case = 1;
        } else {
          p.RequireKeyword("NOCHANGE");
          f.char_case = 0;
        }
      } else if (p.AcceptKeyword("COMPRESS")) {
        f.compression = uint8_t(std::min<uint32_t>(ParseInteger(p), 255));
      } else {
        break;
      }
    }
    def_.table.fields.push_back(std::move(f));
  }

  void ParseTableOptions(TExpressionParser& p) {
    TTableDefinition& t = def_.table;
    for (;;) {
      if (p.AcceptKeyword("DESCRIPTION")) {
        t.description = ParseString(p, "description");
      } else if (p.AcceptKeyword("INDEX")) {
        p.RequireKeyword("PAGE");
        p.RequireKeyword("SIZE");
        t.index_page_size = ParseInteger(p);
      } else if (p.AcceptKeyword("BLOB")) {
        p.RequireKeyword("BLOCK");
        p.RequireKeyword("SIZE");
        t.blob_block_size = ParseInteger(p);
      } else if (p.AcceptKeyword("LOCALE")) {
        if (p.AcceptKeyword("CODE")) {
          p.ExpectKind(kTokInteger, "locale code");
          t.locale = ParseInteger(p);
        } else {
          p.ExpectKind(kTokString, "locale constant");
          const std::optional<uint32_t> locale = LocaleOfName(p.TokenValue());
          if (!locale) p.ExpectedError("locale constant");
          t.locale = *locale;
          p.NextToken();
        }
      } else if (p.AcceptKeyword("ENCRYPTED")) {
        p.RequireKeyword("WITH");
        t.encrypted = true;
        t.password = ParseString(p, "password");
      } else if (p.AcceptKeyword("USER")) {
        const bool major = p.AcceptKeyword("MAJOR");
        if (!major) p.RequireKeyword("MINOR");
        p.RequireKeyword("VERSION");
        (major ? t.user_major : t.user_minor) =
            uint16_t(std::min<uint32_t>(ParseInteger(p), 65535));
      } else if (p.AcceptKeyword("LAST")) {
        p.RequireKeyword("AUTOINC");
        t.last_autoinc = ParseInteger(p);
      } else if (p.AcceptKeyword("TEXT")) {
        p.RequireKeyword("INDEX");
        ParseTextIndexOptions(p);
      } else {
        break;
      }
    }
  }

  // TEXT INDEX [(columns)] with STOP WORDS, SPACE CHARS and INCLUDE CHARS:
  // kept with the statement; the word index itself is not built.
  void ParseTextIndexOptions(TExpressionParser& p) {
    if (p.IsKind('(')) text_columns_ = ParseKeyColumns(p);
    for (;;) {
      if (p.AcceptKeyword("STOP")) {
        p.RequireKeyword("WORDS");
        stop_words_ = ParseString(p, "stop words");
      } else if (p.AcceptKeyword("SPACE")) {
        p.RequireKeyword("CHARS");
        space_chars_ = ParseString(p, "space characters");
      } else if (p.AcceptKeyword("INCLUDE")) {
        p.RequireKeyword("CHARS");
        include_chars_ = ParseString(p, "include characters");
      } else {
        break;
      }
    }
  }

  std::string name_;
  bool if_not_exists_ = false;
  TNewTableDefinition def_;
  uint8_t primary_compression_ = 0;
  bool no_key_statistics_ = false;
  std::vector<TKeyColumn> text_columns_;
  std::string stop_words_;
  std::string space_chars_;
  std::string include_chars_;
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
