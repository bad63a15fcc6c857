// The import dialog's GTK window.
#include "ui/gtk/gtk_view.h"

#include <gtk/gtk.h>

#include "base/code_page.h"
#include "ui/dialog_form.h"
#include "ui/editor_lines.h"
#include "ui/gtk/sql_editor.h"

namespace downsql::ui {
namespace {

using Form = ImportDialogForm;

// The dialog's look. Fonts fall back to metric-compatible free fonts where
// the Windows ones are missing. The buttons: bold caption, maroon frame, a
// light face with a raised inner bevel, white under the mouse and a shade
// darker with a lowered bevel while pressed; no gradients.
constexpr const char kStyleSheet[] = R"(
#downsql-dialog, #downsql-dialog label {
  font-family: "MS Sans Serif", "Liberation Sans", sans-serif;
  font-size: 8pt;
}
#downsql-dialog .downsql-panel {
  background-color: #F0F0F0;
}
#downsql-dialog button.downsql-command {
  min-height: 0;
  min-width: 0;
  padding: 0 2px;
  border: 1px solid #800000;
  border-radius: 0;
  background-image: none;
  background-color: rgb(255,255,246);
  box-shadow: inset 1px 1px #FFFFFF, inset -1px -1px #A0A0A0;
  text-shadow: none;
  -gtk-icon-shadow: none;
  outline-offset: -4px;
}
#downsql-dialog button.downsql-command label {
  font-weight: bold;
  color: #000000;
}
#downsql-dialog button.downsql-command:hover {
  background-color: #FFFFFF;
}
#downsql-dialog button.downsql-command:active,
#downsql-dialog button.downsql-command:hover:active {
  background-color: rgb(245,245,236);
  box-shadow: inset 1px 1px #A0A0A0, inset -1px -1px #FFFFFF;
}
#downsql-dialog button.downsql-command:disabled {
  background-color: rgb(255,255,246);
  box-shadow: inset 1px 1px #FFFFFF, inset -1px -1px #A0A0A0;
}
#downsql-dialog button.downsql-command:disabled label {
  color: #A0A0A0;
}
#downsql-editor {
  font-family: "Courier New", "Liberation Mono", monospace;
  font-size: 10pt;
}
#downsql-dialog statusbar {
  padding: 0 4px;
  margin: 0;
  min-height: 0;
  border-top: 1px solid #A0A0A0;
  background-color: #F0F0F0;
}
#downsql-dialog statusbar frame, #downsql-dialog statusbar box,
#downsql-dialog statusbar label {
  margin: 0;
  padding: 0;
  min-height: 0;
}
#downsql-dialog statusbar progressbar trough,
#downsql-dialog statusbar progressbar progress {
  min-height: 8px;
}
)";

void InstallStyleSheet() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, kStyleSheet, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
}

std::string ToUtf8(std::string_view cp1250) { return base::Cp1250ToUtf8(cp1250); }

GtkWidget* NewCommandButton(std::string_view caption, const ControlBox& box) {
  GtkWidget* button = gtk_button_new_with_label(std::string(caption).c_str());
  gtk_style_context_add_class(gtk_widget_get_style_context(button), "downsql-command");
  gtk_widget_set_size_request(button, box.width, box.height);
  gtk_widget_set_valign(button, GTK_ALIGN_START);
  gtk_widget_set_margin_top(button, box.top);
  gtk_widget_set_focus_on_click(button, FALSE);
  return button;
}

GtkWidget* StatusLabel(GtkWidget* status_bar) {
  GtkWidget* area = gtk_statusbar_get_message_area(GTK_STATUSBAR(status_bar));
  GList* children = gtk_container_get_children(GTK_CONTAINER(area));
  GtkWidget* label = nullptr;
  for (GList* c = children; c != nullptr; c = c->next) {
    if (GTK_IS_LABEL(c->data)) label = GTK_WIDGET(c->data);
  }
  g_list_free(children);
  return label;
}

// What the user does with keyboard, mouse, touch, drag and drop and the
// close box; dropped while a handler runs.
bool IsInput(GdkEventType type) {
  switch (type) {
    case GDK_BUTTON_PRESS:
    case GDK_2BUTTON_PRESS:
    case GDK_3BUTTON_PRESS:
    case GDK_BUTTON_RELEASE:
    case GDK_KEY_PRESS:
    case GDK_KEY_RELEASE:
    case GDK_SCROLL:
    case GDK_DELETE:
    case GDK_DRAG_ENTER:
    case GDK_DRAG_LEAVE:
    case GDK_DRAG_MOTION:
    case GDK_DROP_START:
    case GDK_TOUCH_BEGIN:
    case GDK_TOUCH_UPDATE:
    case GDK_TOUCH_END:
    case GDK_TOUCH_CANCEL:
    case GDK_TOUCHPAD_SWIPE:
    case GDK_TOUCHPAD_PINCH:
      return true;
    default:
      return false;
  }
}

