// The thirteen lottery games the updater knows.
//
// A row fixes how a game is shown in the summary, which table of the host's
// database holds its draws (the data file is TableName + ".dat"), the key the
// results service knows it by, the count of numbers in one draw and the
// request date format. The row order is the order of the summary lines and
// of the request members; row 0 is always sent (see request_builder.h).
// Table and key names keep their exact case.
#pragma once

#include <array>
#include <string_view>

namespace downsql::updater {

struct GameEntry {
  std::string_view DisplayName;
  std::string_view TableName;
  std::string_view RequestKey;
  std::string_view DrawSize;  // decimal text, sent unquoted
  int DateFormatKind;         // 1 or 2, an index into DateFormats
};

inline constexpr int kGameCount = 13;

extern const std::array<GameEntry, kGameCount> GameCatalogue;

// Date patterns of the request, indexed by GameEntry::DateFormatKind (1 or 2).
// Letters: yyyy year, mm month, dd day, hh hour (24-hour clock), nn minute,
// ss second; every other character is copied.
inline constexpr std::string_view kDateFormatYmd = "yyyy-mm-dd";
inline constexpr std::string_view kDateFormatYmdHms = "yyyy-mm-dd hh:nn:ss";
// The summary writes every game's date with this pattern.
inline constexpr std::string_view kSummaryDateFormat = "dd-mm-yyyy";

// The row of index 0..12; raises std::out_of_range for any other index.
const GameEntry& GameAt(int index);
// The pattern of kind 1 or 2; raises std::out_of_range for any other kind.
std::string_view DateFormats(int kind);

}  // namespace downsql::updater
