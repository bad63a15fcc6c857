// A table cursor seen as a dataset: field definitions from the columns,
// movement, and field readings of stored values and of NULLs.
#include "db/access/dataset.h"

#include "db/access/database_error.h"

#include <gtest/gtest.h>

#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"
#include "db/storage/field_text.h"
#include "tests/platform/temp_dir.h"
#include "tests/storage/storage_test_util.h"

namespace downsql::access {
namespace {

using storage::TFieldDef;
using storage::testing::Column;

TEST(BuildFieldDefs, SkipsHiddenColumnsAndKeepsNumbers) {
  std::vector<TFieldDef> columns = {Column("ID", 6, 29), Column("NAME", 1, 0, 20),
                                    Column("PRICE", 8), Column("SECRET", 6)};
  columns[0].required = true;
  columns[1].required = true;
  columns[1].description = "Nazwa";
  columns[2].scale = 2;
  for (int i = 0; i < 4; ++i) columns[static_cast<size_t>(i)].number = i + 1;
  std::vector<TDataSetFieldDef> defs = BuildFieldDefs(columns, {false, false, false, true}, "T",
                                                      /*auto_display_labels=*/true);
  ASSERT_EQ(defs.size(), 3u);
  EXPECT_EQ(defs[0].data_type, ftAutoInc);
  EXPECT_FALSE(defs[0].required);  // never for AutoInc
  EXPECT_EQ(defs[1].data_type, ftString);
  EXPECT_EQ(defs[1].size, 20);
  EXPECT_TRUE(defs[1].required);
  EXPECT_EQ(defs[1].display_label, "Nazwa");
  EXPECT_EQ(defs[1].origin, "T.NAME");
  EXPECT_EQ(defs[2].data_type, ftBCD);
  EXPECT_EQ(defs[2].size, 2);
  EXPECT_EQ(defs[2].field_no, 3);
  EXPECT_EQ(BuildFieldDefs(columns, {}, "T", false)[1].display_label, "");
}

class DataSetTest : public ::testing::Test {
 protected:
  DataSetTest() {
    storage::TNewTableDefinition new_table;
    new_table.table.fields = {Column("date", 2), Column("id", 6), Column("name", 1, 0, 8),
                              Column("note", 3, 22)};
    storage::TDataTable::Create(dir_, "LOTTO", settings_, new_table);
    storage::TTableOpenOptions options;
    options.directory = dir_;
    options.name = "LOTTO";
    options.settings = &settings_;
    table_ = storage::TDataTable::Open(options);
    cursor_ = std::make_unique<storage::TDataCursor>(table_, storage::TSessionSettings{});
  }
  void Insert(const char* date, const char* id) {
    storage::TRecordBuffer r = cursor_->NewRecord();
    ASSERT_TRUE(storage::SetColumnFromText(r, cursor_->fields()[0], date));
    ASSERT_TRUE(storage::SetColumnFromText(r, cursor_->fields()[1], id));
    cursor_->Insert(r);
  }

  platform::TempDir temp_;
  std::string dir_ = temp_.path() + "/";
  storage::EngineSettings settings_;
  std::shared_ptr<storage::TDataTable> table_;
  std::unique_ptr<storage::TDataCursor> cursor_;
};

TEST_F(DataSetTest, ReadsDatesAndIntegersOfTheRows) {
  Insert("2008-03-01", "4001");
  Insert("2008-03-05", "4002");
  storage::TRecordBuffer changed = cursor_->current();
  std::string note = "Losowanie nr 4002";
  cursor_->SetBlob(changed, cursor_->fields()[3], std::vector<uint8_t>(note.begin(), note.end()));
  cursor_->Update(changed);
  TTabulaDataSet ds(*cursor_);
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 4u);
  EXPECT_EQ(ds.Fields(3).DataType(), ftMemo);
  EXPECT_EQ(ds.Fields(3).AsString(), "");
  EXPECT_FALSE(ds.Eof());
  EXPECT_DOUBLE_EQ(ds.Fields(0).AsDateTime(), 39508.0);
  ds.Next();
  EXPECT_DOUBLE_EQ(ds.Fields(0).AsDateTime(), 39512.0);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 4002);
  EXPECT_EQ(ds.FieldByName("note").AsString(), note);
  EXPECT_TRUE(ds.Fields(2).IsNull());
  EXPECT_EQ(ds.Fields(2).AsString(), "");
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.Fields(1).AsInteger(), 4002);  // stays on the last record
  ds.Prior();
  EXPECT_EQ(ds.Fields(1).AsInteger(), 4001);
  ds.Prior();
  EXPECT_TRUE(ds.Bof());
  ds.Last();
  EXPECT_EQ(ds.Fields(1).AsInteger(), 4002);
  EXPECT_EQ(ds.RecordCount(), 2u);
  EXPECT_EQ(ds.FindField("nope"), nullptr);
  EXPECT_THROW(ds.FieldByName("nope"), EDatabaseError);
}

TEST_F(DataSetTest, EmptyTableFieldsReadAsZero) {
  TTabulaDataSet ds(*cursor_);
  ds.Open();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Fields(0).IsNull());
  EXPECT_EQ(ds.Fields(0).AsDateTime(), 0.0);
  EXPECT_EQ(ds.Fields(1).AsInteger(), 0);
}

}  // namespace
}  // namespace downsql::access