// GTK's own event handler, which it installs at start-up.
void PassEvent(GdkEvent* event, gpointer) { gtk_main_do_event(event); }

}  // namespace

bool GtkDisplayAvailable() {
  static int available = -1;
  if (available < 0) available = gtk_init_check(nullptr, nullptr) ? 1 : 0;
  return available == 1;
}

void DrawPendingFrame(GtkWidget* window) {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  GdkFrameClock* clock = gtk_widget_get_frame_clock(window);
  if (clock == nullptr || !gtk_widget_get_mapped(window)) return;
  bool painted = false, expired = false;
  const gulong handler = g_signal_connect(
      clock, "after-paint",
      G_CALLBACK(+[](GdkFrameClock*, gpointer flag) { *static_cast<bool*>(flag) = true; }),
      &painted);
  const guint timer = g_timeout_add(
      50,
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &expired);
  gtk_widget_queue_draw(window);
  gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_PAINT);
  while (!painted && !expired) gtk_main_iteration_do(TRUE);
  if (!expired) g_source_remove(timer);
  g_signal_handler_disconnect(clock, handler);
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

GtkView::GtkView() {
  InstallStyleSheet();
  GtkDialogWidgets& w = widgets_;
  w.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(w.window);
  gtk_widget_set_name(w.window, "downsql-dialog");
  gtk_window_set_title(GTK_WINDOW(w.window), ToUtf8(Form::kCaption).c_str());
  gtk_window_set_default_size(GTK_WINDOW(w.window), Form::kClientWidth, Form::kClientHeight);
  gtk_window_set_resizable(GTK_WINDOW(w.window), TRUE);
  gtk_window_move(GTK_WINDOW(w.window), Form::kLeft, Form::kTop);
  gtk_window_set_type_hint(GTK_WINDOW(w.window), GDK_WINDOW_TYPE_HINT_DIALOG);
  g_signal_connect(w.window, "delete-event", G_CALLBACK(OnDeleteEvent), this);

  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(w.window), column);

  // Panel2: the editor, inside a border of the panel's width.
  GtkWidget* editor_panel = gtk_event_box_new();
  gtk_style_context_add_class(gtk_widget_get_style_context(editor_panel), "downsql-panel");
  gtk_container_set_border_width(GTK_CONTAINER(editor_panel), Form::kPanelBorderWidth);
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                 GTK_POLICY_AUTOMATIC);
  w.editor = NewSqlEditor();
  gtk_container_add(GTK_CONTAINER(scroller), w.editor);
  gtk_container_add(GTK_CONTAINER(editor_panel), scroller);
  gtk_box_pack_start(GTK_BOX(column), editor_panel, TRUE, TRUE, 0);

  // Panel1: the button strip. Button positions count from the strip's
  // corner; "Zamknij" keeps its distance from the right edge.
  w.button_strip = gtk_event_box_new();
  gtk_style_context_add_class(gtk_widget_get_style_context(w.button_strip), "downsql-panel");
  gtk_widget_set_size_request(w.button_strip, -1, Form::kButtonPanelHeight);
  GtkWidget* strip = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_container_add(GTK_CONTAINER(w.button_strip), strip);
  w.get_button = NewCommandButton(Form::kGetCaption, Form::kGetBox);
  w.execute_button = NewCommandButton(Form::kExecuteCaption, Form::kExecuteBox);
  w.close_button = NewCommandButton(Form::kCloseCaption, Form::kCloseBox);
  gtk_widget_set_margin_start(w.get_button, Form::kGetBox.left);
  gtk_widget_set_margin_start(w.execute_button,
                              Form::kExecuteBox.left - Form::kGetBox.left - Form::kGetBox.width);
  gtk_widget_set_margin_end(w.close_button,
                            Form::kClientWidth - Form::kCloseBox.left - Form::kCloseBox.width);
  gtk_box_pack_start(GTK_BOX(strip), w.get_button, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(strip), w.execute_button, FALSE, FALSE, 0);
  gtk_box_pack_end(GTK_BOX(strip), w.close_button, FALSE, FALSE, 0);
  gtk_widget_set_sensitive(w.execute_button, FALSE);
  gtk_box_pack_start(GTK_BOX(column), w.button_strip, FALSE, FALSE, 0);
  for (GtkWidget* button : {w.get_button, w.execute_button, w.close_button}) {
    g_signal_connect(button, "clicked", G_CALLBACK(OnButtonClicked), this);
  }
  g_signal_connect(w.button_strip, "button-press-event", G_CALLBACK(OnDoubleClick), this);

  // The status bar: one text, and a progress bar while a handler works.
  w.status_area = gtk_event_box_new();
  w.status_bar = gtk_statusbar_new();
  gtk_widget_set_size_request(w.status_bar, -1, Form::kStatusBarHeight);
  // GtkStatusbar's template sets margins around the bar and its text; the
  // dialog's bar runs from edge to edge, its text a few pixels in.
  GtkWidget* message_area = gtk_statusbar_get_message_area(GTK_STATUSBAR(w.status_bar));
  for (GtkWidget* part : {w.status_bar, message_area}) {
    gtk_widget_set_margin_start(part, 0);
    gtk_widget_set_margin_end(part, 0);
    gtk_widget_set_margin_top(part, 0);
    gtk_widget_set_margin_bottom(part, 0);
  }
  w.progress_bar = gtk_progress_bar_new();
  gtk_widget_set_size_request(w.progress_bar, 150, -1);
  gtk_widget_set_valign(w.progress_bar, GTK_ALIGN_CENTER);
  gtk_widget_set_no_show_all(w.progress_bar, TRUE);
  gtk_box_pack_end(GTK_BOX(message_area), w.progress_bar, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(w.status_area), w.status_bar);
  gtk_box_pack_start(GTK_BOX(column), w.status_area, FALSE, FALSE, 0);
  g_signal_connect(w.status_area, "button-press-event", G_CALLBACK(OnDoubleClick), this);
  status_label_ = StatusLabel(w.status_bar);

  gtk_widget_show_all(column);
}

