// The dialog's database operations on real table files: the last-draw
// refresh and the import script.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/access/tabula_library.h"
#include "tests/platform/temp_dir.h"
#include "tests/updater/game_tables.h"
#include "ui/headless_view.h"
#include "updater/fmsqlall.h"
#include "updater/request_builder.h"

namespace downsql::updater {
namespace {

using platform::TempDir;

const std::string kImported = "Do baz gier wprowadzono ";
const std::string kImportedSuffix = " nowych wynik\xF3w losowa\xF1";

// Keeps every status text the dialog sets.
class StatusHistoryView : public ui::HeadlessView {
 public:
  void SetStatusText(std::string_view text) override {
    ui::HeadlessView::SetStatusText(text);
    history.emplace_back(text);
  }
  std::vector<std::string> history;
};

class ImportTest : public ::testing::Test {
 protected:
  ImportTest() : dialog(view, state, "127.0.0.1:1") {
    state.DatabaseDirectory = dir.path() + "/";
    state.Present.fill(false);
    for (int game : {0, 11}) {  // LOTTO (DATE) and KENO (TIMESTAMP)
      CreateGameTable(state.DatabaseDirectory, game);
      state.Present[game] = true;
    }
  }
  std::string Status(int count) { return kImported + std::to_string(count) + kImportedSuffix; }
  std::string ImportError(const std::string& answer) {
    try {
      dialog.ExecuteImport(answer);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }

  access::TTabulaLibrary library;
  TempDir dir;
  UpdateState state;
  StatusHistoryView view;
  Tfmsqlall dialog;
};

const char kTwoLottoDraws[] =
    "INSERT INTO LOTTO VALUES (7001, '2024-01-02', 1, 2, 3, 4, 5, 6);\r\n"
    "INSERT INTO LOTTO VALUES (7002, '2024-01-04', 7, 8, 9, 10, 11, 12);\r\n";

TEST_F(ImportTest, EmptyTablesReadAsNoDrawAndGoIntoTheRequest) {
  state.LastDrawId.fill(5);
  dialog.RefreshLastDraws();
  EXPECT_EQ(state.LastDrawDate[0], 0.0);
  EXPECT_EQ(state.LastDrawId[0], 0);
  EXPECT_EQ(state.LastDrawId[11], 0);
  EXPECT_EQ(state.LastDrawId[1], 5);  // absent: untouched
  // The SELECT scans, but its progress is not the import's.
  EXPECT_TRUE(view.history.empty());
  std::string request = BuildRequestAddress(state, "h");
  EXPECT_NE(request.find("[\"LOTTO\",\"1899-12-30\",6,0]"), std::string::npos) << request;
  EXPECT_NE(request.find("[\"keno\",\"1899-12-30 00:00:00\",20,0]"), std::string::npos) << request;
}

TEST_F(ImportTest, TwoInsertsAreCountedAndTheSummaryShowsTheNewLastDraw) {
  dialog.ExecuteImport("  \r\n" + std::string(kTwoLottoDraws) +
                       "INSERT INTO keno VALUES (9, '2013-05-04 12:00:00', 1, 2, 3, 4, 5, 6, 7, 8, "
                       "9, 10, 11, 12, 13, "
                       "14, 15, 16, 17, 18, 19, 20);\r\n\r\n");
  EXPECT_EQ(state.LastImportCount, 3);
  EXPECT_EQ(view.history, std::vector<std::string>{Status(3)});  // no "Wykonano" on the way
  dialog.RefreshLastDraws();
  EXPECT_EQ(state.LastDrawDate[0], 45295.0);  // 2024-01-04
  EXPECT_EQ(state.LastDrawId[0], 7002);
  EXPECT_EQ(state.LastDrawDate[11], 41398.5);
  EXPECT_EQ(state.LastDrawId[11], 9);
}

TEST_F(ImportTest, DuplicateKeyLeavesTablesCountAndStatusAsTheyWere) {
  dialog.ExecuteImport(kTwoLottoDraws);
  ASSERT_EQ(state.LastImportCount, 2);
  // The second INSERT repeats the date of 7002: the first is undone with it.
  std::string error = ImportError(
      "INSERT INTO LOTTO VALUES (7003, '2024-01-06', 1, 2, 3, 4, 5, 6);\r\n"
      "INSERT INTO LOTTO VALUES (7004, '2024-01-04', 1, 2, 3, 4, 5, 6);\r\n");
  EXPECT_NE(error.find("Tabula Engine Error # 9729"), std::string::npos) << error;
  EXPECT_EQ(state.LastImportCount, 2);
  EXPECT_EQ(view.StatusText(), Status(2));
  dialog.RefreshLastDraws();
  EXPECT_EQ(state.LastDrawId[0], 7002);
  EXPECT_EQ(state.LastDrawDate[0], 45295.0);
  // The transaction is over: the next import runs.
  dialog.ExecuteImport("INSERT INTO LOTTO VALUES (7003, '2024-01-06', 1, 2, 3, 4, 5, 6);");
  EXPECT_EQ(state.LastImportCount, 1);
}

TEST_F(ImportTest, AnswerWithItsOwnCommitStaysCommittedAndTheWrapperFails) {
  std::string error = ImportError(std::string(kTwoLottoDraws) + "COMMIT;");
  EXPECT_NE(error.find("No transaction in progress for "), std::string::npos) << error;
  EXPECT_EQ(state.LastImportCount, 0);
  dialog.RefreshLastDraws();
  EXPECT_EQ(state.LastDrawId[0], 7002);
}

TEST_F(ImportTest, EmptyStatementsDoNotEndTheImport) {
  dialog.ExecuteImport(
      "INSERT INTO LOTTO VALUES (7001, '2024-01-02', 1, 2, 3, 4, 5, 6);;\r\n"
      "INSERT INTO LOTTO VALUES (7002, '2024-01-04', 7, 8, 9, 10, 11, 12);\r\n;");
  EXPECT_EQ(state.LastImportCount, 2);
  dialog.RefreshLastDraws();
  EXPECT_EQ(state.LastDrawId[0], 7002);
}

TEST_F(ImportTest, RefreshEndsAtAGameWhoseTableIsMissing) {
  state.Present[1] = true;  // multi_multi: no table
  state.Present[2] = true;
  state.LastDrawId[2] = 33;
  state.LastDrawId[11] = 44;
  dialog.ExecuteImport(kTwoLottoDraws);
  try {
    dialog.RefreshLastDraws();
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("multi_multi"), std::string::npos) << e.what();
  }
  EXPECT_EQ(state.LastDrawId[0], 7002);
  EXPECT_EQ(state.LastDrawId[2], 33);
  EXPECT_EQ(state.LastDrawId[11], 44);
}

}  // namespace
}  // namespace downsql::updater
