// DECIMAL values as a record stores them: 34 bytes of binary-coded decimal.
//
//   OFFSET  SIZE  MEANING
//        0     1  precision: the number of digits held in the digit bytes
//        1     1  bit 7: sign (1 = negative); low 6 bits: scale (digits
//                 after the point)
//        2    32  packed digits, two per byte (high nibble first), most
//                 significant first, starting at the first nibble
//
// What we write (the host's own run-time writes this form): the digits are
// the integer part without leading zeros followed by exactly `scale`
// fraction digits, left-aligned from the high nibble of byte 2, unused
// nibbles zero; precision counts them (zero with scale 0 is one digit "0").
// A zero is never negative. Readers accept any precision and alignment the
// bytes describe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace downsql::storage {

inline constexpr int kDecimalSize = 34;
inline constexpr int kDecimalMaxDigits = 64;

// Encodes text ("-12.345", "+7", ".5") rounded half away from zero to scale
// (0..63) digits after the point; false when the text is not a decimal
// number or needs more than 64 digits.
bool DecimalFromText(std::string_view text, uint8_t scale, uint8_t* out);
// Encodes a double rounded to scale digits after the point.
bool DecimalFromDouble(double value, uint8_t scale, uint8_t* out);
// The value as text: "-", integer digits (at least "0"), and "." with scale
// digits when the scale is not 0.
std::string DecimalToText(const uint8_t* in);
double DecimalToDouble(const uint8_t* in);

}  // namespace downsql::storage
