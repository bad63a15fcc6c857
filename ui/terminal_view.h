// The import dialog in a terminal: the editor's text and the status line are
// printed in UTF-8, the buttons and the two double clicks are typed as
// commands, one per line. End of input closes the dialog like its close box.
//
// Commands (case ignored): "pobierz" (p), "wykonaj" (w), "zamknij" (z, q),
// "panel" (double click on the button strip), "pasek" (double click on the
// status bar), "edytuj" (e: replace the editor's text by the lines that
// follow, up to a line holding only "."), "pomoc" (?).
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "ui/dialog_view.h"
#include "ui/editor_lines.h"

namespace downsql::ui {

class TerminalView : public DialogView {
 public:
  TerminalView(std::istream& in, std::ostream& out) : in_(in), out_(out) {}

  void SetEditorText(std::string_view text) override { editor_.SetText(text); }
  void TakeEditorText(std::string&& text) override { editor_.TakeText(std::move(text)); }
  void ClearEditor() override { editor_.Clear(); }
  void AppendEditorLine(std::string_view line) override { editor_.Add(line); }
  std::string EditorText() const override { return editor_.Text(); }

  // While a command runs, every new status text is printed at once so that
  // progress shows; the full dialog is printed again after the command.
  void SetStatusText(std::string_view text) override;
  std::string StatusText() const override { return status_; }

  void SetExecuteEnabled(bool enabled) override { execute_enabled_ = enabled; }
  bool ExecuteEnabled() const override { return execute_enabled_; }

  void ShowError(std::string_view message) override;

  void RunModal(DialogEventSink& events) override;
  void Close() override { closed_ = true; }

 private:
  void Render();
  void PrintHelp();
  void ReadEditorText();
  void Print(std::string_view cp1250_text);

  std::istream& in_;
  std::ostream& out_;
  EditorLines editor_;
  std::string status_;
  bool execute_enabled_ = false;
  bool closed_ = false;
  bool in_command_ = false;
};

}  // namespace downsql::ui
