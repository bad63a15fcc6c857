// INSERT INTO table [[AS] name] [EXCLUSIVE] [(columns)] VALUES (values) |
// SELECT ..., then the commit clause.
//
// VALUES inserts one record and counts 1; it raises no progress and opens
// no transaction. SELECT inserts every row of the query's result inside the
// statement's own transaction unless the caller has one.
#include <cctype>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/sql/expression_evaluator.h"
#include "db/sql/record_values.h"
#include "db/sql/row_change.h"
#include "db/sql/select_statement.h"
#include "db/sql/statement_kinds.h"

namespace downsql::sql {

using namespace storage;

namespace {

// A name of the column list: a view into the statement text (or into
// the statement's own copy of a quoted name) and where it stands.
struct TListedColumn {
  std::string_view name;
  uint32_t line = 0;
  uint32_t column = 0;
};

struct TPlace {
  uint32_t line = 0;
  uint32_t column = 0;
};

// One value of VALUES. A constant written alone is held as its value
// (converted for its column), anything else as its expression.
struct TInsertValue {
  std::unique_ptr<TExpToken> expression;
  TValue constant;
  bool in_record = false;  // already written into the prepared record
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
    if (p.IsKeyword("VALUES")) {
      resume_ = p.SaveResumePoint();
      start_ = {p.start_line(), p.start_column()};
      can_prepare_record_ = CanPrepareRecord();
      if (can_prepare_record_) blank_record_ = cursor_->NewRecord();
      p.NextToken();
      ParseValues(env);
    } else if (p.AcceptKeyword("SELECT")) {
      select_ = std::make_unique<TSelectStatement>();
      select_->Prepare(env);
      VerifySelectColumns(env);
    } else {
      p.ExpectedError("VALUES or SELECT");
    }
    ParseCommitClause(p, commit_);
  }

  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    if (env.plan_wanted) WritePlan(env.plan);
    if (select_) {
      InsertSelected(env);
      return nullptr;
    }
    // The constants are in the prepared record already; the rest is
    // evaluated now, in the order of the list.
    std::optional<TEvalContext> context;
    if (prepared_record_)
      record_ = *prepared_record_;
    else
      record_ = cursor_->NewRecord();
    for (size_t i = 0; i < fields_.size(); ++i) {
      const TInsertValue& v = values_[i];
      if (v.in_record) continue;
      if (!v.expression) {
        StoreValue(*cursor_, record_, *fields_[i], v.constant, "INSERT");
        continue;
      }
      if (!context) {
        context.emplace();
        context->resolver = &no_columns_;
        context->parameters = env.parameters;
        UseCounters(*context, env.database);
      }
      StoreValue(*cursor_, record_, *fields_[i], EvaluateExpression(*v.expression, *context),
                 "INSERT");
    }
    cursor_->Insert(record_);
    NoteIdentity(env.database, *cursor_, record_);
    env.rows_affected = 1;
    return nullptr;
  }

  // An import sends statement after statement that differ only in their
  // values: the next one that begins with the same text up to VALUES is
  // read on from there, with the columns found and the cursor opened.
  const TExpressionParser::TResumePoint* ResumePoint() const override {
    return resume_ ? &*resume_ : nullptr;
  }

  bool PrepareAgain(TStatementEnv& env) override {
    if (!resume_ || !env.database.ReopenTable(*cursor_, target_.name, target_.exclusive))
      return false;
    TExpressionParser& p = env.parser;
    p.RequireKeyword("VALUES");
    values_.clear();
    commit_ = {};
    ParseValues(env);
    ParseCommitClause(p, commit_);
    return true;
  }

  const std::string& TableName() const override { return target_.name; }

 private:
  void ParseColumnList(TExpressionParser& p) {
    listed_.reserve(32);
    do {
      if (!p.IsIdentifier() && !p.IsKind('*')) p.ExpectedError("column name");
      TListedColumn c;
      c.line = p.line();
      c.column = p.column();
      c.name = p.IsKind('*') ? std::string_view("*") : ListedName(p);
      p.NextToken();
      if (c.name != "*" && p.AcceptKind('.')) {
        // A qualified name must qualify the target.
        if (!SameTarget(c.name))
          p.Error("Only columns from the table being updated can be assigned a value", c.line,
                  c.column);
        if (!p.IsIdentifier()) p.ExpectedError("column name");
        c.line = p.line();
        c.column = p.column();
        c.name = ListedName(p);
        p.NextToken();
      }
      listed_.push_back(c);
    } while (p.AcceptKind(','));
    p.RequireChar(')');
  }

