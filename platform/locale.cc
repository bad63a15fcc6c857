// Case mapping and comparison of Windows-1250 text, shared by every system.
//
// Locale 0 maps case with the code page's own letter pairs (ASCII and the
// Central European letters of Windows-1250) and orders text byte-wise, after
// folding to upper case when case is ignored. Letters without a partner in
// the code page (sharp s, micro sign, dot above) stay as they are.
#include "platform/locale.h"

#include <array>
#include <cstring>
#include <map>
#include <mutex>

namespace downsql::platform {
namespace {

// Upper- and lower-case partners above ASCII.
constexpr unsigned char kCasePairs[][2] = {
    {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D}, {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA3, 0xB3},
    {0xA5, 0xB9}, {0xAA, 0xBA}, {0xBC, 0xBE}, {0xAF, 0xBF}, {0xC0, 0xE0}, {0xC1, 0xE1},
    {0xC2, 0xE2}, {0xC3, 0xE3}, {0xC4, 0xE4}, {0xC5, 0xE5}, {0xC6, 0xE6}, {0xC7, 0xE7},
    {0xC8, 0xE8}, {0xC9, 0xE9}, {0xCA, 0xEA}, {0xCB, 0xEB}, {0xCC, 0xEC}, {0xCD, 0xED},
    {0xCE, 0xEE}, {0xCF, 0xEF}, {0xD0, 0xF0}, {0xD1, 0xF1}, {0xD2, 0xF2}, {0xD3, 0xF3},
    {0xD4, 0xF4}, {0xD5, 0xF5}, {0xD6, 0xF6}, {0xD8, 0xF8}, {0xD9, 0xF9}, {0xDA, 0xFA},
    {0xDB, 0xFB}, {0xDC, 0xFC}, {0xDD, 0xFD}, {0xDE, 0xFE},
};

struct CaseTables {
  std::array<unsigned char, 256> upper, lower;
  CaseTables() {
    for (int i = 0; i < 256; ++i) upper[i] = lower[i] = (unsigned char)i;
    for (int c = 'a'; c <= 'z'; ++c) {
      upper[c] = (unsigned char)(c - 'a' + 'A');
      lower[c - 'a' + 'A'] = (unsigned char)c;
    }
    for (const auto& pair : kCasePairs) {
      upper[pair[1]] = pair[0];
      lower[pair[0]] = pair[1];
    }
  }
};

const CaseTables& Tables() {
  static const CaseTables tables;
  return tables;
}

class DefaultCollation final : public Collation {
 public:
  uint32_t locale() const override { return 0; }
  char ToUpper(char c) const override { return char(Tables().upper[(unsigned char)c]); }
  char ToLower(char c) const override { return char(Tables().lower[(unsigned char)c]); }
  int Compare(std::string_view a, std::string_view b, bool case_insensitive) const override {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    const auto& upper = Tables().upper;
    for (size_t i = 0; i < n; ++i) {
      unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
      if (case_insensitive) x = upper[x], y = upper[y];
      if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
  }
};

const DefaultCollation kDefault;

struct Registry {
  std::mutex mutex;
  std::map<uint32_t, const Collation*> by_locale;
};

Registry& Installed() {
  static Registry registry;
  return registry;
}

}  // namespace

void InstallCollation(const Collation& collation) {
  Registry& r = Installed();
  std::lock_guard<std::mutex> guard(r.mutex);
  r.by_locale[collation.locale()] = &collation;
}

bool IsLocaleInstalled(uint32_t locale) {
  if (locale == 0) return true;
  Registry& r = Installed();
  std::lock_guard<std::mutex> guard(r.mutex);
  return r.by_locale.count(locale) != 0;
}

const Collation& CollationFor(uint32_t locale) {
  if (locale == 0) return kDefault;
  Registry& r = Installed();
  std::lock_guard<std::mutex> guard(r.mutex);
  auto it = r.by_locale.find(locale);
  return it == r.by_locale.end() ? static_cast<const Collation&>(kDefault) : *it->second;
}

std::string UpperCase(std::string_view text, uint32_t locale) {
  const Collation& c = CollationFor(locale);
  std::string out(text);
  for (char& ch : out) ch = c.ToUpper(ch);
  return out;
}

std::string LowerCase(std::string_view text, uint32_t locale) {
  const Collation& c = CollationFor(locale);
  std::string out(text);
  for (char& ch : out) ch = c.ToLower(ch);
  return out;
}

int CompareText(std::string_view a, std::string_view b, uint32_t locale) {
  return CollationFor(locale).Compare(a, b, false);
}

int CompareTextNoCase(std::string_view a, std::string_view b, uint32_t locale) {
  return CollationFor(locale).Compare(a, b, true);
}

bool SameTextNoCase(std::string_view a, std::string_view b, uint32_t locale) {
  if (a.size() != b.size()) return false;
  if (locale != 0) return CompareTextNoCase(a, b, locale) == 0;
  // The default collation folds byte by byte: names are compared often
  // enough (every column of every statement) to spare the lookup.
  const auto& upper = Tables().upper;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upper[(unsigned char)a[i]] != upper[(unsigned char)b[i]]) return false;
  }
  return true;
}

}  // namespace downsql::platform
