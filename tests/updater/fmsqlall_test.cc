#include "updater/fmsqlall.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "db/access/tabula_library.h"
#include "tests/platform/temp_dir.h"
#include "tests/updater/game_tables.h"
#include "ui/headless_view.h"
#include "updater/run_update.h"
#include "updater/summary.h"

namespace downsql::updater {
namespace {

using platform::TempDir;
using E = ui::DialogEvent;

const std::string kPressGet = "Wci\x9Cnij przycisk POBIERZ";
const std::string kNothingFound = "Aktualnych losowa\xF1 nie znaleziono ";
// Nothing listens on loopback port 1, so "Pobierz" fails at once without
// leaving the machine.
const std::string kService = "127.0.0.1:1";
const std::string kFetchError = "Socket Error # 10061\r\nConnection refused.";
// "Wykonaj" on the summary text: it is no SQL.
const std::string kImportError =
    "Tabula Engine Error # 11949 SQL parsing error - Expected SELECT, INSERT, UPDATE, DELETE, "
    "CREATE, ALTER, DROP, RENAME, EMPTY, OPTIMIZE, EXPORT, IMPORT, VERIFY, REPAIR, UPGRADE, "
    "START, ROLLBACK, or COMMIT but instead found Pobrane in SQL statement at line 2, column 1.";

std::vector<std::string> Lines(const std::string& text) {
  ui::EditorLines editor;
  editor.SetText(text);
  return editor.lines();
}

class DialogTest : public ::testing::Test {
 protected:
  // LOTTO is present, with an empty table.
  DialogTest() : dialog(view, state, kService) {
    state.DatabaseDirectory = dir.path() + "/";
    CreateGameTable(state.DatabaseDirectory, 0);
    state.Present.fill(false);
    state.Present[0] = true;
  }
  // The editor as FormShow leaves it.
  std::vector<std::string> Opened() {
    std::vector<std::string> lines = Lines(BuildSummaryText(state));
    lines.push_back(kPressGet);
    return lines;
  }
  struct Snapshot {
    std::string editor, status;
    bool enabled, locked;
    bool operator==(const Snapshot&) const = default;
  };
  Snapshot Take() {
    return {view.EditorText(), view.StatusText(), view.ExecuteEnabled(), state.ExecuteLocked};
  }

