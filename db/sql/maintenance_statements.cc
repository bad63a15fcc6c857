// The statements that keep a table healthy: VERIFY TABLE, REPAIR TABLE,
// OPTIMIZE TABLE and UPGRADE TABLE (EXPORT and IMPORT TABLE are in
// table_text_statements.cc, ALTER TABLE in alter_table_statement.cc). The
// work itself is the storage engine's (table_verifier.h, table_rebuild.h);
// these bodies parse the statements, open the table and pass the log and
// progress hooks through.
#include <memory>
#include <string>

#include "db/sql/existing_table_statement.h"
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

class TVerifyTableStatement : public TExistingTableStatement {
  void Run(TStatementEnv& env) override {
    // The table to itself: nothing changes under the check, and the files
    // are read afresh rather than from another cursor's buffers.
    std::unique_ptr<TDataCursor> cursor = env.database.OpenTable(name_, true);
    TStepProgress progress(env);
    VerifyTable(cursor->table(), env.callbacks.log, progress.Hook());
    progress.Finish();
  }
};

// A rebuild stopped through the progress hook (EOperationAborted) leaves the
// table as it was and ends the statement without an error.
class TRepairTableStatement : public TExistingTableStatement {
  void PrepareRest(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
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
  void Run(TStatementEnv& env) override {
    TStepProgress progress(env);
    try {
      RepairTable(RebuildOptionsFor(env, name_, backup_, progress), force_);
    } catch (const EOperationAborted&) {
      return;
    }
    progress.Finish();
  }

  bool force_ = false;
  bool backup_ = true;
};

class TOptimizeTableStatement : public TExistingTableStatement {
  void PrepareRest(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    if (p.AcceptKeyword("ON")) {
      if (!p.IsIdentifier()) p.ExpectedError("index name");
      index_ = p.TokenValue();
      p.NextToken();
    }
    if (p.AcceptKeyword("NOBACKUP")) backup_ = false;
  }
  void Run(TStatementEnv& env) override {
    TStepProgress progress(env);
    try {
      OptimizeTable(RebuildOptionsFor(env, name_, backup_, progress), index_);
    } catch (const EOperationAborted&) {
      return;
    }
    progress.Finish();
  }

  std::string index_;
  bool backup_ = true;
};

// Tables of the current format version need nothing; opening a table of
// another version raises its version error (12035 older, 12036 unknown).
class TUpgradeTableStatement : public TExistingTableStatement {
  void Run(TStatementEnv& env) override {
    std::unique_ptr<TDataCursor> cursor = env.database.OpenTable(name_, true);
    if (env.callbacks.log)
      env.callbacks.log("Table '" + name_ + "' is already at the current version " +
                        std::to_string(kTableFormatVersion) + ": nothing to upgrade");
  }
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
