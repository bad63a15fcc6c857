// The import dialog's GTK window, driven as a person drives it: real mouse
// clicks and double clicks (through the X server's test extension) on a
// window showing a sample database, "Pobierz" asking a scripted results
// service on the loopback interface. Runs under its own Xvfb
// (run_with_xvfb.sh); skipped when no display can be opened. Screenshots go
// to gtk_dialog_*.png in the build directory.
#include <dlfcn.h>
#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtksourceview/gtksource.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base/code_page.h"
#include "db/access/tabula_library.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_settings.h"
#include "tests/http/script_server.h"
#include "tests/platform/temp_dir.h"
#include "tests/ui/x_pointer.h"
#include "ui/dialog_form.h"
#include "ui/gtk/gtk_view.h"
#include "ui/gtk/sql_editor.h"
#include "updater/fmsqlall.h"
#include "updater/game_catalogue.h"
#include "updater/request_builder.h"
#include "updater/run_update.h"

namespace downsql::ui {
namespace {

using http::testing::Pause;
using http::testing::ReadHead;
using http::testing::ScriptServer;
using http::testing::Send;
using http::testing::Step;

std::string Utf8(std::string_view cp1250) { return base::Cp1250ToUtf8(cp1250); }

class GtkViewTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!GtkDisplayAvailable()) GTEST_SKIP() << "no X display could be opened";
  }
};

// Where a widget lies in its top-level window.
GdkRectangle Box(GtkWidget* widget) {
  GdkRectangle box{0, 0, gtk_widget_get_allocated_width(widget),
                   gtk_widget_get_allocated_height(widget)};
  gtk_widget_translate_coordinates(widget, gtk_widget_get_toplevel(widget), 0, 0, &box.x, &box.y);
  return box;
}

GdkWindow* TopWindow(GtkWidget* widget) {
  return gtk_widget_get_window(gtk_widget_get_toplevel(widget));
}

// Mouse clicks through the X server's test extension, at a point of a
// widget (its middle by default): the server moves its pointer and presses
// the button, so GTK receives the same events as from a real mouse.
void Click(GtkWidget* widget, int dx = -1, int dy = -1, int count = 1) {
  GdkRectangle box = Box(widget);
  int origin_x = 0, origin_y = 0;
  gdk_window_get_origin(TopWindow(widget), &origin_x, &origin_y);
  const int x = origin_x + box.x + (dx < 0 ? box.width / 2 : dx);
  const int y = origin_y + box.y + (dy < 0 ? box.height / 2 : dy);
  test_input::ClickAt(gdk_window_get_display(TopWindow(widget)), x, y, count);
}

void Screenshot(GtkWidget* window, const std::string& name) {
  DrawPendingFrame(window);
  GdkWindow* w = gtk_widget_get_window(window);
  GdkPixbuf* shot =
      gdk_pixbuf_get_from_window(w, 0, 0, gdk_window_get_width(w), gdk_window_get_height(w));
  ASSERT_NE(shot, nullptr);
  const std::string path = std::string(DOWNSQL_SCREENSHOT_DIR) + "/" + name;
  EXPECT_TRUE(gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, nullptr)) << path;
  g_object_unref(shot);
}

// The error box on screen, if any.
GtkWidget* ErrorBox() {
  GtkWidget* found = nullptr;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* t = toplevels; t != nullptr; t = t->next) {
    if (GTK_IS_MESSAGE_DIALOG(t->data) && gtk_widget_get_mapped(GTK_WIDGET(t->data))) {
      found = GTK_WIDGET(t->data);
    }
  }
  g_list_free(toplevels);
  return found;
}

