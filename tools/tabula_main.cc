// tabula: runs SQL scripts against a database directory from the command
// line.
//
//   tabula [--csv|--tsv|--json|--table] [--affected] [-f FILE] DIR [SCRIPT ...]
//
// DIR (created when missing) is the database of the default session. Each
// script (a SCRIPT argument, or the text of a -f FILE, in the order given;
// standard input when there is none) runs through one query, one after the
// other in the same session, so a transaction begun in one script is
// still active in the next. A script whose last statement is a SELECT
// prints its result. Texts are UTF-8 outside and Windows-1250 inside.
//
// With no script and standard input a terminal, tabula is an interactive
// shell (tabula_shell.h): statements typed over several lines, dot-commands,
// line editing with a history in ~/.tabula_history, Ctrl-C stopping the
// running statement.
//
// Exit status: 0 on success; 1 after an error, whose message is printed on
// standard error (the remaining scripts do not run); 2 for a usage error.
#include <clocale>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/code_page.h"
#include "db/access/tabula_library.h"
#include "db/access/tabula_query.h"
#include "platform/file.h"
#include "platform/terminal.h"
#include "tools/tabula_line_editor.h"
#include "tools/tabula_output.h"
#include "tools/tabula_shell.h"

namespace {

using namespace downsql;

constexpr char kUsage[] =
    "usage: tabula [--csv|--tsv|--json|--table] [--affected] [-f FILE] DIR [SCRIPT ...]\n";

void PrintHelp() {
  std::cout << kUsage
            << "\n"
               "Runs SQL scripts against the database directory DIR (created when missing).\n"
               "Each SCRIPT argument, and the text of each -f FILE, is one script; without\n"
               "any, standard input is read as one script. All scripts run in one session,\n"
               "so a transaction begun in one script is still active in the next.\n"
               "\n"
               "Without scripts, on a terminal, tabula is an interactive shell: statements\n"
               "end at \";\" and may span lines, .help lists the dot-commands, Ctrl-C stops\n"
               "a running statement, the history is kept in ~/.tabula_history.\n"
               "\n"
               "A script whose last statement is a SELECT prints its result:\n"
               "  --csv       comma-separated, a header line first (default unless the\n"
               "              output is a terminal)\n"
               "  --tsv       tab-separated, a header line first\n"
               "  --json      an array of objects\n"
               "  --table     aligned columns (default on a terminal)\n"
               "  --affected  print \"rows affected: N\" after each script\n"
               "\n"
               "An error prints its message on standard error and ends the program with\n"
               "status 1; usage errors end it with status 2.\n";
}

int Usage(const std::string& problem) {
  std::cerr << "tabula: " << problem << "\n" << kUsage;
  return 2;
}

// The script's lines in Windows-1250; a line break is LF, CR LF or CR.
std::vector<std::string> ScriptLines(const std::string& utf8) {
  std::string text = base::Utf8ToCp1250(utf8);
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.push_back(std::move(line));
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// The directory as a database name that the session takes for a path.
std::string DatabasePath(std::string dir) {
  if (dir.find_first_of("/\\:") == std::string::npos) dir = "./" + dir;
  return dir;
}

// The history file in the user's home directory; "" when there is none.
std::string HistoryPath() {
  for (const char* variable : {"HOME", "USERPROFILE"}) {
    const char* home = std::getenv(variable);
    if (home != nullptr && *home != '\0') return std::string(home) + "/.tabula_history";
  }
  return "";
}

int RunShell(const std::string& dir, tools::OutputMode mode) {
  std::setlocale(LC_CTYPE, "");
  platform::TInterruptCatcher interrupts;
  const char* term = std::getenv("TERM");
  tools::TShellTerminal terminal;
  terminal.color = platform::IsTerminal(platform::TStandardStream::kError) &&
                   !(term != nullptr && std::string_view(term) == "dumb");
  terminal.status_line = platform::IsTerminal(platform::TStandardStream::kError);
  if (platform::IsTerminal(platform::TStandardStream::kOutput)) {
    terminal.columns = [] { return static_cast<size_t>(platform::TerminalColumns()); };
  }
  terminal.interrupted = [] { return platform::InterruptRequested(); };
  access::TTabulaLibrary library;
  tools::TShell shell(library, dir, std::cout, std::cerr, terminal);
  shell.set_mode(mode);
  tools::TLineEditor editor(HistoryPath());
  std::cout << "tabula shell on " << dir << "; \".help\" lists the commands.\n";
  while (!shell.Finished()) {
    std::string line;
    tools::TLineEditor::TRead read = editor.ReadLine(shell.Prompt(), line);
    if (read == tools::TLineEditor::TRead::kEnd) {
      std::cout << '\n';
      break;
    }
    if (read == tools::TLineEditor::TRead::kInterrupted) {
      std::cout << "^C\n";
      shell.CancelInput();
      continue;
    }
    if (line.find_first_not_of(" \t") != std::string::npos) editor.AddHistory(line);
    platform::TakeInterrupt();
    shell.Feed(line);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool terminal = platform::StandardOutputIsTerminal();
  tools::OutputMode mode = terminal ? tools::OutputMode::kTable : tools::OutputMode::kCsv;
  bool affected = false;
  std::string dir;
  bool have_dir = false;
  std::vector<std::string> scripts;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return 0;
    } else if (arg == "--csv") {
      mode = tools::OutputMode::kCsv;
    } else if (arg == "--tsv") {
      mode = tools::OutputMode::kTsv;
    } else if (arg == "--json") {
      mode = tools::OutputMode::kJson;
    } else if (arg == "--table") {
      mode = tools::OutputMode::kTable;
    } else if (arg == "--affected") {
      affected = true;
    } else if (arg == "-f") {
      if (i + 1 >= argc) return Usage("-f needs a FILE");
      std::string text;
      if (!ReadFile(argv[++i], text)) return Usage("cannot read " + std::string(argv[i]));
      scripts.push_back(std::move(text));
    } else if (arg.starts_with("-") && arg.size() > 1) {
      return Usage("unknown option " + std::string(arg));
    } else if (!have_dir) {
      dir = arg;
      have_dir = true;
    } else {
      scripts.emplace_back(arg);
    }
  }
  if (!have_dir || dir.empty()) return Usage("no database directory");
  if (scripts.empty() && platform::IsTerminal(platform::TStandardStream::kInput)) {
    try {
      return RunShell(dir, mode);
    } catch (const std::exception& e) {
      std::cerr << base::Cp1250ToUtf8(e.what()) << std::endl;
      return 1;
    }
  }
  if (scripts.empty()) {
    std::ostringstream in;
    in << std::cin.rdbuf();
    scripts.push_back(in.str());
  }

  try {
    if (!platform::DirectoryExists(dir)) platform::CreateDirectory(dir);
    access::TTabulaLibrary library;
    for (const std::string& script : scripts) {
      access::TTabulaQuery query;
      query.SetDatabaseName(DatabasePath(dir));
      query.SetSQL(ScriptLines(script));
      query.RunStatements();
      if (query.Active()) tools::PrintResult(query.DataSet(), mode, std::cout);
      if (affected) std::cout << "rows affected: " << query.AffectedRows() << '\n';
      query.Close();
    }
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << base::Cp1250ToUtf8(e.what()) << std::endl;
    return 1;
  }
  return 0;
}
