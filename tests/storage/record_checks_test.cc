// Default values and the required, minimum and maximum rules of columns.
#include "db/storage/record_checks.h"

#include <gtest/gtest.h>

#include "db/storage/engine_error.h"
#include "db/storage/field_text.h"

namespace downsql::storage {
namespace {

TFieldDef Column(int number, const char* name, uint8_t type, uint16_t size = 0) {
  TFieldDef def;
  def.number = number;
  def.name = name;
  def.type = type;
  def.size = size;
  return def;
}

class RecordChecks : public ::testing::Test {
 protected:
  RecordChecks() {
    fields_.push_back(Column(1, "id", kTypeInteger));
    fields_.push_back(Column(2, "name", kTypeString, 10));
    fields_.push_back(Column(3, "day", kTypeDate));
    fields_.push_back(Column(4, "price", kTypeFloat));
    record_size_ = AssignRecordLayout(fields_);
  }
  TRecordBuffer Record(const char* id, const char* name, const char* day, const char* price) {
    TRecordBuffer r(record_size_);
    const char* texts[] = {id, name, day, price};
    for (size_t i = 0; i < fields_.size(); ++i) {
      EXPECT_TRUE(SetColumnFromText(r, fields_[i], texts[i]));
    }
    return r;
  }
  uint32_t Code(const TRecordBuffer& r) {
    try {
      CheckConstraints(fields_, r, "T", 0);
    } catch (const ETabulaEngineError& e) {
      return e.code();
    }
    return 0;
  }
  std::vector<TFieldDef> fields_;
  uint32_t record_size_ = 0;
};

TEST_F(RecordChecks, RequiredMinimumAndMaximum) {
  fields_[0].required = true;
  fields_[0].min_value = "1";
  fields_[0].max_value = "100";
  fields_[1].min_value = "b";
  fields_[2].max_value = "2008-03-05";
  fields_[3].min_value = "-0.5";
  struct Case {
    const char *id, *name, *day, *price;
    uint32_t code;
  } cases[] = {
      {"1", "b", "2008-03-05", "-0.5", 0},            // every limit met exactly
      {"", "c", "", "", kErrValueRequired},           // required id is NULL
      {"0", "", "", "", kErrBelowMinimum},            // below 1
      {"101", "", "", "", kErrAboveMaximum},          // above 100
      {"5", "a", "", "", kErrBelowMinimum},           // "a" sorts before "b"
      {"5", "", "2008-03-06", "", kErrAboveMaximum},  // a day late
      {"5", "", "", "-0.75", kErrBelowMinimum},       // float below
      {"5", "", "", "", 0},                           // NULLs pass min and max
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Code(Record(c.id, c.name, c.day, c.price)), c.code)
        << c.id << "/" << c.name << "/" << c.day << "/" << c.price;
  }
}

TEST_F(RecordChecks, ErrorNamesColumnAndTable) {
  fields_[1].required = true;
  try {
    CheckConstraints(fields_, Record("1", "", "", ""), "LOTTO", 0);
    FAIL();
  } catch (const ETabulaEngineError& e) {
    EXPECT_EQ(e.text(), "A value must be provided for the field 'name' in the table 'LOTTO'");
  }
}

TEST_F(RecordChecks, DefaultsFillNewRecord) {
  fields_[0].default_value = "7";
  fields_[2].default_value = "CURRENT_DATE";
  fields_[3].default_value = "not a number";
  EXPECT_TRUE(HasDefaults(fields_));
  TRecordBuffer r(record_size_);
  platform::LocalDateTime now{2008, 3, 5, 10, 0, 0, 0};
  ApplyDefaults(fields_, r, 0, &now);
  EXPECT_EQ(*r.GetInteger(fields_[0]), 7);
  EXPECT_TRUE(r.IsNull(fields_[1]));
  EXPECT_EQ(*r.GetInteger(fields_[2]), 733106);
  EXPECT_TRUE(r.IsNull(fields_[3]));
}

}  // namespace
}  // namespace downsql::storage
