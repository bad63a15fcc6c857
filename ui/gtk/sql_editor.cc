// Setting up the GtkSourceView of the dialog's editor.
#include "ui/gtk/sql_editor.h"

#include <glib/gstdio.h>
#include <gtk/gtk.h>
#include <gtksourceview/gtksource.h>

#include <vector>

#include "base/code_page.h"

namespace downsql::ui {
namespace {

// SQL colours of the dialog: comments teal, keywords orange, numbers blue,
// client-tool commands maroon, strings red and bold; the current line in
// the tooltip colour of Windows. Styles the SQL language does not name keep
// the text colour.
constexpr const char kSchemeXml[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<style-scheme id="downsql" name="downsql" version="1.0">
  <description>Colours of the draw import dialog</description>
  <color name="teal" value="#008080"/>
  <color name="orange" value="#FF8000"/>
  <color name="blue" value="#0000FF"/>
  <color name="maroon" value="#800000"/>
  <color name="red" value="#FF0000"/>
  <color name="tooltip" value="#FFFFE1"/>
  <color name="btnface" value="#F0F0F0"/>
  <style name="text" foreground="#000000" background="#FFFFFF"/>
  <style name="selection" foreground="#FFFFFF" background="#0078D7"/>
  <style name="current-line" background="tooltip"/>
  <style name="line-numbers" foreground="#000000" background="btnface"/>
  <style name="current-line-number" background="btnface"/>
  <style name="bracket-match" bold="true"/>
  <style name="def:comment" foreground="teal"/>
  <style name="def:keyword" foreground="orange"/>
  <style name="def:number" foreground="blue"/>
  <style name="def:decimal" foreground="blue"/>
  <style name="def:floating-point" foreground="blue"/>
  <style name="def:preprocessor" foreground="maroon"/>
  <style name="def:string" foreground="red" bold="true"/>
</style-scheme>
)";

// GtkSourceView reads style schemes only from files: the scheme is written
// to a private temporary folder, loaded, and the folder removed again. The
// scheme is loaded once per process and kept.
GtkSourceStyleScheme* SqlStyleScheme() {
  static GtkSourceStyleScheme* scheme = [] {
    GtkSourceStyleScheme* loaded = nullptr;
    gchar* dir = g_dir_make_tmp("downsql-scheme-XXXXXX", nullptr);
    if (dir == nullptr) return loaded;
    gchar* path = g_build_filename(dir, "downsql.xml", nullptr);
    if (g_file_set_contents(path, kSchemeXml, -1, nullptr)) {
      GtkSourceStyleSchemeManager* manager = gtk_source_style_scheme_manager_new();
      const gchar* search_path[] = {dir, nullptr};
      gtk_source_style_scheme_manager_set_search_path(manager, const_cast<gchar**>(search_path));
      loaded = gtk_source_style_scheme_manager_get_scheme(manager, kSqlStyleSchemeId);
      if (loaded != nullptr) g_object_ref(loaded);
      g_object_unref(manager);
    }
    g_unlink(path);
    g_rmdir(dir);
    g_free(path);
    g_free(dir);
    return loaded;
  }();
  return scheme;
}

// Line numbers in the gutter are drawn a size smaller than the text: the
// number renderer's text is set again, with the gutter's font, after it has
// set it itself.
constexpr const char kGutterFont[] = "Courier New, Liberation Mono, monospace 8";

void OnLineNumberQueryData(GtkSourceGutterRenderer* renderer, GtkTextIter* start, GtkTextIter*,
                           GtkSourceGutterRendererState, gpointer) {
  gchar* markup = g_markup_printf_escaped("<span font=\"%s\">%d</span>", kGutterFont,
                                          gtk_text_iter_get_line(start) + 1);
  gtk_source_gutter_renderer_text_set_markup(GTK_SOURCE_GUTTER_RENDERER_TEXT(renderer), markup, -1);
  g_free(markup);
}

// The number renderer exists once line numbers are shown; it is the only
// renderer of the left gutter.
void OnEditorRealize(GtkWidget* editor, gpointer) {
  GtkSourceGutter* gutter =
      gtk_source_view_get_gutter(GTK_SOURCE_VIEW(editor), GTK_TEXT_WINDOW_LEFT);
  GtkSourceGutterRenderer* numbers = gtk_source_gutter_get_renderer_at_pos(gutter, 1, 1);
  if (numbers == nullptr || !GTK_SOURCE_IS_GUTTER_RENDERER_TEXT(numbers)) return;
  g_signal_connect_after(numbers, "query-data", G_CALLBACK(OnLineNumberQueryData), nullptr);
  gtk_source_gutter_renderer_set_padding(numbers, 0, -1);
  gtk_source_gutter_renderer_set_alignment(numbers, 0.0f, -1);
}

// Trimming trailing blanks. A line counts as edited when a user action
// (typing, deleting, pasting, dropping; not undo or redo) changed the text
// with the cursor on it; once the cursor stands on another line, the edited
// line loses its trailing blanks. Lines are held by marks at their start, so
// they survive edits above them. The trim runs from an idle callback: the
// buffer must not change inside the signals that notice the move (the undo
// manager and the text view still hold iterators then).
struct TrimState {
  GtkTextBuffer* buffer = nullptr;
  GtkTextMark* edited_line = nullptr;
  std::vector<GtkTextMark*> left_lines;  // edited lines waiting for the trim
  int action_depth = 0;
  bool changed_in_action = false;
  bool undoing = false;
  bool trimming = false;
  guint idle = 0;
};

int CursorLine(GtkTextBuffer* buffer) {
  GtkTextIter cursor;
  gtk_text_buffer_get_iter_at_mark(buffer, &cursor, gtk_text_buffer_get_insert(buffer));
  return gtk_text_iter_get_line(&cursor);
}

int MarkLine(GtkTextBuffer* buffer, GtkTextMark* mark) {
  GtkTextIter at;
  gtk_text_buffer_get_iter_at_mark(buffer, &at, mark);
  return gtk_text_iter_get_line(&at);
}

// Hands the edited line over to the trim when the cursor has left it.
void LeaveEditedLine(TrimState* state) {
  if (state->edited_line != nullptr &&
      MarkLine(state->buffer, state->edited_line) != CursorLine(state->buffer)) {
    state->left_lines.push_back(state->edited_line);
    state->edited_line = nullptr;
  }
}

void TrimLine(GtkTextBuffer* buffer, int line) {
  GtkTextIter start;
  gtk_text_buffer_get_iter_at_line(buffer, &start, line);
  GtkTextIter end = start;
  if (!gtk_text_iter_ends_line(&end)) gtk_text_iter_forward_to_line_end(&end);
  GtkTextIter blanks = end;
  while (gtk_text_iter_compare(&blanks, &start) > 0) {
    GtkTextIter before = blanks;
    gtk_text_iter_backward_char(&before);
    const gunichar c = gtk_text_iter_get_char(&before);
    if (c != ' ' && c != '\t') break;
    blanks = before;
  }
  if (!gtk_text_iter_equal(&blanks, &end)) gtk_text_buffer_delete(buffer, &blanks, &end);
}

gboolean TrimLeftLines(gpointer data) {
  auto* state = static_cast<TrimState*>(data);
  state->idle = 0;
  LeaveEditedLine(state);
  if (state->left_lines.empty()) return G_SOURCE_REMOVE;
  const int cursor_line = CursorLine(state->buffer);
  state->trimming = true;
  gtk_text_buffer_begin_user_action(state->buffer);
  for (GtkTextMark* mark : state->left_lines) {
    const int line = MarkLine(state->buffer, mark);
    if (line != cursor_line) TrimLine(state->buffer, line);
    gtk_text_buffer_delete_mark(state->buffer, mark);
  }
  gtk_text_buffer_end_user_action(state->buffer);
  state->trimming = false;
  state->left_lines.clear();
  return G_SOURCE_REMOVE;
}

void ScheduleTrim(TrimState* state) {
  if (state->idle == 0 && (state->edited_line != nullptr || !state->left_lines.empty())) {
    state->idle = g_idle_add(TrimLeftLines, state);
  }
}

void OnBeginUserAction(GtkTextBuffer*, TrimState* state) {
  if (state->action_depth++ == 0) state->changed_in_action = false;
}

void OnBufferChanged(GtkTextBuffer*, TrimState* state) {
  if (state->action_depth > 0 && !state->trimming && !state->undoing) {
    state->changed_in_action = true;
  }
}

void OnEndUserAction(GtkTextBuffer* buffer, TrimState* state) {
  if (--state->action_depth > 0 || !state->changed_in_action) return;
  state->changed_in_action = false;
  // A line break moves the cursor on: the line it left goes to the trim.
  LeaveEditedLine(state);
  GtkTextIter line_start;
  gtk_text_buffer_get_iter_at_line(buffer, &line_start, CursorLine(buffer));
  if (state->edited_line == nullptr) {
    state->edited_line = gtk_text_buffer_create_mark(buffer, nullptr, &line_start, TRUE);
  } else {
    gtk_text_buffer_move_mark(buffer, state->edited_line, &line_start);
  }
  ScheduleTrim(state);
}

void OnMarkSet(GtkTextBuffer* buffer, GtkTextIter*, GtkTextMark* mark, TrimState* state) {
  if (mark == gtk_text_buffer_get_insert(buffer) && state->action_depth == 0) ScheduleTrim(state);
}

void OnUndoRedo(GtkSourceBuffer*, TrimState* state) { state->undoing = true; }
void AfterUndoRedo(GtkSourceBuffer*, TrimState* state) { state->undoing = false; }

// Forgets every edited line (the whole text was replaced).
void ForgetEditedLines(TrimState* state) {
  if (state->edited_line != nullptr) state->left_lines.push_back(state->edited_line);
  for (GtkTextMark* mark : state->left_lines) gtk_text_buffer_delete_mark(state->buffer, mark);
  state->left_lines.clear();
  state->edited_line = nullptr;
}

void FreeTrimState(gpointer data) {
  auto* state = static_cast<TrimState*>(data);
  if (state->idle != 0) g_source_remove(state->idle);
  delete state;
}

// Dropped files: the text view takes dropped text itself; a list of files
// (text/uri-list) replaces the editor's text by the files' contents.
constexpr guint kUriListInfo = 0x5d51;

void OnDragDataReceived(GtkWidget* editor, GdkDragContext* context, gint, gint,
                        GtkSelectionData* data, guint info, guint time, gpointer) {
  if (info != kUriListInfo) return;
  g_signal_stop_emission_by_name(editor, "drag-data-received");
  gchar** uris = gtk_selection_data_get_uris(data);
  std::vector<std::string> list;
  for (gchar** u = uris; u != nullptr && *u != nullptr; ++u) list.emplace_back(*u);
  g_strfreev(uris);
  const std::string text = LoadDroppedFiles(list);
  const bool loaded = !list.empty();
  if (loaded) {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(editor));
    // One user action, so one undo step brings the old text back.
    gtk_text_buffer_begin_user_action(buffer);
    gtk_text_buffer_set_text(buffer, text.data(), static_cast<gint>(text.size()));
    gtk_text_buffer_end_user_action(buffer);
  }
  gtk_drag_finish(context, loaded, FALSE, time);
}

}  // namespace

