// Packed binary-coded decimal values.
#include "db/storage/decimal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace downsql::storage {

bool DecimalFromText(std::string_view text, uint8_t scale, uint8_t* out) {
  if (scale > 63) return false;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  size_t end = text.size();
  while (end > i && text[end - 1] == ' ') --end;
  bool negative = false;
  if (i < end && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::string int_digits, frac_digits;
  bool point = false;
  for (; i < end; ++i) {
    char c = text[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      (point ? frac_digits : int_digits) += c;
    } else {
      return false;
    }
  }
  if (int_digits.empty() && frac_digits.empty()) return false;
  // Round half away from zero at the scale.
  bool round_up = frac_digits.size() > scale && frac_digits[scale] >= '5';
  frac_digits.resize(scale, '0');
  std::string digits = int_digits + frac_digits;
  if (round_up) {
    int k = int(digits.size()) - 1;
    while (k >= 0 && digits[k] == '9') digits[k--] = '0';
    if (k >= 0)
      ++digits[k];
    else
      digits.insert(digits.begin(), '1');
  }
  // Leading zeros of the integer part go; the fraction keeps its scale.
  size_t int_len = digits.size() - scale;
  size_t skip = 0;
  while (skip < int_len && digits[skip] == '0') ++skip;
  digits.erase(0, skip);
  if (digits.empty()) digits.assign(1, '0');
  if (digits.size() > kDecimalMaxDigits) return false;
  bool zero = digits.find_first_not_of('0') == std::string::npos;
  std::memset(out, 0, kDecimalSize);
  out[0] = uint8_t(digits.size());
  out[1] = uint8_t(scale | ((negative && !zero) ? 0x80 : 0));
  for (size_t k = 0; k < digits.size(); ++k) {
    uint8_t d = uint8_t(digits[k] - '0');
    out[2 + k / 2] |= (k % 2 == 0) ? uint8_t(d << 4) : d;
  }
  return true;
}

bool DecimalFromDouble(double value, uint8_t scale, uint8_t* out) {
  if (!std::isfinite(value) || scale > 63) return false;
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", int(scale) + 2, value);
  return DecimalFromText(buf, scale, out);
}

std::string DecimalToText(const uint8_t* in) {
  int precision = in[0] > kDecimalMaxDigits ? kDecimalMaxDigits : in[0];
  int scale = in[1] & 0x3F;
  bool negative = (in[1] & 0x80) != 0;
  std::string digits;
  for (int k = 0; k < precision; ++k) {
    uint8_t b = in[2 + k / 2];
    uint8_t d = (k % 2 == 0) ? (b >> 4) : (b & 0x0F);
    digits += char('0' + (d > 9 ? 9 : d));
  }
  if (int(digits.size()) < scale) digits.insert(0, scale - digits.size(), '0');
  std::string int_part = digits.substr(0, digits.size() - scale);
  std::string frac_part = digits.substr(digits.size() - scale);
  size_t skip = 0;
  while (skip + 1 < int_part.size() && int_part[skip] == '0') ++skip;
  int_part.erase(0, skip);
  if (int_part.empty()) int_part.assign(1, '0');
  bool zero = (int_part + frac_part).find_first_not_of('0') == std::string::npos;
  std::string text = (negative && !zero) ? "-" : "";
  text += int_part;
  if (scale > 0) text += "." + frac_part;
  return text;
}

double DecimalToDouble(const uint8_t* in) {
  return std::strtod(DecimalToText(in).c_str(), nullptr);
}

}  // namespace downsql::storage