GtkView::~GtkView() {
  if (busy_) gdk_event_handler_set(PassEvent, nullptr, nullptr);
  gtk_widget_destroy(widgets_.window);
  g_object_unref(widgets_.window);
  // Let GTK finish tearing the window down (pending unmap and destroy work).
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

void GtkView::SetEditorText(std::string_view text) {
  EditorLines lines;
  lines.SetText(text);
  std::string joined;
  for (size_t i = 0; i < lines.lines().size(); ++i) {
    if (i > 0) joined += '\n';
    joined += lines.lines()[i];
  }
  ReplaceSqlEditorText(widgets_.editor, ToUtf8(joined));
  Repaint();
}

void GtkView::ClearEditor() { ReplaceSqlEditorText(widgets_.editor, ""); }

void GtkView::AppendEditorLine(std::string_view line) {
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(widgets_.editor));
  // An empty buffer holds no line yet: the first line needs no break.
  std::string text = gtk_text_buffer_get_char_count(buffer) > 0 ? "\n" : "";
  text += ToUtf8(line);
  AppendSqlEditorText(widgets_.editor, text);
  Repaint();
}

std::string GtkView::EditorText() const {
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(widgets_.editor));
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  gchar* utf8 = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
  std::string text = base::Utf8ToCp1250(utf8);
  g_free(utf8);
  if (text.empty()) return text;
  // Every line of the buffer is a line, also an empty last one.
  EditorLines lines;
  lines.SetText(text + "\n");
  return lines.Text();
}

void GtkView::SetStatusText(std::string_view text) {
  GtkStatusbar* bar = GTK_STATUSBAR(widgets_.status_bar);
  const guint context = gtk_statusbar_get_context_id(bar, "status");
  gtk_statusbar_remove_all(bar, context);
  gtk_statusbar_push(bar, context, ToUtf8(text).c_str());
  Repaint();
}

std::string GtkView::StatusText() const {
  return base::Utf8ToCp1250(gtk_label_get_text(GTK_LABEL(status_label_)));
}

void GtkView::SetExecuteEnabled(bool enabled) {
  gtk_widget_set_sensitive(widgets_.execute_button, enabled);
}

bool GtkView::ExecuteEnabled() const { return gtk_widget_get_sensitive(widgets_.execute_button); }

