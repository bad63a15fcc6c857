// The shell's input from the terminal: one line at a time with line editing
// and a history kept in a file between runs. Built on libedit where it
// exists (tabula_line_editor_libedit.cc); elsewhere plain lines are read
// from standard input (tabula_line_editor_plain.cc).
#pragma once

#include <memory>
#include <string>

namespace downsql::tools {

class TLineEditor {
 public:
  enum class TRead { kLine, kInterrupted, kEnd };

  // Loads the history from history_path when the file exists ("" keeps no
  // history).
  explicit TLineEditor(std::string history_path);
  ~TLineEditor();
  TLineEditor(const TLineEditor&) = delete;
  TLineEditor& operator=(const TLineEditor&) = delete;

  // Shows prompt and reads a line into line (without its line break).
  // kInterrupted when the interrupt key was pressed while waiting (the
  // platform's interrupt flag is then taken), kEnd at the end of input.
  TRead ReadLine(const std::string& prompt, std::string& line);
  // Adds a line to the history and writes the history file.
  void AddHistory(const std::string& line);

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace downsql::tools
