// Recognising a statement by its leading keywords, preparing it through its
// kind's body, and running it with timing, parameters and hooks.
#include "db/sql/query_statement.h"

#include <cstdio>
#include <utility>

#include "db/sql/expression_evaluator.h"
#include "db/sql/statement_kinds.h"
#include "db/storage/engine_error.h"
#include "platform/clock.h"
#include "platform/locale.h"

namespace downsql::sql {

namespace {

// Statements recognised by one word, or by a word and the word that must
// follow it. CREATE and DROP, whose second word decides the kind, are read
// apart.
struct TLeadingWords {
  const char* first;
  const char* second;  // nullptr: the first word alone
  TStatementKind kind;
};

constexpr TLeadingWords kLeadingWords[] = {
    {"SELECT", nullptr, skSelect},          {"INSERT", nullptr, skInsert},
    {"UPDATE", nullptr, skUpdate},          {"DELETE", nullptr, skDelete},
    {"ALTER", "TABLE", skAlterTable},       {"EMPTY", "TABLE", skEmptyTable},
    {"OPTIMIZE", "TABLE", skOptimizeTable}, {"EXPORT", "TABLE", skExportTable},
    {"IMPORT", "TABLE", skImportTable},     {"VERIFY", "TABLE", skVerifyTable},
    {"REPAIR", "TABLE", skRepairTable},     {"UPGRADE", "TABLE", skUpgradeTable},
    {"RENAME", "TABLE", skRenameTable},     {"START", "TRANSACTION", skStartTransaction},
    {"ROLLBACK", nullptr, skRollback},      {"COMMIT", nullptr, skCommit},
};

constexpr char kStatementWords[] =
    "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, DROP, RENAME, EMPTY, OPTIMIZE, EXPORT, "
    "IMPORT, VERIFY, REPAIR, UPGRADE, START, ROLLBACK, or COMMIT";

const std::string kNoTable;

std::unique_ptr<TStatementBody> NewBody(TStatementKind kind, const TExpressionParser& parser,
                                        bool unique, bool nocase) {
  switch (kind) {
    case skSelect:
      return NewSelectStatement();
    case skInsert:
      return NewInsertStatement();
    case skUpdate:
      return NewUpdateStatement();
    case skDelete:
      return NewDeleteStatement();
    case skCreateTable:
      return NewCreateTableStatement();
    case skAlterTable:
      return NewAlterTableStatement();
    case skEmptyTable:
      return NewEmptyTableStatement();
    case skDropTable:
      return NewDropTableStatement();
    case skRenameTable:
      return NewRenameTableStatement();
    case skCreateIndex:
      return NewCreateIndexStatement(unique, nocase);
    case skDropIndex:
      return NewDropIndexStatement();
    case skVerifyTable:
      return NewVerifyTableStatement();
    case skRepairTable:
      return NewRepairTableStatement();
    case skOptimizeTable:
      return NewOptimizeTableStatement();
    case skUpgradeTable:
      return NewUpgradeTableStatement();
    case skExportTable:
      return NewExportTableStatement();
    case skImportTable:
      return NewImportTableStatement();
    case skStartTransaction:
      return NewStartTransactionStatement();
    case skRollback:
      return NewRollbackStatement();
    case skCommit:
      return NewCommitStatement();
    default:
      return NewUnsupportedStatement(parser.KeywordText());
  }
}

}  // namespace

TQueryStatement::TQueryStatement(TStatementDatabase& database)
    : database_(database), env_(database_, parser_, verifier_) {}

TQueryStatement::~TQueryStatement() = default;

const std::string& TQueryStatement::TableName() const {
  return body_ ? body_->TableName() : kNoTable;
}

bool TQueryStatement::ResultLive() const { return body_ && body_->ResultLive(); }

void TQueryStatement::Prepare(std::string_view text, uint32_t start_line, uint32_t start_column) {
  if (PrepareAgain(text, start_line, start_column)) return;
  resume_text_.clear();
  body_.reset();
  kind_ = skNone;
  parameter_count_ = 0;
  parser_.Load(text, start_line, start_column);
  parser_.set_error_code(storage::kErrSqlParsing);
  parser_.set_database_name(database_.DatabaseName());
  parser_.set_context("SQL statement");
  verifier_.set_error_code(storage::kErrSqlParsing);
  verifier_.set_database_name(database_.DatabaseName());
  verifier_.set_context("SQL statement");
  env_.request_live = request_live_;
  env_.max_row_count = max_row_count_;
  parser_.NextToken();
  parser_.MarkStatementStart();
  parser_.MarkKeywordsStart();
  try {
    Dispatch();
  } catch (...) {
    body_.reset();
    kind_ = skNone;
    throw;
  }
  if (const TExpressionParser::TResumePoint* point = body_->ResumePoint()) {
    resume_point_ = *point;
    resume_text_.assign(text.data(), point->pos);
  }
}

void TQueryStatement::Dispatch() {
  TExpressionParser& p = parser_;
  bool parenthesized = false;
  bool unique = false;
  bool nocase = false;
  TStatementKind kind = skNone;
  if (p.AcceptKind('(')) {
    parenthesized = true;
    p.MarkKeywordsStart();
    if (!p.IsKeyword("SELECT")) p.ExpectedError("SELECT");
    kind = skSelect;
    p.NextToken();
  } else if (p.AcceptKeyword("CREATE")) {
    if (p.AcceptKeyword("TABLE")) {
      kind = skCreateTable;
    } else if (p.IsKeyword("INDEX") || p.IsKeyword("UNIQUE") || p.IsKeyword("NOCASE")) {
      unique = p.AcceptKeyword("UNIQUE");
      nocase = p.AcceptKeyword("NOCASE");
      p.RequireKeyword("INDEX");
      kind = skCreateIndex;
    } else {
      p.ExpectedError("TABLE, INDEX, UNIQUE, or NOCASE");
    }
  } else if (p.AcceptKeyword("DROP")) {
    if (p.AcceptKeyword("TABLE")) {
      kind = skDropTable;
    } else if (p.AcceptKeyword("INDEX")) {
      kind = skDropIndex;
    } else {
      p.ExpectedError("TABLE or INDEX");
    }
  } else {
    for (const TLeadingWords& w : kLeadingWords) {
      if (!p.IsKeyword(w.first)) continue;
      p.NextToken();
      if (w.second != nullptr) p.RequireKeyword(w.second);
      kind = w.kind;
      break;
    }
    if (kind == skNone) p.ExpectedError(kStatementWords);
  }
  p.SetContextFromKeywords();
  verifier_.set_context(p.context());
  resume_context_ = p.context();

  body_ = NewBody(kind, p, unique, nocase);
  body_->Prepare(env_);
  FinishPrepare(parenthesized);
  kind_ = kind;
}

void TQueryStatement::FinishPrepare(bool parenthesized) {
  TExpressionParser& p = parser_;
  if (parenthesized) p.RequireChar(')');
  if (!p.IsKind(';') && !p.IsKind(kTokEnd)) p.ExpectedError("end of statement");
  const std::string_view text = p.StatementView();
  text_.assign(text.data(), text.size());
  p.AcceptKind(';');
  parameter_count_ = p.parameter_count();
}

bool TQueryStatement::PrepareAgain(std::string_view text, uint32_t start_line,
                                   uint32_t start_column) {
  const size_t n = resume_text_.size();
  if (!body_ || n == 0 || text.size() <= n || TExpressionParser::ContinuesWord(text[n]) ||
      text.compare(0, n, resume_text_) != 0)
    return false;
  const TStatementKind kind = kind_;
  kind_ = skNone;
  parameter_count_ = 0;
  parser_.LoadAt(text, start_line, start_column, resume_point_);
  parser_.set_context(resume_context_);
  verifier_.set_context(resume_context_);
  env_.request_live = request_live_;
  env_.max_row_count = max_row_count_;
  try {
    if (!body_->PrepareAgain(env_)) return false;
    FinishPrepare(false);
  } catch (...) {
    body_.reset();
    resume_text_.clear();
    throw;
  }
  kind_ = kind;
  return true;
}

std::unique_ptr<TResultTable> TQueryStatement::Execute(const std::vector<TValue>& parameters,
                                                       const TExecuteOptions& options) {
  if (!body_) ExecutionError("The statement has not been prepared");
  std::vector<TValue> padded;
  const std::vector<TValue>* bound = &parameters;
  if (static_cast<int>(parameters.size()) < parameter_count_) {
    // Parameters not given are NULL.
    padded = parameters;
    padded.resize(parameter_count_);
    bound = &padded;
  }
  env_.parameters = bound;
  env_.callbacks = {};
  if (options.progress) env_.callbacks.progress = callbacks.progress;
  if (options.log) env_.callbacks.log = callbacks.log;
  if (options.data_lost) env_.callbacks.data_lost = callbacks.data_lost;
  env_.plan_wanted = options.plan;
  env_.rows_affected = 0;
  env_.plan.clear();
  rows_affected_ = 0;
  execution_time_ = 0;

  const uint64_t start = platform::TickMs();
  std::unique_ptr<TResultTable> result;
  try {
    result = body_->Execute(env_);
  } catch (...) {
    rows_affected_ = env_.rows_affected;
    env_.parameters = nullptr;
    throw;
  }
  const uint64_t end = platform::TickMs();
  env_.parameters = nullptr;
  execution_time_ = end > start ? static_cast<double>(end - start) / 1000.0 : 0.0;
  rows_affected_ = env_.rows_affected;
  if (options.plan) {
    plan_.clear();
    // A SELECT writes its whole plan itself.
    if (kind_ != skSelect) AddPlanHeading(&plan_, text_);
    for (std::string& line : env_.plan) plan_.push_back(std::move(line));
    if (kind_ != skSelect) AddPlanEnd(&plan_, rows_affected_, execution_time_);
  }
  return result;
}

// --- shared by the bodies -------------------------------------------------

void AddPlanText(std::vector<std::string>* plan, const std::string& text) {
  size_t start = 0;
  do {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    while (line.size() > 80) {
      const size_t blank = line.rfind(' ', 80);
      const bool at_blank = blank != std::string::npos && blank > 0;
      const size_t cut = at_blank ? blank : 80;
      plan->push_back(line.substr(0, cut));
      line = line.substr(at_blank ? cut + 1 : cut);
    }
    plan->push_back(line);
    start = end + 1;
  } while (start < text.size());
}

void AddPlanHeading(std::vector<std::string>* plan, const std::string& statement_text) {
  const std::string rule(80, '=');
  plan->push_back(rule);
  plan->push_back("SQL statement (Executed with 1.0 Build 1)");
  plan->push_back(rule);
  plan->push_back("");
  AddPlanText(plan, statement_text);
}

void AddPlanEnd(std::vector<std::string>* plan, uint32_t rows, double seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", seconds);
  plan->push_back("");
  plan->push_back(std::string(80, '='));
  plan->push_back(">>>>> " + std::to_string(rows) + " rows affected in " + buf + " seconds");
}

void AddPlanSection(std::vector<std::string>* plan, const std::string& title) {
  plan->push_back("");
  plan->push_back(title);
  plan->push_back(std::string(title.size(), '-'));
}

void AddPlanTable(std::vector<std::string>* plan, const std::string& name,
                  const std::string& correlation, bool exclusive, uint32_t rows) {
  AddPlanText(plan, name + " (" + correlation + ") table opened " +
                        (exclusive ? "exclusively" : "shared") + ", has " + std::to_string(rows) +
                        " rows");
}

void AddPlanWhere(std::vector<std::string>* plan, const TExpToken& where) {
  AddPlanSection(plan, "WHERE Clause Execution");
  AddPlanText(plan, "The expression " + ExpressionText(where) +
                        " will be evaluated against every joined row");
}

void ExecutionError(std::string_view message) {
  throw storage::ETabulaEngineError(storage::kErrSqlExecution, {std::string(message)});
}

std::optional<uint32_t> LocaleOfName(std::string_view name) {
  for (std::string_view known : {"ANSI Standard", "Default"}) {
    if (name.size() == known.size() && platform::SameTextNoCase(name, known)) return 0;
  }
  return std::nullopt;
}

std::string ParseTableName(TExpressionParser& parser) {
  if (!parser.IsIdentifier()) parser.ExpectedError("table name");
  std::string name = parser.TokenValue();
  parser.NextToken();
  if (parser.IsKind('\\')) {
    parser.NextToken();
    if (!parser.IsIdentifier()) parser.ExpectedError("table name");
    name += '\\';
    name += parser.TokenValue();
    parser.NextToken();
  }
  return name;
}

namespace {

class TUnsupportedStatement : public TStatementBody {
 public:
  explicit TUnsupportedStatement(std::string keywords) : keywords_(std::move(keywords)) {}
  void Prepare(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    while (!p.IsKind(';') && !p.IsKind(kTokEnd)) p.NextToken();
  }
  std::unique_ptr<TResultTable> Execute(TStatementEnv&) override {
    ExecutionError("The " + keywords_ + " statement is not supported");
  }
  const std::string& TableName() const override { return kNoTable; }

 private:
  std::string keywords_;
};

}  // namespace

std::unique_ptr<TStatementBody> NewUnsupportedStatement(std::string keywords) {
  for (char& c : keywords)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return std::make_unique<TUnsupportedStatement>(std::move(keywords));
}

}  // namespace downsql::sql
