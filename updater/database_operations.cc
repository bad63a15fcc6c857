// The dialog's work on the host's database: reading the last stored draws
// and running the service's answer as an import script.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "db/access/tabula_query.h"
#include "updater/dialog_texts.h"
#include "updater/fmsqlall.h"
#include "updater/game_catalogue.h"

namespace downsql::updater {
namespace {

// Two blanks after "select", as the host's own tools send it.
constexpr std::string_view kLastDrawSelect = "select  max([date]) as mx,max(id) as mid from ";

}  // namespace

void Tfmsqlall::RefreshLastDraws() {
  // The status bar's percentage belongs to the import: the last-draw SELECT
  // scans its table and would report 100 % after every summary, over the
  // status the summary's caller has just set.
  Query1.OnQueryProgress = nullptr;
  for (int i = 0; i < kGameCount; ++i) {
    if (!state_.Present[i]) continue;
    Query1.Close();
    Query1.SetDatabaseName(state_.DatabaseDirectory);
    Query1.SetSQL({std::string(kLastDrawSelect) + std::string(GameAt(i).TableName)});
    Query1.Open();
    // An empty table gives one row of NULLs, which read as 0.
    state_.LastDrawDate[i] = Query1.Fields(0).AsDateTime();
    state_.LastDrawId[i] = static_cast<int32_t>(Query1.Fields(1).AsInteger());
  }
}

void Tfmsqlall::ExecuteImport(const std::string& text) {
  std::string_view script = TrimText(text);
  if (script.empty()) {
    view_.SetStatusText(texts::kNothingToImport);
    state_.ExecuteLocked = true;
    return;
  }
  Query1.Close();
  // The directory is named here as well, so an import before any refresh
  // (no game present) still runs in the host's directory.
  Query1.SetDatabaseName(state_.DatabaseDirectory);
  std::vector<std::string> lines = {"START TRANSACTION;", std::string(script), "COMMIT;"};
  int64_t total = 0;
  for (const std::string& line : lines) total += static_cast<int64_t>(line.size()) + 2;
  Query1.SetSQL(std::move(lines));
  Query1.OnQueryProgress = [this](access::TTabulaQuery&, uint16_t percent, bool& abort) {
    Query1QueryProgress(percent, abort);
  };
  // An answer of INSERT ... VALUES statements reports no percentage of its
  // own; the part of the script run so far moves the progress bar (not the
  // status text) and reaches OnImportProgress after every statement.
  int shown_percent = -1;
  Query1.AfterExecute = [this, total, &shown_percent](access::TTabulaQuery& query) {
    const int64_t done = std::min<int64_t>(query.Counters().position - 1, total);
    if (OnImportProgress) OnImportProgress(done, total);
    const int percent = static_cast<int>(done * 100 / total);
    if (percent != shown_percent) {
      shown_percent = percent;
      view_.ReportProgress(percent);
    }
  };
  struct ProgressHookReset {
    access::TTabulaQuery& query;
    ~ProgressHookReset() { query.AfterExecute = nullptr; }
  } reset{Query1};
  Query1.RunStatements();
  state_.LastImportCount = Query1.AffectedRows();
  view_.SetStatusText(std::string(texts::kImportedPrefix) + std::to_string(state_.LastImportCount) +
                      std::string(texts::kImportedSuffix));
}

void Tfmsqlall::Query1QueryProgress(int percent, bool& abort) {
  (void)abort;
  view_.SetStatusText(std::string(texts::kProgressPrefix) + std::to_string(percent) +
                      std::string(texts::kProgressSuffix));
  view_.ReportProgress(percent);
}

}  // namespace downsql::updater
