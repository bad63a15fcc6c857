#include "db/storage/record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "db/storage/column_def.h"
#include "db/storage/decimal.h"

namespace downsql::storage {
namespace {

TFieldDef Def(uint8_t type, uint8_t subtype = 0, uint16_t size = 0, uint8_t scale = 0) {
  TFieldDef d;
  d.number = 1;
  d.name = "F";
  d.type = type;
  d.subtype = subtype;
  d.size = size;
  d.scale = scale;
  return d;
}

// Lays out one column and returns it with a record of the right size.
struct OneColumn {
  explicit OneColumn(TFieldDef d) : fields{std::move(d)}, rec(AssignRecordLayout(fields)) {}
  const TFieldDef& def() const { return fields[0]; }
  std::vector<uint8_t> value() const {
    return {rec.data() + def().value_offset(),
            rec.data() + def().value_offset() + def().stored_size};
  }
  std::vector<TFieldDef> fields;
  TRecordBuffer rec;
};

TEST(RecordLayout, OneIntegerColumnIs32BytesWithFlagAt25) {
  OneColumn c(Def(kTypeInteger));
  EXPECT_EQ(c.rec.size(), 32u);
  EXPECT_EQ(c.def().offset, 25);
  c.rec.SetInteger(c.def(), 0x11223344);
  const uint8_t want[] = {1, 0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(0, std::memcmp(c.rec.data() + 25, want, 5));
}

TEST(RecordLayout, StoredSizesOfEveryType) {
  struct Case {
    uint8_t type, subtype;
    uint16_t size, stored;
  } cases[] = {
      {kTypeString, 0, 20, 21},
      {kTypeString, kSubtypeFixedChar, 5, 6},
      {kTypeString, kSubtypeWideChar, 10, 21},
      {kTypeString, kSubtypeGuid, 0, 39},
      {kTypeDate, 0, 0, 4},
      {kTypeBlob, kSubtypeMemo, 0, 8},
      {kTypeBoolean, 0, 0, 2},
      {kTypeSmallInt, 0, 0, 2},
      {kTypeInteger, kSubtypeAutoInc, 0, 4},
      {kTypeFloat, kSubtypeMoney, 0, 8},
      {kTypeDecimal, 0, 0, 34},
      {kTypeBytes, 0, 16, 16},
      {kTypeTime, 0, 0, 4},
      {kTypeTimestamp, 0, 0, 8},
      {kTypeWord, 0, 0, 2},
      {kTypeVarBytes, 0, 7, 7},
      {kTypeLargeInt, 0, 0, 8},
  };
  for (const Case& c : cases)
    EXPECT_EQ(StoredSizeOf(c.type, c.subtype, c.size), c.stored)
        << int(c.type) << "/" << int(c.subtype);
  EXPECT_TRUE(IsValidDeclaredSize(kTypeString, 0, 512));
  EXPECT_FALSE(IsValidDeclaredSize(kTypeString, 0, 513));
  EXPECT_FALSE(IsValidDeclaredSize(kTypeString, kSubtypeWideChar, 257));
  EXPECT_FALSE(IsValidDeclaredSize(kTypeInteger, 0, 4));
  EXPECT_FALSE(IsValidDeclaredSize(0, 0, 0));
}

TEST(RecordLayout, OffsetsRunFrom25AndSizeRoundsTo8) {
  std::vector<TFieldDef> f = {Def(kTypeString, 0, 10), Def(kTypeSmallInt),
                              Def(kTypeDecimal, 0, 0, 2)};
  EXPECT_EQ(AssignRecordLayout(f), 80u);  // 25 + 11 + 1 + 2 + 1 + 34 + 1 = 75
  EXPECT_EQ(f[0].offset, 25);
  EXPECT_EQ(f[1].offset, 37);
  EXPECT_EQ(f[2].offset, 40);
  EXPECT_EQ(RecordSizeFor(f), 75u);
}

TEST(FieldDef, EncodesAtItsOffsetsAndReadsBack) {
  TFieldDef d = Def(kTypeDecimal, 0, 0, 3);
  d.number = 7;
  d.name = "Kwota";
  d.description = "opis";
  d.stored_size = 34;
  d.offset = 300;
  d.required = true;
  d.char_case = 2;
  d.min_value = "-5";
  d.max_value = "5";
  d.default_value = "1.5";
  uint8_t raw[kFieldDefSize];
  std::memset(raw, 0xEE, sizeof raw);
  EncodeFieldDef(d, raw);
  EXPECT_EQ(base::GetLE16(raw + 0), 7);
  EXPECT_EQ(raw[2], 5);
  EXPECT_EQ(0, std::memcmp(raw + 3, "Kwota", 5));
  EXPECT_EQ(raw[63], 4);
  EXPECT_EQ(raw[164], kTypeDecimal);
  EXPECT_EQ(raw[168], 3);
  EXPECT_EQ(base::GetLE16(raw + 169), 34);
  EXPECT_EQ(raw[171], 3);
  EXPECT_EQ(base::GetLE16(raw + 172), 300);
  EXPECT_EQ(raw[174], 1);
  EXPECT_EQ(raw[175], 2);
  EXPECT_EQ(raw[176], 2);
  EXPECT_EQ(raw[277], 1);
  EXPECT_EQ(0, std::memcmp(raw + 379, "1.5", 3));
  for (size_t i = 481; i < kFieldDefSize; ++i) ASSERT_EQ(raw[i], 0) << i;
  TFieldDef back = DecodeFieldDef(raw);
  EXPECT_EQ(back.name, "Kwota");
  EXPECT_EQ(back.default_value, "1.5");
  EXPECT_EQ(back.offset, 300);
  EXPECT_TRUE(back.required);
  // A damaged length byte is cut to the ShortString's size.
  raw[2] = 200;
  EXPECT_EQ(DecodeFieldDef(raw).name.size(), 60u);
}

TEST(RecordValues, EveryTypeEncodesLittleEndian) {
  {
    OneColumn c(Def(kTypeSmallInt));
    c.rec.SetInteger(c.def(), -2);
    EXPECT_EQ(c.value(), (std::vector<uint8_t>{0xFE, 0xFF}));
  }
  {
    OneColumn c(Def(kTypeWord));
    c.rec.SetInteger(c.def(), 0xABCD);
    EXPECT_EQ(c.value(), (std::vector<uint8_t>{0xCD, 0xAB}));
  }
  {
    OneColumn c(Def(kTypeLargeInt));
    c.rec.SetInteger(c.def(), 0x0102030405060708LL);
    EXPECT_EQ(c.value(), (std::vector<uint8_t>{8, 7, 6, 5, 4, 3, 2, 1}));
  }
  {
    OneColumn c(Def(kTypeFloat, kSubtypeMoney));
    c.rec.SetFloat(c.def(), 1.0);
    EXPECT_EQ(c.value(), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  }
  {
    OneColumn c(Def(kTypeDate));
    c.rec.SetInteger(c.def(), 693594);
    EXPECT_EQ(c.value(), (std::vector<uint8_t>{0x5A, 0x95, 0x0A, 0x00}));
  }
  {
    OneColumn c(Def(kTypeTime));
    c.rec.SetInteger(c.def(), 1000);
    EXPECT_EQ(c.value(), (std::vector<uint8_t>{0xE8, 0x03, 0, 0}));
  }
  {
    OneColumn c(Def(kTypeTimestamp));
    c.rec.SetFloat(c.def(), 86400000.0);  // 1 Jan 0001 00:00
    EXPECT_EQ(c.value(), (std::vector<uint8_t>{0, 0, 0, 0, 0x70, 0x99, 0x94, 0x41}));
  }
  {
    OneColumn c(Def(kTypeString, kSubtypeGuid));
    EXPECT_EQ(c.def().stored_size, 39);
    c.rec.SetString(c.def(), "{00000000-0000-0000-0000-000000000001}xyz");
    EXPECT_EQ(c.rec.GetString(c.def())->size(), 38u);
    EXPECT_EQ(c.value()[38], 0);
  }
  {
    OneColumn c(Def(kTypeBytes, 0, 4));
    c.rec.SetBytes(c.def(), "\x01\x02", 2);
    EXPECT_EQ(c.value(), (std::vector<uint8_t>{1, 2, 0, 0}));
  }
  {
    OneColumn c(Def(kTypeBlob));
    c.rec.SetBlobRef(c.def(), 3, 9);
    EXPECT_EQ(c.value(), (std::vector<uint8_t>{3, 0, 0, 0, 9, 0, 0, 0}));
    EXPECT_FALSE(c.rec.IsNull(c.def()));
    uint8_t block[4] = {};
    c.rec.SetColumn(c.def(), block);
    EXPECT_TRUE(c.rec.IsNull(c.def()));
  }
  {
    OneColumn c(Def(kTypeString, kSubtypeWideChar, 3));
    c.rec.SetString(c.def(), std::string("a\0b\0 \0", 6));
    EXPECT_EQ(c.value(), (std::vector<uint8_t>{'a', 0, 'b', 0, 0, 0, 0}));
  }
}

TEST(RecordValues, BooleanStoresOneForAnyNonZero) {
  OneColumn c(Def(kTypeBoolean));
  uint8_t two[2] = {2, 0};
  c.rec.SetColumn(c.def(), two);
  EXPECT_EQ(c.value(), (std::vector<uint8_t>{1, 0}));
  c.rec.SetInteger(c.def(), 256);
  EXPECT_EQ(*c.rec.GetInteger(c.def()), 1);
}

TEST(RecordValues, NullHasZeroBytesAndEmptyStringIsNull) {
  OneColumn c(Def(kTypeInteger));
  c.rec.SetInteger(c.def(), -1);
  c.rec.SetNull(c.def());
  EXPECT_FALSE(c.rec.GetInteger(c.def()).has_value());
  EXPECT_EQ(c.value(), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(c.rec.data()[25], 0);

  OneColumn s(Def(kTypeString, 0, 5));
  s.rec.SetString(s.def(), "abc");
  s.rec.SetString(s.def(), "");
  OneColumn n(Def(kTypeString, 0, 5));
  EXPECT_EQ(std::memcmp(s.rec.data(), n.rec.data(), s.rec.size()), 0);
  s.rec.SetString(s.def(), "   ");
  EXPECT_TRUE(s.rec.IsNull(s.def()));
}

TEST(RecordValues, TrailingBlanksDroppedForVarcharKeptForChar) {
  OneColumn v(Def(kTypeString, 0, 6));
  v.rec.SetString(v.def(), "ab  ");
  EXPECT_EQ(v.value(), (std::vector<uint8_t>{'a', 'b', 0, 0, 0, 0, 0}));
  OneColumn c(Def(kTypeString, kSubtypeFixedChar, 6));
  c.rec.SetString(c.def(), "ab  ");
  EXPECT_EQ(c.value(), (std::vector<uint8_t>{'a', 'b', ' ', ' ', 0, 0, 0}));
  // At most n characters are kept; the terminating zero always fits.
  c.rec.SetString(c.def(), "abcdefghij");
  EXPECT_EQ(*c.rec.GetString(c.def()), "abcdef");
}

TEST(RecordValues, CharacterCaseIsApplied) {
  TFieldDef d = Def(kTypeString, 0, 8);
  d.char_case = 2;
  OneColumn c(d);
  c.rec.SetString(c.def(), "Abc\xB9");  // a-ogonek
  EXPECT_EQ(*c.rec.GetString(c.def()), "ABC\xA5");
}

TEST(RecordValues, DecimalPacksDigitsMostSignificantFirst) {
  struct Case {
    const char* text;
    uint8_t scale;
    std::vector<uint8_t> head;  // precision, sign|scale, first digit bytes
    const char* back;
  } cases[] = {
      {"123.45", 2, {5, 2, 0x12, 0x34, 0x50}, "123.45"},
      {"-7.006", 2, {3, 0x82, 0x70, 0x10}, "-7.01"},
      {"0", 0, {1, 0, 0x00}, "0"},
      {"-0.001", 2, {2, 2, 0x00}, "0.00"},
      {"9.995", 2, {4, 2, 0x10, 0x00}, "10.00"},
  };
  for (const Case& c : cases) {
    uint8_t raw[kDecimalSize];
    ASSERT_TRUE(DecimalFromText(c.text, c.scale, raw)) << c.text;
    EXPECT_EQ(std::vector<uint8_t>(raw, raw + c.head.size()), c.head) << c.text;
    EXPECT_EQ(DecimalToText(raw), c.back);
  }
  uint8_t raw[kDecimalSize];
  EXPECT_FALSE(DecimalFromText("1.2.3", 2, raw));
  EXPECT_FALSE(DecimalFromText("", 2, raw));
  EXPECT_FALSE(DecimalFromText(std::string(65, '9'), 0, raw));
  EXPECT_DOUBLE_EQ(DecimalToDouble((DecimalFromText("-2.5", 1, raw), raw)), -2.5);
}

TEST(RecordHash, CoversColumnBytesAndIgnoresBlobReferences) {
  std::vector<TFieldDef> f = {Def(kTypeInteger), Def(kTypeBlob)};
  f[1].number = 2;
  uint32_t r = AssignRecordLayout(f);
  TRecordBuffer a(r), b(r);
  a.SetInteger(f[0], 5);
  b.SetInteger(f[0], 5);
  a.SetBlobRef(f[1], 1, 1);
  b.SetBlobRef(f[1], 9, 4);
  a.set_record_id(1);
  EXPECT_EQ(ComputeRecordHash(a.data(), r, f), ComputeRecordHash(b.data(), r, f));
  TRecordBuffer zero(r);
  zero.SetInteger(f[0], 5);
  EXPECT_EQ(ComputeRecordHash(a.data(), r, f), base::Md5(zero.data() + 25, r - 25));

  std::vector<TFieldDef> plain = {Def(kTypeInteger)};
  uint32_t pr = AssignRecordLayout(plain);
  TRecordBuffer p(pr);
  p.SetInteger(plain[0], 5);
  p.set_record_id(77);
  EXPECT_EQ(ComputeRecordHash(p.data(), pr, plain), base::Md5(p.data() + 25, pr - 25));
}

TEST(RecordHeader, FieldsSitAtTheirOffsets) {
  TRecordBuffer r(32);
  r.set_status(kSlotDeleted);
  r.set_link(0x0A0B0C0D);
  r.set_record_id(-2);
  base::Md5Digest h{};
  h[0] = 0xAA;
  h[15] = 0xBB;
  r.set_record_hash(h);
  const uint8_t want[] = {1, 0x0D, 0x0C, 0x0B, 0x0A, 0xFE, 0xFF, 0xFF, 0xFF, 0xAA};
  EXPECT_EQ(0, std::memcmp(r.data(), want, sizeof want));
  EXPECT_EQ(r.data()[24], 0xBB);
  EXPECT_EQ(r.record_id(), -2);
  EXPECT_EQ(*r.GetInteger(RecordIdField()), -2);
  EXPECT_FALSE(r.IsNull(RecordHashField()));
  EXPECT_EQ(RecordHashField().offset, 9);
  EXPECT_EQ(RecordHashField().stored_size, 16);
}

}  // namespace
}  // namespace downsql::storage
