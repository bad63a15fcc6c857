// AlterTable on real files: records moved into a new layout with their
// RecordIDs, indexes built again, values that cannot be kept, the rules of
// the new columns, AUTOINC numbering, and a table left as it was whenever
// the change does not complete.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"
#include "db/storage/field_text.h"
#include "db/storage/table_rebuild.h"
#include "db/storage/table_verifier.h"
#include "tests/platform/temp_dir.h"
#include "tests/storage/storage_test_util.h"

namespace downsql::storage {
namespace {

using testing::CodeOf;
using testing::Column;
using testing::ReadWhole;

TIndexDefinition IndexOn(const char* name, std::vector<int16_t> columns, bool unique = false) {
  TIndexDefinition index;
  index.name = name;
  index.unique = unique;
  index.columns = std::move(columns);
  index.descending_of.assign(index.columns.size(), 0);
  return index;
}

// Converts through the text form, as a caller without an SQL engine would;
// a text longer than a string column is not kept.
bool ConvertByText(const TRecordBuffer& in, const TFieldDef& from,
                   const std::vector<uint8_t>* blob_in, TRecordBuffer& out, const TFieldDef& to,
                   std::vector<uint8_t>* blob_out) {
  const std::string text =
      blob_in != nullptr ? std::string(blob_in->begin(), blob_in->end()) : ColumnToText(in, from);
  if (blob_out != nullptr) {
    blob_out->assign(text.begin(), text.end());
    return true;
  }
  if (to.IsString() && text.size() > to.size) return false;
  return SetColumnFromText(out, to, text);
}

// T: ID INTEGER NOT NULL (primary key), NAME VARCHAR(10) (index ByName),
// NOTE MEMO, AMOUNT FLOAT (index ByAmount); 40 rows, every fifth deleted.
// Row i: NAME "n<i>" ("long name <i>" for i = 7 and 23), NOTE "note <i>"
// repeated, AMOUNT i / 2.
class AlterTableTest : public ::testing::Test {
 protected:
  AlterTableTest() {
    TNewTableDefinition def;
    def.table.fields = {Column("ID", kTypeInteger), Column("NAME", kTypeString, 0, 16),
                        Column("NOTE", kTypeBlob, kSubtypeMemo), Column("AMOUNT", kTypeFloat)};
    def.table.fields[0].required = true;
    def.primary = IndexOn("", {1}, true);
    def.secondary = {IndexOn("ByName", {2}), IndexOn("ByAmount", {4})};
    def.table.secondary_indexes = 2;
    TDataTable::Create(dir_, "T", settings_, def);
    auto table = Open();
    TDataCursor cursor(table, TSessionSettings{});
    for (int i = 1; i <= 40; ++i) {
      TRecordBuffer r = cursor.NewRecord();
      const std::string name =
          i == 7 || i == 23 ? "long name " + std::to_string(i) : "n" + std::to_string(i);
      SetColumnFromText(r, cursor.fields()[0], std::to_string(i));
      SetColumnFromText(r, cursor.fields()[1], name);
      std::string note;
      for (int k = 0; k < i; ++k) note += "note " + std::to_string(i) + ";";
      cursor.SetBlob(r, cursor.fields()[2], std::vector<uint8_t>(note.begin(), note.end()));
      SetColumnFromText(r, cursor.fields()[3], std::to_string(i / 2.0));
      cursor.Insert(r);
    }
    cursor.SetCurrentIndex(kNaturalOrder);
    cursor.First();
    while (cursor.Next()) {
      if (cursor.current().record_id() % 5 == 0) cursor.Delete();
    }
  }

  std::shared_ptr<TDataTable> Open() {
    TTableOpenOptions o = Options().table;
    o.exclusive = true;
    return TDataTable::Open(o);
  }
  TRebuildOptions Options() {
    TRebuildOptions o;
    o.table.directory = dir_;
    o.table.name = "T";
    o.table.settings = &settings_;
    o.log = [this](const std::string& line) { log_.push_back(line); };
    return o;
  }

  // The plan that keeps T as it is, columns taken in order.
  TAlterPlan SamePlan() {
    TAlterPlan plan;
    auto table = Open();
    plan.definition = DefinitionOf(*table, {});
    plan.source_column = {1, 2, 3, 4};
    plan.convert = ConvertByText;
    return plan;
  }