  // The name the current token stands for: plain words as written, quoted
  // and bracketed names unquoted into a copy the statement keeps.
  std::string_view ListedName(const TExpressionParser& p) {
    if (p.IsKind(kTokIdent)) return p.TokenView();
    return unquoted_names_.emplace_back(p.TokenValue());
  }

  bool SameTarget(std::string_view name) const {
    auto same = [](std::string_view a, std::string_view b) {
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
      fields_.reserve(all.size());
      for (const TFieldDef& f : all) fields_.push_back(&f);
      return;
    }
    fields_.reserve(listed_.size());
    field_places_.reserve(listed_.size());
    for (const TListedColumn& c : listed_) {
      if (c.name == "*") {
        for (const TFieldDef& f : all) fields_.push_back(&f);
        field_places_.insert(field_places_.end(), all.size(), TPlace{c.line, c.column});
        continue;
      }
      // Lists usually name the columns in the table's order: the column
      // after the last one found is tried first.
      const size_t next = fields_.empty() ? 0 : size_t(fields_.back() - all.data()) + 1;
      const TFieldDef* f = FindField(all, c.name, next);
      if (f == nullptr)
        p.Error(
            "Expected column name but instead found " + std::string(c.name) + " in " + p.context(),
            c.line, c.column);
      fields_.push_back(f);
      field_places_.push_back(TPlace{c.line, c.column});
    }
  }

  // A place found while the statement was first read, in the text the
  // parser reads now (which may begin elsewhere in its script).
  TPlace Placed(TPlace at, const TExpressionParser& p) const {
    if (at.line == start_.line) at.column = at.column - start_.column + p.start_column();
    at.line = at.line - start_.line + p.start_line();
    return at;
  }

  [[noreturn]] void CountMismatch(TExpressionParser& p, uint32_t line, uint32_t column) const {
    p.Error("The number of columns must match match the number of values", line, column);
  }

  void ParseValues(TStatementEnv& env) {
    TExpressionParser& p = env.parser;
    p.RequireChar('(');
    values_.reserve(fields_.size());
    // A constant written alone needs no tree: it is read into one reused
    // node and checked for its column at once. One that does not fit its
    // column keeps its node, so that the checks below report it in the
    // order of the values.
    TExpToken constant(kNodeConstant, 0);
    std::string_view text;
    // Whole numbers for integer columns go straight into the record.
    if (can_prepare_record_) {
      if (prepared_record_)
        *prepared_record_ = blank_record_;
      else
        prepared_record_.emplace(blank_record_);
    }
    do {
      const size_t i = values_.size();
      TInsertValue& v = values_.emplace_back();
      uint32_t line = 0, column = 0;
      int64_t n = 0;
      if (prepared_record_ && i < fields_.size() && IsIntegerType(fields_[i]->type) &&
          !fields_[i]->IsPseudo() && p.ParseLoneInteger(&n)) {
        prepared_record_->SetInteger(*fields_[i], n);
        v.in_record = true;
        continue;
      }
      if (p.ParseLoneConstant(constant, &text)) {
        line = constant.line;
        column = constant.column;
        if (values_.size() <= fields_.size() &&
            FitsColumn(env, *fields_[values_.size() - 1], constant)) {
          v.constant = std::move(constant.value);
        } else {
          constant.text.assign(text.data(), text.size());
          v.expression = std::make_unique<TExpToken>(std::move(constant));
        }
      } else {
        v.expression = p.ParseExpression(kAllowParameters);
        line = v.expression->line;
        column = v.expression->column;
      }
      if (values_.size() > fields_.size()) CountMismatch(p, line, column);
    } while (p.AcceptKind(','));
    if (values_.size() < fields_.size()) {
      // The first column without a value.
      const size_t i = values_.size();
      if (i < field_places_.size()) {
        const TPlace at = Placed(field_places_[i], p);
        CountMismatch(p, at.line, at.column);
      }
      CountMismatch(p, p.line(), p.column());
    }
    p.RequireChar(')');
    env.verifier.set_resolver(&no_columns_);
    for (size_t i = 0; i < values_.size(); ++i) {
      if (!values_[i].expression) continue;
      TExpToken& v = *values_[i].expression;
      env.verifier.Verify(v);
      ConvertConstantForColumn(env.verifier, *fields_[i], v);
      RequireAcceptedType(env.verifier, *fields_[i], v);
    }
    env.verifier.set_resolver(nullptr);
    PrepareRecord();
  }

