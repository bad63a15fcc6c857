// The pieces INSERT, UPDATE and DELETE share.
#include "db/sql/row_change.h"

#include <algorithm>

#include "db/sql/record_values.h"
#include "db/sql/statement_kinds.h"
#include "db/storage/engine_error.h"
#include "platform/locale.h"

namespace downsql::sql {

using namespace storage;

namespace {

bool SameText(std::string_view a, std::string_view b) {
  // Names are mostly written as declared: the byte compare answers first.
  return a.size() == b.size() && (a == b || platform::SameTextNoCase(a, b));
}

// Value types as the acceptance table sees them.
enum TValueClass : uint32_t {
  kvString = 1 << 0,  // plain, fixed-character, wide or GUID
  kvMemo = 1 << 1,
  kvBlob = 1 << 2,
  kvGraphic = 1 << 3,
  kvDate = 1 << 4,
  kvTimestamp = 1 << 5,
  kvTime = 1 << 6,
  kvBoolean = 1 << 7,
  kvSmallInt = 1 << 8,
  kvInteger = 1 << 9,  // also AUTOINC
  kvWord = 1 << 10,
  kvLargeInt = 1 << 11,
  kvFloat = 1 << 12,  // also MONEY
  kvBcd = 1 << 13,
  kvBytes = 1 << 14,
  kvVarBytes = 1 << 15,
};

uint32_t ClassOf(uint8_t type, uint8_t subtype) {
  switch (type) {
    case kTypeString:
      return kvString;
    case kTypeBlob:
      return subtype == kSubtypeMemo ? kvMemo : subtype == kSubtypeGraphic ? kvGraphic : kvBlob;
    case kTypeDate:
      return kvDate;
    case kTypeTimestamp:
      return kvTimestamp;
    case kTypeTime:
      return kvTime;
    case kTypeBoolean:
      return kvBoolean;
    case kTypeSmallInt:
      return kvSmallInt;
    case kTypeInteger:
      return kvInteger;
    case kTypeWord:
      return kvWord;
    case kTypeLargeInt:
      return kvLargeInt;
    case kTypeFloat:
      return kvFloat;
    case kTypeDecimal:
      return kvBcd;
    case kTypeBytes:
      return kvBytes;
    case kTypeVarBytes:
      return kvVarBytes;
    default:
      return 0;
  }
}

// Which value types each kind of column takes, and how the message names
// them.
struct TAcceptance {
  uint32_t columns;  // the column's own class (one or more)
  uint32_t values;
  const char* names;
};

constexpr uint32_t kIntegers = kvSmallInt | kvInteger | kvWord | kvLargeInt;
constexpr uint32_t kNumbers = kIntegers | kvFloat | kvBcd;

constexpr TAcceptance kAcceptance[] = {
    {kvString, kvString | kvMemo | kvBlob, "String, FixedChar, GUID, Memo or BLOB"},
    {kvDate | kvTimestamp, kvDate | kvTimestamp, "Date or Timestamp"},
    {kvTime, kvTime, "Time"},
    {kvBoolean, kvBoolean | kIntegers, "Boolean, SmallInt, Integer, Word or LargeInt"},
    {kIntegers, kvBoolean | kNumbers,
     "Boolean, SmallInt, Integer, AutoInc, Word, LargeInt, Float, Currency or BCD"},
    {kvFloat | kvBcd, kNumbers,
     "SmallInt, Integer, AutoInc, Word, LargeInt, Float, Currency or BCD"},
    {kvMemo, kvString | kvMemo, "String or Memo"},
    {kvBlob | kvGraphic, kvBlob | kvMemo | kvGraphic, "BLOB, Memo or Graphic"},
    {kvBytes | kvVarBytes, kvBytes | kvVarBytes, "Bytes or VarBytes"},
};

const TAcceptance* AcceptanceOf(const TFieldDef& column) {
  const uint32_t c = ClassOf(column.type, column.subtype);
  for (const TAcceptance& a : kAcceptance)
    if (a.columns & c) return &a;
  return nullptr;
}

bool IsPlainWord(const TExpressionParser& p, std::initializer_list<std::string_view> words) {
  for (std::string_view w : words)
    if (p.IsKeyword(w)) return true;
  return false;
}

}  // namespace

void ParseTarget(TExpressionParser& p, TTargetTable& target,
                 std::initializer_list<std::string_view> stop_words) {
  target.name = ParseTableName(p);
  if (p.AcceptKeyword("AS")) {
    if (!p.IsIdentifier()) p.ExpectedError("correlation name");
    target.correlation = p.TokenValue();
    p.NextToken();
  } else if (p.IsIdentifier() && !p.IsKeyword("EXCLUSIVE") && !IsPlainWord(p, stop_words)) {
    target.correlation = p.TokenValue();
    p.NextToken();
  }
  target.exclusive = p.AcceptKeyword("EXCLUSIVE");
}

void ParseCommitClause(TExpressionParser& p, TCommitClause& clause) {
  if (!p.AcceptKeyword("COMMIT")) return;
  if (p.AcceptKeyword("INTERVAL")) {
    p.ExpectKind(kTokInteger, "Integer");
    const std::string digits = p.TokenText();
    clause.interval = digits.size() > 9 ? 999999999u : uint32_t(std::stoul(digits));
    clause.interval_given = true;
    p.NextToken();
    clause.flush = p.AcceptKeyword("FLUSH");
  } else if (p.AcceptKeyword("FLUSH")) {
    clause.flush = true;
  } else {
    p.ExpectedError("INTERVAL and/or FLUSH");
  }
}

const TFieldDef* FindField(const std::vector<TFieldDef>& fields, std::string_view name,
                           size_t first) {
  const size_t count = fields.size();
  for (size_t k = 0; k < count; ++k) {
    const TFieldDef& f = fields[(first + k) % count];
    if (SameText(f.name, name)) return &f;
  }
  return nullptr;
}

std::string AcceptedTypeNames(const TFieldDef& column) {
  const TAcceptance* a = AcceptanceOf(column);
  return a ? a->names : "";
}

bool AcceptsType(const TFieldDef& column, const TExpToken& node) {
  // NULL (and so the empty string) fits every column.
  if (node.type == 0 || (node.kind == kNodeConstant && node.param_index < 0 && node.value.null))
    return true;
  const TAcceptance* a = AcceptanceOf(column);
  return a == nullptr || (a->values & ClassOf(node.type, node.subtype)) != 0;
}

void RequireAcceptedType(const TExpressionVerifier& verifier, const TFieldDef& column,
                         const TExpToken& node) {
  if (!AcceptsType(column, node)) verifier.ExpectedError(node, AcceptedTypeNames(column));
}

void ConvertConstantForColumn(TExpressionVerifier& verifier, const TFieldDef& column,
                              TExpToken& node) {
  if (column.type != kTypeDate && column.type != kTypeTime && column.type != kTypeTimestamp) return;
  if (!verifier.ConvertConstant(node, column.type))
    verifier.ExpectedError(node, AcceptedTypeNames(column));
}

void StoreValue(TDataCursor& cursor, TRecordBuffer& record, const TFieldDef& column,
                const TValue& value, std::string_view statement) {
  if (value.null) {
    record.SetNull(column);
    return;
  }
  try {
    if (column.IsBlob()) {
      const TValue bytes =
          value.type == kTypeBlob || IsTextType(value.type) || IsBytesType(value.type)
              ? value
              : ConvertValue(value, kTypeBlob, column.subtype);
      cursor.SetBlob(record, column, std::vector<uint8_t>(bytes.s.begin(), bytes.s.end()));
      return;
    }
    WriteColumnValue(record, column, value, cursor.table().locale());
  } catch (const ETabulaEngineError& e) {
    if (e.code() != kErrSqlExecution) throw;
    ExecutionError("Internal error: type mismatch between column " + column.name +
                   " and constant value " + ValueText(value) + " in " + std::string(statement) +
                   " statement");
  }
}

void NoteIdentity(TStatementDatabase& database, const TDataCursor& cursor,
                  const TRecordBuffer& record) {
  for (const TFieldDef& f : cursor.fields()) {
    if (f.type != kTypeInteger || f.subtype != kSubtypeAutoInc) continue;
    if (const std::optional<int64_t> v = record.GetInteger(f)) database.SetLastIdentity(*v);
    return;
  }
}

void UseCounters(TEvalContext& context, TStatementDatabase& database) {
  context.last_autoinc = [&database](const std::string& table) -> std::optional<int64_t> {
    return database.LastAutoInc(table);
  };
}

bool TTargetResolver::ResolveColumn(std::string_view correlation, std::string_view name,
                                    TColumnBinding* binding) {
  if (!correlation.empty() && !SameText(correlation, target_.name) &&
      !SameText(correlation, target_.correlation))
    return false;
  const TFieldDef* f = FindField(cursor_.fields(), name);
  if (f == nullptr) {
    if (SameText(name, kRecordIdName)) {
      f = &RecordIdField();
    } else if (SameText(name, kRecordHashName)) {
      f = &RecordHashField();
    } else {
      return false;
    }
  }
  binding->source = 0;
  binding->field = f->number;
  binding->type = f->type;
  binding->subtype = f->subtype;
  binding->size = f->size;
  binding->scale = f->scale;
  return true;
}

bool TTargetResolver::ReadColumn(const TColumnBinding& binding, TValue* value) {
  if (!cursor_.has_current()) return false;
  const TFieldDef& f = binding.field == kRecordIdColumn     ? RecordIdField()
                       : binding.field == kRecordHashColumn ? RecordHashField()
                                                            : cursor_.fields()[binding.field - 1];
  if (f.IsBlob() && !cursor_.current().IsNull(f)) {
    const std::vector<uint8_t> bytes = cursor_.ReadBlob(f);
    *value = TValue::String(std::string(bytes.begin(), bytes.end()), f.subtype);
    value->type = kTypeBlob;
    return true;
  }
  *value = ReadColumnValue(cursor_.current(), f);
  return true;
}

TRowLoop::TRowLoop(TStatementEnv& env, const TCommitClause& clause, const std::string& table,
                   uint32_t record_size, uint32_t total)
    : env_(env), flush_(clause.flush), total_(total), step_(env.database.ProgressStep()) {
  TStatementDatabase& db = env.database;
  if (!db.TransactionActive()) {
    interval_ = clause.interval;
    if (!clause.interval_given) {
      const EngineSettings& s = db.Settings();
      interval_ = std::min(2 * s.max_table_data_buffer_size() / std::max(record_size, 1u),
                           s.max_table_data_buffer_count());
    }
    db.StartTransaction({table});
    own_ = true;
    commit_intervals_ = true;
  } else if (clause.interval_given) {
    interval_ = clause.interval;
    commit_intervals_ = true;
  }
  if (interval_ == 0) interval_ = 1;
  if (step_ == 0) step_ = 100;
}

TRowLoop::~TRowLoop() {
  if (own_ && !done_) {
    try {
      env_.database.RollbackTransaction();
    } catch (...) {
      // The statement's own error is the one to report.
    }
  }
}

bool TRowLoop::Progress() {
  ++n_;
  if (!env_.callbacks.progress || total_ == 0) return true;
  const uint32_t percent = uint32_t(uint64_t(n_) * 100 / total_);
  if (percent < last_reported_ + step_) return true;
  bool abort = false;
  env_.callbacks.progress(uint16_t(std::min(percent, 100u)), abort);
  last_reported_ = percent;
  return !abort;
}

void TRowLoop::RowDone() {
  ++rows_;
  if (!commit_intervals_) return;
  if (++since_commit_ < interval_) return;
  since_commit_ = 0;
  env_.database.CommitTransaction(flush_, false);
  env_.rows_affected = rows_;
}

void TRowLoop::Finish() {
  if (own_) env_.database.CommitTransaction(flush_, true);
  done_ = true;
  env_.rows_affected = rows_;
  if (last_reported_ != 100 && env_.callbacks.progress) {
    bool abort = false;
    env_.callbacks.progress(100, abort);
    last_reported_ = 100;
  }
}

void TRowLoop::Abort() {
  if (own_ && !done_) env_.database.RollbackTransaction();
  done_ = true;
}

}  // namespace downsql::sql
