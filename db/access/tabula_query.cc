// The query component: running SQL text statement by statement.
#include "db/access/tabula_query.h"

#include <cmath>
#include <utility>

#include "base/date_time.h"
#include "db/access/database_error.h"
#include "db/access/directory_statement_database.h"
#include "db/access/names.h"
#include "db/access/tabula_engine.h"
#include "db/access/tabula_session.h"
#include "db/sql/query_statement.h"
#include "db/storage/column_type.h"

namespace downsql::access {
namespace {

using storage::ColumnType;

// The engine's value of a field of the master dataset.
sql::TValue FieldValue(TTabulaField& field) {
  TFieldType type = field.DataType();
  if (field.IsNull()) return sql::TValue::Null();
  switch (type) {
    case ftSmallint:
      return sql::TValue::Integer(field.AsInteger(), storage::kTypeSmallInt);
    case ftWord:
      return sql::TValue::Integer(field.AsInteger(), storage::kTypeWord);
    case ftLargeint:
      return sql::TValue::Integer(field.AsInteger(), storage::kTypeLargeInt);
    case ftInteger:
    case ftAutoInc:
      return sql::TValue::Integer(field.AsInteger());
    case ftBoolean:
      return sql::TValue::Boolean(field.AsBoolean());
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      return sql::TValue::Float(field.AsFloat());
    case ftDate:
      return sql::TValue::Date(static_cast<int32_t>(std::floor(field.AsDateTime())) +
                               base::kHostEpochDayNumber);
    case ftTime:
      return sql::TValue::Time(
          static_cast<int32_t>(std::llround(field.AsDateTime() * base::kMsPerDay)));
    case ftDateTime:
      return sql::TValue::Timestamp(base::TimestampFromHostDateTime(field.AsDateTime()));
    default:
      return sql::TValue::String(field.AsString());
  }
}

// Hooks set on a statement for one execution; cleared again on every path.
class StatementHooks {
 public:
  explicit StatementHooks(sql::TQueryStatement& statement) : statement_(statement) {}
  ~StatementHooks() { statement_.callbacks = {}; }
  StatementHooks(const StatementHooks&) = delete;
  StatementHooks& operator=(const StatementHooks&) = delete;

