// TShell: the interactive tabula shell without its terminal. It takes the
// user's lines one at a time, gathers SQL until every statement has ended
// at its ";" (cut the way the query component cuts scripts, so a ";" in a
// literal, a [ ] name or a comment does not count), runs the statements
// one by one in the database directory and prints each SELECT's result;
// a line starting with "." while no statement is pending is a
// dot-command (.help lists them).
//
// Running a text: each statement goes to the query alone, placed at its
// line and column so that parse errors point into the text as the user
// typed it. An error or an interrupt ends the rest of that text; when the
// text itself began a transaction (START TRANSACTION without its COMMIT or
// ROLLBACK yet) that transaction is rolled back first, as the query
// component does for scripts.
//
// Texts are UTF-8 outside and Windows-1250 inside. The terminal is reached
// only through TShellTerminal; tabula_main.cc supplies the real one.
#pragma once

#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tools/tabula_output.h"

namespace downsql::access {
class TTabulaDatabase;
class TTabulaLibrary;
class TTabulaQuery;
}  // namespace downsql::access

namespace downsql::tools {

// What the shell may do to the terminal it prints on.
struct TShellTerminal {
  // Errors in red (ANSI colours).
  bool color = false;
  // Progress of a running statement as a percentage on the error stream's
  // current line, erased when the statement ends.
  bool status_line = false;
  // Columns of the terminal showing the results (0: not a terminal, no
  // limit); asked before each result.
  std::function<size_t()> columns;
  // True when the user asked to stop the running statement (Ctrl-C); the
  // shell asks between progress steps and between statements.
  std::function<bool()> interrupted;
};

class TShell {
 public:
  // The shell over directory (created when missing) in the library's
  // default session. Results go to out (until .output), messages and
  // errors to err.
  TShell(access::TTabulaLibrary& library, std::string directory, std::ostream& out,
         std::ostream& err, TShellTerminal terminal = {});
  ~TShell();
  TShell(const TShell&) = delete;
  TShell& operator=(const TShell&) = delete;

  // Takes one line of input (UTF-8, without its line break).
  void Feed(const std::string& line);
  // Drops the statement being typed (the prompt's Ctrl-C).
  void CancelInput() { pending_.clear(); }

  // A statement has begun and waits for its ";".
  bool Continuing() const { return !pending_.empty(); }
  // .quit was given.
  bool Finished() const { return finished_; }
  // The directory's name and "> ", or the continuation prompt of the same
  // width ending in "...> ".
  std::string Prompt() const;

  // Runs a whole text (UTF-8) of statements and dot-commands, each
  // dot-command a line of its own, as .read does; false after an error or
  // an interrupt.
  bool RunText(const std::string& text);

  OutputMode mode() const { return mode_; }
  void set_mode(OutputMode mode) { mode_ = mode; }

 private:
  // Runs SQL text in Windows-1250; false after an error or an interrupt.
  bool RunSql(const std::string& script);
  // Runs one statement cut out of script (for error positions); returns
  // false after an error or an interrupt.
  bool RunStatement(const std::string& script, const std::string& statement, uint32_t line,
                    uint32_t column);
  void ShowError(const std::exception& e, const std::string& script);
  void Message(const std::string& text);
  void Error(const std::string& text);
  bool Interrupted() const;
  std::ostream& Out() { return output_file_ ? *output_file_ : out_; }

  // Dot-commands; each returns false after an error.
  bool DotCommand(const std::string& line);
  bool Tables();
  bool Schema(const std::vector<std::string>& args);
  bool Indexes(const std::vector<std::string>& args);
  bool Import(const std::string& file, const std::string& table);
  bool Export(const std::string& table, const std::string& file);
  bool TableStatement(const std::string& verb, const std::string& table);
  // The names of the directory's tables, sorted without regard to case.
  std::vector<std::string> TableNames();

  access::TTabulaLibrary& library_;
  std::string directory_;
  std::ostream& out_;
  std::ostream& err_;
  TShellTerminal terminal_;
  std::unique_ptr<access::TTabulaQuery> query_;
  // Held for the shell's life: the directory stays open and its
  // transaction can be looked at between statements.
  access::TTabulaDatabase* database_ = nullptr;

  std::string pending_;  // Windows-1250, lines ended by "\n"
  bool finished_ = false;
  OutputMode mode_ = OutputMode::kTable;
  bool headers_ = true;
  bool timer_ = false;
  std::unique_ptr<std::ofstream> output_file_;
  int read_depth_ = 0;
};

}  // namespace downsql::tools
