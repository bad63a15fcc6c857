// What the statements that rebuild or check a table share: progress handed
// to the statement's hook in the session's steps, and the options of a
// rebuild made from the statement's hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "db/sql/statement_body.h"
#include "db/storage/table_rebuild.h"

namespace downsql::sql {

// Percentages of a maintenance run passed on when they have gone up by the
// session's step since the last one passed; 100 always passes, last.
class TStepProgress {
 public:
  using THook = std::function<void(uint16_t percent, bool& abort)>;

  explicit TStepProgress(TStatementEnv& env)
      : env_(env), step_(env.database.ProgressStep() == 0 ? 100 : env.database.ProgressStep()) {}

  // The hook to hand to the storage engine (empty when the statement's
  // caller wants no progress).
  THook Hook() {
    if (!env_.callbacks.progress) return {};
    return [this](uint16_t percent, bool& abort) {
      if (percent < 100 && percent < last_ + step_) return;
      last_ = percent;
      env_.callbacks.progress(percent, abort);
    };
  }
  // Reports 100 unless it was the last report.
  void Finish() {
    if (!env_.callbacks.progress || last_ == 100) return;
    bool abort = false;
    env_.callbacks.progress(100, abort);
    last_ = 100;
  }

 private:
  TStatementEnv& env_;
  uint32_t step_;
  uint32_t last_ = 0;
};

// The options of a rebuild of table name: how the database opens it, the
// statement's log hook and progress.
inline storage::TRebuildOptions RebuildOptionsFor(TStatementEnv& env, const std::string& name,
                                                  bool backup, TStepProgress& progress) {
  storage::TRebuildOptions options;
  options.table = env.database.RebuildOptions(name);
  options.backup = backup;
  options.log = env.callbacks.log;
  options.progress = progress.Hook();
  return options;
}

}  // namespace downsql::sql
