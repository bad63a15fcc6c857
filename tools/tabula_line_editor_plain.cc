// The shell's input without a line-editing library: the prompt, then a
// line of standard input; no history.
#include <iostream>

#include "platform/terminal.h"
#include "tools/tabula_line_editor.h"

namespace downsql::tools {

struct TLineEditor::TState {};

TLineEditor::TLineEditor(std::string) : state_(std::make_unique<TState>()) {}

TLineEditor::~TLineEditor() = default;

TLineEditor::TRead TLineEditor::ReadLine(const std::string& prompt, std::string& line) {
  std::cout << prompt << std::flush;
  if (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return TRead::kLine;
  }
  if (platform::TakeInterrupt()) {
    std::cin.clear();
    return TRead::kInterrupted;
  }
  return TRead::kEnd;
}

void TLineEditor::AddHistory(const std::string&) {}

}  // namespace downsql::tools
