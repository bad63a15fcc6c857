// Locale-aware text: case mapping and case-insensitive comparison of 8-bit
// Windows-1250 text.
//
// Locale 0 is the engine's default: the Windows-1250 code page's own upper
// and lower case pairs and a byte-wise order of the upper-cased bytes. Other
// locale identifiers plug in through Collation; until one is installed they
// behave as locale 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace downsql::platform {

class Collation {
 public:
  virtual ~Collation() = default;
  virtual uint32_t locale() const = 0;
  virtual char ToUpper(char c) const = 0;
  virtual char ToLower(char c) const = 0;
  // <0, 0, >0 like memcmp; case_insensitive folds case first.
  virtual int Compare(std::string_view a, std::string_view b, bool case_insensitive) const = 0;
};

// The collation of a locale identifier (locale 0 when unknown). The result
// lives as long as the process.
const Collation& CollationFor(uint32_t locale);

// Makes collation the one for its locale(); it must live as long as the
// process. Locale 0 cannot be replaced.
void InstallCollation(const Collation& collation);
// True for locale 0 and for every locale with an installed collation.
bool IsLocaleInstalled(uint32_t locale);

std::string UpperCase(std::string_view text, uint32_t locale = 0);
std::string LowerCase(std::string_view text, uint32_t locale = 0);
int CompareText(std::string_view a, std::string_view b, uint32_t locale = 0);
int CompareTextNoCase(std::string_view a, std::string_view b, uint32_t locale = 0);
bool SameTextNoCase(std::string_view a, std::string_view b, uint32_t locale = 0);

}  // namespace downsql::platform
