// The shell's input through libedit: emacs key bindings, the history of
// the last 1000 distinct lines.
#include <histedit.h>

#include <cstdio>

#include "platform/terminal.h"
#include "tools/tabula_line_editor.h"

namespace downsql::tools {

struct TLineEditor::TState {
  EditLine* editor = nullptr;
  History* history = nullptr;
  HistEvent event{};
  std::string prompt;
  std::string path;
};

namespace {

char* PromptOf(EditLine* editor) {
  void* data = nullptr;
  el_get(editor, EL_CLIENTDATA, &data);
  return const_cast<char*>(static_cast<std::string*>(data)->c_str());
}

}  // namespace

TLineEditor::TLineEditor(std::string history_path) : state_(std::make_unique<TState>()) {
  state_->path = std::move(history_path);
  state_->history = history_init();
  history(state_->history, &state_->event, H_SETSIZE, 1000);
  history(state_->history, &state_->event, H_SETUNIQUE, 1);
  if (!state_->path.empty()) history(state_->history, &state_->event, H_LOAD, state_->path.c_str());
  state_->editor = el_init("tabula", stdin, stdout, stderr);
  el_set(state_->editor, EL_EDITOR, "emacs");
  el_set(state_->editor, EL_HIST, history, state_->history);
  el_set(state_->editor, EL_CLIENTDATA, &state_->prompt);
  el_set(state_->editor, EL_PROMPT, PromptOf);
}

TLineEditor::~TLineEditor() {
  el_end(state_->editor);
  history_end(state_->history);
}

TLineEditor::TRead TLineEditor::ReadLine(const std::string& prompt, std::string& line) {
  state_->prompt = prompt;
  int count = 0;
  const char* text = el_gets(state_->editor, &count);
  if (text == nullptr) {
    if (platform::TakeInterrupt()) {
      // Whatever was typed on the line goes with the interrupt.
      el_reset(state_->editor);
      return TRead::kInterrupted;
    }
    return TRead::kEnd;
  }
  line.assign(text, count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return TRead::kLine;
}

void TLineEditor::AddHistory(const std::string& line) {
  history(state_->history, &state_->event, H_ENTER, line.c_str());
  if (!state_->path.empty()) history(state_->history, &state_->event, H_SAVE, state_->path.c_str());
}

}  // namespace downsql::tools
