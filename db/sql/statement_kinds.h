// The statement bodies TQueryStatement dispatches to, one factory per
// statement kind, and what they share.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/sql/statement_body.h"

namespace downsql::sql {

// Transactions: START TRANSACTION [WITH table {, table}], ROLLBACK [WORK],
// COMMIT [WORK] [FLUSH].
std::unique_ptr<TStatementBody> NewStartTransactionStatement();
std::unique_ptr<TStatementBody> NewRollbackStatement();
std::unique_ptr<TStatementBody> NewCommitStatement();

// INSERT, UPDATE, DELETE.
std::unique_ptr<TStatementBody> NewInsertStatement();
std::unique_ptr<TStatementBody> NewUpdateStatement();
std::unique_ptr<TStatementBody> NewDeleteStatement();

// Tables and indexes.
std::unique_ptr<TStatementBody> NewCreateTableStatement();
std::unique_ptr<TStatementBody> NewAlterTableStatement();
std::unique_ptr<TStatementBody> NewDropTableStatement();
std::unique_ptr<TStatementBody> NewRenameTableStatement();
std::unique_ptr<TStatementBody> NewEmptyTableStatement();
std::unique_ptr<TStatementBody> NewCreateIndexStatement(bool unique, bool nocase);
std::unique_ptr<TStatementBody> NewDropIndexStatement();

// Table maintenance.
std::unique_ptr<TStatementBody> NewVerifyTableStatement();
std::unique_ptr<TStatementBody> NewRepairTableStatement();
std::unique_ptr<TStatementBody> NewOptimizeTableStatement();
std::unique_ptr<TStatementBody> NewUpgradeTableStatement();
std::unique_ptr<TStatementBody> NewExportTableStatement();
std::unique_ptr<TStatementBody> NewImportTableStatement();

// A statement kind this engine recognises but does not run: Prepare skips
// to the end of the statement, Execute raises the execution error naming
// the statement by its keywords.
std::unique_ptr<TStatementBody> NewUnsupportedStatement(std::string keywords);

// Raises the execution error (11950) with message.
[[noreturn]] void ExecutionError(std::string_view message);

// The locale a LOCALE clause names by its name (compared without regard to
// case): "ANSI Standard" and "Default" are the default locale 0; nullopt
// for any other name.
std::optional<uint32_t> LocaleOfName(std::string_view name);

// The plan text of a statement. AddPlanText adds text as lines of at most
// 80 characters (cut at the last blank that fits, the blank dropped, else
// after 80 characters); AddPlanHeading adds the frame and the statement's
// text that open every plan, AddPlanEnd the rule and the ">>>>> n rows
// affected in s seconds" line that close it.
void AddPlanText(std::vector<std::string>* plan, const std::string& text);
void AddPlanHeading(std::vector<std::string>* plan, const std::string& statement_text);
void AddPlanEnd(std::vector<std::string>* plan, uint32_t rows, double seconds);
// A section of the plan: a blank line, the title, the title underlined
// with "-".
void AddPlanSection(std::vector<std::string>* plan, const std::string& title);
// The line of "Tables Involved" for one table: "name (correlation) table
// opened shared|exclusively, has n rows".
void AddPlanTable(std::vector<std::string>* plan, const std::string& name,
                  const std::string& correlation, bool exclusive, uint32_t rows);
// The "WHERE Clause Execution" section for the condition where.
void AddPlanWhere(std::vector<std::string>* plan, const TExpToken& where);

// A table name: an identifier, optionally followed by a backslash and a
// second identifier (kept as "first\second"). Reads past it.
std::string ParseTableName(TExpressionParser& parser);

}  // namespace downsql::sql
