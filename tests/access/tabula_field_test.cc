// Field types of columns and the readings of stored field values.
#include "db/access/tabula_field.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/byte_order.h"

namespace downsql::access {
namespace {

struct TypeCase {
  uint8_t type, subtype;
  uint16_t declared;
  uint8_t scale;
  TFieldType expected;
  uint16_t size;
};

TEST(FieldTypeForColumn, MapsEveryColumnType) {
  const TypeCase cases[] = {
      {1, 0, 40, 0, ftString, 40},     {1, 7, 10, 0, ftString, 10},
      {1, 31, 12, 0, ftFixedChar, 12}, {1, 32, 20, 0, ftWideString, 20},
      {1, 50, 38, 0, ftGuid, 38},      {2, 0, 0, 0, ftDate, 0},
      {3, 0, 0, 0, ftBlob, 0},         {3, 22, 0, 0, ftMemo, 0},
      {3, 24, 0, 0, ftMemo, 0},        {3, 33, 0, 0, ftMemo, 0},
      {3, 26, 0, 0, ftGraphic, 0},     {3, 23, 0, 0, ftBlob, 0},
      {3, 25, 0, 0, ftBlob, 0},        {3, 27, 0, 0, ftBlob, 0},
      {3, 32, 0, 0, ftBlob, 0},        {3, 34, 0, 0, ftBlob, 0},
      {3, 36, 0, 0, ftBlob, 0},        {4, 0, 0, 0, ftBoolean, 0},
      {5, 0, 0, 0, ftSmallint, 0},     {6, 0, 0, 0, ftInteger, 0},
      {6, 29, 0, 0, ftAutoInc, 0},     {7, 0, 0, 0, ftFloat, 0},
      {7, 21, 0, 0, ftCurrency, 0},    {8, 0, 0, 4, ftBCD, 4},
      {9, 0, 16, 0, ftBytes, 16},      {10, 0, 0, 0, ftTime, 0},
      {11, 0, 0, 0, ftDateTime, 0},    {12, 0, 0, 0, ftWord, 0},
      {13, 0, 0, 0, ftInteger, 0},     {15, 0, 30, 0, ftVarBytes, 30},
      {18, 0, 0, 0, ftLargeint, 0},    {19, 0, 0, 0, ftLargeint, 0},
      {0, 0, 0, 0, ftUnknown, 0},      {14, 0, 0, 0, ftUnknown, 0},
      {16, 0, 0, 0, ftUnknown, 0},     {17, 0, 0, 0, ftUnknown, 0},
      {24, 0, 0, 0, ftUnknown, 0},     {200, 0, 0, 0, ftUnknown, 0},
  };
  for (const TypeCase& c : cases) {
    TFieldTypeAndSize got = FieldTypeForColumn(c.type, c.subtype, c.declared, c.scale);
    EXPECT_EQ(got.type, c.expected) << int(c.type) << "/" << int(c.subtype);
    EXPECT_EQ(got.size, c.size) << int(c.type) << "/" << int(c.subtype);
  }
}

// A value's bytes as the record holds them.
struct Stored {
  std::vector<uint8_t> bytes;
  TFieldValue value(bool has = true) const { return {has, bytes}; }
};
Stored I16(int16_t v) {
  Stored s{std::vector<uint8_t>(2)};
  base::PutLE16(s.bytes.data(), uint16_t(v));
  return s;
}
Stored I32(int32_t v) {
  Stored s{std::vector<uint8_t>(4)};
  base::PutLE32(s.bytes.data(), uint32_t(v));
  return s;
}
Stored I64(int64_t v) {
  Stored s{std::vector<uint8_t>(8)};
  base::PutLE64(s.bytes.data(), uint64_t(v));
  return s;
}
Stored F64(double v) {
  Stored s{std::vector<uint8_t>(8)};
  base::PutLEDouble(s.bytes.data(), v);
  return s;
}
Stored Text(const std::string& t, size_t n) {
  Stored s{std::vector<uint8_t>(n + 1)};
  std::copy(t.begin(), t.end(), s.bytes.begin());
  return s;
}

TEST(FieldAsDateTime, ConvertsDateTimeAndTimestamp) {
  // 5 March 2008 is day 733106.
  EXPECT_DOUBLE_EQ(FieldAsDateTime(ftDate, I32(733106).value(), "d"), 39512.0);
  EXPECT_DOUBLE_EQ(FieldAsDateTime(ftDate, I32(693594).value(), "d"), 0.0);
  EXPECT_DOUBLE_EQ(FieldAsDateTime(ftDate, I32(1).value(), "d"), -693593.0);
  EXPECT_DOUBLE_EQ(FieldAsDateTime(ftTime, I32(43200000).value(), "t"), 0.5);
  EXPECT_DOUBLE_EQ(FieldAsDateTime(ftDateTime, F64(733106.0 * 86400000 + 21600000).value(), "ts"),
                   39512.25);
}

TEST(FieldReadings, NullReadsAsZero) {
  const std::pair<TFieldType, Stored> cases[] = {
      {ftDate, I32(0)},    {ftTime, I32(0)},     {ftDateTime, F64(0)},    {ftSmallint, I16(0)},
      {ftInteger, I32(0)}, {ftAutoInc, I32(0)},  {ftWord, I16(0)},        {ftLargeint, I64(0)},
      {ftFloat, F64(0)},   {ftCurrency, F64(0)}, {ftString, Text("", 8)},
  };
  for (const auto& [type, stored] : cases) {
    TFieldValue null_value = stored.value(false);
    if (type == ftDate || type == ftTime || type == ftDateTime) {
      EXPECT_EQ(FieldAsDateTime(type, null_value, "f"), 0.0) << FieldTypeName(type);
    } else {
      EXPECT_EQ(FieldAsInteger(type, null_value, "f"), 0) << FieldTypeName(type);
      if (type != ftFloat && type != ftCurrency) {
        EXPECT_FALSE(FieldAsBoolean(type, null_value, "f")) << FieldTypeName(type);
      }
    }
    EXPECT_EQ(FieldAsFloat(type, null_value, "f"), 0.0) << FieldTypeName(type);
    EXPECT_EQ(FieldAsString(type, null_value, "f"), "") << FieldTypeName(type);
  }
}

TEST(FieldAsInteger, ReadsStoredIntegers) {
  EXPECT_EQ(FieldAsInteger(ftSmallint, I16(-2).value(), "f"), -2);
  EXPECT_EQ(FieldAsInteger(ftWord, I16(-2).value(), "f"), 65534);
  EXPECT_EQ(FieldAsInteger(ftInteger, I32(-7).value(), "f"), -7);
  EXPECT_EQ(FieldAsInteger(ftAutoInc, I32(2147483647).value(), "f"), 2147483647);
  EXPECT_EQ(FieldAsInteger(ftLargeint, I64(-5000000000).value(), "f"), -5000000000);
  EXPECT_EQ(FieldAsInteger(ftFloat, F64(2.5).value(), "f"), 2);
  EXPECT_EQ(FieldAsInteger(ftFloat, F64(3.5).value(), "f"), 4);
  EXPECT_EQ(FieldAsInteger(ftString, Text(" 42 ", 8).value(), "f"), 42);
}

TEST(FieldReadings, TextsAndBooleans) {
  EXPECT_EQ(FieldAsString(ftDate, I32(733106).value(), "f"), "2008-03-05");
  EXPECT_EQ(FieldAsString(ftTime, I32(45296000).value(), "f"), "12:34:56");
  EXPECT_EQ(FieldAsString(ftInteger, I32(-7).value(), "f"), "-7");
  EXPECT_EQ(FieldAsString(ftFloat, F64(0.1).value(), "f"), "0.1");
  EXPECT_EQ(FieldAsString(ftBoolean, I16(1).value(), "f"), "True");
  EXPECT_EQ(FieldAsString(ftFixedChar, Text("ab  ", 6).value(), "f"), "ab  ");
  EXPECT_DOUBLE_EQ(FieldAsFloat(ftString, Text("1.25", 8).value(), "f"), 1.25);
  EXPECT_TRUE(FieldAsBoolean(ftBoolean, I16(1).value(), "f"));
  EXPECT_FALSE(FieldAsBoolean(ftBoolean, I16(0).value(), "f"));
  EXPECT_TRUE(FieldAsBoolean(ftString, Text("True", 8).value(), "f"));
  EXPECT_FALSE(FieldAsBoolean(ftString, Text("no", 8).value(), "f"));
  Stored wide{std::vector<uint8_t>{'O', 0, 'k', 0, 0, 0, 0}};
  EXPECT_EQ(FieldAsString(ftWideString, wide.value(), "f"), "Ok");
}

TEST(DecimalToString, UnpacksDigits) {
  // precision 5, scale 2, digits 01250 -> 12.50 -> "12.5"; negative sign bit.
  std::vector<uint8_t> bcd(34);
  bcd[0] = 5;
  bcd[1] = 2;
  bcd[2] = 0x01;
  bcd[3] = 0x25;
  bcd[4] = 0x00;
  EXPECT_EQ(DecimalToString(bcd), "12.5");
  bcd[1] = 0x80 | 2;
  EXPECT_EQ(DecimalToString(bcd), "-12.5");
  EXPECT_DOUBLE_EQ(FieldAsFloat(ftBCD, TFieldValue{true, bcd}, "f"), -12.5);
  std::fill(bcd.begin(), bcd.end(), 0);
  EXPECT_EQ(DecimalToString(bcd), "0");
}

TEST(FieldReadings, RefusedReadingsAndBadTexts) {
  try {
    FieldAsDateTime(ftInteger, I32(1).value(), "id");
    FAIL();
  } catch (const EFieldConversionError& e) {
    EXPECT_STREQ(e.what(), "Cannot access field 'id' as type DateTime");
  }
  try {
    FieldAsInteger(ftString, Text("12x", 8).value(), "s");
    FAIL();
  } catch (const EFieldConversionError& e) {
    EXPECT_STREQ(e.what(), "'12x' is not a valid integer value");
  }
  EXPECT_THROW(FieldAsInteger(ftBlob, I32(1).value(), "b"), EFieldConversionError);
  EXPECT_THROW(FieldAsFloat(ftString, Text("abc", 8).value(), "s"), EFieldConversionError);
  EXPECT_THROW(FieldAsBoolean(ftString, Text("maybe", 8).value(), "s"), EFieldConversionError);
  EXPECT_THROW(FieldAsString(ftMemo, I32(1).value(), "m"), EFieldConversionError);
}

}  // namespace
}  // namespace downsql::access
