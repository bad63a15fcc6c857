// TQueryStatement: the engine's handle on one SQL statement.
//
// The query component cuts a script into statements and, for each, prepares
// it with its text and the line and column where it begins in the script,
// then executes it. Preparing reads the leading keywords, decides the
// statement kind, lets that kind's body parse and verify the rest, and
// checks that the statement ends with ";" or the end of the text. Executing
// runs it and leaves the rows-affected count, the execution time and the
// plan behind; a SELECT hands back its result.
//
// Errors: parsing and verification raise ETabulaEngineError 11949 ("SQL
// parsing error - %s at line %u, column %u", line and column in the whole
// script); the statements' own execution errors 11950 ("SQL execution error
// - %s"); errors of the storage engine pass through with their own codes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/sql/expression_parser.h"
#include "db/sql/expression_verifier.h"
#include "db/sql/statement_body.h"
#include "db/sql/statement_database.h"
#include "db/sql/value.h"

namespace downsql::sql {

// Statement kinds; the number is what the query component sees.
enum TStatementKind : uint8_t {
  skNone = 0,
  skSelect = 1,
  skInsert = 2,
  skUpdate = 3,
  skDelete = 4,
  skCreateTable = 5,
  skAlterTable = 6,
  skEmptyTable = 7,
  skOptimizeTable = 8,
  skExportTable = 9,
  skImportTable = 10,
  skVerifyTable = 11,
  skRepairTable = 12,
  skUpgradeTable = 13,
  skDropTable = 14,
  skRenameTable = 15,
  skCreateIndex = 16,
  skDropIndex = 17,
  skStartTransaction = 18,
  skRollback = 19,
  skCommit = 20,
};

// Which hooks of TQueryStatement::callbacks Execute calls.
struct TExecuteOptions {
  bool progress = false;
  bool log = false;
  bool data_lost = false;
  bool plan = false;
};

class TQueryStatement {
 public:
  explicit TQueryStatement(TStatementDatabase& database);
  ~TQueryStatement();
  TQueryStatement(const TQueryStatement&) = delete;
  TQueryStatement& operator=(const TQueryStatement&) = delete;

  // Parses and verifies text, which begins at start_line / start_column of
  // its script. A failure leaves the statement unprepared.
  void Prepare(std::string_view text, uint32_t start_line = 1, uint32_t start_column = 1);
  bool Prepared() const { return body_ != nullptr; }

  TStatementDatabase& database() const { return database_; }
  TStatementKind Kind() const { return kind_; }
  // The first table the statement names: the target of INSERT, UPDATE and
  // DELETE, the table of the table and index statements.
  const std::string& TableName() const;
  // The number of "?" parameters.
  int ParameterCount() const { return parameter_count_; }
  // Whether a SELECT's result is live.
  bool ResultLive() const;

  // Set before Prepare.
  bool RequestLive() const { return request_live_; }
  void SetRequestLive(bool on) { request_live_ = on; }
  int32_t MaxRowCount() const { return max_row_count_; }
  void SetMaxRowCount(int32_t n) { max_row_count_ = n; }

  // Runs the prepared statement with the "?" values in order. Returns the
  // result of a SELECT (nullptr for the other kinds). The transaction
  // state after a failure is the one the statement left: a statement's own
  // transaction is rolled back, one started by START TRANSACTION stays.
  std::unique_ptr<TResultTable> Execute(const std::vector<TValue>& parameters = {},
                                        const TExecuteOptions& options = {});

  uint32_t RowsAffected() const { return rows_affected_; }
  // Seconds, from the millisecond tick count.
  double ExecutionTime() const { return execution_time_; }
  // The plan lines of the last execution that asked for them.
  const std::vector<std::string>& Plan() const { return plan_; }

  TStatementCallbacks callbacks;

 private:
  void Dispatch();
  // Prepares text through the body of the statement prepared last when
  // text begins like that statement's up to the body's resume point;
  // false when it does not or the body declines.
  bool PrepareAgain(std::string_view text, uint32_t start_line, uint32_t start_column);
  // The checks and notes after a body prepared: the closing parenthesis of
  // a parenthesized SELECT, the end of the statement, its text.
  void FinishPrepare(bool parenthesized);

  TStatementDatabase& database_;
  TExpressionParser parser_;
  TExpressionVerifier verifier_;
  TStatementEnv env_;
  std::unique_ptr<TStatementBody> body_;
  TStatementKind kind_ = skNone;
  bool request_live_ = false;
  int32_t max_row_count_ = -1;
  int parameter_count_ = 0;
  std::string text_;
  // What the body's resume point needs of the statement prepared last: its
  // text up to the point and the context the keywords gave ("" when the
  // body has no point).
  std::string resume_text_;
  std::string resume_context_;
  TExpressionParser::TResumePoint resume_point_;
  uint32_t rows_affected_ = 0;
  double execution_time_ = 0;
  std::vector<std::string> plan_;
};

}  // namespace downsql::sql
