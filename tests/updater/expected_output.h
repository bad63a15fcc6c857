// What the command-line program and the terminal dialog print (UTF-8) for a
// directory holding empty "LOTTO.dat" and "keno.dat".
#pragma once

namespace downsql::updater {

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
    R"(data={"dl":["LOTTO","1899-12-30",6,1],"keno":["keno","1899-12-30 00:00:00",20,1]})";

}  // namespace downsql::updater
