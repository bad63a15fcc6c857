// The dialog's work on the host's database: reading the last stored draws
// and running the service's answer as an import script.
#include <stdexcept>
#include <string>

#include "updater/dialog_texts.h"
#include "updater/fmsqlall.h"

namespace downsql::updater {

void Tfmsqlall::RefreshLastDraws() {
  // The database access is not wired in yet: the last draws keep the values
  // the state holds, so the summary and the request show those.
}

void Tfmsqlall::ExecuteImport(const std::string& text) {
  std::string_view script = TrimText(text);
  if (script.empty()) {
    view_.SetStatusText(texts::kNothingToImport);
    state_.ExecuteLocked = true;
    return;
  }
  throw std::runtime_error("Importing into the database is not available in this build");
}

void Tfmsqlall::Query1QueryProgress(int percent, bool& abort) {
  (void)abort;
  view_.SetStatusText(std::string(texts::kProgressPrefix) + std::to_string(percent) +
                      std::string(texts::kProgressSuffix));
  view_.ReportProgress(percent);
}

}  // namespace downsql::updater
