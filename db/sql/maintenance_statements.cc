// The statements that keep a table healthy: VERIFY TABLE, REPAIR TABLE,
// OPTIMIZE TABLE and UPGRADE TABLE (EXPORT and IMPORT TABLE are in
// table_text_statements.cc, ALTER TABLE in alter_table_statement.cc). The
// work itself is the storage engine's (table_verifier.h, table_rebuild.h);
// these bodies parse the statements, open the table and pass the log and
// progress hooks through.
#include <memory>
#include <string>

#include "db/sql/maintenance_progress.h"
#include "db/sql/statement_kinds.h"
#include "db/storage/data_cursor.h"
#include "db/storage/data_file.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"
#include "db/storage/table_rebuild.h"
#include "db/storage/table_verifier.h"

namespace downsql::sql {

using namespace storage;

namespace {

bool AcceptIfExists(TExpressionParser& p) {
  if (!p.AcceptKeyword("IF")) return false;
  p.RequireKeyword("EXISTS");
  return true;
}

class TVerifyTableStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    if_exists_ = AcceptIfExists(env.parser);
    name_ = ParseTableName(env.parser);
  }
  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    if (if_exists_ && !env.database.TableExists(name_)) return nullptr;
    // The table to itself: nothing changes under the check, and the files
    // are read afresh rather than from another cursor's buffers.
    std::unique_ptr<TDataCursor> cursor = env.database.OpenTable(name_, true);
    TStepProgress progress(env);
    TLogHook log = env.callbacks.log;
    VerifyTable(cursor->table(), log, progress.Hook());
    progress.Finish();
    return nullptr;
  }
  const std::string& TableName() const override { return name_; }

 private:
  using TLogHook = TTableVerifier::TLog;
  std::string name_;
  bool if_exists_ = false;
};

class TRepairTableStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    if_exists_ = AcceptIfExists(p);
    name_ = ParseTableName(p);
    for (;;) {
      if (p.AcceptKeyword("FORCEINDEXREBUILD")) {
        force_ = true;
      } else if (p.AcceptKeyword("NOBACKUP")) {
        backup_ = false;
      } else {
        break;
      }
    }
  }
  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    if (if_exists_ && !env.database.TableExists(name_)) return nullptr;
    TStepProgress progress(env);
    try {
      RepairTable(RebuildOptionsFor(env, name_, backup_, progress), force_);
    } catch (const EOperationAborted&) {
      return nullptr;  // stopped through the progress hook: the table is as it was
    }
    progress.Finish();
    return nullptr;
  }
  const std::string& TableName() const override { return name_; }

 private:
  std::string name_;
  bool if_exists_ = false;
  bool force_ = false;
  bool backup_ = true;
};

class TOptimizeTableStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    if_exists_ = AcceptIfExists(p);
    name_ = ParseTableName(p);
    if (p.AcceptKeyword("ON")) {
      if (!p.IsIdentifier()) p.ExpectedError("index name");
      index_ = p.TokenValue();
      p.NextToken();
    }
    if (p.AcceptKeyword("NOBACKUP")) backup_ = false;
  }
  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    if (if_exists_ && !env.database.TableExists(name_)) return nullptr;
    TStepProgress progress(env);
    try {
      OptimizeTable(RebuildOptionsFor(env, name_, backup_, progress), index_);
    } catch (const EOperationAborted&) {
      return nullptr;
    }
    progress.Finish();
    return nullptr;
  }
  const std::string& TableName() const override { return name_; }

 private:
  std::string name_;
  std::string index_;
  bool if_exists_ = false;
  bool backup_ = true;
};

// Tables of the current format version need nothing; opening a table of
// another version raises its version error (12035 older, 12036 unknown).
class TUpgradeTableStatement : public TStatementBody {
 public:
  void Prepare(TStatementEnv& env) override {
    if_exists_ = AcceptIfExists(env.parser);
    name_ = ParseTableName(env.parser);
  }
  std::unique_ptr<TResultTable> Execute(TStatementEnv& env) override {
    if (if_exists_ && !env.database.TableExists(name_)) return nullptr;
    std::unique_ptr<TDataCursor> cursor = env.database.OpenTable(name_, true);
    if (env.callbacks.log)
      env.callbacks.log("Table '" + name_ + "' is already at the current version " +
                        std::to_string(kTableFormatVersion) + ": nothing to upgrade");
    return nullptr;
  }
  const std::string& TableName() const override { return name_; }

 private:
  std::string name_;
  bool if_exists_ = false;
};

}  // namespace

std::unique_ptr<TStatementBody> NewRepairTableStatement() {
  return std::make_unique<TRepairTableStatement>();
}
std::unique_ptr<TStatementBody> NewOptimizeTableStatement() {
  return std::make_unique<TOptimizeTableStatement>();
}
std::unique_ptr<TStatementBody> NewUpgradeTableStatement() {
  return std::make_unique<TUpgradeTableStatement>();
}

std::unique_ptr<TStatementBody> NewVerifyTableStatement() {
  return std::make_unique<TVerifyTableStatement>();
}

}  // namespace downsql::sql