std::string ErrorBoxText(GtkWidget* box) {
  gchar* text = nullptr;
  g_object_get(box, "text", &text, nullptr);
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

// Steps a person takes, one at a time, from a timer of the window's own
// event loop: each step acts, then waits until the window shows its result,
// then checks it. A step that never finishes fails the test and closes the
// window.
class Driver {
 public:
  struct Step {
    std::string name;
    std::function<void()> act;
    std::function<bool()> done;
    std::function<void()> check;
  };

  Driver(GtkView& view, std::vector<Step> steps) : view_(view), steps_(std::move(steps)) {
    timer_ = g_timeout_add(25, Tick, this);
  }
  ~Driver() {
    if (timer_ != 0) g_source_remove(timer_);
  }
  bool finished() const { return next_ == steps_.size() && !failed_; }

 private:
  static gboolean Tick(gpointer data) {
    auto* d = static_cast<Driver*>(data);
    // The window draws while a handler works, and so this timer runs then
    // too; a person's next step has to wait until the window takes input.
    if (d->view_.working()) return G_SOURCE_CONTINUE;
    if (d->next_ == d->steps_.size()) {
      // The last step closes the window; if it stays open, the test fails
      // rather than hangs.
      if (std::chrono::steady_clock::now() - d->since_ > std::chrono::seconds(20)) {
        ADD_FAILURE() << "the window did not close";
        d->timer_ = 0;
        d->view_.Close();
        return G_SOURCE_REMOVE;
      }
      return G_SOURCE_CONTINUE;
    }
    Step& step = d->steps_[d->next_];
    if (!d->started_) {
      d->started_ = true;
      d->since_ = std::chrono::steady_clock::now();
      if (step.act) step.act();
      // A step without a result to wait for may end the run at once.
      if (step.done) return G_SOURCE_CONTINUE;
    }
    if (!step.done || step.done()) {
      SCOPED_TRACE(step.name);
      if (step.check) step.check();
      ++d->next_;
      d->started_ = false;
      d->since_ = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - d->since_ > std::chrono::seconds(20)) {
      ADD_FAILURE() << "step \"" << step.name << "\" did not finish"
                    << (ErrorBox() ? " (error box: " + ErrorBoxText(ErrorBox()) + ")" : "");
      if (GtkWidget* box = ErrorBox()) gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
      d->next_ = d->steps_.size();
      d->failed_ = true;
      d->view_.Close();
    }
    return G_SOURCE_CONTINUE;
  }

  GtkView& view_;
  std::vector<Step> steps_;
  size_t next_ = 0;
  bool started_ = false;
  bool failed_ = false;
  std::chrono::steady_clock::time_point since_;
  guint timer_ = 0;
};

// A sample database: the LOTTO table, empty, beside files of no game.
void CreateSampleDatabase(const std::string& dir) {
  storage::EngineSettings settings;
  storage::TNewTableDefinition lotto;
  storage::TFieldDef id, date;
  id.name = "id";
  id.type = storage::kTypeInteger;
  date.name = "date";
  date.type = storage::kTypeDate;
  lotto.table.fields = {id, date};
  storage::TDataTable::Create(dir, "LOTTO", settings, lotto);
}

// The service's answer: a comment and draws of LOTTO, long enough (about
// 100 KB) for the client to report its progress several times.
std::string Answer() {
  std::string answer = "-- losowania LOTTO\r\n";
  for (int id = 7001; id <= 8600; ++id) {
    answer += "INSERT INTO LOTTO (id, [date]) VALUES (" + std::to_string(id) + ", '" +
              std::to_string(2000 + id % 20) + "-03-0" + std::to_string(1 + id % 9) + "');\r\n";
  }
  return answer;
}

// The answer in pieces with pauses between them, so that the window has
// time to show each progress report.
std::vector<Step> SlowAnswer(const std::string& body) {
  std::vector<Step> script = {
      ReadHead(),
      Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n")};
  for (size_t at = 0; at < body.size(); at += 8192) {
    script.push_back(Pause(40));
    script.push_back(Send(body.substr(at, 8192)));
  }
  return script;
}

struct StatusSeen {
  std::string text;  // UTF-8
  bool progress_visible;
};

// Records every status text once it is set, with whether the progress bar
// shows (it appears with the first progress report, after the first text);
// at the second progress text the window is photographed mid-fetch.
struct StatusRecorder {
  GtkWidget* window;
  GtkWidget* progress_bar;
  std::vector<StatusSeen> seen;
  int progress_texts = 0;
  bool importing = false;
  int import_fractions = 0;  // progress bar moves seen after "Wykonaj"
};

void OnFractionChanged(GObject* bar, GParamSpec*, gpointer data) {
  auto* recorder = static_cast<StatusRecorder*>(data);
  if (recorder->importing && gtk_widget_get_visible(GTK_WIDGET(bar)) &&
      gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(bar)) > 0.0) {
    ++recorder->import_fractions;
  }
}

void OnTextPushed(GtkStatusbar*, guint, gchar* text, gpointer data) {
  auto* recorder = static_cast<StatusRecorder*>(data);
  recorder->seen.push_back({text ? text : "", gtk_widget_get_visible(recorder->progress_bar) != 0});
  if (recorder->seen.back().text.rfind("Odebrano ", 0) == 0 && ++recorder->progress_texts == 2) {
    Screenshot(recorder->window, "gtk_dialog_progress.png");
  }
}

TEST_F(GtkViewTest, DialogDrivenThroughItsWidgets) {
  // The default engine and session, which the library holds while loaded.
  access::TTabulaLibrary database_objects;
  platform::TempDir db;
  const std::string dir = db.path() + "/";
  CreateSampleDatabase(dir);
  const std::string answer = Answer();
  ScriptServer service({SlowAnswer(answer)});

  GtkView view;
  const GtkDialogWidgets& w = view.widgets();
  StatusRecorder recorder{w.window, w.progress_bar, {}};
  const std::vector<StatusSeen>& statuses = recorder.seen;
  g_signal_connect_after(w.status_bar, "text-pushed", G_CALLBACK(OnTextPushed), &recorder);
  g_signal_connect(w.progress_bar, "notify::fraction", G_CALLBACK(OnFractionChanged), &recorder);

  updater::UpdateState state;
  std::vector<std::string> summary_lines;
  const std::string press_get = Utf8("Wci\x9Cnij przycisk POBIERZ");
  auto editor = [&] { return Utf8(view.EditorText()); };
  auto status = [&] { return Utf8(view.StatusText()); };
  std::string before_get, after_import, request;
  size_t fetch_statuses = 0;

  Driver driver(
      view, {
                {"open", nullptr,
                 [&] {
                   return gtk_widget_get_mapped(w.window) &&
                          editor().find(press_get) != std::string::npos;
                 },
                 [&] {
                   const std::string text = editor();
                   EXPECT_EQ(text.rfind(Utf8("Pobrane b\xEA"
                                             "d\xB9 losowania :\r\n"),
                                        0),
                             0u)
                       << text;
                   EXPECT_NE(text.find(Utf8("                  LOTTO nast\xEApne po dniu ")),
                             std::string::npos)
                       << text;
                   EXPECT_NE(text.find("MULTI MULTI gra nie jest aktywna\r\n"), std::string::npos);
                   EXPECT_EQ(status(), "");
                   EXPECT_FALSE(view.ExecuteEnabled());
                   EXPECT_FALSE(gtk_widget_get_visible(w.progress_bar));
                   // The form's geometry: client area, strip and buttons.
                   GdkWindow* top = gtk_widget_get_window(w.window);
                   EXPECT_EQ(gdk_window_get_width(top), 506);
                   EXPECT_EQ(gdk_window_get_height(top), 340);
                   GdkRectangle strip = Box(w.button_strip);
                   EXPECT_EQ(strip.height, 41);
                   EXPECT_EQ(Box(w.status_bar).height, 19);
                   EXPECT_EQ(strip.y + strip.height + 19, 340);
                   struct {
                     GtkWidget* button;
                     ControlBox box;
                   } buttons[] = {{w.get_button, ImportDialogForm::kGetBox},
                                  {w.execute_button, ImportDialogForm::kExecuteBox},
                                  {w.close_button, ImportDialogForm::kCloseBox}};
                   for (const auto& b : buttons) {
                     GdkRectangle r = Box(b.button);
                     EXPECT_EQ(r.x, b.box.left);
                     EXPECT_EQ(r.y - strip.y, b.box.top);
                     EXPECT_EQ(r.width, b.box.width);
                     EXPECT_EQ(r.height, b.box.height);
                   }
                   Screenshot(w.window, "gtk_dialog_open.png");
                   before_get = text;
                 }},
                // Before any "Pobierz" the last request is empty.
                {"double click on the status bar", [&] { Click(w.status_area, 40, -1, 2); },
                 [&] { return editor() != before_get; },
                 [&] { EXPECT_EQ(editor(), before_get + "\r\n"); }},
                {"double click on the strip outside the buttons",
                 [&] { Click(w.button_strip, 300, 30, 2); }, [&] { return view.ExecuteEnabled(); },
                 [&] {
                   EXPECT_FALSE(state.ExecuteLocked);
                   before_get = editor();
                 }},
                {"Pobierz", [&] { Click(w.get_button); },
                 [&] { return status().rfind("GOTOWE", 0) == 0; },
                 [&] {
                   EXPECT_EQ(status(), Utf8("GOTOWE mo\xBFna wprowadzi\xE6 losowania do bazy"));
                   EXPECT_EQ(editor(), answer);
                   EXPECT_TRUE(view.ExecuteEnabled());
                   // The window went on showing the status while the answer came
                   // in: connecting, then bytes received with the progress bar.
                   ASSERT_GE(statuses.size(), 3u);
                   EXPECT_EQ(statuses[0].text, Utf8("\xA3\xB9"
                                                    "cz\xEA z serwisem http://127.0.0.1:") +
                                                   std::to_string(service.port()));
                   int progress_shown = 0;
                   for (const StatusSeen& s : statuses) {
                     if (s.text.rfind("Odebrano ", 0) == 0 && s.progress_visible) ++progress_shown;
                   }
                   EXPECT_GE(progress_shown, 2);
                   EXPECT_FALSE(gtk_widget_get_visible(w.progress_bar));
                   Screenshot(w.window, "gtk_dialog_fetched.png");
                   request = updater::BuildRequestAddress(
                       state, "127.0.0.1:" + std::to_string(service.port()));
                 }},
                {"Wykonaj",
                 [&] {
                   fetch_statuses = statuses.size();
                   recorder.importing = true;
                   Click(w.execute_button);
                 },
                 [&] { return !view.ExecuteEnabled(); },
                 [&] {
                   EXPECT_EQ(ErrorBox(), nullptr);
                   // The import moved the progress bar while it ran; its
                   // INSERT statements report no percentage in the status.
                   EXPECT_GE(recorder.import_fractions, 2);
                   for (size_t i = fetch_statuses; i < statuses.size(); ++i) {
                     EXPECT_NE(statuses[i].text.rfind("Wykonano ", 0), 0u) << statuses[i].text;
                   }
                   EXPECT_FALSE(gtk_widget_get_visible(w.progress_bar));
                   EXPECT_EQ(status(), Utf8("Do baz gier wprowadzono 1600 nowych wynik\xF3w "
                                            "losowa\xF1"));
                   // The editor shows the summary again, now with the newest
                   // draw of LOTTO, and the total.
                   const std::string text = editor();
                   EXPECT_NE(text.find(Utf8("LOTTO nast\xEApne po dniu ")), std::string::npos);
                   int lotto = 0;
                   while (updater::GameAt(lotto).TableName != "LOTTO") ++lotto;
                   EXPECT_EQ(state.LastDrawId[lotto], 8600);
                   EXPECT_NE(text.find(Utf8("Razem wprowadzono 1600 nowych wynik\xF3w "
                                            "losowa\xF1\r\n")),
                             std::string::npos)
                       << text;
                   Screenshot(w.window, "gtk_dialog_imported.png");
                   after_import = text;
                 }},
                {"double click on the status bar after Wykonaj",
                 [&] { Click(w.status_area, 40, -1, 2); }, [&] { return editor() != after_import; },
                 [&] {
                   // The request sent by "Pobierz", from before the import.
                   EXPECT_EQ(request.rfind("http://127.0.0.1:", 0), 0u);
                   EXPECT_EQ(editor(), after_import + Utf8(request) + "\r\n");
                 }},
                {"close box",
                 [&] {
                   GdkEvent* close = gdk_event_new(GDK_DELETE);
                   close->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(w.window)));
                   gdk_event_put(close);
                   gdk_event_free(close);
                 },
                 nullptr, nullptr},
            });

  updater::RunImportDialog(state, dir, view, "127.0.0.1:" + std::to_string(service.port()));
  EXPECT_TRUE(driver.finished());
  EXPECT_FALSE(gtk_widget_get_visible(w.window));
}

