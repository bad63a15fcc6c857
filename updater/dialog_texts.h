// The import dialog's texts, in Windows-1250 (the Polish letters written as
// byte escapes; a literal is split where an escape is followed by a letter
// that could be read as another hexadecimal digit).
#pragma once

#include <string_view>

namespace downsql::updater::texts {

// Summary.
inline constexpr std::string_view kSummaryHeading =
    "Pobrane b\xEA"
    "d\xB9 losowania :";
inline constexpr std::string_view kSummaryRule = "---------------------- :";
inline constexpr const char* kSummaryPresentLine = "%23s nast\xEApne po dniu %s";
inline constexpr const char* kSummaryAbsentLine = "%s gra nie jest aktywna";
inline constexpr std::string_view kPressGet = "Wci\x9Cnij przycisk POBIERZ";

// "Pobierz".
inline constexpr std::string_view kConnecting =
    "\xA3\xB9"
    "cz\xEA z serwisem ";
inline constexpr std::string_view kRequestSent =
    "Do serwera wys\xB3"
    "ano polecenie : ";
inline constexpr std::string_view kRequestRule = "------------------------------";
inline constexpr std::string_view kReceivedPrefix = "Odebrano ";
inline constexpr std::string_view kReceivedSuffix = " bajt\xF3w";
inline constexpr std::string_view kAnswerReady = "GOTOWE mo\xBFna wprowadzi\xE6 losowania do bazy";
inline constexpr std::string_view kAnswerEmpty =
    "GOTOWE \xBF"
    "adnych nowych losowa\xF1 nie znaleziono, spr\xF3"
    "buj p\xF3\x9Fniej ...";

// "Wykonaj".
inline constexpr std::string_view kNothingToImport = "Aktualnych losowa\xF1 nie znaleziono ";
inline constexpr std::string_view kProgressPrefix = "Wykonano ";
inline constexpr std::string_view kProgressSuffix = " % polece\xF1";
inline constexpr std::string_view kImportedPrefix = "Do baz gier wprowadzono ";
inline constexpr std::string_view kTotalImportedPrefix = "Razem wprowadzono ";
inline constexpr std::string_view kImportedSuffix = " nowych wynik\xF3w losowa\xF1";

}  // namespace downsql::updater::texts
