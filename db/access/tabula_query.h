// TTabulaQuery: the dataset through which SQL runs.
//
// SQL is a list of lines; the text used is the lines joined, each followed
// by CR LF. It holds one statement or a script of statements separated by
// semicolons (script_cutter.h says how it is cut). Running the text prepares
// and executes one statement after the other in the query's database,
// summing their rows affected into AffectedRows and their execution times
// into ExecutionTotal, and routing the engine's progress of SELECT, INSERT,
// UPDATE and DELETE to OnQueryProgress. Open runs the text and shows the
// result of its last statement, which must be a SELECT, as a dataset of
// fields (dataset.h); RunStatements runs it for its effects.
//
// Empty statements (";;", or a ";" followed only by comments before the
// next ";") are stepped over: the run goes on with the next statement.
//
// When a statement fails (in prepare or in execute), OnQueryError decides:
// aaContinue skips the statement, aaRetry runs it again, aaAbort ends the
// run with a silent EAbort. Without a handler the error passes on. Either
// way, when the run ends on an error while a transaction that the script
// itself started (START TRANSACTION, not yet followed by COMMIT or ROLLBACK)
// is active, that transaction is rolled back first. After a run of a
// script, cutting starts again from its first statement, also after an
// error.
//
// The query holds its database (TTabulaSession::AcquireDatabase of
// DatabaseName in the session named SessionName) while it runs or is open;
// a name that is a directory path opens that directory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/access/dataset.h"
#include "db/access/script_cutter.h"
#include "db/access/tabula_database.h"
#include "db/sql/value.h"

namespace downsql::sql {
class TQueryStatement;
class TResultTable;
struct TExecuteOptions;
}  // namespace downsql::sql

namespace downsql::access {

class TTabulaSession;
class TDirectoryStatementDatabase;

namespace msg {
inline constexpr const char kNoSqlStatement[] = "No SQL statement available";
inline constexpr const char kNoParameterType[] = "No parameter type for parameter '%s'";
inline constexpr const char kParameterNotFound[] = "Parameter '%s' not found";
inline constexpr const char kCircularDataLink[] = "Circular data links are not allowed";
inline constexpr const char kNoTableHandle[] = "Error creating table handle";
inline constexpr const char kDataSetOpen[] = "Cannot perform this operation on an open dataset";
inline constexpr const char kDataSetClosed[] = "Cannot perform this operation on a closed dataset";
}  // namespace msg

// The silent abort: ends an operation without a message to show.
class EAbort : public std::runtime_error {
 public:
  EAbort() : std::runtime_error("Operation aborted") {}
};

enum TAbortAction { aaContinue, aaRetry, aaAbort };

// One parameter of the current statement: its name, the data type its
// value was given with (ftUnknown until then) and the value.
class TTabulaParam {
 public:
  explicit TTabulaParam(std::string name) : name_(std::move(name)) {}

  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return data_type_; }
  // True once a value (NULL included) has been given.
  bool Bound() const { return bound_; }
  bool IsNull() const { return value_.null; }
  const sql::TValue& Value() const { return value_; }

  void SetAsInteger(int64_t value);
  void SetAsFloat(double value);
  void SetAsBoolean(bool value);
  // Windows-1250 text; "" is NULL.
  void SetAsString(const std::string& value);
  // Host date-times (days since 30 December 1899).
  void SetAsDate(double host);
  void SetAsDateTime(double host);
  // A NULL of the given type.
  void SetNull(TFieldType type);
  // A value already in the engine's form, with the field type it stands for.
  void SetValue(const sql::TValue& value, TFieldType type);

 private:
  std::string name_;
  TFieldType data_type_ = ftUnknown;
  bool bound_ = false;
  sql::TValue value_;
};

class TTabulaParams {
 public:
  size_t Count() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  TTabulaParam& Items(size_t index) { return items_[index]; }
  const TTabulaParam& Items(size_t index) const { return items_[index]; }
  // The first parameter of that name (without regard to case), or nullptr.
  TTabulaParam* FindParam(const std::string& name);
  // Raises EDatabaseError "Parameter '%s' not found" when there is none.
  TTabulaParam& ParamByName(const std::string& name);

  void Add(std::string name) { items_.emplace_back(std::move(name)); }

 private:
  std::vector<TTabulaParam> items_;
};

class TTabulaQuery : public TTabulaDatabaseClient {
 public:
  using TNotifyEvent = std::function<void(TTabulaQuery& sender)>;
  using TAbortProgressEvent =
      std::function<void(TTabulaQuery& sender, uint16_t percent_done, bool& abort)>;
  using TAbortErrorEvent =
      std::function<void(TTabulaQuery& sender, const std::exception& e, TAbortAction& action)>;

  TTabulaQuery();
  ~TTabulaQuery() override;
  TTabulaQuery(const TTabulaQuery&) = delete;
  TTabulaQuery& operator=(const TTabulaQuery&) = delete;

  std::string EngineVersion() const;

