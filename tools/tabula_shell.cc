// The interactive tabula shell: input, statements and dot-commands.
#include "tools/tabula_shell.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <optional>
#include <string_view>

#include "base/code_page.h"
#include "db/access/data_directory.h"
#include "db/access/directory_table.h"
#include "db/access/script_cutter.h"
#include "db/access/tabula_database.h"
#include "db/access/tabula_engine.h"
#include "db/access/tabula_library.h"
#include "db/access/tabula_query.h"
#include "db/access/tabula_session.h"
#include "db/storage/engine_error.h"
#include "platform/file.h"
#include "platform/locale.h"
#include "tools/tabula_csv.h"
#include "tools/tabula_schema.h"

namespace downsql::tools {
namespace {

constexpr char kRed[] = "\x1b[31m";
constexpr char kPlain[] = "\x1b[0m";
constexpr char kEraseLine[] = "\r\x1b[K";

// The directory as a database name that the session takes for a path.
std::string DatabasePath(std::string dir) {
  if (dir.find_first_of("/\\:") == std::string::npos) dir = "./" + dir;
  return dir;
}

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && platform::SameTextNoCase(a, b);
}

// The statement's first word in upper case, after whitespace and comments.
std::string FirstWord(std::string_view statement) {
  size_t i = 0;
  while (i < statement.size()) {
    if (static_cast<unsigned char>(statement[i]) < 33) {
      ++i;
    } else if (statement.substr(i, 2) == "--") {
      i = statement.find_first_of("\r\n", i);
      if (i == std::string_view::npos) return "";
    } else if (statement.substr(i, 2) == "/*") {
      i = statement.find("*/", i + 2);
      if (i == std::string_view::npos) return "";
      i += 2;
    } else {
      break;
    }
  }
  std::string word;
  for (; i < statement.size(); ++i) {
    char c = statement[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') break;
    word += c;
  }
  return word;
}

// The lines of a text; a line break is LF, CR LF or CR.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

// The words of a dot-command line; a word in single or double quotes may
// hold spaces.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    std::string word;
    if (line[i] == '\'' || line[i] == '"') {
      char quote = line[i++];
      while (i < line.size() && line[i] != quote) word += line[i++];
      ++i;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
    }
    words.push_back(std::move(word));
  }
  return words;
}

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// on or off; nullopt for anything else.
std::optional<bool> OnOff(const std::string& word) {
  if (SameWord(word, "on")) return true;
  if (SameWord(word, "off")) return false;
  return std::nullopt;
}

struct TModeName {
  const char* name;
  OutputMode mode;
};
constexpr TModeName kModes[] = {{"csv", OutputMode::kCsv},
                                {"tsv", OutputMode::kTsv},
                                {"json", OutputMode::kJson},
                                {"table", OutputMode::kTable}};

// One dot-command: its name, the words it takes, what it does, and how it
// runs (args without the command's own name).
struct TDotCommand {
  const char* name;
  const char* usage;
  const char* help;
  size_t min_args;
  size_t max_args;
};

constexpr TDotCommand kDotCommands[] = {
    {".tables", "", "the tables of the database", 0, 0},
    {".schema", "[TABLE]", "CREATE TABLE and CREATE INDEX text of every table, or of one", 0, 1},
    {".indexes", "[TABLE]", "the secondary indexes of a table, or of every table", 0, 1},
    {".mode", "csv|tsv|json|table", "how results are printed", 1, 1},
    {".headers", "on|off", "column names above results", 1, 1},
    {".read", "FILE", "run the statements and dot-commands of a file", 1, 1},
    {".output", "[FILE|stdout]", "print results into a file, or back to the screen", 0, 1},
    {".timer", "on|off", "the execution time of each statement", 1, 1},
    {".import", "FILE TABLE", "insert the rows of a CSV file (header line first)", 2, 2},
    {".export", "TABLE FILE", "write a table as CSV with a header line", 2, 2},
    {".verify", "TABLE", "check a table's files (VERIFY TABLE)", 1, 1},
    {".repair", "TABLE", "repair a table's files (REPAIR TABLE)", 1, 1},
    {".help", "", "this list", 0, 0},
    {".quit", "", "leave the shell (also Ctrl-D)", 0, 0},
};

}  // namespace

TShell::TShell(access::TTabulaLibrary& library, std::string directory, std::ostream& out,
               std::ostream& err, TShellTerminal terminal)
    : library_(library),
      directory_(std::move(directory)),
      out_(out),
      err_(err),
      terminal_(std::move(terminal)) {
  if (!platform::DirectoryExists(directory_)) platform::CreateDirectory(directory_);
  // Fine steps, so that Ctrl-C stops a long statement soon.
  library_.default_session().SetProgressSteps(100);
  database_ = &library_.default_session().AcquireDatabase(DatabasePath(directory_));
  query_ = std::make_unique<access::TTabulaQuery>();
  query_->SetDatabaseName(DatabasePath(directory_));
}