const char* SqlStyleSchemeXml() { return kSchemeXml; }

std::string LoadDroppedFiles(const std::vector<std::string>& uris) {
  std::string text;
  for (const std::string& uri : uris) {
    gchar* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    if (path == nullptr) continue;
    gchar* contents = nullptr;
    gsize length = 0;
    if (g_file_get_contents(path, &contents, &length, nullptr)) {
      if (g_utf8_validate(contents, static_cast<gssize>(length), nullptr)) {
        text.append(contents, length);
      } else {
        text += base::Cp1250ToUtf8(std::string_view(contents, length));
      }
      g_free(contents);
    }
    g_free(path);
  }
  return text;
}

GtkWidget* NewSqlEditor() {
  GtkSourceBuffer* buffer = gtk_source_buffer_new(nullptr);
  GtkSourceLanguage* sql =
      gtk_source_language_manager_get_language(gtk_source_language_manager_get_default(), "sql");
  if (sql != nullptr) gtk_source_buffer_set_language(buffer, sql);
  gtk_source_buffer_set_highlight_syntax(buffer, TRUE);
  if (GtkSourceStyleScheme* scheme = SqlStyleScheme()) {
    gtk_source_buffer_set_style_scheme(buffer, scheme);
  }

  GtkWidget* editor = gtk_source_view_new_with_buffer(buffer);
  g_object_unref(buffer);
  gtk_widget_set_name(editor, "downsql-editor");
  GtkSourceView* view = GTK_SOURCE_VIEW(editor);
  gtk_source_view_set_show_line_numbers(view, TRUE);
  gtk_source_view_set_highlight_current_line(view, TRUE);
  gtk_source_view_set_insert_spaces_instead_of_tabs(view, TRUE);
  gtk_source_view_set_auto_indent(view, TRUE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(editor), GTK_WRAP_WORD_CHAR);
  // The numbers start at the gutter's left edge; the text keeps a little
  // distance from them.
  gtk_text_view_set_left_margin(GTK_TEXT_VIEW(editor), 4);
  g_signal_connect(editor, "realize", G_CALLBACK(OnEditorRealize), nullptr);

  auto* trim = new TrimState;
  trim->buffer = GTK_TEXT_BUFFER(buffer);
  g_object_set_data_full(G_OBJECT(editor), "downsql-trim", trim, FreeTrimState);
  g_signal_connect(buffer, "begin-user-action", G_CALLBACK(OnBeginUserAction), trim);
  g_signal_connect(buffer, "changed", G_CALLBACK(OnBufferChanged), trim);
  g_signal_connect(buffer, "end-user-action", G_CALLBACK(OnEndUserAction), trim);
  g_signal_connect(buffer, "mark-set", G_CALLBACK(OnMarkSet), trim);
  for (const char* signal : {"undo", "redo"}) {
    g_signal_connect(buffer, signal, G_CALLBACK(OnUndoRedo), trim);
    g_signal_connect_after(buffer, signal, G_CALLBACK(AfterUndoRedo), trim);
  }

  GtkTargetList* targets = gtk_drag_dest_get_target_list(editor);
  if (targets != nullptr) gtk_target_list_add_uri_targets(targets, kUriListInfo);
  g_signal_connect(editor, "drag-data-received", G_CALLBACK(OnDragDataReceived), nullptr);
  return editor;
}

void ReplaceSqlEditorText(GtkWidget* editor, const std::string& utf8_text) {
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(editor));
  auto* trim = static_cast<TrimState*>(g_object_get_data(G_OBJECT(editor), "downsql-trim"));
  if (trim != nullptr) ForgetEditedLines(trim);
  GtkSourceBuffer* source = GTK_SOURCE_BUFFER(buffer);
  gtk_source_buffer_begin_not_undoable_action(source);
  gtk_text_buffer_set_text(buffer, utf8_text.data(), static_cast<gint>(utf8_text.size()));
  gtk_source_buffer_end_not_undoable_action(source);
  GtkTextIter start;
  gtk_text_buffer_get_start_iter(buffer, &start);
  gtk_text_buffer_place_cursor(buffer, &start);
}

void AppendSqlEditorText(GtkWidget* editor, const std::string& utf8_text) {
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(editor));
  GtkSourceBuffer* source = GTK_SOURCE_BUFFER(buffer);
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer, &end);
  gtk_source_buffer_begin_not_undoable_action(source);
  gtk_text_buffer_insert(buffer, &end, utf8_text.data(), static_cast<gint>(utf8_text.size()));
  gtk_source_buffer_end_not_undoable_action(source);
}

}  // namespace downsql::ui