void GtkView::ShowError(std::string_view message) {
  GtkWidget* box =
      gtk_message_dialog_new(GTK_WINDOW(widgets_.window),
                             GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                             GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", ToUtf8(message).c_str());
  gtk_window_set_title(GTK_WINDOW(box), ToUtf8(Form::kCaption).c_str());
  // The box is the one place that takes input while a handler runs.
  const bool was_busy = busy_;
  if (was_busy) gdk_event_handler_set(PassEvent, nullptr, nullptr);
  busy_ = false;
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  busy_ = was_busy;
  if (was_busy) gdk_event_handler_set(FilterEvent, this, nullptr);
}

void GtkView::ReportProgress(int percent) {
  GtkProgressBar* bar = GTK_PROGRESS_BAR(widgets_.progress_bar);
  gtk_widget_show(widgets_.progress_bar);
  if (percent < 0) {
    gtk_progress_bar_pulse(bar);
  } else {
    gtk_progress_bar_set_fraction(bar, percent > 100 ? 1.0 : percent / 100.0);
  }
  Repaint();
}

void GtkView::RunModal(DialogEventSink& events) {
  events_ = &events;
  closed_ = false;
  // Like a modal dialog of Windows: every other visible top-level window of
  // the process is insensitive until this one closes.
  std::vector<GtkWidget*> disabled;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* t = toplevels; t != nullptr; t = t->next) {
    GtkWidget* other = GTK_WIDGET(t->data);
    if (other != widgets_.window && gtk_widget_get_visible(other) &&
        gtk_widget_get_sensitive(other)) {
      gtk_widget_set_sensitive(other, FALSE);
      disabled.push_back(GTK_WIDGET(g_object_ref(other)));
    }
  }
  g_list_free(toplevels);
  gtk_window_set_modal(GTK_WINDOW(widgets_.window), TRUE);
  gtk_widget_show(widgets_.window);
  gtk_window_present(GTK_WINDOW(widgets_.window));
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);

  Dispatch(DialogEvent::kShow);
  if (!closed_) {
    running_ = true;
    gtk_main();
    running_ = false;
  }

  gtk_window_set_modal(GTK_WINDOW(widgets_.window), FALSE);
  gtk_widget_hide(widgets_.window);
  for (GtkWidget* other : disabled) {
    gtk_widget_set_sensitive(other, TRUE);
    g_object_unref(other);
  }
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  events_ = nullptr;
}

void GtkView::Close() {
  if (closed_) return;
  closed_ = true;
  if (running_) gtk_main_quit();
}

void GtkView::Dispatch(DialogEvent event) {
  if (busy_ || events_ == nullptr || closed_) return;
  busy_ = true;
  gdk_event_handler_set(FilterEvent, this, nullptr);
  events_->HandleEvent(event);
  gdk_event_handler_set(PassEvent, nullptr, nullptr);
  busy_ = false;
  gtk_widget_hide(widgets_.progress_bar);
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(widgets_.progress_bar), 0.0);
}

void GtkView::Repaint() {
  if (!busy_) return;
  // Waiting for a frame costs up to one frame's time, so progress that comes
  // quickly is drawn about ten times a second; what comes in between is
  // drawn when GTK's frame clock gets to it.
  const int64_t now = g_get_monotonic_time();
  if (now - last_frame_us_ >= 100000) {
    DrawPendingFrame(widgets_.window);
    last_frame_us_ = g_get_monotonic_time();
  } else {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  }
}

void GtkView::FilterEvent(GdkEvent* event, void* data) {
  auto* view = static_cast<GtkView*>(data);
  if (view->busy_ && IsInput(event->type)) return;
  gtk_main_do_event(event);
}

void GtkView::OnButtonClicked(GtkWidget* button, GtkView* view) {
  const GtkDialogWidgets& w = view->widgets_;
  if (button == w.get_button) {
    view->Dispatch(DialogEvent::kGetClick);
  } else if (button == w.execute_button) {
    view->Dispatch(DialogEvent::kExecuteClick);
  } else if (button == w.close_button) {
    view->Dispatch(DialogEvent::kCloseClick);
  }
}

int GtkView::OnDoubleClick(GtkWidget* area, GdkEventButton* event, GtkView* view) {
  if (event->type != GDK_2BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY) return FALSE;
  view->Dispatch(area == view->widgets_.button_strip ? DialogEvent::kPanelDblClick
                                                     : DialogEvent::kStatusBarDblClick);
  return TRUE;
}

int GtkView::OnDeleteEvent(GtkWidget*, GdkEvent*, GtkView* view) {
  // The close box acts as "Zamknij"; the window itself is destroyed only
  // with the view.
  view->Dispatch(DialogEvent::kCloseClick);
  return TRUE;
}

}  // namespace downsql::ui
