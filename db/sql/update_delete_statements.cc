// UPDATE and DELETE on one target table, alone or joined to other sources.
//
// Both first collect the records that qualify under WHERE (and the joins),
// as the tables stand before the statement changes anything, and then
// change those records one by one. An UPDATE that moves keys of an index
// can therefore neither skip a record nor change one twice, whichever way
// the keys move; a record that several joined rows qualify is changed once,
// by the first of them.
//
// UPDATE without FROM evaluates its values on the record itself just before
// changing it. With FROM the values may read every source, so they are
// evaluated while the joined row is current and kept until the change.
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "db/sql/data_query.h"
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

// The commit clause and the join options that end UPDATE and DELETE.
void ParseTail(TExpressionParser& p, TCommitClause& commit) {
  ParseCommitClause(p, commit);
  for (;;) {
    if (p.AcceptKeyword("NOJOINOPTIMIZE")) continue;
    if (p.AcceptKeyword("JOINOPTIMIZECOSTS")) continue;
    break;
  }
}

// The slot of the target's record in the joined row being visited (0: the
// NULL row of an outer join). The row's link holds its slot.
uint32_t TargetSlot(TDataQuery& query) {
  const TRecordBuffer* row = query.source(0).row;
  return row == nullptr ? 0 : static_cast<uint32_t>(row->link());
}

// Collects the slots of the target records the query's joined rows qualify,
// each once, in the order the rows come; for each its values when values is
// given (evaluated on the first row that names the record).
std::vector<uint32_t> CollectTargets(TStatementEnv& env, TDataQuery& query,
                                     const std::vector<std::unique_ptr<TExpToken>>* values,
                                     std::vector<std::vector<TValue>>* evaluated) {
  TEvalContext context;
  context.resolver = &query;
  context.parameters = env.parameters;
  UseCounters(context, env.database);
  TQueryRun run;
  run.parameters = env.parameters;
  std::vector<uint32_t> slots;
  std::unordered_set<uint32_t> seen;
  query.ForEachSourceRow(run, [&] {
    const uint32_t slot = TargetSlot(query);
    if (slot == 0 || !seen.insert(slot).second) return;
    slots.push_back(slot);
    if (values == nullptr) return;
    std::vector<TValue>& row = evaluated->emplace_back();
    for (const auto& v : *values) row.push_back(EvaluateExpression(*v, context));
  });
  return slots;
}

// Puts the cursor on each slot in turn and calls change with the slot's
// position in slots, inside the statement's row loop (progress and abort,
// the commit interval). An abort ends the loop quietly; an error raised by
// change ends it too and is passed on.
template <typename Change>
void ChangeEach(TRowLoop& loop, TDataCursor& cursor, const std::vector<uint32_t>& slots,
                Change change) {
  for (size_t k = 0; k < slots.size(); ++k) {
    if (!loop.Progress()) {
      loop.Abort();
      return;
    }
    cursor.GoToSlot(slots[k]);
    change(k);
    loop.RowDone();
  }
  loop.Finish();
}

class TUpdateStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    ParseTarget(p, target_, {"SET"});
    p.RequireKeyword("SET");
    cursor_ = env.database.OpenTable(target_.name, target_.exclusive);
    const std::vector<TFieldDef>& fields = cursor_->fields();
    do {
      if (!p.IsIdentifier()) p.ExpectedError("column name");
      uint32_t line = p.line(), column = p.column();
      std::string name = p.TokenValue();
      p.NextToken();
      if (p.AcceptKind('.')) {
        if (!SameName(name, target_.name) && !SameName(name, target_.correlation))
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

    TColumnResolver* resolver;
    if (p.AcceptKeyword("FROM")) {
      ParseFrom(env);
      resolver = query_.get();
    } else {
      if (p.AcceptKeyword("WHERE")) where_ = p.ParseExpression(kAllowQualified | kAllowParameters);
      resolver_ = std::make_unique<TTargetResolver>(target_, *cursor_);
      resolver = resolver_.get();
    }
    ParseTail(p, commit_);

    env.verifier.set_resolver(resolver);
    for (size_t i = 0; i < values_.size(); ++i) {
      env.verifier.Verify(*values_[i]);
      ConvertConstantForColumn(env.verifier, *columns_[i], *values_[i]);
      RequireAcceptedType(env.verifier, *columns_[i], *values_[i]);
    }
    if (where_) env.verifier.Verify(*where_);
    env.verifier.set_resolver(nullptr);
  }

  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    if (env.plan_wanted) {
      AddPlanSection(&env.plan, "Tables Involved");
      if (query_) {
        query_->AddTablesPlan(&env.plan);
        query_->AddWhereAndJoinPlan(&env.plan);
      } else {
        AddPlanTable(&env.plan, target_.name,
                     target_.correlation.empty() ? target_.name : target_.correlation,
                     target_.exclusive, cursor_->RecordCount());
        if (where_) AddPlanWhere(&env.plan, *where_);
      }
    }
    TDataCursor& cursor = Target();
    TEvalContext context;
    context.resolver = resolver_.get();
    context.parameters = env.parameters;
    UseCounters(context, env.database);
    TRowLoop loop(env, commit_, target_.name, cursor.record_size(), cursor.RecordCount());
    std::vector<std::vector<TValue>> joined_values;
    const std::vector<uint32_t> slots =
        query_ ? CollectTargets(env, *query_, &values_, &joined_values) : Collect(cursor, context);
    std::vector<TValue> values(values_.size());
    ChangeEach(loop, cursor, slots, [&](size_t k) {
      cursor.Edit();
      try {
        // Every value sees the record as it was before this change.
        if (query_) {
          values = std::move(joined_values[k]);
        } else {
          for (size_t i = 0; i < values_.size(); ++i)
            values[i] = EvaluateExpression(*values_[i], context);
        }
        TRecordBuffer record = cursor.current();
        for (size_t i = 0; i < values_.size(); ++i)
          StoreValue(cursor, record, *columns_[i], values[i], "UPDATE");
        cursor.Update(record);
      } catch (...) {
        cursor.Cancel();
        throw;
      }
    });
    return nullptr;
  }

  const std::string& TableName() const override { return target_.name; }

 private:
  // FROM names the target first (with its correlation name, if it has one),
  // then any sources and joins as in SELECT, then WHERE.
  void ParseFrom(TStatementEnv& env) {
    TExpressionParser& p = env.parser;
    if (!p.IsIdentifier()) p.ExpectedError("UPDATE table name");
    query_ = std::make_unique<TDataQuery>(env.database, p, env.verifier);
    query_->ParseSourcesAndWhere();
    TSourceTable& first = query_->source(0);
    if (!SameName(first.name, target_.name))
      p.Error("Expected UPDATE table name but instead found " + first.name + " in " + p.context(),
              first.line, first.column);
    if (!target_.correlation.empty() && !SameName(first.correlation, target_.correlation))
      p.Error("Expected UPDATE table correlation name but instead found " + first.correlation +
                  " in " + p.context(),
              first.line, first.column);
    // The first source reads through the target's cursor.
    first.cursor = std::move(cursor_);
    query_->PrepareSources();
  }

  TDataCursor& Target() { return query_ ? *query_->source(0).cursor : *cursor_; }

  // The slots of the records that qualify under WHERE, in natural order.
  std::vector<uint32_t> Collect(TDataCursor& cursor, TEvalContext& context) {
    std::vector<uint32_t> slots;
    cursor.SetCurrentIndex(kNaturalOrder);
    cursor.First();
    while (cursor.Next()) {
      if (!where_ || EvaluateCondition(*where_, context)) slots.push_back(cursor.current_slot());
    }
    return slots;
  }

  TTargetTable target_;
  std::unique_ptr<TDataCursor> cursor_;
  std::unique_ptr<TTargetResolver> resolver_;
  std::unique_ptr<TDataQuery> query_;  // with FROM
  std::unique_ptr<TExpToken> where_;   // without FROM
  std::vector<const TFieldDef*> columns_;
  std::vector<std::unique_ptr<TExpToken>> values_;
  TCommitClause commit_;
};

// DELETE FROM target [, or join sources] [WHERE ...]: the target is the
// first source.
class TDeleteStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    p.RequireKeyword("FROM");
    query_ = std::make_unique<TDataQuery>(env.database, p, env.verifier);
    query_->ParseSourcesAndWhere();
    ParseTail(p, commit_);
    query_->PrepareSources();
    env.verifier.set_resolver(nullptr);
  }

  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    if (env.plan_wanted) {
      AddPlanSection(&env.plan, "Tables Involved");
      query_->AddTablesPlan(&env.plan);
      query_->AddWhereAndJoinPlan(&env.plan);
    }
    TDataCursor& cursor = *query_->source(0).cursor;
    TRowLoop loop(env, commit_, TableName(), cursor.record_size(), cursor.RecordCount());
    const std::vector<uint32_t> slots = CollectTargets(env, *query_, nullptr, nullptr);
    ChangeEach(loop, cursor, slots, [&](size_t) { cursor.Delete(); });
    return nullptr;
  }

  const std::string& TableName() const override {
    static const std::string kNone;
    return query_ ? query_->TableName() : kNone;
  }

 private:
  std::unique_ptr<TDataQuery> query_;
  TCommitClause commit_;
};

}  // namespace

std::unique_ptr<TStatementBody> NewUpdateStatement() {
  return std::make_unique<TUpdateStatement>();
}
std::unique_ptr<TStatementBody> NewDeleteStatement() {
  return std::make_unique<TDeleteStatement>();
}

}  // namespace downsql::sql
