// TExistingTableStatement: the frame of the statements on one existing
// table, "[IF EXISTS] table" followed by what the statement reads next
// (DROP, RENAME, EMPTY TABLE, DROP INDEX, ALTER, OPTIMIZE, EXPORT, IMPORT,
// VERIFY, REPAIR and UPGRADE TABLE).
#pragma once

#include <memory>
#include <string>

#include "db/sql/statement_body.h"
#include "db/sql/statement_kinds.h"

namespace downsql::sql {

// "IF EXISTS": true when read.
inline bool AcceptIfExists(TExpressionParser& p) {
  if (!p.AcceptKeyword("IF")) return false;
  p.RequireKeyword("EXISTS");
  return true;
}

// Prepare reads "[IF EXISTS] table" and then PrepareRest; with IF EXISTS
// and no such table Execute does nothing, otherwise Run does the work.
class TExistingTableStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    if_exists_ = AcceptIfExists(env.parser);
    name_ = ParseTableName(env.parser);
    PrepareRest(env);
  }
  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    if (if_exists_ && !env.database.TableExists(name_)) return nullptr;
    Run(env);
    return nullptr;
  }
  const std::string& TableName() const override { return name_; }

 protected:
  virtual void PrepareRest(TStatementEnv&) {}
  virtual void Run(TStatementEnv& env) = 0;

  std::string name_;
  bool if_exists_ = false;
};

}  // namespace downsql::sql