  // ConvertConstantForColumn and RequireAcceptedType on a constant node,
  // without raising their errors.
  static bool FitsColumn(TStatementEnv& env, const TFieldDef& field, TExpToken& constant) {
    if (IsDateTimeType(field.type) && !env.verifier.ConvertConstant(constant, field.type))
      return false;
    return AcceptsType(field, constant);
  }

  // Constants are written into a record that every execution starts from,
  // unless the table fills in defaults (they may read the clock) or a column
  // is listed twice (the later value must win whatever its kind).
  bool CanPrepareRecord() const {
    const std::vector<TFieldDef>& all = cursor_->fields();
    for (const TFieldDef& f : all)
      if (!f.default_value.empty()) return false;
    std::vector<bool> seen(all.size());
    for (const TFieldDef* f : fields_) {
      const size_t n = size_t(f - all.data());
      if (seen[n]) return false;
      seen[n] = true;
    }
    return true;
  }

  // Writes the constants not yet in the prepared record; a constant the
  // column cannot take is left for Execute to report.
  void PrepareRecord() {
    if (!prepared_record_) return;
    const uint32_t locale = cursor_->table().locale();
    for (size_t i = 0; i < fields_.size(); ++i) {
      TInsertValue& v = values_[i];
      if (v.in_record || v.expression || fields_[i]->IsBlob()) continue;
      try {
        WriteColumnValue(*prepared_record_, *fields_[i], v.constant, locale);
        v.in_record = true;
      } catch (const std::exception&) {
        v.in_record = false;
      }
    }
  }

  void VerifySelectColumns(TStatementEnv& env) {
    const std::vector<TFieldDef>* columns = select_->ResultColumns();
    if (columns == nullptr) return;
    if (columns->size() != fields_.size())
      CountMismatch(env.parser, env.parser.line(), env.parser.column());
  }

  // The target, then for INSERT ... SELECT the query's sources, result
  // and conditions (the query writes no plan of its own).
  void WritePlan(std::vector<std::string>& plan) {
    AddPlanSection(&plan, "Tables Involved");
    AddPlanTable(&plan, target_.name,
                 target_.correlation.empty() ? target_.name : target_.correlation,
                 target_.exclusive, cursor_->RecordCount());
    if (!select_) return;
    TDataQuery& query = select_->query();
    query.AddTablesPlan(&plan);
    query.AddResultPlan(&plan);
    query.AddWhereAndJoinPlan(&plan);
  }

  void InsertSelected(TStatementEnv& env) {
    // The rows are counted and reported here, not by the query, and the
    // plan is the statement's.
    auto progress = std::move(env.callbacks.progress);
    env.callbacks.progress = nullptr;
    const bool plan_wanted = env.plan_wanted;
    env.plan_wanted = false;
    std::unique_ptr<TResultTable> result;
    try {
      result = select_->Execute(env);
    } catch (...) {
      env.callbacks.progress = std::move(progress);
      env.plan_wanted = plan_wanted;
      throw;
    }
    env.callbacks.progress = std::move(progress);
    env.plan_wanted = plan_wanted;
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
  std::list<std::string> unquoted_names_;
  std::vector<TPlace> field_places_;
  std::unique_ptr<TDataCursor> cursor_;
  std::vector<const TFieldDef*> fields_;
  std::vector<TInsertValue> values_;
  std::optional<TRecordBuffer> prepared_record_;
  bool can_prepare_record_ = false;
  TRecordBuffer blank_record_{0};  // what prepared_record_ starts from
  std::optional<TExpressionParser::TResumePoint> resume_;
  TPlace start_;  // where the text resume_ was taken in began
  TRecordBuffer record_{0};
  std::unique_ptr<TSelectStatement> select_;
  TCommitClause commit_;
  TNoColumns no_columns_;
};

}  // namespace

std::unique_ptr<TStatementBody> NewInsertStatement() {
  return std::make_unique<TInsertStatement>();
}

}  // namespace downsql::sql
