// Game tables shaped as the host keeps them, made through SQL in a test's
// directory.
#pragma once

#include <string>
#include <vector>

#include "db/access/tabula_query.h"
#include "updater/game_catalogue.h"

namespace downsql::updater {

// CREATE TABLE for the game of index: id INTEGER NOT NULL as primary key,
// [date] DATE (TIMESTAMP for games whose requests carry the time), n1..nK
// SMALLINT, and a unique index on [date].
inline std::vector<std::string> GameTableScript(int index) {
  const GameEntry& game = GameAt(index);
  std::string table(game.TableName);
  std::string create = "CREATE TABLE " + table + " (id INTEGER NOT NULL, [date] " +
                       (game.DateFormatKind == 2 ? "TIMESTAMP" : "DATE");
  for (int i = 1; i <= std::stoi(std::string(game.DrawSize)); ++i) {
    create += ", n" + std::to_string(i) + " SMALLINT";
  }
  create += ", PRIMARY KEY (id));";
  return {create, "CREATE UNIQUE INDEX " + table + "_date ON " + table + " ([date]);"};
}

// Runs script lines in dir (with a trailing separator) through a query of
// its own.
inline void RunSql(const std::string& dir, std::vector<std::string> lines) {
  access::TTabulaQuery query;
  query.SetDatabaseName(dir);
  query.SetSQL(std::move(lines));
  query.RunStatements();
}

inline void CreateGameTable(const std::string& dir, int index) {
  RunSql(dir, GameTableScript(index));
}

}  // namespace downsql::updater
