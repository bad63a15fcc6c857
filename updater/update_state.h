// The updater's library-wide state: which game tables exist, the last stored
// draw of each game, the database directory the host handed over, the lock
// on the import command and the row count of the last import.
//
// One instance lives from library load to unload (LibraryUpdateState) and is
// not reset between calls of DoUpdate: a second call starts with what the
// first left behind. Only the host's user-interface thread touches it. The
// dialog and the tools take the state by reference, so tests use their own.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "updater/game_catalogue.h"

namespace downsql::updater {

struct UpdateState {
  // Exactly as the host passed it (Windows-1250); a plain prefix of the
  // table file paths, no separator is ever inserted.
  std::string DatabaseDirectory;
  std::array<bool, kGameCount> Present = MakeFilled(true);
  // Host date-time of the greatest "date" of each game's table.
  std::array<double, kGameCount> LastDrawDate = MakeFilled(0.0);
  // Greatest "id" of each game's table.
  std::array<int32_t, kGameCount> LastDrawId = MakeFilled(int32_t{1});
  // While set, "Wykonaj" does nothing.
  bool ExecuteLocked = true;
  // Rows affected by the last import script.
  int32_t LastImportCount = 0;

 private:
  template <typename T>
  static constexpr std::array<T, kGameCount> MakeFilled(T value) {
    std::array<T, kGameCount> a{};
    a.fill(value);
    return a;
  }
};

// The instance that lives as long as the library is loaded.
UpdateState& LibraryUpdateState();

// The game's LastDrawDate written with its request pattern (DateFormats of
// its DateFormatKind), and with "dd-mm-yyyy". Raise std::out_of_range for a
// bad index or a date outside the years 1 to 9999.
std::string FormatRequestDate(const UpdateState& state, int index);
std::string FormatSummaryDate(const UpdateState& state, int index);

// Sets Present[i] for every game to whether a regular file (not a directory)
// named DatabaseDirectory + TableName + ".dat" exists: plain concatenation,
// so a directory given without a trailing separator marks every game absent.
// Raises platform::OsError when the file system refuses the test.
void MarkPresentGames(UpdateState& state);

}  // namespace downsql::updater
