// The results service's answer: for every game of the request, the draws of
// its table in the service's database that are newer than the host's last
// draw, as SQL the updater runs inside its own transaction:
//
//   INSERT INTO LOTTO (id,[date],n1,n2,n3,n4,n5,n6) VALUES (5433,'2013-05-07',3,11,19,27,35,49);
//
// one statement a draw, each line ending in CR LF, games in request order and
// draws in id order. "Newer" is an id above the host's last id and a date
// after its last date. The answer is produced a piece at a time, so that any
// size streams out in bounded memory; the tables are read with the storage
// cursor in primary-index order, starting past the host's last id.
//
// Members are skipped when their key is unknown, when the service has no
// table for the game, and for LOTTO ("dl") with id 1 and date 1899-12-30:
// the updater always sends LOTTO, with those values when the host has no
// LOTTO table (an empty table sends id 0), and inserts into a missing table
// would fail the whole import.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_settings.h"
#include "tools/draws/draw_games.h"
#include "tools/draws/draw_payload.h"

namespace downsql::draws {

class TDrawAnswer {
 public:
  // directory: the service's database, with its trailing separator. settings
  // must outlive the answer.
  TDrawAnswer(std::string directory, const std::vector<TPayloadMember>& members,
              const storage::EngineSettings& settings);
  ~TDrawAnswer();
  TDrawAnswer(const TDrawAnswer&) = delete;
  TDrawAnswer& operator=(const TDrawAnswer&) = delete;

  // Appends further statements to out until it has grown by about budget
  // bytes (at least one statement while any is left); returns false once the
  // answer is complete and nothing was appended. Raises the storage engine's
  // errors of a damaged or unreadable table.
  bool Next(std::string& out, size_t budget);

  // The games answered (known, with a service table) and the draws written
  // so far.
  int games() const { return int(games_.size()); }
  int64_t draws() const { return draws_; }

 private:
  struct TGameRequest {
    const TDrawGame* game;
    int32_t last_id;
    double last_date;
  };
  // Opens the table of games_[next_game_] and seeks past the host's last id.
  void OpenNextGame();
  void AppendInsert(std::string& out);

  std::string directory_;
  const storage::EngineSettings& settings_;
  std::vector<TGameRequest> games_;
  size_t next_game_ = 0;
  // The game being answered; null between games.
  const TGameRequest* current_ = nullptr;
  std::string prefix_;  // "INSERT INTO table (columns) VALUES ("
  std::shared_ptr<storage::TDataTable> table_;
  std::unique_ptr<storage::TDataCursor> cursor_;
  int64_t draws_ = 0;
};

// A table date as SQL text: 'yyyy-mm-dd' for a day number, 'yyyy-mm-dd
// hh:nn:ss' for a timestamp (milliseconds dropped).
std::string DrawDayText(int32_t day_number);
std::string DrawTimestampText(double timestamp_ms);

}  // namespace downsql::draws
