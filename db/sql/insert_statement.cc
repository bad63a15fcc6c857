// INSERT INTO table [[AS] name] [EXCLUSIVE] [(columns)] VALUES (values) |
// SELECT ..., then the commit clause.
//
// VALUES inserts one record and counts 1; it raises no progress and opens
// no transaction. SELECT inserts every row of the query's result inside the
// statement's own transaction unless the caller has one.
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "db/sql/record_values.h"
#include "db/sql/row_change.h"
#include "db/sql/statement_kinds.h"

namespace downsql::sql {

using namespace storage;

namespace {

struct TListedColumn {
  std::string name;
  uint32_t line = 0;
  uint32_t column = 0;
};

class TInsertStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    p.RequireKeyword("INTO");
    ParseTarget(p, target_, {"VALUES", "SELECT", "COMMIT"});
    if (p.AcceptKind('(')) {
      ParseColumnList(p);
      if (!p.IsKeyword("VALUES") && !p.IsKeyword("SELECT")) p.ExpectedError("VALUES or SELECT");
    }
    cursor_ = env.database.OpenTable(target_.name, target_.exclusive);
    ResolveColumns(p);
    if (p.AcceptKeyword("VALUES")) {
      ParseValues(env);
    } else if (p.AcceptKeyword("SELECT")) {
      select_ = NewSelectStatement();
      select_->Prepare(env);
      VerifySelectColumns(env);
    } else {
      p.ExpectedError("VALUES or SELECT");
    }
    ParseCommitClause(p, commit_);
  }

  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    TEvalContext context;
    context.resolver = &no_columns_;
    context.parameters = env.parameters;
    UseCounters(context, env.database);
    if (select_) {
      InsertSelected(env, context);
      return nullptr;
    }
    TRecordBuffer record = cursor_->NewRecord();
    for (size_t i = 0; i < fields_.size(); ++i)
      StoreValue(*cursor_, record, *fields_[i], EvaluateExpression(*values_[i], context), "INSERT");
    cursor_->Insert(record);
    NoteIdentity(env.database, *cursor_, record);
    env.rows_affected = 1;
    return nullptr;
  }

  const std::string& TableName() const override { return target_.name; }

 private:
  void ParseColumnList(TExpressionParser& p) {
    do {
      if (!p.IsIdentifier() && !p.IsKind('*')) p.ExpectedError("column name");
      TListedColumn c;
      c.line = p.line();
      c.column = p.column();
      c.name = p.IsKind('*') ? "*" : p.TokenValue();
      p.NextToken();
      if (c.name != "*" && p.AcceptKind('.')) {
        // A qualified name must qualify the target.
        if (!SameTarget(c.name))
          p.Error("Only columns from the table being updated can be assigned a value", c.line,
                  c.column);
        if (!p.IsIdentifier()) p.ExpectedError("column name");
        c.line = p.line();
        c.column = p.column();
        c.name = p.TokenValue();
        p.NextToken();
      }
      listed_.push_back(std::move(c));
    } while (p.AcceptKind(','));
    p.RequireChar(')');
  }

  bool SameTarget(const std::string& name) const {
    auto same = [](const std::string& a, const std::string& b) {
      if (a.size() != b.size()) return false;
      for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(uint8_t(a[i])) != std::toupper(uint8_t(b[i]))) return false;
      return true;
    };
    return same(name, target_.name) ||
           (!target_.correlation.empty() && same(name, target_.correlation));
  }

  void ResolveColumns(TExpressionParser& p) {
    const std::vector<TFieldDef>& all = cursor_->fields();
    if (listed_.empty()) {
      for (const TFieldDef& f : all) fields_.push_back(&f);
      return;
    }
    for (const TListedColumn& c : listed_) {
      if (c.name == "*") {
        for (const TFieldDef& f : all) fields_.push_back(&f);
        field_places_.insert(field_places_.end(), all.size(), c);
        continue;
      }
      // Lists usually name the columns in the table's order: the column
      // after the last one found is tried first.
      const size_t next = fields_.empty() ? 0 : size_t(fields_.back() - all.data()) + 1;
      const TFieldDef* f = FindField(all, c.name, next);
      if (f == nullptr)
        p.Error("Expected column name but instead found " + c.name + " in " + p.context(), c.line,
                c.column);
      fields_.push_back(f);
      field_places_.push_back(c);
    }
  }

  [[noreturn]] void CountMismatch(TExpressionParser& p, uint32_t line, uint32_t column) const {
    p.Error("The number of columns must match match the number of values", line, column);
  }

  void ParseValues(TStatementEnv& env) {
    TExpressionParser& p = env.parser;
    p.RequireChar('(');
    do {
      values_.push_back(p.ParseExpression(kAllowParameters));
      if (values_.size() > fields_.size()) {
        const TExpToken& v = *values_.back();
        CountMismatch(p, v.line, v.column);
      }
    } while (p.AcceptKind(','));
    if (values_.size() < fields_.size()) {
      // The first column without a value.
      const size_t i = values_.size();
      if (i < field_places_.size())
        CountMismatch(p, field_places_[i].line, field_places_[i].column);
      CountMismatch(p, p.line(), p.column());
    }
    p.RequireChar(')');
    env.verifier.set_resolver(&no_columns_);
    for (size_t i = 0; i < values_.size(); ++i) {
      TExpToken& v = *values_[i];
      env.verifier.Verify(v);
      ConvertConstantForColumn(env.verifier, *fields_[i], v);
      RequireAcceptedType(env.verifier, *fields_[i], v);
    }
    env.verifier.set_resolver(nullptr);
  }

  void VerifySelectColumns(TStatementEnv& env) {
    const std::vector<TFieldDef>* columns = select_->ResultColumns();
    if (columns == nullptr) return;
    if (columns->size() != fields_.size())
      CountMismatch(env.parser, env.parser.line(), env.parser.column());
  }

  void InsertSelected(TStatementEnv& env, TEvalContext&) {
    // The rows are counted and reported here, not by the query.
    auto progress = std::move(env.callbacks.progress);
    env.callbacks.progress = nullptr;
    std::unique_ptr<TResultTable> result;
    try {
      result = select_->Execute(env);
    } catch (...) {
      env.callbacks.progress = std::move(progress);
      throw;
    }
    env.callbacks.progress = std::move(progress);
    env.rows_affected = 0;
    TDataCursor& source = result->cursor();
    const std::vector<TFieldDef>& from = source.fields();
    TRowLoop loop(env, commit_, target_.name, cursor_->record_size(), source.RecordCount());
    source.First();
    while (source.Next()) {
      if (!loop.Progress()) {
        loop.Abort();
        return;
      }
      TRecordBuffer record = cursor_->NewRecord();
      for (size_t i = 0; i < fields_.size() && i < from.size(); ++i) {
        TValue v;
        if (from[i].IsBlob() && !source.current().IsNull(from[i])) {
          const std::vector<uint8_t> bytes = source.ReadBlob(from[i]);
          v = TValue::String(std::string(bytes.begin(), bytes.end()), from[i].subtype);
          v.type = kTypeBlob;
        } else {
          v = ReadColumnValue(source.current(), from[i]);
        }
        StoreValue(*cursor_, record, *fields_[i], v, "INSERT");
      }
      cursor_->Insert(record);
      NoteIdentity(env.database, *cursor_, record);
      loop.RowDone();
    }
    loop.Finish();
  }

  TTargetTable target_;
  std::vector<TListedColumn> listed_;
  std::vector<TListedColumn> field_places_;
  std::unique_ptr<TDataCursor> cursor_;
  std::vector<const TFieldDef*> fields_;
  std::vector<std::unique_ptr<TExpToken>> values_;
  std::unique_ptr<TStatementBody> select_;
  TCommitClause commit_;
  TNoColumns no_columns_;
};

}  // namespace

std::unique_ptr<TStatementBody> NewInsertStatement() {
  return std::make_unique<TInsertStatement>();
}

}  // namespace downsql::sql
