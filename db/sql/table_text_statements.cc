// EXPORT TABLE and IMPORT TABLE: a table's rows to and from delimited text
// (delimited_text.h).
//
//   EXPORT TABLE [IF EXISTS] table [EXCLUSIVE] TO 'file' {option}
//   IMPORT TABLE [IF EXISTS] table [EXCLUSIVE] FROM 'file' {option}
//   option := DELIMITER 'c' | WITH HEADERS | COLUMNS (name {, name})
//           | DATE 'format' | TIME 'format' | DECIMAL 'c'
//
// Without COLUMNS every column takes part, in column order. WITH HEADERS
// writes the column names as the first line, and skips the first line when
// importing. Without DATE and TIME formats dates, times and timestamps are
// in the engine's text forms (date_time_text.h); a timestamp is the date,
// one blank and the time. IMPORT inserts through the table cursor (every
// constraint and unique index applies) inside its own transaction with
// interval commits; a field that does not convert names its line and
// column.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/sql/date_time_text.h"
#include "db/sql/delimited_text.h"
#include "db/sql/existing_table_statement.h"
#include "db/sql/record_values.h"
#include "db/sql/row_change.h"
#include "db/sql/statement_kinds.h"
#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"
#include "db/storage/engine_file.h"

namespace downsql::sql {

using namespace storage;

namespace {

// Output is written in pieces of this size.
constexpr size_t kWriteChunk = 1 << 16;

struct TTextOptions {
  char delimiter = ',';
  bool headers = false;
  std::vector<std::string> columns;
  std::optional<TDateTimeFormat> date;
  std::optional<TDateTimeFormat> time;
  char decimal = '.';
};

char ParseCharacter(TExpressionParser& p, std::string_view what) {
  p.ExpectKind(kTokString, what);
  const std::string s = p.TokenValue();
  if (s.size() != 1) p.ExpectedError(what);
  p.NextToken();
  return s[0];
}

std::string ParseString(TExpressionParser& p, std::string_view what) {
  p.ExpectKind(kTokString, what);
  std::string s = p.TokenValue();
  p.NextToken();
  return s;
}

void ParseTextOptions(TExpressionParser& p, TTextOptions& o) {
  for (;;) {
    if (p.AcceptKeyword("DELIMITER")) {
      o.delimiter = ParseCharacter(p, "delimiter character");
    } else if (p.AcceptKeyword("WITH")) {
      p.RequireKeyword("HEADERS");
      o.headers = true;
    } else if (p.AcceptKeyword("COLUMNS")) {
      p.RequireChar('(');
      do {
        if (!p.IsIdentifier()) p.ExpectedError("column name");
        o.columns.push_back(p.TokenValue());
        p.NextToken();
      } while (p.AcceptKind(','));
      p.RequireChar(')');
    } else if (p.AcceptKeyword("DATE")) {
      o.date.emplace(ParseString(p, "date format"), false);
    } else if (p.AcceptKeyword("TIME")) {
      o.time.emplace(ParseString(p, "time format"), true);
    } else if (p.AcceptKeyword("DECIMAL")) {
      o.decimal = ParseCharacter(p, "decimal separator");
    } else {
      return;
    }
  }
}

// The columns taking part: those named, or every column.
std::vector<const TFieldDef*> ChosenColumns(const TDataCursor& cursor, const TTextOptions& o) {
  std::vector<const TFieldDef*> chosen;
  if (o.columns.empty()) {
    for (const TFieldDef& f : cursor.fields()) chosen.push_back(&f);
    return chosen;
  }
  for (const std::string& name : o.columns) {
    const TFieldDef* f = FindField(cursor.fields(), name);
    if (f == nullptr)
      ExecutionError("Column '" + name + "' not found in table " + cursor.table_name());
    chosen.push_back(f);
  }
  return chosen;
}

bool IsFractional(uint8_t type) { return type == kTypeFloat || type == kTypeDecimal; }

// One column of the current record as text ("" for NULL).
std::string FieldText(TDataCursor& cursor, const TFieldDef& f, const TTextOptions& o) {
  const TRecordBuffer& record = cursor.current();
  if (record.IsNull(f)) return "";
  if (f.IsBlob()) {
    const std::vector<uint8_t> bytes = cursor.ReadBlob(f);
    return std::string(bytes.begin(), bytes.end());
  }
  const TValue v = ReadColumnValue(record, f);
  if (f.type == kTypeDate && o.date) return o.date->FormatDate(int32_t(v.i));
  if (f.type == kTypeTime && o.time) return o.time->FormatTime(int32_t(v.i));
  if (f.type == kTypeTimestamp && (o.date || o.time)) {
    const int64_t ms = int64_t(v.f);
    const int32_t day = int32_t(ms / kMsPerDay);
    const int32_t time = int32_t(ms % kMsPerDay);
    return (o.date ? o.date->FormatDate(day) : DateText(day)) + " " +
           (o.time ? o.time->FormatTime(time) : TimeText(time));
  }
  std::string text = ValueText(v);
  if (IsFractional(f.type) && o.decimal != '.') {
    for (char& c : text)
      if (c == '.') c = o.decimal;
  }
  return text;
}

// The value of a field for column f (NULL for an empty field); raises the
// conversion's execution error when the text is no such value.
TValue FieldValue(std::string text, const TFieldDef& f, const TTextOptions& o) {
  if (text.empty()) return TValue::Null();
  if (f.type == kTypeDate && o.date) {
    if (auto day = o.date->ParseDate(text)) return TValue::Date(*day);
    ExecutionError(InvalidDateMessage(text));
  }
  if (f.type == kTypeTime && o.time) {
    if (auto ms = o.time->ParseTime(text)) return TValue::Time(*ms);
    ExecutionError(InvalidTimeMessage(text));
  }
  if (f.type == kTypeTimestamp && (o.date || o.time)) {
    // The date and the time are split at the blank where both parts fit.
    for (size_t blank = text.find(' '); blank != std::string::npos;
         blank = text.find(' ', blank + 1)) {
      const std::string_view date = std::string_view(text).substr(0, blank);
      const std::string_view time = std::string_view(text).substr(blank + 1);
      const auto day = o.date ? o.date->ParseDate(date) : ParseDateText(date);
      const auto ms = o.time ? o.time->ParseTime(time) : ParseTimeText(time);
      if (day && ms) return TValue::Timestamp(double(*day) * kMsPerDay + *ms);
    }
    ExecutionError(InvalidTimestampMessage(text));
  }
  if (IsFractional(f.type) && o.decimal != '.') {
    for (char& c : text)
      if (c == o.decimal) c = '.';
  }
  return TValue::String(std::move(text));
}

// table [EXCLUSIVE] TO|FROM 'file' options
class TTextStatementBase : public TExistingTableStatement {
 protected:
  explicit TTextStatementBase(const char* word) : word_(word) {}