  // Every live record in the order of index slot (kNaturalOrder: natural):
  // "RecordID:" and the columns' texts joined by "|", BLOBs as their bytes.
  std::vector<std::string> Rows(uint8_t order = kNaturalOrder) {
    auto table = Open();
    TDataCursor cursor(table, TSessionSettings{});
    cursor.SetCurrentIndex(order);
    std::vector<std::string> rows;
    cursor.First();
    while (cursor.Next()) {
      std::string row = std::to_string(cursor.current().record_id()) + ":";
      for (const TFieldDef& f : cursor.fields()) {
        if (&f != &cursor.fields().front()) row += "|";
        if (f.IsBlob()) {
          const std::vector<uint8_t> bytes = cursor.ReadBlob(f);
          row += std::string(bytes.begin(), bytes.end()).substr(0, 14);
        } else {
          row += ColumnToText(cursor.current(), f);
        }
      }
      rows.push_back(row);
    }
    return rows;
  }
  std::string Verify() {
    auto table = Open();
    const TVerifyReport report = TTableVerifier(*table).Run();
    return report.clean() ? "" : report.findings.front().text;
  }
  std::string Files() {
    return ReadWhole(dir_ + "T.dat") + "|" + ReadWhole(dir_ + "T.idx") + "|" +
           ReadWhole(dir_ + "T.blb");
  }
  // Names of the files in the directory other than T's own three.
  std::vector<std::string> OtherFiles() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(temp_.path())) {
      const std::string name = entry.path().filename().string();
      // The journal stays beside a table that has been written.
      if (name != "T.dat" && name != "T.idx" && name != "T.blb" && name != "T.jnl")
        names.push_back(name);
    }
    return names;
  }

  platform::TempDir temp_;
  std::string dir_ = temp_.path() + "/";
  EngineSettings settings_;
  std::vector<std::string> log_;
};

TEST_F(AlterTableTest, MovesEveryRecordIntoTheNewLayoutWithItsRecordId) {
  // New order: AMOUNT as text, a new column with a default, NAME widened,
  // NOTE kept, ID last; ID dropped from nothing, the primary key kept on ID.
  TAlterPlan plan = SamePlan();
  TFieldDef amount = Column("AMOUNT", kTypeString, 0, 12);
  TFieldDef added = Column("ADDED", kTypeSmallInt);
  added.default_value = "7";
  TFieldDef id = plan.definition.table.fields[0];
  plan.definition.table.fields = {amount, added, Column("NAME", kTypeString, 0, 30),
                                  plan.definition.table.fields[2], id};
  plan.source_column = {4, 0, 2, 3, 1};
  plan.definition.primary = IndexOn("", {5}, true);
  plan.definition.secondary = {IndexOn("ByName", {3})};
  plan.definition.table.secondary_indexes = 1;
  AlterTable(Options(), plan);

  const std::vector<std::string> rows = Rows();
  ASSERT_EQ(rows.size(), 32u);
  EXPECT_EQ(rows[0], "1:0.5|7|n1|note 1;|1");
  EXPECT_EQ(rows[5], "7:3.5|7|long name 7|note 7;note 7;|7");
  EXPECT_EQ(rows.back(), "39:19.5|7|n39|note 39;note 3|39");
  EXPECT_EQ(Verify(), "");
  // The indexes are built from the new records: ByName orders by name.
  const std::vector<std::string> by_name = Rows(1);
  ASSERT_EQ(by_name.size(), 32u);
  EXPECT_EQ(by_name.front(), "23:11.5|7|long name 23|note 23;note 2|23");
  EXPECT_EQ(by_name.back(), "9:4.5|7|n9|note 9;note 9;|9");
  // No free slot is left, the counters carry on, the old files are kept.
  auto table = Open();
  EXPECT_EQ(table->slot_count(), 32u);
  EXPECT_EQ(table->last_record_id(), 40u);
  EXPECT_TRUE(std::filesystem::exists(dir_ + "T.dbk"));
  EXPECT_TRUE(std::filesystem::exists(dir_ + "T.bbk"));
  EXPECT_TRUE(log_.empty());
}

