// A view without a window: keeps the editor lines, the status text and the
// enabling of "Wykonaj" in memory and records every error box. Tests drive
// the dialog through it, and the command-line program uses it to compute
// what the dialog would show.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "ui/dialog_view.h"
#include "ui/editor_lines.h"

namespace downsql::ui {

class HeadlessView : public DialogView {
 public:
  void SetEditorText(std::string_view text) override { editor_.SetText(text); }
  void TakeEditorText(std::string&& text) override { editor_.TakeText(std::move(text)); }
  void ClearEditor() override { editor_.Clear(); }
  void AppendEditorLine(std::string_view line) override { editor_.Add(line); }
  std::string EditorText() const override { return editor_.Text(); }

  void SetStatusText(std::string_view text) override { status_ = text; }
  std::string StatusText() const override { return status_; }

  void SetExecuteEnabled(bool enabled) override { execute_enabled_ = enabled; }
  bool ExecuteEnabled() const override { return execute_enabled_; }

  void ShowError(std::string_view message) override { errors_.emplace_back(message); }

  // Sends kShow, then the queued events in order; a click on "Wykonaj"
  // while it is disabled is dropped, as a disabled button cannot be clicked.
  // Ends at Close() or when the queue is empty (the window closed).
  void RunModal(DialogEventSink& events) override;
  void Close() override { closed_ = true; }

  void QueueEvent(DialogEvent event) { queue_.push_back(event); }
  // The editor's lines: a copy, and the lines themselves.
  std::vector<std::string> lines() const { return editor_.lines(); }
  const EditorLines& editor() const { return editor_; }
  const std::vector<std::string>& errors() const { return errors_; }
  bool closed() const { return closed_; }

 private:
  EditorLines editor_;
  std::string status_;
  bool execute_enabled_ = false;
  std::vector<std::string> errors_;
  std::deque<DialogEvent> queue_;
  bool closed_ = false;
};

}  // namespace downsql::ui