TShell::~TShell() {
  query_.reset();
  library_.default_session().ReleaseDatabase(*database_);
}

std::string TShell::Prompt() const {
  std::string name = directory_;
  while (name.size() > 1 && (name.back() == '/' || name.back() == '\\')) name.pop_back();
  if (!Continuing()) return name + "> ";
  size_t width = name.size() + 2;
  return std::string(width > 5 ? width - 5 : 0, ' ') + "...> ";
}

void TShell::Feed(const std::string& line) {
  if (pending_.empty()) {
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) return;
    if (line[first] == '.') {
      DotCommand(line.substr(first));
      return;
    }
  }
  pending_ += base::Utf8ToCp1250(line) + "\n";
  if (!access::IsCompleteScript(pending_)) return;
  std::string script = std::move(pending_);
  pending_.clear();
  RunSql(script);
}

bool TShell::RunText(const std::string& text) {
  std::vector<std::string> lines = SplitLines(text);
  std::string sql;
  auto flush = [&] {
    bool ok = sql.empty() || RunSql(sql);
    sql.clear();
    return ok;
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos && line[first] == '.' && access::IsCompleteScript(sql)) {
      if (!flush() || !DotCommand(line.substr(first)) || finished_) return false;
      continue;
    }
    // Lines of SQL keep their numbers in the text, so that errors point at
    // the file's own lines.
    sql.append(sql.empty() ? i : 0, '\n');
    sql += base::Utf8ToCp1250(line) + "\n";
  }
  return flush();
}

bool TShell::Interrupted() const { return terminal_.interrupted && terminal_.interrupted(); }

bool TShell::RunSql(const std::string& script) {
  access::TScriptCutter cutter;
  bool own_transaction = false;  // begun by this text and not yet ended
  bool ok = true;
  while (!cutter.AtEnd(script)) {
    std::string statement = cutter.Cut(script);
    if (access::IsEmptyStatement(statement)) continue;
    if (Interrupted()) {
      Error("Interrupted.");
      ok = false;
      break;
    }
    if (!RunStatement(script, statement, cutter.start_line(), cutter.start_column())) {
      ok = false;
      break;
    }
    std::string word = FirstWord(statement);
    if (word == "START") own_transaction = true;
    if (word == "COMMIT" || word == "ROLLBACK") own_transaction = false;
  }
  if (!ok && own_transaction && database_->TransactionActive()) {
    database_->RollbackTransaction();
    Message("The transaction begun in this input was rolled back.");
  }
  return ok;
}

bool TShell::RunStatement(const std::string& script, const std::string& statement, uint32_t line,
                          uint32_t column) {
  std::vector<std::string> lines(line - 1);
  std::vector<std::string> own = SplitLines(statement);
  own[0].insert(0, column - 1, ' ');
  lines.insert(lines.end(), own.begin(), own.end());

  bool status_shown = false;
  bool stopped = false;
  int last_percent = -1;
  query_->OnQueryProgress = [&](access::TTabulaQuery&, uint16_t percent, bool& abort) {
    if (Interrupted()) {
      abort = true;
      stopped = true;
      return;
    }
    if (terminal_.status_line && percent < 100 && percent != last_percent) {
      err_ << '\r' << percent << "% " << std::flush;
      status_shown = true;
      last_percent = percent;
    }
  };
  auto erase_status = [&] {
    if (status_shown) err_ << kEraseLine << std::flush;
    status_shown = false;
  };
  // The hook refers to this call's locals: it goes when the call ends.
  struct THookReset {
    access::TTabulaQuery& query;
    ~THookReset() { query.OnQueryProgress = nullptr; }
  } hook_reset{*query_};
  try {
    query_->SetSQL(std::move(lines));
    query_->RunStatements();
    erase_status();
    if (stopped) {
      query_->Close();
      Error("Interrupted: the statement was stopped.");
      return false;
    }
    if (query_->Active()) {
      TPrintOptions options;
      options.headers = headers_;
      if (!output_file_ && terminal_.columns) options.max_width = terminal_.columns();
      PrintResult(query_->DataSet(), mode_, Out(), options);
      query_->Close();
    }
    if (timer_) {
      char text[64];
      std::snprintf(text, sizeof text, "Run Time: %.3f s\n", query_->ExecutionTotal());
      Out() << text;
    }
    Out().flush();
    return true;
  } catch (const std::exception& e) {
    erase_status();
    query_->Close();
    ShowError(e, script);
    return false;
  }
}

