// Index key forms byte for byte, and the order of keys under the comparator.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "db/storage/column_type.h"
#include "db/storage/decimal.h"
#include "db/storage/index_key.h"
#include "platform/locale.h"

namespace downsql::storage {
namespace {

using Bytes = std::vector<uint8_t>;

TIndexKeyField Field(uint8_t type, uint8_t subtype = 0, uint16_t stored_size = 0,
                     bool descending = false) {
  TIndexKeyField f;
  f.column = 1;
  f.type = type;
  f.subtype = subtype;
  f.stored_size = stored_size;
  f.null_offset = 25;
  f.descending = descending;
  return f;
}

Bytes Form(const TIndexKeyField& f, const Bytes& value, bool case_insensitive = false) {
  Bytes out(KeyFormSize(f.type, f.subtype, f.stored_size));
  EncodeKeyForm(f, value.empty() ? nullptr : value.data(), case_insensitive, 0, out.data());
  return out;
}

Bytes LE32(int32_t v) {
  Bytes b(4);
  base::PutLE32(b.data(), static_cast<uint32_t>(v));
  return b;
}
Bytes LE16(int v) {
  Bytes b(2);
  base::PutLE16(b.data(), static_cast<uint16_t>(v));
  return b;
}
Bytes LE64(int64_t v) {
  Bytes b(8);
  base::PutLE64(b.data(), static_cast<uint64_t>(v));
  return b;
}
Bytes LEDouble(double v) {
  Bytes b(8);
  base::PutLEDouble(b.data(), v);
  return b;
}

TEST(KeyEncoding, FixedSizeFormsAreExact) {
  struct Case {
    const char* what;
    TIndexKeyField field;
    Bytes value;
    Bytes form;
  };
  const Case cases[] = {
      {"INTEGER -1", Field(kTypeInteger), LE32(-1), {0x7F, 0xFF, 0xFF, 0xFF}},
      {"INTEGER 1", Field(kTypeInteger), LE32(1), {0x80, 0x00, 0x00, 0x01}},
      {"INTEGER min", Field(kTypeInteger), LE32(INT32_MIN), {0x00, 0x00, 0x00, 0x00}},
      {"DATE 693594", Field(kTypeDate), LE32(693594), {0x80, 0x0A, 0x95, 0x5A}},
      {"TIME 1000", Field(kTypeTime), LE32(1000), {0x80, 0x00, 0x03, 0xE8}},
      {"SMALLINT -2", Field(kTypeSmallInt), LE16(-2), {0x7F, 0xFE}},
      {"WORD 0x1234", Field(kTypeWord), LE16(0x1234), {0x12, 0x34}},
      {"BOOLEAN true", Field(kTypeBoolean), LE16(1), {0x00, 0x01}},
      {"LARGEINT -2",
       Field(kTypeLargeInt),
       LE64(-2),
       {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}},
      {"FLOAT 1.0",
       Field(kTypeFloat),
       LEDouble(1.0),
       {0xBF, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"FLOAT -1.0",
       Field(kTypeFloat),
       LEDouble(-1.0),
       {0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"FLOAT -0.0 as 0.0",
       Field(kTypeFloat),
       LEDouble(-0.0),
       {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"BYTES", Field(kTypeBytes, 0, 3), {0x00, 0xFF, 0x10}, {0x00, 0xFF, 0x10}},
      {"VARCHAR zero-filled",
       Field(kTypeString, 0, 6),
       {'a', 'b', 0, 'x', 'y', 0},
       {'a', 'b', 0, 0, 0, 0}},
      {"NULL", Field(kTypeInteger), {}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(Form(c.field, c.value), c.form) << c.what;
}

TEST(KeyEncoding, DecimalIsFourDecimalFixedPoint) {
  struct Case {
    const char* text;
    uint8_t scale;
    int64_t fixed;
  };
  const Case cases[] = {
      {"12.5", 1, 125000}, {"-0.00005", 5, -1}, {"0.00004", 5, 0}, {"123456.789012", 6, 1234567890},
      {"-3", 0, -30000},   {"0", 2, 0},
  };
  for (const Case& c : cases) {
    uint8_t value[kDecimalSize];
    ASSERT_TRUE(DecimalFromText(c.text, c.scale, value)) << c.text;
    EXPECT_EQ(DecimalToFixed4(value), c.fixed) << c.text;
  }
  uint8_t value[kDecimalSize];
  ASSERT_TRUE(DecimalFromText("-12.5", 1, value));
  EXPECT_EQ(Form(Field(kTypeDecimal), Bytes(value, value + kDecimalSize)),
            (Bytes{0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x17, 0xB8}));
}

// Keys of a one-column index: null flag, then the form.
Bytes Key(const TKeyComparator& cmp, const Bytes& value) {
  Bytes record(64, 0);
  const TIndexKeyField& f = cmp.fields()[0];
  if (!value.empty()) {
    record[f.null_offset] = 1;
    std::memcpy(&record[f.null_offset + 1], value.data(), value.size());
  }
  base::PutLE32(&record[5], 7);
  return cmp.BuildKey(record.data());
}

TEST(KeyEncoding, FloatKeysSortNegativeFirst) {
  TKeyComparator cmp({Field(kTypeFloat)}, true, false, 0);
  const double ordered[] = {-1e300, -1.0, -0.5, -1e-300, 0.0, 1e-300, 0.5, 1.0, 1e300};
  for (size_t i = 1; i < std::size(ordered); ++i) {
    Bytes a = Key(cmp, LEDouble(ordered[i - 1]));
    Bytes b = Key(cmp, LEDouble(ordered[i]));
    EXPECT_LT(cmp.Compare(a.data(), b.data()), 0) << ordered[i - 1] << " < " << ordered[i];
  }
  Bytes null_key = Key(cmp, {});
  Bytes lowest = Key(cmp, LEDouble(-1e300));
  EXPECT_LT(cmp.Compare(null_key.data(), lowest.data()), 0) << "NULL sorts first";
}

TEST(KeyEncoding, DescendingColumnReversesOnlyItsOwnPart) {
  TIndexKeyField a = Field(kTypeInteger, 0, 4, true);
  TIndexKeyField b = Field(kTypeInteger);
  b.null_offset = 30;
  TKeyComparator cmp({a, b}, false, false, 0);
  EXPECT_EQ(cmp.key_length(), 5 + 5 + 4);
  auto key = [&](int x, int y, int id) {
    Bytes record(40, 0);
    record[25] = 1;
    base::PutLE32(&record[26], x);
    record[30] = 1;
    base::PutLE32(&record[31], y);
    base::PutLE32(&record[5], id);
    return cmp.BuildKey(record.data());
  };
  EXPECT_GT(cmp.Compare(key(1, 0, 0).data(), key(2, 0, 0).data()), 0);
  EXPECT_LT(cmp.Compare(key(1, 1, 0).data(), key(1, 2, 0).data()), 0);
  EXPECT_LT(cmp.Compare(key(1, 1, 1).data(), key(1, 1, 2).data()), 0) << "RecordID suffix";
  Bytes k = key(1, 2, 3);
  EXPECT_EQ(Bytes(k.end() - 4, k.end()), (Bytes{0x80, 0, 0, 3}));
}

TEST(KeyEncoding, CaseInsensitiveStringsAreUpperCasedInWindows1250) {
  // "za\xBF\xF3\xB3\xE6" is "zażółć".
  const std::string text = "za\xBF\xF3\xB3\xE6";
  Bytes value(text.begin(), text.end());
  value.resize(8, 0);
  EXPECT_EQ(Form(Field(kTypeString, 0, 8), value, true),
            (Bytes{'Z', 'A', 0xAF, 0xD3, 0xA3, 0xC6, 0, 0}));
  EXPECT_EQ(Form(Field(kTypeString, 0, 8), value, false), value);
}

// A collation that sorts A-ogonek (0xA5) right after 'A', as a Polish
// locale does; plain byte order puts it after every ASCII letter.
class OgonekCollation : public platform::Collation {
 public:
  uint32_t locale() const override { return 0x7415; }
  char ToUpper(char c) const override { return c; }
  char ToLower(char c) const override { return c; }
  int Compare(std::string_view a, std::string_view b, bool) const override {
    auto rank = [](char c) {
      const unsigned char u = static_cast<unsigned char>(c);
      return u == 0xA5 ? 'A' * 2 + 1 : u * 2;
    };
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
      if (rank(a[i]) != rank(b[i])) return rank(a[i]) - rank(b[i]);
    return int(a.size()) - int(b.size());
  }
};

TEST(KeyEncoding, LocaleCollationOrdersStringColumns) {
  static const OgonekCollation collation;
  platform::InstallCollation(collation);
  for (bool descending : {false, true}) {
    TKeyComparator bytewise({Field(kTypeString, 0, 4, descending)}, true, false, 0);
    TKeyComparator polish({Field(kTypeString, 0, 4, descending)}, true, false, 0x7415);
    const Bytes az = Key(polish, {'A', 'Z', 0, 0});
    const Bytes a_ogonek = Key(polish, {0xA5, 0, 0, 0});
    const Bytes b = Key(polish, {'B', 0, 0, 0});
    const int sign = descending ? -1 : 1;
    EXPECT_LT(sign * polish.Compare(az.data(), a_ogonek.data()), 0);
    EXPECT_LT(sign * polish.Compare(a_ogonek.data(), b.data()), 0);
    EXPECT_GT(sign * bytewise.Compare(a_ogonek.data(), b.data()), 0);
  }
}

TEST(KeyEncoding, PseudoColumnsHaveNoNullFlagInTheRecord) {
  TKeyComparator cmp({RecordIdKeyField()}, true, false, 0);
  EXPECT_EQ(cmp.key_length(), 5);
  Bytes record(32, 0);
  base::PutLE32(&record[5], 1);
  EXPECT_EQ(cmp.BuildKey(record.data()), (Bytes{1, 0x80, 0, 0, 1}));
}

}  // namespace
}  // namespace downsql::storage
