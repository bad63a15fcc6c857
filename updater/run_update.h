// One update run: what DoUpdate does between receiving the directory and
// returning, for any view.
#pragma once

#include <string>
#include <string_view>

#include "ui/dialog_view.h"
#include "updater/fmsqlall.h"
#include "updater/update_state.h"

namespace downsql::updater {

// Stores directory in state.DatabaseDirectory as it is, creates the dialog
// (fmsqlall points at it until the call returns), marks the present games and
// runs the dialog modally in view until it closes. Errors of the handlers go
// to the view's error box; an error before the dialog runs (marking the
// games) is raised. fetch_silence_ms is the dialog's fetch silence limit.
void RunImportDialog(UpdateState& state, std::string directory, ui::DialogView& view,
                     std::string_view service_host, int fetch_silence_ms = kFetchSilenceLimitMs);

}  // namespace downsql::updater
