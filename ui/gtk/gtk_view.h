// The import dialog as a GTK 3 window.
//
// The window follows the dialog's form (ui/dialog_form.h): the editor fills
// the client area above a button strip and a status bar. The editor is a
// GtkSourceView with SQL highlighting in our own colours (sql_editor.h).
// Texts reach the view in Windows-1250 and are shown in UTF-8.
//
// Long work runs inside a handler on this thread, as everywhere else: while
// a handler runs, every status text and progress report repaints the window
// (pending GTK events are dispatched), but the user's input to the process
// is dropped until the handler returns, so no second command can start
// inside the first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/dialog_view.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GdkEventButton GdkEventButton;
typedef union _GdkEvent GdkEvent;

namespace downsql::ui {

// Opens GTK's default display; false when none can be opened (no X server
// or Wayland compositor reachable). Cheap after the first call.
bool GtkDisplayAvailable();

// Dispatches pending events, then waits until window has drawn a frame
// with every change made so far (at most 50 ms; not at all while it is not
// mapped). GTK draws at its frame rate from the main loop, which does not
// run while a handler works.
void DrawPendingFrame(GtkWidget* window);

// The widgets a person works with, for the tests that drive the window.
struct GtkDialogWidgets {
  GtkWidget* window = nullptr;
  GtkWidget* button_strip = nullptr;  // Panel1: receives the double click
  GtkWidget* get_button = nullptr;
  GtkWidget* execute_button = nullptr;
  GtkWidget* close_button = nullptr;
  GtkWidget* editor = nullptr;       // the GtkSourceView
  GtkWidget* status_area = nullptr;  // receives the double click
  GtkWidget* status_bar = nullptr;
  GtkWidget* progress_bar = nullptr;  // shown only while a handler reports progress
};

class GtkView : public DialogView {
 public:
  // Requires GtkDisplayAvailable(). The window is created hidden.
  GtkView();
  ~GtkView() override;
  GtkView(const GtkView&) = delete;
  GtkView& operator=(const GtkView&) = delete;

  void SetEditorText(std::string_view text) override;
  void ClearEditor() override;
  void AppendEditorLine(std::string_view line) override;
  std::string EditorText() const override;

  void SetStatusText(std::string_view text) override;
  std::string StatusText() const override;

  void SetExecuteEnabled(bool enabled) override;
  bool ExecuteEnabled() const override;

  // A modal GtkMessageDialog with the error icon and an OK button.
  void ShowError(std::string_view message) override;

  // Moves the progress bar while a handler runs: percent 0 to 100, or a
  // pulse when the amount of work is not known (negative).
  void ReportProgress(int percent) override;

  // Shows the window modally: every other top-level window of the process
  // is insensitive until it closes. The close box acts as "Zamknij".
  void RunModal(DialogEventSink& events) override;
  void Close() override;

  const GtkDialogWidgets& widgets() const { return widgets_; }
  // True while a handler runs and the user's input is held off (not while
  // the error box waits for its OK).
  bool working() const { return busy_; }

 private:
  static void OnButtonClicked(GtkWidget* button, GtkView* view);
  static int OnDoubleClick(GtkWidget* area, GdkEventButton* event, GtkView* view);
  static int OnDeleteEvent(GtkWidget* window, GdkEvent* event, GtkView* view);
  static void FilterEvent(GdkEvent* event, void* view);

  // Runs one event's handler with input held off; drops events that come
  // while another handler runs.
  void Dispatch(DialogEvent event);
  // Repaints what changed while a handler runs.
  void Repaint();

  GtkDialogWidgets widgets_;
  GtkWidget* status_label_ = nullptr;
  DialogEventSink* events_ = nullptr;
  bool busy_ = false;
  bool closed_ = false;
  bool running_ = false;
  int64_t last_frame_us_ = 0;  // when Repaint last waited for a frame
};

}  // namespace downsql::ui
