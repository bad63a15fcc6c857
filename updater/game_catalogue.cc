// The constant game catalogue.
#include "updater/game_catalogue.h"

#include <stdexcept>
#include <string>

namespace downsql::updater {

const std::array<GameEntry, kGameCount> GameCatalogue = {{
    {"LOTTO", "LOTTO", "dl", "6", 1},
    {"MULTI MULTI", "multi_multi", "multi_multi", "20", 2},
    {"MULTI LOTEK 22", "MULTI_22", "multi", "20", 1},
    {"MULTI LOTEK 14", "MULTI_14", "mm14", "20", 1},
    {"MINI LOTTO", "MINI_LOTTO", "ex", "5", 1},
    {"KENO DE", "keno_de", "keno_de", "20", 1},
    {"KENO SVENSKA", "keno_svenska", "keno_svenska", "20", 1},
    {"EKSTRA PENSJA", "ekstrapensja", "ekstrapensja", "6", 1},
    {"LOTTO PLUS", "lotto_plus", "lottoplus", "6", 1},
    {"EUROJACKPOT", "eurojackpot", "eurojackpot", "7", 1},
    {"LOTTO DE", "lotto_de", "lotto_de", "7", 1},
    {"KENO", "keno", "keno", "20", 2},
    {"SZYBKIE600", "szybkie600", "szybkie600", "6", 2},
}};

const GameEntry& GameAt(int index) {
  if (index < 0 || index >= kGameCount) {
    throw std::out_of_range("game index " + std::to_string(index) + " out of range");
  }
  return GameCatalogue[index];
}

std::string_view DateFormats(int kind) {
  switch (kind) {
    case 1:
      return kDateFormatYmd;
    case 2:
      return kDateFormatYmdHms;
  }
  throw std::out_of_range("date format kind " + std::to_string(kind) + " out of range");
}

}  // namespace downsql::updater
