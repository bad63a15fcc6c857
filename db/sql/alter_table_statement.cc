// ALTER TABLE: changes the columns, the primary key, the indexes and the
// options of a table by writing it anew (storage::AlterTable).
//
//   ALTER TABLE [IF EXISTS] table item {[,] item} {table option | NOBACKUP}
//   item := ADD [COLUMN] name column definition [AT n]
//         | ADD primary key
//         | DROP [COLUMN] name
//         | DROP PRIMARY KEY | DROP CONSTRAINT name
//         | REDEFINE [COLUMN] name [new name] column definition [AT n]
//         | REDEFINE primary key
//
// (column definitions, primary keys and table options as in CREATE TABLE,
// table_definition_grammar.h). The items apply in order to the table's
// definition: ADD puts a new column at position n (1 = first; at the end
// without AT), REDEFINE gives a column a whole new definition (and name,
// when a plain word that is no data type follows the old name, or a quoted
// one) and moves it with AT. A column's PRIMARY KEY or UNIQUE option makes
// the primary key or a unique index named after the column, as in CREATE
// TABLE; ADD refuses what exists already, REDEFINE replaces it. Table
// options not given stay as they are.
//
// Every record is converted into the new layout with the conversion rules
// of INSERT. A value that cannot be kept (no conversion, a number out of the
// new type's range, a text or byte string longer than the new column) asks
// the statement's data-lost hook once: the caller may go on (such values
// become NULL, each one logged) or stop (the table stays exactly as it was).
// Indexes whose columns all remain are built again over their columns'
// new places; an index that loses a column, or whose column becomes a
// BLOB, is dropped and logged (the primary key then is RecordID again).
// The previous files are kept as backups unless NOBACKUP is given.
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/sql/maintenance_progress.h"
#include "db/sql/record_values.h"
#include "db/sql/row_change.h"
#include "db/sql/statement_kinds.h"
#include "db/sql/table_definition_grammar.h"
#include "db/storage/data_cursor.h"
#include "db/storage/engine_error.h"
#include "db/storage/table_rebuild.h"
#include "platform/locale.h"