void TShell::ShowError(const std::exception& e, const std::string& script) {
  Error(base::Cp1250ToUtf8(e.what()));
  auto* engine = dynamic_cast<const storage::ETabulaEngineError*>(&e);
  if (engine == nullptr || engine->code() != storage::kErrSqlParsing ||
      engine->names().size() < 3) {
    return;
  }
  size_t line = std::strtoul(engine->names()[1].c_str(), nullptr, 10);
  size_t column = std::strtoul(engine->names()[2].c_str(), nullptr, 10);
  std::vector<std::string> lines = SplitLines(script);
  if (line == 0 || line > lines.size() || column == 0) return;
  const std::string& text = lines[line - 1];
  // The caret keeps the tabs of the line, so it stands under the column.
  std::string caret;
  for (size_t i = 0; i + 1 < column && i < text.size(); ++i) caret += text[i] == '\t' ? '\t' : ' ';
  err_ << "  " << base::Cp1250ToUtf8(text) << '\n';
  err_ << "  " << (terminal_.color ? kRed : "") << caret << '^' << (terminal_.color ? kPlain : "")
       << '\n'
       << std::flush;
}

void TShell::Message(const std::string& text) { err_ << text << '\n' << std::flush; }

void TShell::Error(const std::string& text) {
  if (terminal_.color) {
    err_ << kRed << text << kPlain << '\n' << std::flush;
  } else {
    err_ << text << '\n' << std::flush;
  }
}

// --- dot-commands -----------------------------------------------------------

bool TShell::DotCommand(const std::string& line) {
  std::vector<std::string> words = Words(line);
  const TDotCommand* command = nullptr;
  for (const TDotCommand& c : kDotCommands) {
    if (words[0] == c.name) command = &c;
  }
  if (words[0] == ".exit") command = &kDotCommands[std::size(kDotCommands) - 1];
  if (command == nullptr) {
    Error("Unknown command " + words[0] + "; .help lists the commands.");
    return false;
  }
  std::vector<std::string> args(words.begin() + 1, words.end());
  if (args.size() < command->min_args || args.size() > command->max_args) {
    Error(std::string("Usage: ") + command->name + " " + command->usage);
    return false;
  }
  const std::string name = command->name;
  if (name == ".tables") return Tables();
  if (name == ".schema") return Schema(args);
  if (name == ".indexes") return Indexes(args);
  if (name == ".mode") {
    for (const TModeName& m : kModes) {
      if (SameWord(args[0], m.name)) {
        mode_ = m.mode;
        return true;
      }
    }
    Error(std::string("Usage: .mode ") + command->usage);
    return false;
  }
  if (name == ".headers" || name == ".timer") {
    std::optional<bool> on = OnOff(args[0]);
    if (!on) {
      Error("Usage: " + name + " on|off");
      return false;
    }
    (name == ".headers" ? headers_ : timer_) = *on;
    return true;
  }
  if (name == ".read") {
    std::string text;
    if (!ReadFile(args[0], text)) {
      Error("Cannot read " + args[0]);
      return false;
    }
    if (read_depth_ >= 16) {
      Error(".read is nested too deeply");
      return false;
    }
    ++read_depth_;
    bool ok = RunText(text);
    --read_depth_;
    return ok;
  }
  if (name == ".output") {
    output_file_.reset();
    if (args.empty() || args[0] == "stdout") return true;
    auto file = std::make_unique<std::ofstream>(args[0], std::ios::binary | std::ios::trunc);
    if (!*file) {
      Error("Cannot write " + args[0]);
      return false;
    }
    output_file_ = std::move(file);
    return true;
  }
  if (name == ".import") return Import(args[0], args[1]);
  if (name == ".export") return Export(args[0], args[1]);
  if (name == ".verify") return TableStatement("VERIFY", args[0]);
  if (name == ".repair") return TableStatement("REPAIR", args[0]);
  if (name == ".help") {
    for (const TDotCommand& c : kDotCommands) {
      std::string head = std::string(c.name) + (c.usage[0] ? " " : "") + c.usage;
      head.resize(std::max<size_t>(head.size() + 1, 28), ' ');
      Out() << head << c.help << '\n';
    }
    Out() << "SQL statements end at \";\" and may span lines.\n" << std::flush;
    return true;
  }
  finished_ = true;  // .quit
  return true;
}

std::vector<std::string> TShell::TableNames() {
  const std::string extension = library_.engine().TableDataExtension();
  std::vector<std::string> names;
  for (std::string file : platform::ListFiles(directory_, extension)) {
    file.resize(file.size() - extension.size());
    names.push_back(std::move(file));
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return platform::CompareTextNoCase(a, b) < 0;
  });
  return names;
}