 private:
  sql::TQueryStatement& statement_;
};

}  // namespace

// --- parameters ----------------------------------------------------------

void TTabulaParam::SetValue(const sql::TValue& value, TFieldType type) {
  value_ = value;
  data_type_ = type;
  bound_ = true;
}

void TTabulaParam::SetAsInteger(int64_t value) { SetValue(sql::TValue::Integer(value), ftInteger); }

void TTabulaParam::SetAsFloat(double value) { SetValue(sql::TValue::Float(value), ftFloat); }

void TTabulaParam::SetAsBoolean(bool value) { SetValue(sql::TValue::Boolean(value), ftBoolean); }

void TTabulaParam::SetAsString(const std::string& value) {
  SetValue(sql::TValue::String(value), ftString);
}

void TTabulaParam::SetAsDate(double host) {
  SetValue(sql::TValue::Date(static_cast<int32_t>(std::floor(host)) + base::kHostEpochDayNumber),
           ftDate);
}

void TTabulaParam::SetAsDateTime(double host) {
  SetValue(sql::TValue::Timestamp(base::TimestampFromHostDateTime(host)), ftDateTime);
}

void TTabulaParam::SetNull(TFieldType type) {
  static constexpr struct {
    TFieldType field;
    uint8_t column;
  } kColumnOf[] = {
      {ftString, storage::kTypeString},      {ftSmallint, storage::kTypeSmallInt},
      {ftInteger, storage::kTypeInteger},    {ftWord, storage::kTypeWord},
      {ftBoolean, storage::kTypeBoolean},    {ftFloat, storage::kTypeFloat},
      {ftCurrency, storage::kTypeFloat},     {ftBCD, storage::kTypeDecimal},
      {ftDate, storage::kTypeDate},          {ftTime, storage::kTypeTime},
      {ftDateTime, storage::kTypeTimestamp}, {ftBytes, storage::kTypeBytes},
      {ftVarBytes, storage::kTypeVarBytes},  {ftAutoInc, storage::kTypeInteger},
      {ftMemo, storage::kTypeBlob},          {ftBlob, storage::kTypeBlob},
      {ftLargeint, storage::kTypeLargeInt},
  };
  uint8_t column = 0;
  for (const auto& row : kColumnOf) {
    if (row.field == type) column = row.column;
  }
  SetValue(sql::TValue::Null(column), type);
}

TTabulaParam* TTabulaParams::FindParam(const std::string& name) {
  for (TTabulaParam& p : items_) {
    if (SameName(p.Name(), name)) return &p;
  }
  return nullptr;
}

TTabulaParam& TTabulaParams::ParamByName(const std::string& name) {
  TTabulaParam* p = FindParam(name);
  if (p == nullptr) throw EDatabaseError(msg::kParameterNotFound, name);
  return *p;
}

// --- the query -------------------------------------------------------------

TTabulaQuery::TTabulaQuery() = default;

TTabulaQuery::~TTabulaQuery() {
  try {
    Close();
    Release();
  } catch (...) {
    // Closing never fails in a way the owner could act on here.
  }
}

std::string TTabulaQuery::EngineVersion() const { return kEngineVersion; }

void TTabulaQuery::SetDatabaseName(const std::string& name) {
  std::string n = NormalizeName(name);
  if (n == database_name_) return;
  if (Active()) throw EDatabaseError(msg::kDataSetOpen);
  if (database_ != nullptr) throw EDatabaseError(msg::kDatabaseOpen);
  UnPrepare();
  database_name_ = std::move(n);
}

void TTabulaQuery::SetSessionName(const std::string& name) {
  if (name == session_name_) return;
  if (Active()) throw EDatabaseError(msg::kDataSetOpen);
  UnPrepare();
  Release();
  session_name_ = name;
}

void TTabulaQuery::SetSQL(std::vector<std::string> lines) {
  std::vector<std::string> old = std::move(sql_);
  sql_ = std::move(lines);
  std::string before;
  for (const std::string& line : old) before += line + "\r\n";
  if (before == SQLText()) return;
  SQLChanged();
}

void TTabulaQuery::ClearSQL() {
  sql_.clear();
  SQLChanged();
}

void TTabulaQuery::AddSQL(std::string line) {
  sql_.push_back(std::move(line));
  SQLChanged();
}

std::string TTabulaQuery::SQLText() const {
  std::string text;
  for (const std::string& line : sql_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TTabulaQuery::SQLChanged() {
  cutter_.Reset();
  Close();
  UnPrepare();
  CutStatement(SQLText());
}

void TTabulaQuery::CutStatement(const std::string& script) {
  if (!ParamCheck) {
    statement_text_ = cutter_.Cut(script);
    return;
  }
  std::vector<std::string> names;
  statement_text_ = cutter_.Cut(script, &names);
  TTabulaParams rebuilt;
  for (std::string& name : names) rebuilt.Add(std::move(name));
  for (size_t i = 0; i < rebuilt.Count(); ++i) {
    TTabulaParam& p = rebuilt.Items(i);
    if (const TTabulaParam* old = params_.FindParam(p.Name()); old != nullptr && old->Bound()) {
      p.SetValue(old->Value(), old->DataType());
    }
  }
  params_ = std::move(rebuilt);
}

void TTabulaQuery::SetRequestLive(bool on) {
  if (on == request_live_) return;
  UnPrepare();
  request_live_ = on;
}

void TTabulaQuery::SetMaxRowCount(int32_t count) {
  max_row_count_ = count;
  if (statement_) statement_->SetMaxRowCount(count);
}

void TTabulaQuery::SetDataSource(TTabulaDataSet* source) {
  if (source != nullptr && source == dataset_.get()) throw EDatabaseError(msg::kCircularDataLink);
  data_source_ = source;
}

TTabulaSession& TTabulaQuery::Session() {
  TTabulaEngine* engine = TTabulaEngine::Default();
  if (engine == nullptr) throw EDatabaseError(msg::kSessionNameInvalid, session_name_);
  if (session_name_.empty()) return *engine->default_session();
  return engine->SessionByName(session_name_);
}

void TTabulaQuery::Hold() {
  if (database_ != nullptr) return;
  TTabulaSession& session = Session();
  TTabulaDatabase& database = session.AcquireDatabase(database_name_);
  database.RegisterClient(*this);
  database_ = &database;
  try {
    statement_database_ = std::make_unique<TDirectoryStatementDatabase>(*database.Handle());
  } catch (...) {
    Release();
    throw;
  }
}

void TTabulaQuery::Release() {
  if (database_ == nullptr) return;
  dataset_.reset();
  result_.reset();
  statement_.reset();
  statement_database_.reset();
  TTabulaDatabase* database = database_;
  database_ = nullptr;
  database->UnregisterClient(*this);
  if (TTabulaSession* session = database->Session()) session->ReleaseDatabase(*database);
}

void TTabulaQuery::CloseForDisconnect() {
  // The database is going away: drop everything that points into it
  // without handing it back (it is being disconnected already).
  dataset_.reset();
  result_.reset();
  statement_.reset();
  statement_database_.reset();
  if (database_ != nullptr) database_->UnregisterClient(*this);
  database_ = nullptr;
}

void TTabulaQuery::Prepare() { PrepareWith(nullptr); }

void TTabulaQuery::PrepareWith(std::unique_ptr<sql::TQueryStatement> spare) {
  if (statement_) return;
  if (sql_.empty() || IsEmptyStatement(statement_text_)) throw EDatabaseError(msg::kNoSqlStatement);
  Hold();
  auto statement = spare && &spare->database() == statement_database_.get()
                       ? std::move(spare)
                       : std::make_unique<sql::TQueryStatement>(*statement_database_);
  statement->SetRequestLive(request_live_);
  statement->SetMaxRowCount(max_row_count_);
  statement->Prepare(statement_text_, cutter_.start_line(), cutter_.start_column());
  statement_ = std::move(statement);
}

void TTabulaQuery::UnPrepare() {
  if (Active()) return;
  statement_.reset();
}

std::vector<sql::TValue> TTabulaQuery::ParameterValues() {
  std::vector<sql::TValue> values;
  values.reserve(params_.Count());
  for (size_t i = 0; i < params_.Count(); ++i) {
    const TTabulaParam& p = params_.Items(i);
    if (p.DataType() == ftUnknown) throw EDatabaseError(msg::kNoParameterType, p.Name());
    values.push_back(p.Value());
  }
  return values;
}

void TTabulaQuery::RollbackScriptTransaction() {
  if (script_transaction_ && database_ != nullptr && database_->TransactionActive()) {
    database_->RollbackTransaction();
  }
  script_transaction_ = false;
}

void TTabulaQuery::HookTableStatement(sql::TQueryStatement& statement,
                                      sql::TExecuteOptions& options) {
  const TAbortProgressEvent* progress = nullptr;
  const TLogEvent* log = nullptr;
  switch (statement.Kind()) {
    case sql::skAlterTable:
      progress = &OnAlterProgress;
      break;
    case sql::skOptimizeTable:
      progress = &OnOptimizeProgress;
      break;
    case sql::skExportTable:
      progress = &OnExportProgress;
      break;
    case sql::skImportTable:
      progress = &OnImportProgress;
      break;
    case sql::skVerifyTable:
      progress = &OnVerifyProgress;
      log = &OnVerifyLog;
      break;
    case sql::skRepairTable:
      progress = &OnRepairProgress;
      log = &OnRepairLog;
      break;
    case sql::skUpgradeTable:
      progress = &OnUpgradeProgress;
      log = &OnUpgradeLog;
      break;
    default:
      progress = &OnIndexProgress;
      break;
  }
  if (*progress) {
    options.progress = true;
    statement.callbacks.progress = [this, progress](uint16_t percent, bool& abort) {
      (*progress)(*this, percent, abort);
    };
  }
  if (log != nullptr && *log) {
    options.log = true;
    statement.callbacks.log = [this, log](const std::string& message) { (*log)(*this, message); };
  }
  if (statement.Kind() == sql::skAlterTable && OnDataLost) {
    options.data_lost = true;
    statement.callbacks.data_lost = [this](const std::string& table, bool& go_on) {
      OnDataLost(*this, table, go_on);
    };
  }
}

std::unique_ptr<sql::TResultTable> TTabulaQuery::ExecuteStatement() {
  sql::TQueryStatement& statement = *statement_;
  StatementHooks hooks(statement);
  sql::TExecuteOptions options;
  options.plan = PlanWanted;
  switch (statement.Kind()) {
    case sql::skSelect:
    case sql::skInsert:
    case sql::skUpdate:
    case sql::skDelete:
      if (OnQueryProgress) {
        options.progress = true;
        statement.callbacks.progress = [this](uint16_t percent, bool& abort) {
          OnQueryProgress(*this, percent, abort);
        };
      }
      if (!params_.empty() && OnGetParams) OnGetParams(*this);
      if (data_source_ != nullptr) {
        for (size_t i = 0; i < params_.Count(); ++i) {
          TTabulaParam& p = params_.Items(i);
          if (p.Bound()) continue;
          TTabulaField& field = data_source_->FieldByName(p.Name());
          p.SetValue(FieldValue(field), field.DataType());
        }
      }
      break;
    case sql::skAlterTable:
    case sql::skOptimizeTable:
    case sql::skExportTable:
    case sql::skImportTable:
    case sql::skVerifyTable:
    case sql::skRepairTable:
    case sql::skUpgradeTable:
    case sql::skCreateIndex:
      HookTableStatement(statement, options);
      break;
    case sql::skStartTransaction:
      script_transaction_ = true;
      break;
    case sql::skCommit:
    case sql::skRollback:
      script_transaction_ = false;
      break;
    default:
      break;
  }
  if (BeforeExecute) BeforeExecute(*this);
  std::unique_ptr<sql::TResultTable> result = statement.Execute(ParameterValues(), options);
  affected_rows_ += static_cast<int32_t>(statement.RowsAffected());
  execution_total_ += statement.ExecutionTime();
  plan_ = statement.Plan();
  return result;
}

std::unique_ptr<sql::TResultTable> TTabulaQuery::Run() {
  if (sql_.empty()) throw EDatabaseError(msg::kNoSqlStatement);
  Hold();
  affected_rows_ = 0;
  execution_total_ = 0;
  script_transaction_ = false;
  TAbortAction action = aaContinue;
  const std::string script = SQLText();
  bool is_script = false;
  std::unique_ptr<sql::TResultTable> result;

  // However the run ends, a script's next run starts from its first
  // statement.
  struct BackToTop {
    TTabulaQuery& query;
    const std::string& script;
    bool& is_script;
    ~BackToTop() {
      if (!is_script) return;
      query.cutter_.Reset();
      query.CutStatement(script);
    }
  } back_to_top{*this, script, is_script};

  // The previous statement's handle, kept for the next one: an import's
  // statements that begin alike are read on from where they differ. It is
  // held only from one statement's end to the next one's preparation.
  std::unique_ptr<sql::TQueryStatement> spare;
  for (bool first = true;; first = false) {
    // An empty statement (";;") is stepped over, not taken for the end of
    // the script; only empty statements up to the end finish the run.
    while (IsEmptyStatement(statement_text_) && !cutter_.AtEnd(script)) {
      is_script = true;
      statement_.reset();
      CutStatement(script);
    }
    if (!first && IsEmptyStatement(statement_text_)) break;
    result.reset();
    try {
      PrepareWith(std::move(spare));
      if (!cutter_.AtEnd(script)) is_script = true;
      result = ExecuteStatement();
    } catch (const EAbort&) {
      RollbackScriptTransaction();
      throw;
    } catch (const std::exception& e) {
      result.reset();
      if (!OnQueryError) {
        RollbackScriptTransaction();
        throw;
      }
      OnQueryError(*this, e, action);
      if (action == aaAbort) {
        RollbackScriptTransaction();
        throw EAbort();
      }
      if (action == aaRetry) cutter_.RestoreSaved();
    }
    if (AfterExecute) AfterExecute(*this);
    if (cutter_.AtEnd(script)) break;
    spare = std::move(statement_);
    CutStatement(script);
  }
  return result;
}

void TTabulaQuery::OpenOn(std::unique_ptr<sql::TResultTable> result) {
  auto dataset = std::make_unique<TTabulaDataSet>(result->cursor());
  result_ = std::move(result);
  dataset->Open();
  dataset_ = std::move(dataset);
}

void TTabulaQuery::Open() {
  if (Active()) return;
  try {
    std::unique_ptr<sql::TResultTable> result = Run();
    if (!result) throw EDatabaseError(msg::kNoTableHandle);
    OpenOn(std::move(result));
  } catch (...) {
    Release();
    throw;
  }
}

void TTabulaQuery::RunStatements() {
  if (Active()) throw EDatabaseError(msg::kDataSetOpen);
  try {
    std::unique_ptr<sql::TResultTable> result = Run();
    if (result && statement_ && statement_->Kind() == sql::skSelect) {
      OpenOn(std::move(result));
      return;
    }
  } catch (...) {
    Release();
    throw;
  }
  Release();
}

void TTabulaQuery::Close() {
  if (!Active()) return;
  dataset_.reset();
  result_.reset();
  Release();
}

TTabulaDataSet& TTabulaQuery::DataSet() {
  if (!dataset_) throw EDatabaseError(msg::kDataSetClosed);
  return *dataset_;
}

}  // namespace downsql::access
