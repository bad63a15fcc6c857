#include "ui/terminal_view.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/ui/recording_sink.h"

namespace downsql::ui {
namespace {

using E = DialogEvent;

struct TerminalRun {
  std::string output;
  std::vector<E> events;
  std::string editor_text;
};

TerminalRun RunTerminal(const std::string& input, const std::string& editor = "") {
  std::istringstream in(input);
  std::ostringstream out;
  TerminalView view(in, out);
  view.SetEditorText(editor);
  RecordingSink sink(view);
  view.RunModal(sink);
  return {out.str(), sink.events, view.EditorText()};
}

TEST(TerminalViewTest, CommandsBecomeEvents) {
  TerminalRun run =
      RunTerminal("w\n  Panel \r\nwykonaj\npasek\npobierz\nbogus\n\nZAMKNIJ\npobierz\n");
  // The first "w" is refused while "Wykonaj" is disabled; nothing is read
  // after "Zamknij".
  EXPECT_EQ(run.events, (std::vector<E>{E::kShow, E::kPanelDblClick, E::kExecuteClick,
                                        E::kStatusBarDblClick, E::kGetClick, E::kCloseClick}));
  EXPECT_NE(run.output.find("Przycisk Wykonaj jest nieaktywny."), std::string::npos);
  EXPECT_NE(run.output.find("Nieznane polecenie: bogus"), std::string::npos);
}

TEST(TerminalViewTest, EndOfInputClosesTheDialog) {
  TerminalRun run = RunTerminal("panel\n");
  EXPECT_EQ(run.events, (std::vector<E>{E::kShow, E::kPanelDblClick}));
}

TEST(TerminalViewTest, ShowsEditorStatusAndErrorsInUtf8) {
  TerminalRun run = RunTerminal("p\n",
                                "Wci\x9Cnij\r\nb\xEA"
                                "d\xB9");
  // Editor lines, the progress texts set during the command and the error
  // box, all converted from Windows-1250.
  EXPECT_NE(run.output.find("\nWciśnij\nbędą\n"), std::string::npos);
  EXPECT_NE(run.output.find("  ... step 1\n  ... step 2\n"), std::string::npos);
  EXPECT_NE(run.output.find("*** Błąd: it failedą. [OK]\n"), std::string::npos);
  EXPECT_NE(run.output.find("Status: step 2\n[Pobierz] (Wykonaj) [Zamknij]\n"), std::string::npos);
}

TEST(TerminalViewTest, EditReplacesTheEditorTextFromUtf8Lines) {
  TerminalRun run = RunTerminal("edytuj\nINSERT 'ą';\r\n\n.\n", "old");
  EXPECT_EQ(run.editor_text, "INSERT '\xB9';\r\n\r\n");
}

}  // namespace
}  // namespace downsql::ui
