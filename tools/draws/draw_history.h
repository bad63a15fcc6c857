// A reproducible sample history of draws for the results service and for a
// host database that lags behind it.
//
// Every game is drawn in its rhythm (draw_games.h) on every day from the
// first to the last day; ids count from 1 per game in date order. The
// numbers of a draw come without repetition from each of the game's pools,
// from a generator seeded by the seed and the game's position, so the same
// seed gives the same draws whichever other games are generated alongside.
// The service database gets every draw, the host database those up to its
// last day. Both get the tables of all the chosen games, even when a table
// stays empty.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "db/storage/engine_settings.h"
#include "tools/draws/draw_games.h"

namespace downsql::draws {

struct THistoryOptions {
  uint64_t seed = 1;
  // Day numbers (1 January 0001 = 1), both included.
  int32_t first_day = 0;
  int32_t last_day = 0;
  // Directories with their trailing separator; they must exist. An empty
  // host directory writes no host database.
  std::string service_directory;
  std::string host_directory;
  int32_t host_last_day = 0;
  // The games to generate; empty means all thirteen.
  std::vector<const TDrawGame*> games;
  // Called now and then with the draws written so far and the total.
  std::function<void(int64_t done, int64_t total)> progress;
};

struct THistoryCounts {
  int64_t service_draws = 0;
  int64_t host_draws = 0;
};

// Writes the history. Raises the storage engine's errors, among them
// the one for a table that already exists.
THistoryCounts GenerateHistory(const THistoryOptions& options,
                               const storage::EngineSettings& settings);

// The draws of a game on one weekday (0 Monday .. 6 Sunday), as minutes
// after midnight.
std::vector<int> DrawMinutes(const TDrawGame& game, int weekday);

// Weekday of a day number, 0 Monday .. 6 Sunday.
int WeekdayOf(int32_t day_number);

}  // namespace downsql::draws
