// What INSERT, UPDATE and DELETE share: the target table and its columns,
// the commit clause, the check of a value's type against its column, the
// storing of a value into a record, and the loop of a statement that
// changes many rows (own transaction, interval commits, progress).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/sql/column_resolver.h"
#include "db/sql/expression_evaluator.h"
#include "db/sql/statement_body.h"
#include "db/storage/data_cursor.h"

namespace downsql::sql {

// The table a statement changes, as written.
struct TTargetTable {
  std::string name;
  std::string correlation;  // "" when none
  bool exclusive = false;
};

// Reads "table [[AS] correlation] [EXCLUSIVE]". A plain word that the
// statement's grammar reads next (one of stop_words) is not a correlation.
void ParseTarget(TExpressionParser& parser, TTargetTable& target,
                 std::initializer_list<std::string_view> stop_words);

// COMMIT INTERVAL n [FLUSH] | COMMIT FLUSH, after a change statement.
struct TCommitClause {
  uint32_t interval = 0;
  bool interval_given = false;
  bool flush = false;
};
void ParseCommitClause(TExpressionParser& parser, TCommitClause& clause);

// The column of fields called name (without regard to case), or nullptr.
// The search starts at index first (names are unique, so only the time it
// takes depends on it: a list in the table's order finds each at once).
const storage::TFieldDef* FindField(const std::vector<storage::TFieldDef>& fields,
                                    std::string_view name, size_t first = 0);

// Raises the Expected error at node, listing the value types column
// accepts, unless node's type is one of them (an untyped node fits all).
void RequireAcceptedType(const TExpressionVerifier& verifier, const storage::TFieldDef& column,
                         const TExpToken& node);
// The test of RequireAcceptedType without the error.
bool AcceptsType(const storage::TFieldDef& column, const TExpToken& node);
// The names of the value types a column accepts ("Date or Timestamp").
std::string AcceptedTypeNames(const storage::TFieldDef& column);

// Makes a string constant assigned to a date, time or timestamp column that
// type; a text that is no such value is the Expected error at node.
void ConvertConstantForColumn(TExpressionVerifier& verifier, const storage::TFieldDef& column,
                              TExpToken& node);

// Stores value into column of record (NULL, BLOB through the cursor, other
// types converted). A failed conversion raises the execution error "Internal
// error: type mismatch between column <column> and constant value <value>
// in <statement> statement".
void StoreValue(storage::TDataCursor& cursor, storage::TRecordBuffer& record,
                const storage::TFieldDef& column, const TValue& value, std::string_view statement);

// After record was inserted through cursor: the value of its first AUTOINC
// column becomes the database's last identity (none: unchanged).
void NoteIdentity(TStatementDatabase& database, const storage::TDataCursor& cursor,
                  const storage::TRecordBuffer& record);

// Lets LASTAUTOINC in context read the tables of database.
void UseCounters(TEvalContext& context, TStatementDatabase& database);

// Resolves column names against the target table and reads them from its
// cursor's current record.
class TTargetResolver : public TColumnResolver {
 public:
  TTargetResolver(const TTargetTable& target, storage::TDataCursor& cursor)
      : target_(target), cursor_(cursor) {}
  bool ResolveColumn(std::string_view correlation, std::string_view name,
                     TColumnBinding* binding) override;
  bool ReadColumn(const TColumnBinding& binding, TValue* value) override;

 private:
  const TTargetTable& target_;
  storage::TDataCursor& cursor_;
};

// A resolver that knows no column (INSERT ... VALUES).
class TNoColumns : public TColumnResolver {
 public:
  bool ResolveColumn(std::string_view, std::string_view, TColumnBinding*) override { return false; }
  bool ReadColumn(const TColumnBinding&, TValue*) override { return false; }
};

// The frame of a statement that changes rows one by one: when the database
// has no transaction it starts one over the target table and commits every
// interval rows (the caller's transaction only when COMMIT INTERVAL was
// given); progress is reported by the session's step. Destroyed before
// Finish (an error or an abort), its own transaction is rolled back.
class TRowLoop {
 public:
  TRowLoop(TStatementEnv& env, const TCommitClause& clause, const std::string& table,
           uint32_t record_size, uint32_t total);
  ~TRowLoop();
  TRowLoop(const TRowLoop&) = delete;
  TRowLoop& operator=(const TRowLoop&) = delete;

  // Reports progress before source row n (1, 2, ...); false when the
  // callback asked to abort.
  bool Progress();
  // Counts a changed row and commits at the interval.
  void RowDone();
  // Commits an own transaction, reports 100 when not yet reported.
  void Finish();
  // Ends the loop after an abort: an own transaction is rolled back.
  void Abort();

  uint32_t rows() const { return rows_; }

 private:
  TStatementEnv& env_;
  bool own_ = false;
  bool commit_intervals_ = false;
  bool flush_;
  uint32_t interval_ = 0;
  uint32_t total_;
  uint32_t n_ = 0;
  uint32_t step_;
  uint32_t last_reported_ = 0;
  uint32_t rows_ = 0;
  uint32_t since_commit_ = 0;
  bool done_ = false;
};

}  // namespace downsql::sql