  void PrepareRest(TStatementEnv& env) override {
    TExpressionParser& p = env.parser;
    exclusive_ = p.AcceptKeyword("EXCLUSIVE");
    p.RequireKeyword(word_);
    file_ = ParseString(p, "file name");
    ParseTextOptions(p, options_);
  }

  const char* word_;
  std::string file_;
  bool exclusive_ = false;
  TTextOptions options_;
};

class TExportTableStatement : public TTextStatementBase {
 public:
  TExportTableStatement() : TTextStatementBase("TO") {}

 private:
  void Run(TStatementEnv& env) override {
    std::unique_ptr<TDataCursor> cursor = env.database.OpenTable(name_, exclusive_);
    const std::vector<const TFieldDef*> columns = ChosenColumns(*cursor, options_);
    TEngineFile out(file_, false);
    out.Create(true);
    uint64_t written = 0;
    std::string pending;
    auto end_line = [&] {
      pending += "\r\n";
      if (pending.size() >= kWriteChunk) {
        out.Write(written, pending.data(), pending.size());
        written += pending.size();
        pending.clear();
      }
    };
    if (options_.headers) {
      for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) pending += options_.delimiter;
        AppendDelimitedField(pending, columns[i]->name, options_.delimiter);
      }
      end_line();
    }
    const uint32_t total = cursor->RecordCount();
    const uint32_t step = env.database.ProgressStep() == 0 ? 100 : env.database.ProgressStep();
    uint32_t rows = 0, last = 0;
    TTableReadHold hold(cursor->table());
    cursor->First();
    while (cursor->Next()) {
      for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) pending += options_.delimiter;
        AppendDelimitedField(pending, FieldText(*cursor, *columns[i], options_),
                             options_.delimiter);
      }
      end_line();
      ++rows;
      if (env.callbacks.progress && total > 0) {
        const uint32_t percent = uint32_t(std::min<uint64_t>(uint64_t(rows) * 100 / total, 100));
        if (percent >= last + step) {
          bool abort = false;
          env.callbacks.progress(uint16_t(percent), abort);
          last = percent;
          if (abort) break;
        }
      }
    }
    out.Write(written, pending.data(), pending.size());
    out.Close();
    env.rows_affected = rows;
    if (env.callbacks.progress && last != 100) {
      bool abort = false;
      env.callbacks.progress(100, abort);
    }
  }
};

