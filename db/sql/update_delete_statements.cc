// UPDATE and DELETE on one target table.
//
// Both first collect the slots of the records that qualify under WHERE, as
// the table stands before the statement changes anything, and then change
// those records one by one. An UPDATE that moves keys of an index can
// therefore neither skip a record nor change one twice, whichever way the
// keys move.
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "db/sql/row_change.h"
#include "db/sql/statement_kinds.h"
#include "db/storage/engine_error.h"
#include "platform/locale.h"

namespace downsql::sql {

using namespace storage;

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && platform::SameTextNoCase(a, b);
}

// What follows the target of UPDATE and DELETE: WHERE, the commit clause
// and the join options.
class TTargetRows {
 public:
  void ParseTail(TStatementEnv& env, bool allow_where) {
    TExpressionParser& p = env.parser;
    if (allow_where && p.AcceptKeyword("WHERE"))
      where_ = p.ParseExpression(kAllowQualified | kAllowParameters);
    ParseCommitClause(p, commit_);
    for (;;) {
      if (p.AcceptKeyword("NOJOINOPTIMIZE")) continue;
      if (p.AcceptKeyword("JOINOPTIMIZECOSTS")) continue;
      break;
    }
  }

  void Open(TStatementEnv& env) {
    cursor_ = env.database.OpenTable(target_.name, target_.exclusive);
    resolver_ = std::make_unique<TTargetResolver>(target_, *cursor_);
  }

  void VerifyWhere(TStatementEnv& env) {
    if (!where_) return;
    env.verifier.set_resolver(resolver_.get());
    env.verifier.Verify(*where_);
    env.verifier.set_resolver(nullptr);
  }

  // The slots of the qualifying records in natural order.
  std::vector<uint32_t> Collect(TEvalContext& context) {
    std::vector<uint32_t> slots;
    cursor_->SetCurrentIndex(kNaturalOrder);
    cursor_->First();
    while (cursor_->Next()) {
      if (!where_ || EvaluateCondition(*where_, context)) slots.push_back(cursor_->current_slot());
    }
    return slots;
  }

  TTargetTable target_;
  std::unique_ptr<TExpToken> where_;
  TCommitClause commit_;
  std::unique_ptr<TDataCursor> cursor_;
  std::unique_ptr<TTargetResolver> resolver_;
};

// A FROM list that names only the target again is accepted; more sources
// (joins) are refused.
void ParseUpdateFrom(TExpressionParser& p, const TTargetTable& target) {
  if (!p.IsIdentifier()) p.ExpectedError("UPDATE table name");
  TTargetTable first;
  const uint32_t line = p.line(), column = p.column();
  ParseTarget(
      p, first,
      {"WHERE", "COMMIT", "INNER", "LEFT", "RIGHT", "JOIN", "NOJOINOPTIMIZE", "JOINOPTIMIZECOSTS"});
  if (!SameName(first.name, target.name))
    p.Error("Expected UPDATE table name but instead found " + first.name + " in " + p.context(),
            line, column);
  if (!target.correlation.empty() && !SameName(first.correlation, target.correlation))
    p.ExpectedError("UPDATE table correlation name");
  if (p.IsKind(',') || p.IsKeyword("JOIN") || p.IsKeyword("INNER") || p.IsKeyword("LEFT") ||
      p.IsKeyword("RIGHT"))
    ExecutionError("UPDATE with joined tables is not supported");
}

class TUpdateStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    ParseTarget(p, rows_.target_, {"SET"});
    p.RequireKeyword("SET");
    rows_.Open(env);
    const std::vector<TFieldDef>& fields = rows_.cursor_->fields();
    do {
      if (!p.IsIdentifier()) p.ExpectedError("column name");
      uint32_t line = p.line(), column = p.column();
      std::string name = p.TokenValue();
      p.NextToken();
      if (p.AcceptKind('.')) {
        if (!SameName(name, rows_.target_.name) && !SameName(name, rows_.target_.correlation))
          p.Error("Only columns from the table being updated can be assigned a value", line,
                  column);
        if (!p.IsIdentifier()) p.ExpectedError("column name");
        line = p.line();
        column = p.column();
        name = p.TokenValue();
        p.NextToken();
      }
      const TFieldDef* f = FindField(fields, name);
      if (f == nullptr)
        p.Error("Expected column name but instead found " + name + " in " + p.context(), line,
                column);
      p.RequireChar('=');
      columns_.push_back(f);
      values_.push_back(p.ParseExpression(kAllowQualified | kAllowParameters));
    } while (p.AcceptKind(','));
    if (p.AcceptKeyword("FROM")) ParseUpdateFrom(p, rows_.target_);
    rows_.ParseTail(env, true);

    env.verifier.set_resolver(rows_.resolver_.get());
    for (size_t i = 0; i < values_.size(); ++i) {
      env.verifier.Verify(*values_[i]);
      ConvertConstantForColumn(env.verifier, *columns_[i], *values_[i]);
      RequireAcceptedType(env.verifier, *columns_[i], *values_[i]);
    }
    env.verifier.set_resolver(nullptr);
    rows_.VerifyWhere(env);
  }

  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    TDataCursor& cursor = *rows_.cursor_;
    TEvalContext context;
    context.resolver = rows_.resolver_.get();
    context.parameters = env.parameters;
    UseCounters(context, env.database);
    TRowLoop loop(env, rows_.commit_, rows_.target_.name, cursor.record_size(),
                  cursor.RecordCount());
    const std::vector<uint32_t> slots = rows_.Collect(context);
    std::vector<TValue> values(values_.size());
    for (uint32_t slot : slots) {
      if (!loop.Progress()) {
        loop.Abort();
        return nullptr;
      }
      cursor.GoToSlot(slot);
      cursor.Edit();
      try {
        // Every value sees the record as it was before this change.
        for (size_t i = 0; i < values_.size(); ++i)
          values[i] = EvaluateExpression(*values_[i], context);
        TRecordBuffer record = cursor.current();
        for (size_t i = 0; i < values_.size(); ++i)
          StoreValue(cursor, record, *columns_[i], values[i], "UPDATE");
        cursor.Update(record);
      } catch (...) {
        cursor.Cancel();
        throw;
      }
      loop.RowDone();
    }
    loop.Finish();
    return nullptr;
  }

  const std::string& TableName() const override { return rows_.target_.name; }

 private:
  TTargetRows rows_;
  std::vector<const TFieldDef*> columns_;
  std::vector<std::unique_ptr<TExpToken>> values_;
};

class TDeleteStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    p.RequireKeyword("FROM");
    ParseTarget(p, rows_.target_,
                {"WHERE", "COMMIT", "INNER", "LEFT", "RIGHT", "JOIN", "NOJOINOPTIMIZE",
                 "JOINOPTIMIZECOSTS"});
    if (p.IsKind(',') || p.IsKeyword("JOIN") || p.IsKeyword("INNER") || p.IsKeyword("LEFT") ||
        p.IsKeyword("RIGHT"))
      ExecutionError("DELETE with joined tables is not supported");
    rows_.ParseTail(env, true);
    rows_.Open(env);
    rows_.VerifyWhere(env);
  }

  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    TDataCursor& cursor = *rows_.cursor_;
    TEvalContext context;
    context.resolver = rows_.resolver_.get();
    context.parameters = env.parameters;
    UseCounters(context, env.database);
    TRowLoop loop(env, rows_.commit_, rows_.target_.name, cursor.record_size(),
                  cursor.RecordCount());
    const std::vector<uint32_t> slots = rows_.Collect(context);
    for (uint32_t slot : slots) {
      if (!loop.Progress()) {
        loop.Abort();
        return nullptr;
      }
      cursor.GoToSlot(slot);
      cursor.Delete();
      loop.RowDone();
    }
    loop.Finish();
    return nullptr;
  }

  const std::string& TableName() const override { return rows_.target_.name; }

 private:
  TTargetRows rows_;
};

}  // namespace

std::unique_ptr<TStatementBody> NewUpdateStatement() {
  return std::make_unique<TUpdateStatement>();
}
std::unique_ptr<TStatementBody> NewDeleteStatement() {
  return std::make_unique<TDeleteStatement>();
}

}  // namespace downsql::sql