  // "/" becomes "\", cut to 255. Both require a closed query ("Cannot
  // perform this operation on an open dataset") and unprepare.
  const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(const std::string& name);
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& name);

  // --- the SQL text -------------------------------------------------------
  const std::vector<std::string>& SQL() const { return sql_; }
  // Replaces the lines (nothing happens when the text stays the same).
  void SetSQL(std::vector<std::string> lines);
  void ClearSQL();
  void AddSQL(std::string line);
  // The lines joined, each followed by CR LF.
  std::string SQLText() const;

  // The parameters of the current statement.
  TTabulaParams& Params() { return params_; }
  // Rebuild Params from the text whenever the current statement changes.
  bool ParamCheck = true;

  bool RequestLive() const { return request_live_; }
  void SetRequestLive(bool on);
  int32_t MaxRowCount() const { return max_row_count_; }
  // Passed on at once to a prepared statement.
  void SetMaxRowCount(int32_t count);
  bool ReadOnly = false;
  // The dataset whose fields fill parameters that have no value. Raises
  // "Circular data links are not allowed" for this query's own dataset.
  TTabulaDataSet* DataSource() const { return data_source_; }
  void SetDataSource(TTabulaDataSet* source);
  // Ask the statements for their plan.
  bool PlanWanted = false;

  TAbortProgressEvent OnQueryProgress;
  TAbortErrorEvent OnQueryError;
  TNotifyEvent OnGetParams, BeforeExecute, AfterExecute;

  // The table statements' own events: progress of each kind (setting abort
  // stops it, the table as it was), the messages of VERIFY, REPAIR and
  // UPGRADE TABLE, and ALTER TABLE's question whether to go on when a value
  // cannot be kept in the new layout (clearing go_on leaves the table as it
  // was; unassigned: go on, such values become NULL).
  using TLogEvent = std::function<void(TTabulaQuery& sender, const std::string& message)>;
  using TDataLostEvent =
      std::function<void(TTabulaQuery& sender, const std::string& table, bool& go_on)>;
  TAbortProgressEvent OnAlterProgress, OnOptimizeProgress, OnExportProgress, OnImportProgress,
      OnVerifyProgress, OnRepairProgress, OnUpgradeProgress, OnIndexProgress;
  TLogEvent OnVerifyLog, OnRepairLog, OnUpgradeLog;
  TDataLostEvent OnDataLost;

  // --- running --------------------------------------------------------------
  // Runs the text and opens on the result of its last statement; raises
  // "Error creating table handle" when that gave no result. Does nothing
  // when open.
  void Open();
  void Close();
  bool Active() const { return dataset_ != nullptr; }
  // Runs the text for its effects (the query must be closed). When the last
  // statement is a SELECT the query opens on its result; otherwise the
  // database is let go.
  void RunStatements();
  // Rows affected by the last run (summed over its statements) and its
  // execution time in seconds.
  int32_t AffectedRows() const { return affected_rows_; }
  double ExecutionTotal() const { return execution_total_; }
  // The plan of the last executed statement, when PlanWanted.
  const std::vector<std::string>& Plan() const { return plan_; }

  // Prepares the current statement (holding the database); unprepares.
  void Prepare();
  void UnPrepare();
  bool Prepared() const { return statement_ != nullptr; }
  // The current statement: its text with "?" for parameters, and where it
  // begins in the script.
  const std::string& StatementText() const { return statement_text_; }
  const TScriptCounters& Counters() const { return cutter_.current(); }

  // --- the open result -----------------------------------------------------
  // All raise "Cannot perform this operation on a closed dataset" when the
  // query is not open.
  TTabulaDataSet& DataSet();
  size_t FieldCount() { return DataSet().FieldCount(); }
  TTabulaField& Fields(size_t index) { return DataSet().Fields(index); }
  TTabulaField& FieldByName(const std::string& name) { return DataSet().FieldByName(name); }
  void First() { DataSet().First(); }
  void Next() { DataSet().Next(); }
  bool Eof() { return DataSet().Eof(); }

  // The database held while running or open; nullptr otherwise.
  TTabulaDatabase* Database() { return database_; }

  void CloseForDisconnect() override;

 private:
  void SQLChanged();
  // Prepare through spare, a statement handle of this query that has done
  // its work, when there is one.
  void PrepareWith(std::unique_ptr<sql::TQueryStatement> spare);
  // Cuts the statement at the cutter's position into statement_text_,
  // rebuilding Params when ParamCheck is on.
  void CutStatement(const std::string& script);
  void Hold();
  void Release();
  // Runs the text; returns the result of the last executed statement.
  std::unique_ptr<sql::TResultTable> Run();
  // Runs the prepared statement; returns its result.
  std::unique_ptr<sql::TResultTable> ExecuteStatement();
  // Routes a table statement's progress, log and data-lost hooks to the
  // events of its kind.
  void HookTableStatement(sql::TQueryStatement& statement, sql::TExecuteOptions& options);
  std::vector<sql::TValue> ParameterValues();
  void RollbackScriptTransaction();
  void OpenOn(std::unique_ptr<sql::TResultTable> result);
  TTabulaSession& Session();

  std::string database_name_;
  std::string session_name_;
  std::vector<std::string> sql_;
  TTabulaParams params_;
  bool request_live_ = false;
  int32_t max_row_count_ = -1;
  TTabulaDataSet* data_source_ = nullptr;

  TScriptCutter cutter_;
  std::string statement_text_;
  bool script_transaction_ = false;
  int32_t affected_rows_ = 0;
  double execution_total_ = 0;
  std::vector<std::string> plan_;

  // Destroyed in reverse: the dataset, the result, the statement, then the
  // statements' view of the directory.
  TTabulaDatabase* database_ = nullptr;
  std::unique_ptr<TDirectoryStatementDatabase> statement_database_;
  std::unique_ptr<sql::TQueryStatement> statement_;
  std::unique_ptr<sql::TResultTable> result_;
  std::unique_ptr<TTabulaDataSet> dataset_;
};

}  // namespace downsql::access
