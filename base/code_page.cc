// Windows-1250 <-> UTF-8. Bytes below 0x80 are ASCII in both; the upper half
// goes through the code page's table. The five bytes the code page leaves
// undefined (0x81, 0x83, 0x88, 0x90, 0x98) map to the C1 control characters
// of the same value, as Windows does, so that every byte survives a round trip.
#include "base/code_page.h"

#include <cstdint>
#include <cstring>

namespace downsql::base {
namespace {

constexpr uint16_t kUpperHalf[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  //
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  //
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  //
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  //
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  //
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  //
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  //
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  //
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  //
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  //
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  //
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  //
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  //
};

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

char ToCp1250(uint32_t cp) {
  if (cp < 0x80) return char(cp);
  for (int i = 0; i < 128; ++i) {
    if (kUpperHalf[i] == cp) return char(0x80 + i);
  }
  return '?';
}

// Decodes one UTF-8 sequence at text[i]; advances i. Returns 0xFFFFFFFF for a
// malformed sequence (over-long forms, surrogates and truncation included).
uint32_t NextCodePoint(std::string_view text, size_t& i) {
  uint8_t b = uint8_t(text[i++]);
  if (b < 0x80) return b;
  int extra;
  uint32_t cp, min;
  if ((b & 0xE0) == 0xC0) {
    extra = 1, cp = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    extra = 2, cp = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    extra = 3, cp = b & 0x07, min = 0x10000;
  } else {
    return 0xFFFFFFFF;
  }
  for (int k = 0; k < extra; ++k) {
    if (i >= text.size() || (uint8_t(text[i]) & 0xC0) != 0x80) return 0xFFFFFFFF;
    cp = (cp << 6) | (uint8_t(text[i++]) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFFFFFF;
  return cp;
}

}  // namespace

std::string Cp1250ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendCp1250AsUtf8(out, text);
  return out;
}

void AppendCp1250AsUtf8(std::string& out, std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    // Runs of ASCII, most of any SQL text, are the same bytes in UTF-8.
    size_t run = i;
    uint64_t word;
    while (run + sizeof word <= text.size() &&
           (std::memcpy(&word, text.data() + run, sizeof word), word & 0x8080808080808080u) == 0)
      run += sizeof word;
    while (run < text.size() && uint8_t(text[run]) < 0x80) ++run;
    out.append(text, i, run - i);
    if (run == text.size()) break;
    AppendUtf8(out, kUpperHalf[uint8_t(text[run]) - 0x80]);
    i = run + 1;
  }
}

std::string Utf8ToCp1250(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = NextCodePoint(text, i);
    out += cp == 0xFFFFFFFF ? '?' : ToCp1250(cp);
  }
  return out;
}

}  // namespace downsql::base