TEST_F(GtkViewTest, ModalRunDisablesOtherWindowsUntilZamknij) {
  GtkWidget* other = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_widget_show(other);
  GtkView view;
  const GtkDialogWidgets& w = view.widgets();
  updater::UpdateState state;
  state.Present.fill(false);
  bool other_sensitive_while_open = true;
  Driver driver(view, {{"open", nullptr, [&] { return gtk_widget_get_mapped(w.window) != 0; },
                        [&] { other_sensitive_while_open = gtk_widget_get_sensitive(other); }},
                       {"Zamknij", [&] { Click(w.close_button); }, nullptr, nullptr}});
  updater::RunImportDialog(state, "/nonexistent/", view, "127.0.0.1:1");
  EXPECT_TRUE(driver.finished());
  EXPECT_FALSE(other_sensitive_while_open);
  EXPECT_TRUE(gtk_widget_get_sensitive(other));
  gtk_widget_destroy(other);
}

TEST_F(GtkViewTest, EditorTextKeepsLinesAndPolishLetters) {
  GtkView view;
  struct Case {
    std::function<void()> act;
    std::string text;
  } cases[] = {
      {[&] { view.SetEditorText("a\r\n\xB9\xEA\r\n"); }, "a\r\n\xB9\xEA\r\n"},
      {[&] { view.SetEditorText("x\ny\rz"); }, "x\r\ny\r\nz\r\n"},
      {[&] {
         view.AppendEditorLine(
             "Do serwera wys\xB3"
             "ano polecenie : ");
       },
       "x\r\ny\r\nz\r\nDo serwera wys\xB3"
       "ano polecenie : \r\n"},
      {[&] { view.ClearEditor(); }, ""},
      {[&] { view.AppendEditorLine(""); }, ""},
      {[&] { view.AppendEditorLine("b"); }, "b\r\n"},
  };
  for (const Case& c : cases) {
    c.act();
    EXPECT_EQ(view.EditorText(), c.text);
  }
  view.SetStatusText("Wykonano 50 % polece\xF1");
  EXPECT_EQ(view.StatusText(), "Wykonano 50 % polece\xF1");
}

