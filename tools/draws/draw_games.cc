// The game rows and the creation of a game table.
#include "tools/draws/draw_games.h"

#include "db/storage/column_type.h"
#include "db/storage/data_table.h"

namespace downsql::draws {

namespace {

constexpr uint8_t Days(std::initializer_list<int> weekdays) {
  uint8_t mask = 0;
  for (int d : weekdays) mask = uint8_t(mask | (1 << d));
  return mask;
}
constexpr int kTue = 1, kWed = 2, kThu = 3, kFri = 4, kSat = 5;
constexpr int At(int hour, int minute) { return hour * 60 + minute; }

constexpr TDrawRhythm Once(uint8_t weekdays, int minute) { return {weekdays, minute, 0, minute}; }

}  // namespace

// Real rhythms and ranges, near enough for sample data: LOTTO and LOTTO PLUS
// on Tuesday, Thursday and Saturday evenings, MULTI MULTI at 14:00 and 22:00,
// KENO every four minutes and SZYBKIE600 every five during the day.
const std::array<TDrawGame, kDrawGameCount> kDrawGames = {{
    {"dl", "LOTTO", 6, false, {{{6, 1, 49}, {}}}, Once(Days({kTue, kThu, kSat}), At(22, 0))},
    {"multi_multi",
     "multi_multi",
     20,
     true,
     {{{20, 1, 80}, {}}},
     {kEveryDay, At(14, 0), 480, At(22, 0)}},
    {"multi", "MULTI_22", 20, false, {{{20, 1, 80}, {}}}, Once(kEveryDay, At(22, 0))},
    {"mm14", "MULTI_14", 20, false, {{{20, 1, 80}, {}}}, Once(kEveryDay, At(14, 0))},
    {"ex", "MINI_LOTTO", 5, false, {{{5, 1, 42}, {}}}, Once(kEveryDay, At(22, 0))},
    {"keno_de", "keno_de", 20, false, {{{20, 1, 70}, {}}}, Once(kEveryDay, At(19, 0))},
    {"keno_svenska", "keno_svenska", 20, false, {{{20, 1, 70}, {}}}, Once(kEveryDay, At(18, 0))},
    {"ekstrapensja",
     "ekstrapensja",
     6,
     false,
     {{{5, 1, 35}, {1, 1, 4}}},
     Once(kEveryDay, At(22, 0))},
    {"lottoplus",
     "lotto_plus",
     6,
     false,
     {{{6, 1, 49}, {}}},
     Once(Days({kTue, kThu, kSat}), At(22, 0))},
    {"eurojackpot",
     "eurojackpot",
     7,
     false,
     {{{5, 1, 50}, {2, 1, 12}}},
     Once(Days({kTue, kFri}), At(20, 0))},
    {"lotto_de",
     "lotto_de",
     7,
     false,
     {{{6, 1, 49}, {1, 0, 9}}},
     Once(Days({kWed, kSat}), At(18, 25))},
    {"keno", "keno", 20, true, {{{20, 1, 70}, {}}}, {kEveryDay, At(6, 34), 4, At(22, 50)}},
    {"szybkie600",
     "szybkie600",
     6,
     true,
     {{{6, 1, 32}, {}}},
     {kEveryDay, At(6, 35), 5, At(23, 55)}},
}};

const TDrawGame* FindDrawGameByKey(std::string_view key) {
  for (const TDrawGame& game : kDrawGames) {
    if (game.request_key == key) return &game;
  }
  return nullptr;
}

const TDrawGame* FindDrawGameByTable(std::string_view table) {
  for (const TDrawGame& game : kDrawGames) {
    if (game.table_name == table) return &game;
  }
  return nullptr;
}

void CreateDrawTable(const std::string& directory, const TDrawGame& game,
                     const storage::EngineSettings& settings) {
  using namespace storage;
  auto column = [](std::string name, uint8_t type) {
    TFieldDef def;
    def.name = std::move(name);
    def.type = type;
    return def;
  };
  TNewTableDefinition new_table;
  auto& fields = new_table.table.fields;
  fields.push_back(column("id", kTypeInteger));
  fields.back().required = true;
  fields.push_back(column("date", game.with_time ? kTypeTimestamp : kTypeDate));
  for (int n = 1; n <= game.draw_size; ++n)
    fields.push_back(column("n" + std::to_string(n), kTypeSmallInt));

  TIndexDefinition primary;
  primary.unique = true;
  primary.columns = {1};
  primary.descending_of = {0};
  new_table.primary = primary;

  TIndexDefinition by_date;
  by_date.name = "ByDate";
  by_date.unique = true;
  by_date.columns = {2};
  by_date.descending_of = {0};
  new_table.secondary = {by_date};

  TDataTable::Create(directory, std::string(game.table_name), settings, new_table);
}

std::string DrawColumnList(const TDrawGame& game) {
  std::string list = "id,[date]";
  for (int n = 1; n <= game.draw_size; ++n) list += ",n" + std::to_string(n);
  return list;
}

}  // namespace downsql::draws
