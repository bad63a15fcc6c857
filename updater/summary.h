// The summary the dialog shows: one line per game, what will be fetched.
#pragma once

#include <string>

#include "updater/update_state.h"

namespace downsql::updater {

// The summary text from the state as it is (the caller refreshes the last
// draws first): the heading and its rule, then for each game in catalogue
// order "%23s następne po dniu %s" (name right-aligned in 23 characters,
// never cut; date "dd-mm-yyyy") when present, else "%s gra nie jest
// aktywna"; each of these lines ends in CR LF; then the closing rule without
// a line break. Raises std::out_of_range for a date outside the years 1-9999.
std::string BuildSummaryText(const UpdateState& state);

// One game's line without its line break.
std::string SummaryLine(const UpdateState& state, int index);

}  // namespace downsql::updater
