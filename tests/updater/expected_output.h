// What the command-line program and the terminal dialog print (UTF-8) for a
// directory holding empty LOTTO and keno tables, and how the tests make
// those tables (with build/bin/tabula, so the tests stay separate processes).
#pragma once

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace downsql::updater {

// CREATE TABLE statements of a game table as the host keeps it: id, the
// draw's date, the numbers, and a unique index on the date.
inline std::string GameTableSql(const std::string& table, const char* date_type, int numbers) {
  std::string sql = "CREATE TABLE " + table + " (id INTEGER NOT NULL, [date] " + date_type;
  for (int i = 1; i <= numbers; ++i) sql += ", n" + std::to_string(i) + " SMALLINT";
  return sql + ", PRIMARY KEY (id)); CREATE UNIQUE INDEX " + table + "_date ON " + table +
         " ([date]);";
}

// Empty LOTTO and keno tables in dir (keno only when asked).
inline void MakeGameTables(const std::string& dir, bool keno = true) {
  std::string command =
      std::string(TABULA_PATH) + " '" + dir + "' '" + GameTableSql("LOTTO", "DATE", 6) + "'";
  if (keno) command += " '" + GameTableSql("keno", "TIMESTAMP", 20) + "'";
  if (std::system((command + " >/dev/null").c_str()) != 0) {
    throw std::runtime_error("tabula could not make the game tables");
  }
}

inline constexpr const char* kTwoGameSummary =
    "Pobrane będą losowania :\n"
    "---------------------- :\n"
    "                  LOTTO następne po dniu 30-12-1899\n"
    "MULTI MULTI gra nie jest aktywna\n"
    "MULTI LOTEK 22 gra nie jest aktywna\n"
    "MULTI LOTEK 14 gra nie jest aktywna\n"
    "MINI LOTTO gra nie jest aktywna\n"
    "KENO DE gra nie jest aktywna\n"
    "KENO SVENSKA gra nie jest aktywna\n"
    "EKSTRA PENSJA gra nie jest aktywna\n"
    "LOTTO PLUS gra nie jest aktywna\n"
    "EUROJACKPOT gra nie jest aktywna\n"
    "LOTTO DE gra nie jest aktywna\n"
    "                   KENO następne po dniu 30-12-1899\n"
    "SZYBKIE600 gra nie jest aktywna\n"
    "---------------------- :\n"
    "Wciśnij przycisk POBIERZ\n";

inline constexpr const char* kTwoGamePayload =
    R"(data={"dl":["LOTTO","1899-12-30",6,0],"keno":["keno","1899-12-30 00:00:00",20,0]})";

}  // namespace downsql::updater
