// TStatementBody: the grammar and execution of one statement kind behind
// TQueryStatement.
//
// TQueryStatement reads the leading keywords, picks the kind and hands the
// body the parser positioned on the first token after those keywords.
// Prepare parses the rest of the statement up to (not including) its end
// (";" or the end of the text) and verifies it; Execute runs it. A SELECT
// body is also what INSERT ... SELECT reads its rows from.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/sql/expression_parser.h"
#include "db/sql/expression_verifier.h"
#include "db/sql/statement_database.h"
#include "db/sql/value.h"
#include "db/storage/column_def.h"

namespace downsql::sql {

// Hooks a statement calls while it runs; an empty hook is skipped.
struct TStatementCallbacks {
  // Percent done (0..100); setting abort ends the statement's loop.
  std::function<void(uint16_t percent, bool& abort)> progress;
  // Messages of verification, repair and upgrade.
  std::function<void(const std::string& message)> log;
  // A change of table structure would lose data in table; clearing go_on
  // stops it.
  std::function<void(const std::string& table, bool& go_on)> data_lost;
};

// What a body works with: the statement's database, parser and verifier,
// and, while executing, the bound parameters, the wanted hooks and the
// statement's outputs.
struct TStatementEnv {
  TStatementEnv(TStatementDatabase& db, TExpressionParser& p, TExpressionVerifier& v)
      : database(db), parser(p), verifier(v) {}

  TStatementDatabase& database;
  TExpressionParser& parser;
  TExpressionVerifier& verifier;

  // Set by the statement before Prepare.
  bool request_live = false;
  int32_t max_row_count = -1;

  // Set by the statement before Execute: the "?" values in order of
  // appearance (nullptr when none were given) and the hooks the caller
  // wants called (the others are empty).
  const std::vector<TValue>* parameters = nullptr;
  TStatementCallbacks callbacks;
  bool plan_wanted = false;

  // Outputs of Execute.
  uint32_t rows_affected = 0;
  std::vector<std::string> plan;
};

class TStatementBody {
 public:
  virtual ~TStatementBody() = default;

  // Parses from the parser's current token up to the end of the statement
  // (which it leaves current) and verifies the statement: names, columns,
  // values. Raises the parsing error (11949) or the storage engine's errors.
  virtual void Prepare(TStatementEnv& env) = 0;
  // Runs the prepared statement. Returns the result of a SELECT, else
  // nullptr. Raises the execution error (11950) and the storage engine's
  // errors.
  virtual std::unique_ptr<TResultTable> Execute(TStatementEnv& env) = 0;

  // Reading a statement again: a body that can take a new text beginning
  // like the one it was prepared from returns the parser's point up to
  // which the two must agree (saved during Prepare), else nullptr.
  virtual const TExpressionParser::TResumePoint* ResumePoint() const { return nullptr; }
  // Prepares the body for such a text, the parser standing at that point;
  // everything before it has been read and verified already and is as it
  // was. Returns false, having raised nothing, when the body must be built
  // anew (its table changed, say); errors as for Prepare.
  virtual bool PrepareAgain(TStatementEnv&) { return false; }

  // The first table the statement names ("" when none).
  virtual const std::string& TableName() const = 0;
  // After Prepare, for a SELECT: the columns of its result (types, sizes,
  // names). nullptr for the other kinds.
  virtual const std::vector<storage::TFieldDef>* ResultColumns() const { return nullptr; }
  // After Prepare, for a SELECT: whether its result is live (a cursor on the
  // base table that takes changes).
  virtual bool ResultLive() const { return false; }
};

// The SELECT body, positioned on the word SELECT (owned by the SELECT
// engine, select_statement.cc).
std::unique_ptr<TStatementBody> NewSelectStatement();

}  // namespace downsql::sql
