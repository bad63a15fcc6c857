// TSelectStatement: the statement body of a SELECT, holding its TDataQuery.
//
// INSERT ... SELECT prepares one of these after its target (the parser on
// the word after SELECT) and reads the rows through query().ForEachRow.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/sql/data_query.h"
#include "db/sql/statement_body.h"

namespace downsql::sql {

class TSelectStatement : public TStatementBody {
 public:
  // Parses from the token after SELECT up to the end of the statement, then
  // opens the sources and verifies (11949 and the storage errors).
  void Prepare(TStatementEnv& env) override;
  // Runs the query into a canned result table positioned before its first
  // row; env.rows_affected receives the row count. The progress hook's
  // abort gives an empty result and no error.
  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override;
  const std::string& TableName() const override;
  const std::vector<storage::TFieldDef>* ResultColumns() const override;
  bool ResultLive() const override;

  TDataQuery& query() { return *query_; }

 private:
  std::unique_ptr<TDataQuery> query_;
};

}  // namespace downsql::sql