namespace downsql::sql {

using namespace storage;

namespace {

constexpr char kPrimaryIndexName[] = "Primary";

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && platform::SameTextNoCase(a, b);
}

bool AcceptIfExists(TExpressionParser& p) {
  if (!p.AcceptKeyword("IF")) return false;
  p.RequireKeyword("EXISTS");
  return true;
}

// --- conversion ---------------------------------------------------------------

// The value of an old column as a statement value (BLOBs from their bytes).
TValue OldValue(const TRecordBuffer& in, const TFieldDef& from, const std::vector<uint8_t>* blob) {
  if (blob == nullptr) return ReadColumnValue(in, from);
  TValue v = TValue::String(std::string(blob->begin(), blob->end()), from.subtype);
  v.type = kTypeBlob;
  return v;
}

// Whether a text or byte string is held whole by column to.
bool HeldWhole(const std::string& s, const TFieldDef& to) {
  std::string_view kept(s);
  if (to.type == kTypeString) {
    if (to.subtype == kSubtypeWideChar) return kept.size() <= 2u * to.size;
    kept = kept.substr(0, kept.find('\0'));
    if (to.subtype != kSubtypeFixedChar)
      while (!kept.empty() && kept.back() == ' ') kept.remove_suffix(1);
    return kept.size() <= (to.subtype == kSubtypeGuid ? 38u : to.size);
  }
  while (!kept.empty() && kept.back() == '\0') kept.remove_suffix(1);
  return kept.size() <= to.size;
}

// Stores the value of old column from into new column to with the rules of
// INSERT; false when the value cannot be kept (the caller makes it NULL).
bool ConvertForAlter(const TRecordBuffer& in, const TFieldDef& from,
                     const std::vector<uint8_t>* blob_in, TRecordBuffer& out, const TFieldDef& to,
                     std::vector<uint8_t>* blob_out, uint32_t locale) {
  const TValue v = OldValue(in, from, blob_in);
  if (v.null) return true;
  try {
    if (to.IsBlob()) {
      const TValue bytes = v.type == kTypeBlob || IsTextType(v.type) || IsBytesType(v.type)
                               ? v
                               : ConvertValue(v, kTypeBlob, to.subtype);
      blob_out->assign(bytes.s.begin(), bytes.s.end());
      return true;
    }
    const TValue c = ConvertValue(v, to.type, to.subtype, 0, to.scale);
    switch (to.type) {
      case kTypeString:
      case kTypeBytes:
      case kTypeVarBytes:
        if (!HeldWhole(c.s, to)) return false;
        WriteColumnValue(out, to, c, locale);
        return true;
      case kTypeFloat:
      case kTypeTimestamp:
        WriteColumnValue(out, to, c, locale);
        return true;
      case kTypeDecimal:
        WriteColumnValue(out, to, c, locale);
        return !out.IsNull(to);  // beyond what the column can hold
      default: {
        // Whole numbers: kept when they read back as converted.
        if ((v.type == kTypeFloat || v.type == kTypeDecimal) &&
            !(std::fabs(std::round(v.f)) < 9.2e18))
          return false;
        WriteColumnValue(out, to, c, locale);
        return out.GetInteger(to) == c.i;
      }
    }
  } catch (const ETabulaEngineError& e) {
    if (e.code() != kErrSqlExecution) throw;
    return false;
  }
}

// --- the statement ------------------------------------------------------------

struct TAlterItem {
  enum TKind {
    kAddColumn,
    kDropColumn,
    kRedefineColumn,
    kAddPrimary,
    kRedefinePrimary,
    kDropPrimary,
  };
  TKind kind = kAddColumn;
  std::string name;  // the column named (DROP, REDEFINE)
  TColumnDefinition column;
  std::optional<uint32_t> at;
  TPrimaryKeyClause primary;
};

// A column of the definition being changed: where its values come from and
// an identity that index keys refer to while columns move.
struct TWorkColumn {
  TFieldDef field;
  int source = 0;  // the old column number, 0 for a new column
  int id = 0;
};

// The definition being changed; index key columns hold column identities
// (old columns keep their numbers as identities; RecordID stays -1).
class TWorkDefinition {
 public:
  TWorkDefinition(const TNewTableDefinition& old, std::string table)
      : def_(old), table_(std::move(table)) {
    for (size_t i = 0; i < old.table.fields.size(); ++i)
      columns_.push_back({old.table.fields[i], int(i + 1), int(i + 1)});
  }

  void Apply(const TAlterItem& item) {
    switch (item.kind) {
      case TAlterItem::kAddColumn: {
        if (Find(item.column.field.name) >= 0) InvalidName(item.column.field.name);
        TWorkColumn c{item.column.field, 0, next_id_++};
        columns_.insert(columns_.begin() + Position(item.at, columns_.size()), c);
        ColumnIndexes(item.column, c.id, false);
        break;
      }
      case TAlterItem::kDropColumn:
        columns_.erase(columns_.begin() + Existing(item.name));
        break;
      case TAlterItem::kRedefineColumn: {
        const int at = Existing(item.name);
        const int same = Find(item.column.field.name);
        if (same >= 0 && same != at) InvalidName(item.column.field.name);
        TWorkColumn c = columns_[size_t(at)];
        c.field = item.column.field;
        columns_.erase(columns_.begin() + at);
        const size_t to = item.at ? Position(item.at, columns_.size()) : size_t(at);
        columns_.insert(columns_.begin() + to, c);
        ColumnIndexes(item.column, c.id, true);
        break;
      }
      case TAlterItem::kAddPrimary:
        if (def_.primary) throw ETabulaEngineError(kErrPrimaryIndexExists, {table_});
        [[fallthrough]];
      case TAlterItem::kRedefinePrimary: {
        TIndexDefinition index;
        index.unique = true;
        index.compression = item.primary.compression;
        index.no_key_statistics = item.primary.no_key_statistics;
        for (const TKeyColumn& k : item.primary.keys) {
          int id = kRecordIdColumn;
          if (!SameName(k.name, kRecordIdName)) {
            const int at = Find(k.name);
            if (at < 0)
              throw ETabulaEngineError(kErrInvalidIndexField, {k.name, kPrimaryIndexName, table_});
            id = columns_[size_t(at)].id;
          }
          index.columns.push_back(int16_t(id));
          index.descending_of.push_back(k.descending ? 1 : 0);
          if (k.descending) index.descending = true;
        }
        def_.primary = std::move(index);
        break;
      }
      case TAlterItem::kDropPrimary:
        def_.primary.reset();
        break;
    }
  }