TEST_F(GtkViewTest, EditorIsAnSqlSourceViewInOurColours) {
  GtkView view;
  GtkSourceView* editor = GTK_SOURCE_VIEW(view.widgets().editor);
  EXPECT_TRUE(gtk_source_view_get_show_line_numbers(editor));
  EXPECT_TRUE(gtk_source_view_get_highlight_current_line(editor));
  EXPECT_TRUE(gtk_source_view_get_insert_spaces_instead_of_tabs(editor));
  EXPECT_TRUE(gtk_source_view_get_auto_indent(editor));
  EXPECT_NE(gtk_text_view_get_wrap_mode(GTK_TEXT_VIEW(editor)), GTK_WRAP_NONE);

  GtkSourceBuffer* buffer = GTK_SOURCE_BUFFER(gtk_text_view_get_buffer(GTK_TEXT_VIEW(editor)));
  ASSERT_NE(gtk_source_buffer_get_language(buffer), nullptr);
  EXPECT_STREQ(gtk_source_language_get_id(gtk_source_buffer_get_language(buffer)), "sql");
  GtkSourceStyleScheme* scheme = gtk_source_buffer_get_style_scheme(buffer);
  ASSERT_NE(scheme, nullptr);
  EXPECT_STREQ(gtk_source_style_scheme_get_id(scheme), kSqlStyleSchemeId);
  struct {
    const char* style;
    const char* colour;
    bool bold;
  } colours[] = {
      {"def:comment", "#008080", false}, {"def:keyword", "#FF8000", false},
      {"def:decimal", "#0000FF", false}, {"def:floating-point", "#0000FF", false},
      {"def:string", "#FF0000", true},   {"def:preprocessor", "#800000", false},
  };
  for (const auto& c : colours) {
    SCOPED_TRACE(c.style);
    GtkSourceStyle* style = gtk_source_style_scheme_get_style(scheme, c.style);
    ASSERT_NE(style, nullptr);
    gchar* foreground = nullptr;
    gboolean bold = FALSE;
    g_object_get(style, "foreground", &foreground, "bold", &bold, nullptr);
    EXPECT_STREQ(foreground, c.colour);
    EXPECT_EQ(bold != FALSE, c.bold);
    g_free(foreground);
  }
  GtkSourceStyle* current = gtk_source_style_scheme_get_style(scheme, "current-line");
  ASSERT_NE(current, nullptr);
  gchar* background = nullptr;
  g_object_get(current, "background", &background, nullptr);
  EXPECT_STREQ(background, "#FFFFE1");
  g_free(background);
}

