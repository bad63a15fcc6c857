// START TRANSACTION, ROLLBACK and COMMIT: the database's transaction, with
// no rows affected and no progress.
#include <string>
#include <vector>

#include "db/sql/statement_kinds.h"

namespace downsql::sql {

namespace {

const std::string kNoTable;

void RequireTransaction(TStatementDatabase& db) {
  if (!db.TransactionActive())
    ExecutionError("No transaction in progress for " + db.DatabaseName() + " database");
}

class TStartTransactionStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    if (!p.AcceptKeyword("WITH")) return;
    tables_.push_back(ParseTableName(p));
    while (p.AcceptKind(',')) tables_.push_back(ParseTableName(p));
  }
  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    TStatementDatabase& db = env.database;
    if (db.TransactionActive())
      ExecutionError("Transaction already in progress for " + db.DatabaseName() + " database");
    db.StartTransaction(tables_);
    return nullptr;
  }
  const std::string& TableName() const override {
    return tables_.empty() ? kNoTable : tables_.front();
  }

 private:
  std::vector<std::string> tables_;
};

class TRollbackStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override { env.parser.AcceptKeyword("WORK"); }
  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    RequireTransaction(env.database);
    env.database.RollbackTransaction();
    return nullptr;
  }
  const std::string& TableName() const override { return kNoTable; }
};

class TCommitStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    env.parser.AcceptKeyword("WORK");
    flush_ = env.parser.AcceptKeyword("FLUSH");
  }
  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    RequireTransaction(env.database);
    env.database.CommitTransaction(flush_, true);
    return nullptr;
  }
  const std::string& TableName() const override { return kNoTable; }

 private:
  bool flush_ = false;
};

}  // namespace

std::unique_ptr<TStatementBody> NewStartTransactionStatement() {
  return std::make_unique<TStartTransactionStatement>();
}
std::unique_ptr<TStatementBody> NewRollbackStatement() {
  return std::make_unique<TRollbackStatement>();
}
std::unique_ptr<TStatementBody> NewCommitStatement() {
  return std::make_unique<TCommitStatement>();
}

}  // namespace downsql::sql