  // The new definition and the source of each new column; indexes that
  // cannot stay are dropped and logged.
  storage::TAlterPlan Plan(const TTableOptions& options,
                           const std::function<void(const std::string&)>& log) {
    storage::TAlterPlan plan;
    plan.definition = def_;
    TTableDefinition& t = plan.definition.table;
    t.fields.clear();
    for (size_t i = 0; i < columns_.size(); ++i) {
      t.fields.push_back(columns_[i].field);
      t.fields.back().number = int(i + 1);
      plan.source_column.push_back(columns_[i].source);
    }
    options.ApplyTo(t);
    auto keep = [&](TIndexDefinition& index, const std::string& name) {
      for (int16_t& column : index.columns) {
        if (column < 0) continue;
        size_t at = 0;
        while (at < columns_.size() && columns_[at].id != column) ++at;
        const char* why = at == columns_.size()         ? "' is dropped: a column of it is gone"
                          : columns_[at].field.IsBlob() ? "' is dropped: a column of it is a BLOB"
                                                        : nullptr;
        if (why != nullptr) {
          if (log) log("Index '" + name + why);
          return false;
        }
        column = int16_t(at + 1);
      }
      return true;
    };
    if (plan.definition.primary && !keep(*plan.definition.primary, kPrimaryIndexName))
      plan.definition.primary.reset();
    std::vector<TIndexDefinition> secondary;
    for (TIndexDefinition& index : plan.definition.secondary)
      if (keep(index, index.name)) secondary.push_back(std::move(index));
    plan.definition.secondary = std::move(secondary);
    t.secondary_indexes = int(plan.definition.secondary.size());
    return plan;
  }

 private:
  int Find(std::string_view name) const {
    for (size_t i = 0; i < columns_.size(); ++i)
      if (SameName(columns_[i].field.name, name)) return int(i);
    return -1;
  }
  int Existing(std::string_view name) const {
    const int at = Find(name);
    if (at < 0) InvalidName(name);
    return at;
  }
  [[noreturn]] void InvalidName(std::string_view name) const {
    throw ETabulaEngineError(kErrInvalidFieldName, {std::string(name), table_});
  }
  // AT n as a place among count columns (n from 1; beyond the end is the
  // end); none: the end.
  static size_t Position(const std::optional<uint32_t>& at, size_t count) {
    if (!at) return count;
    return std::min<size_t>(std::max<uint32_t>(*at, 1) - 1, count);
  }

  // The PRIMARY KEY and UNIQUE options of a column definition.
  void ColumnIndexes(const TColumnDefinition& c, int id, bool replace) {
    if (c.primary_key) {
      if (def_.primary && !replace) throw ETabulaEngineError(kErrPrimaryIndexExists, {table_});
      TIndexDefinition index;
      index.unique = true;
      index.columns = {int16_t(id)};
      index.descending_of = {0};
      def_.primary = std::move(index);
    }
    if (c.unique) {
      std::vector<TIndexDefinition>& list = def_.secondary;
      auto same = std::find_if(list.begin(), list.end(), [&](const TIndexDefinition& index) {
        return SameName(index.name, c.field.name);
      });
      if (same != list.end() && !replace)
        throw ETabulaEngineError(kErrIndexExists, {c.field.name, table_});
      TIndexDefinition index;
      index.name = c.field.name;
      index.unique = true;
      index.columns = {int16_t(id)};
      index.descending_of = {0};
      if (same != list.end()) {
        *same = std::move(index);
      } else {
        list.push_back(std::move(index));
      }
    }
  }