TEST_F(AlterTableTest, AValueThatCannotBeKeptAsksOnceAndStopsOrGoesOn) {
  const std::string before = Files();
  auto narrowed = [this] {
    TAlterPlan plan = SamePlan();
    plan.definition.table.fields[1].size = 8;
    return plan;
  };
  // Stopping leaves the table exactly as it was, with nothing beside it.
  std::vector<std::string> asked;
  TAlterPlan plan = narrowed();
  plan.data_lost = [&](const TFieldDef& column) {
    asked.push_back(column.name);
    return false;
  };
  EXPECT_THROW(AlterTable(Options(), plan), EOperationAborted);
  EXPECT_EQ(asked, std::vector<std::string>{"NAME"});
  EXPECT_EQ(Files(), before);
  EXPECT_TRUE(OtherFiles().empty()) << OtherFiles().front();

  // Going on gives the values up (NULL), logging each.
  asked.clear();
  plan.data_lost = [&](const TFieldDef& column) {
    asked.push_back(column.name);
    return true;
  };
  log_.clear();
  AlterTable(Options(), plan);
  EXPECT_EQ(asked, std::vector<std::string>{"NAME"});
  EXPECT_EQ(log_, (std::vector<std::string>{
                      "Record with RecordID 7: the value of column 'NAME' cannot be kept in "
                      "column 'NAME'",
                      "Record with RecordID 23: the value of column 'NAME' cannot be kept in "
                      "column 'NAME'"}));
  const std::vector<std::string> rows = Rows();
  EXPECT_EQ(rows[5], "7:7||note 7;note 7;|3.5");
  EXPECT_EQ(rows[6], "8:8|n8|note 8;note 8;|4");
  EXPECT_EQ(Verify(), "");
}

TEST_F(AlterTableTest, ARecordBreakingARuleOfTheNewTableLeavesItUnchanged) {
  const std::string before = Files();
  const struct {
    const char* name;
    std::function<void(TAlterPlan&)> change;
    uint32_t code;
  } cases[] = {
      {"new required column without a default",
       [](TAlterPlan& p) {
         p.definition.table.fields.push_back(Column("MUST", kTypeInteger));
         p.definition.table.fields.back().required = true;
       },
       kErrValueRequired},
      {"a value above the new maximum",
       [](TAlterPlan& p) { p.definition.table.fields[3].max_value = "10"; }, kErrAboveMaximum},
      {"a new unique index over equal values",
       [](TAlterPlan& p) {
         p.definition.table.fields.push_back(Column("SAME", kTypeInteger));
         p.definition.table.fields.back().default_value = "1";
         p.definition.secondary.push_back(IndexOn("BySame", {5}, true));
         p.definition.table.secondary_indexes = 3;
       },
       kErrDuplicateKey},
      {"the primary key on values given up",
       [](TAlterPlan& p) {
         p.definition.primary = IndexOn("", {2}, true);
         p.definition.table.fields[1].size = 2;
       },
       kErrDuplicateKey},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TAlterPlan plan = SamePlan();
    c.change(plan);
    EXPECT_EQ(CodeOf([&] { AlterTable(Options(), plan); }), c.code);
    EXPECT_EQ(Files(), before);
    EXPECT_TRUE(OtherFiles().empty()) << OtherFiles().front();
  }
}

TEST_F(AlterTableTest, AutoIncColumnsLeftNullAreNumberedOnFromTheHighestValue) {
  // A new AUTOINC column, and ID turned into one: its values stay, and the
  // counter goes on from the highest.
  TAlterPlan plan = SamePlan();
  plan.definition.table.fields[0].subtype = kSubtypeAutoInc;
  plan.definition.table.fields.push_back(Column("SEQ", kTypeInteger, kSubtypeAutoInc));
  plan.source_column.push_back(0);
  AlterTable(Options(), plan);
  const std::vector<std::string> rows = Rows();
  ASSERT_EQ(rows.size(), 32u);
  EXPECT_EQ(rows.front().substr(rows.front().rfind('|')), "|40");
  EXPECT_EQ(rows.back().substr(rows.back().rfind('|')), "|71");
  EXPECT_EQ(rows.back().substr(0, 4), "39:3");
  auto table = Open();
  EXPECT_EQ(table->last_autoinc(), 71u);
  // The next insert takes the next number in both columns.
  TDataCursor cursor(table, TSessionSettings{});
  TRecordBuffer r = cursor.NewRecord();
  cursor.Insert(r);
  EXPECT_EQ(ColumnToText(cursor.current(), cursor.fields()[0]), "72");
  EXPECT_EQ(ColumnToText(cursor.current(), cursor.fields()[4]), "72");
}

}  // namespace
}  // namespace downsql::storage