  access::TTabulaLibrary library;
  TempDir dir;
  ui::HeadlessView view;
  UpdateState state;
  Tfmsqlall dialog;
};

TEST_F(DialogTest, OpensWithTheSummaryAndWykonajDisabled) {
  dialog.HandleEvent(E::kShow);
  EXPECT_EQ(view.lines(), Opened());
  EXPECT_EQ(view.StatusText(), "");
  EXPECT_FALSE(view.ExecuteEnabled());
  EXPECT_TRUE(state.ExecuteLocked);
  EXPECT_TRUE(view.errors().empty());
}

TEST_F(DialogTest, PobierzAppendsTheRequestAndReportsAFailedFetch) {
  dialog.HandleEvent(E::kShow);
  dialog.HandleEvent(E::kStatusBarDblClick);  // before any "Pobierz": an empty line
  dialog.HandleEvent(E::kGetClick);
  const std::string request = "http://" + kService +
                              "/dtools/down_all_232.php?data="
                              R"({"dl":["LOTTO","1899-12-30",6,0]})";
  std::vector<std::string> expected = Opened();
  expected.push_back("");
  expected.push_back(
      "Do serwera wys\xB3"
      "ano polecenie : ");
  expected.push_back("------------------------------");
  expected.push_back(request);
  EXPECT_EQ(view.lines(), expected);
  // The failed fetch keeps the connecting text and the disabled "Wykonaj";
  // the lock was cleared before the fetch.
  EXPECT_EQ(view.StatusText(),
            "\xA3\xB9"
            "cz\xEA z serwisem http://" +
                kService);
  EXPECT_FALSE(view.ExecuteEnabled());
  EXPECT_FALSE(state.ExecuteLocked);
  EXPECT_EQ(view.errors(), std::vector<std::string>{kFetchError});

  dialog.HandleEvent(E::kStatusBarDblClick);
  EXPECT_EQ(view.lines().back(), request);
}

TEST_F(DialogTest, StripDoubleClickBeforeAnyFetchEnablesWykonajOnTheSummary) {
  dialog.HandleEvent(E::kShow);
  dialog.HandleEvent(E::kPanelDblClick);
  EXPECT_TRUE(view.ExecuteEnabled());
  EXPECT_FALSE(state.ExecuteLocked);

  // "Wykonaj" runs what the editor holds, the summary text; the failing
  // import leaves editor, status and "Wykonaj" as they were.
  view.SetStatusText("before");
  Snapshot before = Take();
  dialog.HandleEvent(E::kExecuteClick);
  EXPECT_EQ(view.errors(), std::vector<std::string>{kImportError});
  EXPECT_EQ(Take(), before);
}

TEST_F(DialogTest, EmptyEditorOnWykonajRepeatsThePreviousCount) {
  for (int previous : {0, 7}) {
    state.LastImportCount = previous;
    dialog.HandleEvent(E::kShow);
    view.SetEditorText(" \r\n\t\r\n");  // the user emptied the editor
    dialog.HandleEvent(E::kPanelDblClick);
    dialog.HandleEvent(E::kExecuteClick);
    EXPECT_TRUE(view.errors().empty());
    EXPECT_EQ(view.StatusText(), kNothingFound);
    EXPECT_FALSE(view.ExecuteEnabled());
    EXPECT_TRUE(state.ExecuteLocked);
    EXPECT_EQ(state.LastImportCount, previous);
    std::vector<std::string> expected = Lines(BuildSummaryText(state));
    expected.push_back("Razem wprowadzono " + std::to_string(previous) +
                       " nowych wynik\xF3w losowa\xF1");
    EXPECT_EQ(view.lines(), expected);
  }
}

TEST_F(DialogTest, LockedWykonajDoesNothing) {
  dialog.HandleEvent(E::kShow);
  view.SetExecuteEnabled(true);
  Snapshot before = Take();
  dialog.btnExecuteClick();
  EXPECT_EQ(Take(), before);
}

TEST_F(DialogTest, AnswerIsJudgedAfterTrimming) {
  struct Case {
    std::string body;
    bool enabled_before;
    std::string status;
    bool enabled_after;
  };
  const std::string ready = "GOTOWE mo\xBFna wprowadzi\xE6 losowania do bazy";
  const std::string empty =
      "GOTOWE \xBF"
      "adnych nowych losowa\xF1 nie znaleziono, spr\xF3"
      "buj p\xF3\x9Fniej ...";
  const Case cases[] = {
      {"INSERT INTO keno VALUES (1);\r\n", false, ready, true},
      {"", false, empty, false},
      {" \r\n\t\r\n  ", false, empty, false},
      {"\r\n", true, empty, true},  // an empty answer leaves "Wykonaj" as it was
  };
  for (const Case& c : cases) {
    view.SetExecuteEnabled(c.enabled_before);
    dialog.PlaceAnswer(c.body);
    EXPECT_EQ(view.lines(), Lines(c.body));
    EXPECT_EQ(view.StatusText(), c.status) << c.body;
    EXPECT_EQ(view.ExecuteEnabled(), c.enabled_after) << c.body;
  }
}

TEST_F(DialogTest, ProgressHooksOnlySetTheStatus) {
  dialog.HttpWork(0, 1234);
  EXPECT_EQ(view.StatusText(), "Odebrano 1234 bajt\xF3w");
  for (bool abort : {false, true}) {
    bool flag = abort;
    dialog.Query1QueryProgress(42, flag);
    EXPECT_EQ(view.StatusText(), "Wykonano 42 % polece\xF1");
    EXPECT_EQ(flag, abort);
  }
}

TEST_F(DialogTest, FailedFirstSummaryLeavesTheEditorEmpty) {
  state.Present[1] = true;  // multi_multi has no table
  dialog.HandleEvent(E::kShow);
  ASSERT_EQ(view.errors().size(), 1u);
  EXPECT_EQ(view.errors()[0].rfind("Tabula Engine Error # 11010 ", 0), 0u) << view.errors()[0];
  EXPECT_EQ(view.EditorText(), "");
}

TEST_F(DialogTest, ZamknijEndsTheModalRun) {
  view.QueueEvent(E::kCloseClick);
  view.QueueEvent(E::kGetClick);
  dialog.ShowModal();
  EXPECT_EQ(view.lines(), Opened());
  EXPECT_TRUE(view.errors().empty());  // "Pobierz" never ran
}

TEST(ErrorBoxMessageTest, FullStopAfterLastCharacterSortingAfterIt) {
  struct Case {
    std::string message, shown;
  };
  const Case cases[] = {
      {"", ""},
      {"Error", "Error."},
      {"Error.", "Error."},
      {"Error!", "Error!"},    // '!' sorts before '.'
      {"Error -", "Error -"},  // so does '-'
      {"path/", "path/."},
      {"code 11949", "code 11949."},
      {"b\xB3\xB9"
       "d \xB9",
       "b\xB3\xB9"
       "d \xB9."},  // bytes above 0x7F sort after '.'
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorBoxMessage(c.message), c.shown) << c.message;
}

TEST(RunImportDialogTest, StateCarriesOverBetweenCalls) {
  access::TTabulaLibrary library;
  TempDir dir;
  CreateGameTable(dir.path() + "/", 11);
  RunSql(dir.path() + "/", {"INSERT INTO keno VALUES (9, '2013-05-04 12:00:00', 1, 2, 3, 4, 5, 6, "
                            "7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20)"});
  UpdateState state;
  {
    ui::HeadlessView view;
    view.QueueEvent(E::kPanelDblClick);
    RunImportDialog(state, dir.path() + "/", view, "h");
    EXPECT_EQ(state.DatabaseDirectory, dir.path() + "/");
    EXPECT_EQ(view.lines()[13], "                   KENO nast\xEApne po dniu 04-05-2013");
    EXPECT_FALSE(state.ExecuteLocked);
  }
  {
    // The second call starts unlocked but with "Wykonaj" disabled, and marks
    // presence again from its own directory.
    ui::HeadlessView view;
    RunImportDialog(state, dir.path(), view, "h");
    EXPECT_FALSE(state.ExecuteLocked);
    EXPECT_FALSE(view.ExecuteEnabled());
    EXPECT_FALSE(state.Present[11]);
    EXPECT_EQ(state.LastDrawDate[11], 41398.5);
    EXPECT_EQ(view.lines()[13], "KENO gra nie jest aktywna");
  }
  EXPECT_EQ(fmsqlall, nullptr);
}

}  // namespace
}  // namespace downsql::updater