// Typing as the text view types: inside user actions at the cursor.
void Type(GtkTextBuffer* buffer, const char* text) {
  gtk_text_buffer_begin_user_action(buffer);
  gtk_text_buffer_insert_interactive_at_cursor(buffer, text, -1, TRUE);
  gtk_text_buffer_end_user_action(buffer);
}

void Pump() {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

TEST_F(GtkViewTest, EditedLineLosesTrailingBlanksWhenLeft) {
  GtkView view;
  view.SetEditorText("keep me  \r\nsecond");
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view.widgets().editor));
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer, &end);
  gtk_text_buffer_place_cursor(buffer, &end);
  Type(buffer, " x  ");
  Pump();
  // Still on the line: the blanks stay while the user may go on typing.
  EXPECT_EQ(view.EditorText(), "keep me  \r\nsecond x  \r\n");
  Type(buffer, "\n");
  Pump();
  // A line the user did not edit keeps its blanks.
  EXPECT_EQ(view.EditorText(), "keep me  \r\nsecond x\r\n\r\n");
  Type(buffer, "y   ");
  GtkTextIter start;
  gtk_text_buffer_get_start_iter(buffer, &start);
  gtk_text_buffer_place_cursor(buffer, &start);
  Pump();
  EXPECT_EQ(view.EditorText(), "keep me  \r\nsecond x\r\ny\r\n");
  // Undo brings edits back step by step; the text set by the dialog is the
  // oldest state.
  GtkSourceBuffer* source = GTK_SOURCE_BUFFER(buffer);
  while (gtk_source_buffer_can_undo(source)) gtk_source_buffer_undo(source);
  EXPECT_EQ(view.EditorText(), "keep me  \r\nsecond\r\n");
}

