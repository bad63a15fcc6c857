// A write that fails while a change is being written: nothing of the change
// reaches the table's files, and the table reopens with its earlier rows.
#include <gtest/gtest.h>

#include <filesystem>

#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"
#include "db/storage/field_text.h"
#include "tests/platform/fault_injection.h"
#include "tests/platform/temp_dir.h"
#include "tests/storage/storage_test_util.h"

namespace downsql::storage {
namespace {

using platform::FaultOp;
using testing::Column;
using testing::TableFiles;

// NUMS: ID AUTOINC, NUM INTEGER with the unique index ByNum, opened shared
// so that every change is written when it ends; its files come from a
// fault-injecting opener.
class DataCursorFaultTest : public ::testing::Test {
 protected:
  DataCursorFaultTest() {
    TNewTableDefinition new_table;
    new_table.table.fields = {Column("ID", kTypeInteger, kSubtypeAutoInc),
                              Column("NUM", kTypeInteger)};
    TIndexDefinition by_num;
    by_num.name = "ByNum";
    by_num.unique = true;
    by_num.columns = {2};
    by_num.descending_of = {0};
    new_table.secondary = {by_num};
    TDataTable::Create(dir_, "NUMS", settings_, new_table);
    auto table = Open();
    auto cursor = Cursor(table);
    Insert(*cursor, "10");
    Insert(*cursor, "20");
  }

  std::shared_ptr<TDataTable> Open() {
    TTableOpenOptions options;
    options.directory = dir_;
    options.name = "NUMS";
    options.settings = &settings_;
    options.files = &files_;
    return TDataTable::Open(options);
  }
  std::unique_ptr<TDataCursor> Cursor(const std::shared_ptr<TDataTable>& table) {
    TSessionSettings session;
    session.lock_protocol = lpOptimistic;
    auto cursor = std::make_unique<TDataCursor>(table, session);
    cursor->SetCurrentIndex(1);
    return cursor;
  }
  void Insert(TDataCursor& c, const char* num) {
    TRecordBuffer r = c.NewRecord();
    ASSERT_TRUE(SetColumnFromText(r, c.fields()[1], num));
    c.Insert(r);
  }
  // NUM of every row in ByNum order, and the count the table keeps.
  std::string Rows(TDataCursor& c) {
    std::string out;
    c.First();
    while (c.Next()) out += std::to_string(*c.current().GetInteger(c.fields()[1])) + " ";
    return out + "(" + std::to_string(c.RecordCount()) + ")";
  }
  std::string Files() { return TableFiles(dir_, "NUMS"); }
  void FailNextDataWrite() {
    files_.Last(".dat")->FailNext(FaultOp::kWrite, platform::kErrorDiskFull);
  }

  platform::TempDir temp_;
  std::string dir_ = temp_.path() + "/";
  EngineSettings settings_;
  platform::FaultInjectingOpener files_;
};

TEST_F(DataCursorFaultTest, FailedWritesOfAChangeLeaveTheFilesAsTheyWere) {
  struct Case {
    const char* change;
    std::function<void(TDataCursor&)> run;
  } cases[] = {
      {"insert", [&](TDataCursor& c) { Insert(c, "30"); }},
      {"update",
       [&](TDataCursor& c) {
         c.First();
         ASSERT_TRUE(c.Next());
         TRecordBuffer r = c.current();
         ASSERT_TRUE(SetColumnFromText(r, c.fields()[1], "40"));
         c.Update(r);
       }},
      {"delete",
       [&](TDataCursor& c) {
         c.First();
         ASSERT_TRUE(c.Next());
         c.Delete();
       }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.change);
    std::string before = Files();
    {
      auto table = Open();
      auto cursor = Cursor(table);
      FailNextDataWrite();
      EXPECT_THROW(k.run(*cursor), ETabulaEngineError);
      EXPECT_EQ(Rows(*cursor), "10 20 (2)") << "the open table shows the earlier rows";
    }
    EXPECT_TRUE(Files() == before) << "nothing of the change is written, also on close";
    auto table = Open();
    auto cursor = Cursor(table);
    EXPECT_EQ(Rows(*cursor), "10 20 (2)");
  }
}

TEST_F(DataCursorFaultTest, FailedCommitThenRollbackLeavesTheFilesAsTheyWere) {
  std::string before = Files();
  {
    auto table = Open();
    auto cursor = Cursor(table);
    table->BeginTransaction();
    Insert(*cursor, "30");
    Insert(*cursor, "5");
    EXPECT_TRUE(Files() == before) << "a transaction writes nothing before its commit";
    FailNextDataWrite();
    EXPECT_THROW(table->CommitTransaction(false), ETabulaEngineError);
    table->RollbackTransaction();
    EXPECT_EQ(Rows(*cursor), "10 20 (2)");
  }
  EXPECT_TRUE(Files() == before);
  auto table = Open();
  auto cursor = Cursor(table);
  EXPECT_EQ(Rows(*cursor), "10 20 (2)");
  Insert(*cursor, "30");
  EXPECT_EQ(Rows(*cursor), "10 20 30 (3)") << "the table takes changes again";
}

}  // namespace
}  // namespace downsql::storage