  TNewTableDefinition def_;
  std::string table_;
  std::vector<TWorkColumn> columns_;
  int next_id_ = 10000;  // above every old column number
};

class TAlterTableStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    if_exists_ = AcceptIfExists(p);
    name_ = ParseTableName(p);
    while (p.IsKeyword("ADD") || p.IsKeyword("DROP") || p.IsKeyword("REDEFINE")) {
      items_.push_back(ParseItem(env));
      if (p.AcceptKind(',') && !p.IsKeyword("ADD") && !p.IsKeyword("DROP") &&
          !p.IsKeyword("REDEFINE"))
        p.ExpectedError("ADD, DROP, or REDEFINE");
    }
    const bool any_item = !items_.empty();
    bool any_option = false;
    for (;;) {
      if (p.AcceptKeyword("NOBACKUP")) {
        backup_ = false;
      } else if (!ParseTableOption(p, options_)) {
        break;
      }
      any_option = true;
    }
    if (!any_item && !any_option) p.ExpectedError("ADD, DROP, or REDEFINE");
  }

  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    if (if_exists_ && !env.database.TableExists(name_)) return nullptr;
    TStepProgress progress(env);
    const TRebuildOptions options = RebuildOptionsFor(env, name_, backup_, progress);
    TWorkDefinition work(DefinitionOf(options.table), name_);
    for (const TAlterItem& item : items_) work.Apply(item);
    TAlterPlan plan = work.Plan(options_, options.log);
    const uint32_t locale = plan.definition.table.locale;
    plan.convert = [locale](const TRecordBuffer& in, const TFieldDef& from,
                            const std::vector<uint8_t>* blob_in, TRecordBuffer& out,
                            const TFieldDef& to, std::vector<uint8_t>* blob_out) {
      return ConvertForAlter(in, from, blob_in, out, to, blob_out, locale);
    };
    plan.data_lost = [&env, this](const TFieldDef&) {
      bool go_on = true;
      if (env.callbacks.data_lost) env.callbacks.data_lost(name_, go_on);
      return go_on;
    };
    try {
      AlterTable(options, plan);
    } catch (const EOperationAborted&) {
      return nullptr;  // stopped by the caller: the table is as it was
    }
    progress.Finish();
    return nullptr;
  }

  const std::string& TableName() const override { return name_; }

 private:
  TAlterItem ParseItem(TStatementEnv& env) {
    TExpressionParser& p = env.parser;
    TAlterItem item;
    if (p.AcceptKeyword("DROP")) {
      if (p.AcceptKeyword("PRIMARY")) {
        p.RequireKeyword("KEY");
        item.kind = TAlterItem::kDropPrimary;
        return item;
      }
      if (p.AcceptKeyword("CONSTRAINT")) {
        if (!p.IsIdentifier()) p.ExpectedError("constraint name");
        p.NextToken();
        item.kind = TAlterItem::kDropPrimary;
        return item;
      }
      p.AcceptKeyword("COLUMN");
      item.kind = TAlterItem::kDropColumn;
      item.name = ParseColumnName(p);
      return item;
    }
    const bool add = p.AcceptKeyword("ADD");
    if (!add) p.RequireKeyword("REDEFINE");
    if (p.IsKeyword("CONSTRAINT") || p.IsKeyword("PRIMARY")) {
      item.kind = add ? TAlterItem::kAddPrimary : TAlterItem::kRedefinePrimary;
      item.primary = ParsePrimaryKey(p);
      return item;
    }
    p.AcceptKeyword("COLUMN");
    item.kind = add ? TAlterItem::kAddColumn : TAlterItem::kRedefineColumn;
    const uint32_t line = p.line(), column = p.column();
    std::string name = ParseColumnName(p);
    if (!add) {
      item.name = name;
      // A new name before the definition.
      if (p.IsIdentifier() && !(p.IsKind(kTokIdent) && p.IsDataTypeName()))
        name = ParseColumnName(p);
    }
    item.column = ParseColumnDefinition(env, std::move(name), line, column);
    if (p.AcceptKeyword("AT")) {
      p.ExpectKind(kTokInteger, "column position");
      const std::string digits = p.TokenText();
      item.at = digits.size() > 9 ? 999999999u : uint32_t(std::stoul(digits));
      p.NextToken();
    }
    return item;
  }

  static std::string ParseColumnName(TExpressionParser& p) {
    if (!p.IsIdentifier()) p.ExpectedError("column name");
    std::string name = p.TokenValue();
    p.NextToken();
    return name;
  }

  std::string name_;
  bool if_exists_ = false;
  bool backup_ = true;
  std::vector<TAlterItem> items_;
  TTableOptions options_;
};

}  // namespace

std::unique_ptr<TStatementBody> NewAlterTableStatement() {
  return std::make_unique<TAlterTableStatement>();
}

}  // namespace downsql::sql