TEST_F(GtkViewTest, DroppedFilesAreReadAsText) {
  platform::TempDir dir;
  const std::string cp1250 = dir.path() + "/a.sql", utf8 = dir.path() + "/b.sql";
  std::ofstream(cp1250, std::ios::binary) << "-- \xB3\xF3\x64\x9F\n";
  std::ofstream(utf8, std::ios::binary) << "-- \xC5\x82\xC3\xB3\x64\xC5\xBA\n";
  auto uri = [](const std::string& path) {
    gchar* u = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    std::string s = u;
    g_free(u);
    return s;
  };
  EXPECT_EQ(LoadDroppedFiles({uri(cp1250), uri(dir.path() + "/missing.sql"), uri(utf8),
                              "http://127.0.0.1/remote.sql"}),
            "-- \xC5\x82\xC3\xB3\x64\xC5\xBA\n-- \xC5\x82\xC3\xB3\x64\xC5\xBA\n");
}

// DoUpdate of the library shows the window when a display is open.
TEST_F(GtkViewTest, DoUpdateOpensTheWindow) {
  using DoUpdateFn = void (*)(uint32_t, int32_t, int32_t, const char*, const char*, const char*,
                              uint32_t, const char*, const char*);
  void* library = dlopen(DOWNSQL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto do_update = reinterpret_cast<DoUpdateFn>(dlsym(library, "DoUpdate"));
  ASSERT_NE(do_update, nullptr);
  std::string caption_seen;
  guint timer = g_timeout_add(
      25,
      [](gpointer data) -> gboolean {
        GList* toplevels = gtk_window_list_toplevels();
        for (GList* t = toplevels; t != nullptr; t = t->next) {
          GtkWidget* window = GTK_WIDGET(t->data);
          if (!gtk_widget_get_mapped(window) || GTK_IS_MESSAGE_DIALOG(window)) continue;
          *static_cast<std::string*>(data) = gtk_window_get_title(GTK_WINDOW(window));
          GdkEvent* close = gdk_event_new(GDK_DELETE);
          close->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
          gdk_event_put(close);
          gdk_event_free(close);
        }
        g_list_free(toplevels);
        return G_SOURCE_CONTINUE;
      },
      &caption_seen);
  do_update(0, 0, 0, nullptr, nullptr, nullptr, 0, nullptr, nullptr);
  g_source_remove(timer);
  EXPECT_EQ(caption_seen, Utf8(ImportDialogForm::kCaption));
}

}  // namespace
}  // namespace downsql::ui