class TImportTableStatement : public TTextStatementBase {
 public:
  TImportTableStatement() : TTextStatementBase("FROM") {}

 private:
  void Run(TStatementEnv& env) override {
    std::string text;
    {
      TEngineFile in(file_, false);
      in.Open(true, false);
      text.resize(size_t(in.Size()));
      in.Read(0, text.data(), text.size());
      in.Close();
    }
    std::unique_ptr<TDataCursor> cursor = env.database.OpenTable(name_, exclusive_);
    const std::vector<const TFieldDef*> columns = ChosenColumns(*cursor, options_);
    uint32_t lines = 0;
    for (char c : text) lines += c == '\n';
    TRowLoop loop(env, TCommitClause{}, name_, cursor->record_size(), lines);
    TDelimitedReader reader(text, options_.delimiter);
    std::vector<std::string> fields;
    if (options_.headers) reader.Next(&fields);
    const uint32_t locale = cursor->table().locale();
    while (reader.Next(&fields)) {
      if (!loop.Progress()) {
        loop.Abort();
        return;
      }
      if (fields.size() == 1 && fields[0].empty()) continue;  // an empty line
      if (fields.size() > columns.size())
        ExecutionError("Line " + std::to_string(reader.line()) + " of the file '" + file_ +
                       "' has " + std::to_string(fields.size()) + " fields, the table takes " +
                       std::to_string(columns.size()));
      TRecordBuffer record = cursor->NewRecord();
      for (size_t i = 0; i < columns.size(); ++i) {
        const TFieldDef& f = *columns[i];
        std::string field = i < fields.size() ? std::move(fields[i]) : std::string();
        try {
          if (f.IsBlob()) {
            cursor->SetBlob(record, f, std::vector<uint8_t>(field.begin(), field.end()));
          } else {
            WriteColumnValue(record, f, FieldValue(std::move(field), f, options_), locale);
          }
        } catch (const ETabulaEngineError& e) {
          if (e.code() != kErrSqlExecution) throw;
          ExecutionError("Invalid value in line " + std::to_string(reader.line()) + ", column " +
                         std::to_string(i + 1) + " of the file '" + file_ +
                         "': " + (e.names().empty() ? e.text() : e.names().front()));
        }
      }
      cursor->Insert(record);
      loop.RowDone();
    }
    loop.Finish();
  }
};

}  // namespace

std::unique_ptr<TStatementBody> NewExportTableStatement() {
  return std::make_unique<TExportTableStatement>();
}
std::unique_ptr<TStatementBody> NewImportTableStatement() {
  return std::make_unique<TImportTableStatement>();
}

}  // namespace downsql::sql
