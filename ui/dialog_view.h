// What the import dialog's logic needs of its window, and what the window
// reports back.
//
// The dialog logic (updater/) owns the behaviour; a view only shows the
// editor text, the status line and the buttons, and turns the user's actions
// into DialogEvents. Views exist for tests (HeadlessView), the terminal
// (TerminalView) and the window toolkits. All calls happen on one thread.
// Texts are Windows-1250; a view converts them for its display.
#pragma once

#include <string>
#include <string_view>

namespace downsql::ui {

enum class DialogEvent {
  kShow,               // the dialog becomes visible
  kGetClick,           // "Pobierz" clicked
  kExecuteClick,       // "Wykonaj" clicked (only sent while it is enabled)
  kCloseClick,         // "Zamknij" clicked
  kPanelDblClick,      // double click on the button strip outside the buttons
  kStatusBarDblClick,  // double click on the status bar
};

// Receives the view's events. HandleEvent must not throw: the receiver shows
// its own errors through DialogView::ShowError.
class DialogEventSink {
 public:
  virtual ~DialogEventSink() = default;
  virtual void HandleEvent(DialogEvent event) = 0;
};

class DialogView {
 public:
  virtual ~DialogView() = default;

  // Editor: replace the whole text (lines separated by CR LF; a trailing
  // break makes no extra line), remove every line, append one line, and the
  // whole text with every line followed by CR LF.
  virtual void SetEditorText(std::string_view text) = 0;
  // The same for a text the caller gives away: a view may keep its buffer
  // instead of copying a large text.
  virtual void TakeEditorText(std::string&& text) { SetEditorText(text); }
  virtual void ClearEditor() = 0;
  virtual void AppendEditorLine(std::string_view line) = 0;
  virtual std::string EditorText() const = 0;

  // Replaces the status bar's single text and repaints it at once (progress
  // texts are set while a handler still runs).
  virtual void SetStatusText(std::string_view text) = 0;
  virtual std::string StatusText() const = 0;

  // How far the running handler's work has come, reported next to a
  // progress text: percent 0 to 100, or negative when the amount of work is
  // not known (bytes of an answer of unknown length). Views without a
  // progress display ignore it.
  virtual void ReportProgress(int percent) { (void)percent; }

  // Enabling of "Wykonaj" (disabled when the dialog opens).
  virtual void SetExecuteEnabled(bool enabled) = 0;
  virtual bool ExecuteEnabled() const = 0;

  // The standard error box: an error icon, the message and an OK button.
  virtual void ShowError(std::string_view message) = 0;

  // Shows the dialog modally: sends DialogEvent::kShow, then the user's
  // events, until Close() is called or the window is closed by other means
  // (close box, end of input). Returns when the dialog has closed.
  virtual void RunModal(DialogEventSink& events) = 0;
  // Ends the modal run after the current event.
  virtual void Close() = 0;
};

}  // namespace downsql::ui
