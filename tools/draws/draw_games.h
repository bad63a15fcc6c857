// The thirteen games as the results service and the sample history know
// them, and the game tables that hold their draws.
//
// A game table (one per game, named after the game's table, in the service's
// database and in the host's):
//
//   COLUMN   TYPE                                   NOTE
//   id       INTEGER NOT NULL                       primary key, the draw number
//   date     DATE, or TIMESTAMP for games drawn     unique index "date"
//            several times a day
//   n1..nK   SMALLINT                               the numbers in draw order,
//                                                   K the game's draw size
//
// The answer to the updater names its columns, so a host table with more
// columns still takes the inserts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/storage/engine_settings.h"

namespace downsql::draws {

// Numbers drawn without repetition from low..high; a game may draw from two
// pools (EUROJACKPOT's 5 of 50 and 2 of 12).
struct TNumberPool {
  int count = 0;
  int low = 1;
  int high = 0;
};

// When a game is drawn: on the weekdays of the mask (bit 0 Monday .. bit 6
// Sunday), at first_minute after midnight and then every every_minutes
// (0: once) up to last_minute.
struct TDrawRhythm {
  uint8_t weekdays = 0x7F;
  int first_minute = 0;
  int every_minutes = 0;
  int last_minute = 0;
};

inline constexpr uint8_t kEveryDay = 0x7F;

struct TDrawGame {
  std::string_view request_key;
  std::string_view table_name;
  int draw_size;
  // The date column is a TIMESTAMP (several draws a day); else a DATE.
  bool with_time;
  std::array<TNumberPool, 2> pools;
  TDrawRhythm rhythm;
};

inline constexpr int kDrawGameCount = 13;

// In the updater's catalogue order.
extern const std::array<TDrawGame, kDrawGameCount> kDrawGames;

// The game of a request key (compared exactly), or nullptr.
const TDrawGame* FindDrawGameByKey(std::string_view key);
// The game of a table name (compared exactly), or nullptr.
const TDrawGame* FindDrawGameByTable(std::string_view table);

// Creates the game's table in directory (with its trailing separator).
// Raises the storage engine's errors (an existing table among them).
void CreateDrawTable(const std::string& directory, const TDrawGame& game,
                     const storage::EngineSettings& settings);

// The column list of the game's inserts: "id,[date],n1,...,nK".
std::string DrawColumnList(const TDrawGame& game);

}  // namespace downsql::draws
