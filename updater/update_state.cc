// The library-wide update state and its date and presence helpers.
#include "updater/update_state.h"

#include "platform/file.h"
#include "updater/date_pattern.h"

namespace downsql::updater {

UpdateState& LibraryUpdateState() {
  static UpdateState state;
  return state;
}

std::string FormatRequestDate(const UpdateState& state, int index) {
  const GameEntry& game = GameAt(index);
  return FormatDateTime(state.LastDrawDate[index], DateFormats(game.DateFormatKind));
}

std::string FormatSummaryDate(const UpdateState& state, int index) {
  GameAt(index);
  return FormatDateTime(state.LastDrawDate[index], kSummaryDateFormat);
}

void MarkPresentGames(UpdateState& state) {
  for (int i = 0; i < kGameCount; ++i) {
    std::string path = state.DatabaseDirectory;
    path += GameCatalogue[i].TableName;
    path += ".dat";
    state.Present[i] = platform::FileExists(path);
  }
}

}  // namespace downsql::updater
