// The SELECT statement: a TDataQuery behind the statement dispatch.
#include "db/sql/select_statement.h"
#include "db/sql/data_query.h"
#include "db/sql/statement_kinds.h"

namespace downsql::sql {

void TSelectStatement::Prepare(TStatementEnv& env) {
  query_ = std::make_unique<TDataQuery>(env.database, env.parser, env.verifier);
  query_->Parse(false);
  query_->Prepare(env.request_live);
}

std::unique_ptr<TResultTable> TSelectStatement::Execute(TStatementEnv& env) {
  TQueryRun run;
  run.parameters = env.parameters;
  run.progress = env.callbacks.progress;
  run.max_row_count = env.max_row_count;
  run.progress_step = env.database.ProgressStep();
  run.plan_wanted = env.plan_wanted;
  run.plan = &env.plan;
  return query_->Execute(run, &env.rows_affected);
}

const std::string& TSelectStatement::TableName() const { return query_->TableName(); }

const std::vector<storage::TFieldDef>* TSelectStatement::ResultColumns() const {
  return &query_->ResultColumns();
}

bool TSelectStatement::ResultLive() const { return query_->live(); }

std::unique_ptr<TStatementBody> NewSelectStatement() {
  return std::make_unique<TSelectStatement>();
}

}  // namespace downsql::sql
