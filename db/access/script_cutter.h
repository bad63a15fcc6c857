// Cutting an SQL script into statements.
//
// A script is statements separated by semicolons. The cutter walks the text
// once, statement by statement, and keeps five counters: the position in the
// text (a 1-based character index), the current line and column, and the
// line and column where the statement being cut begins. Lines and columns
// count from the start of the whole script, so the engine, given a
// statement's start line and column, reports parse errors at their place in
// the script. Each cut takes a saved copy of the counters first, so that the
// same statement can be cut again (a retry after an error).
//
// While cutting, the cutter copies characters into the statement and
//  - copies whitespace (codes below 33) and comments ("--" up to the next CR
//    or LF, "/*" through the next "*/" or the end of the text) as they are;
//  - copies a literal in single or double quotes whole (a doubled quote does
//    not end it; an unterminated one runs to the end of the text), and a
//    name in [ ] through the "]";
//  - turns a parameter reference ":name", ":[a name]" or ':"a ""name"""'
//    into "?" and records the name (without brackets or outer quotes, a
//    doubled quote standing for one); a ":" without a name becomes "?" and
//    records nothing;
//  - ends the statement at a ";" outside all of those, which it does not
//    copy, and then copies the whitespace and comments after it into the
//    statement, so that the next one begins at its first real character.
// A CR, a LF or a CR LF pair is one line break, wherever it stands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace downsql::access {

struct TScriptCounters {
  uint32_t position = 1;  // 1-based index of the next character
  uint32_t line = 1;
  uint32_t column = 1;
  uint32_t start_line = 1;  // where the statement last cut begins
  uint32_t start_column = 1;

  bool operator==(const TScriptCounters&) const = default;
};

class TScriptCutter {
 public:
  // All counters back to 1: the next cut is the first statement.
  void Reset() { current_ = saved_ = TScriptCounters{}; }
  // Back to the counters saved by the last cut: the next cut repeats it.
  void RestoreSaved() { current_ = saved_; }

  // Cuts the statement at the current position out of script and returns
  // its text with every parameter reference turned into "?". With names
  // given, the names of the statement's parameter references are appended
  // to it in order (a name may repeat).
  std::string Cut(std::string_view script, std::vector<std::string>* names = nullptr);

  // True when the position has passed the last character of script.
  bool AtEnd(std::string_view script) const { return current_.position > script.size(); }

  const TScriptCounters& current() const { return current_; }
  const TScriptCounters& saved() const { return saved_; }
  uint32_t start_line() const { return current_.start_line; }
  uint32_t start_column() const { return current_.start_column; }

 private:
  TScriptCounters current_;
  TScriptCounters saved_;
};

// True when a statement text holds nothing but whitespace and comments.
bool IsEmptyStatement(std::string_view statement);

// True when every statement of script has ended at its ";", cut as above:
// the text does not stop inside a literal, a [ ] name or a "/*" comment,
// and after the last ";" comes nothing but whitespace and comments. A text
// of only whitespace and closed comments is complete too. An editor asks
// this to know whether the user has finished typing.
bool IsCompleteScript(std::string_view script);

}  // namespace downsql::access