bool TShell::Tables() {
  try {
    for (const std::string& name : TableNames()) Out() << base::Cp1250ToUtf8(name) << '\n';
    Out().flush();
    return true;
  } catch (const std::exception& e) {
    ShowError(e, "");
    return false;
  }
}

bool TShell::Schema(const std::vector<std::string>& args) {
  try {
    std::vector<std::string> names =
        args.empty() ? TableNames() : std::vector<std::string>{base::Utf8ToCp1250(args[0])};
    for (const std::string& name : names) {
      auto cursor = access::OpenTableCursor(*database_->Handle(), name);
      Out() << base::Cp1250ToUtf8(TableSchema(cursor->table()));
    }
    Out().flush();
    return true;
  } catch (const std::exception& e) {
    ShowError(e, "");
    return false;
  }
}

bool TShell::Indexes(const std::vector<std::string>& args) {
  try {
    std::vector<std::string> names =
        args.empty() ? TableNames() : std::vector<std::string>{base::Utf8ToCp1250(args[0])};
    for (const std::string& name : names) {
      auto cursor = access::OpenTableCursor(*database_->Handle(), name);
      storage::TIndexFile& indexes = cursor->table().index();
      for (uint32_t slot = 1; slot <= indexes.secondary_count(); ++slot) {
        Out() << base::Cp1250ToUtf8(indexes.definition(slot).name) << '\n';
      }
    }
    Out().flush();
    return true;
  } catch (const std::exception& e) {
    ShowError(e, "");
    return false;
  }
}

bool TShell::Import(const std::string& file, const std::string& table) {
  std::string text;
  if (!ReadFile(file, text)) {
    Error("Cannot read " + file);
    return false;
  }
  std::vector<TCsvRecord> records = ParseCsv(text);
  if (records.empty()) {
    Error(file + " has no header line");
    return false;
  }
  // One statement with a parameter per column, run once per record; the
  // INSERT converts each text to its column's type.
  const TCsvRecord& header = records[0];
  std::string columns, values;
  for (size_t i = 0; i < header.size(); ++i) {
    columns += (i > 0 ? ", " : "") + SqlName(base::Utf8ToCp1250(header[i]));
    values += (i > 0 ? ", :p" : ":p") + std::to_string(i);
  }
  access::TTabulaQuery insert;
  insert.SetDatabaseName(DatabasePath(directory_));
  insert.SetSQL({"INSERT INTO " + SqlName(base::Utf8ToCp1250(table)) + " (" + columns +
                 ") VALUES (" + values + ")"});
  const bool own_transaction = !database_->TransactionActive();
  size_t row = 1;
  try {
    if (own_transaction) database_->BeginTransaction();
    for (; row < records.size(); ++row) {
      if (Interrupted()) throw access::EAbort();
      const TCsvRecord& record = records[row];
      if (record.size() != header.size()) {
        throw std::runtime_error("has " + std::to_string(record.size()) + " fields, the header " +
                                 std::to_string(header.size()));
      }
      for (size_t i = 0; i < record.size(); ++i) {
        insert.Params().Items(i).SetAsString(base::Utf8ToCp1250(record[i]));
      }
      insert.RunStatements();
    }
    if (own_transaction) database_->CommitTransaction();
  } catch (const std::exception& e) {
    if (own_transaction && database_->TransactionActive()) database_->RollbackTransaction();
    Error(file + ", record " + std::to_string(row + 1) + ": " + base::Cp1250ToUtf8(e.what()));
    if (own_transaction) Message("Nothing was imported.");
    return false;
  }
  Message(std::to_string(records.size() - 1) + " rows imported into " + table + ".");
  return true;
}

bool TShell::Export(const std::string& table, const std::string& file) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) {
    Error("Cannot write " + file);
    return false;
  }
  access::TTabulaQuery select;
  try {
    select.SetDatabaseName(DatabasePath(directory_));
    select.SetSQL({"SELECT * FROM " + SqlName(base::Utf8ToCp1250(table))});
    select.Open();
    PrintResult(select.DataSet(), OutputMode::kCsv, out);
    select.Close();
  } catch (const std::exception& e) {
    ShowError(e, "");
    return false;
  }
  out.close();
  if (!out) {
    Error("Cannot write " + file);
    return false;
  }
  return true;
}

bool TShell::TableStatement(const std::string& verb, const std::string& table) {
  if (!RunSql(verb + " TABLE " + SqlName(base::Utf8ToCp1250(table)))) return false;
  Message(table + (verb == "VERIFY" ? ": no damage found." : ": repaired."));
  return true;
}

}  // namespace downsql::tools
