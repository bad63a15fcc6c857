// The table cursor on real files: natural and index order, insert, update
// and delete with their counters, checks, locks, change detection and
// transactions.
#include "db/storage/data_cursor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"
#include "db/storage/field_text.h"
#include "tests/platform/temp_dir.h"
#include "tests/storage/storage_test_util.h"

namespace downsql::storage {
namespace {

using testing::CodeOf;
using testing::Column;
using testing::ReadWhole;
using testing::TableFiles;

// A table of draws: ID AUTOINC, DAY DATE, NAME VARCHAR(10) (at most "zz"),
// NUM INTEGER (required) with the unique index ByNum and the case-
// insensitive index ByName.
class CursorTest : public ::testing::Test {
 protected:
  CursorTest() { CreateDraws(dir_); }
  void CreateDraws(const std::string& dir) {
    TNewTableDefinition new_table;
    new_table.table.fields = {Column("ID", kTypeInteger, kSubtypeAutoInc), Column("DAY", kTypeDate),
                              Column("NAME", kTypeString, 0, 10), Column("NUM", kTypeInteger)};
    new_table.table.fields[2].max_value = "zz";
    new_table.table.fields[3].required = true;
    TIndexDefinition by_num;
    by_num.name = "ByNum";
    by_num.unique = true;
    by_num.columns = {4};
    by_num.descending_of = {0};
    TIndexDefinition by_name;
    by_name.name = "ByName";
    by_name.case_insensitive = true;
    by_name.columns = {3};
    by_name.descending_of = {0};
    new_table.secondary = {by_num, by_name};
    TDataTable::Create(dir, "DRAWS", settings_, new_table);
  }

  std::shared_ptr<TDataTable> OpenTable(bool exclusive = false, TTableLocks* locks = nullptr,
                                        const std::string& dir = {}) {
    TTableOpenOptions options;
    options.directory = dir.empty() ? dir_ : dir;
    options.name = "DRAWS";
    options.settings = &settings_;
    options.exclusive = exclusive;
    options.locks = locks;
    return TDataTable::Open(options);
  }
  std::unique_ptr<TDataCursor> Cursor(const std::shared_ptr<TDataTable>& table,
                                      TRowEvents* events = nullptr) {
    TSessionSettings session;
    session.lock_retry_count = 1;
    session.lock_wait_time = 1;
    session.lock_protocol = lpOptimistic;
    return std::make_unique<TDataCursor>(table, session, events);
  }
  const TFieldDef& F(TDataCursor& c, int i) { return c.fields()[static_cast<size_t>(i)]; }
  TRecordBuffer Row(TDataCursor& c, const char* id, const char* day, const char* name,
                    const char* num) {
    TRecordBuffer r = c.NewRecord();
    const char* texts[] = {id, day, name, num};
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(SetColumnFromText(r, F(c, i), texts[i]));
    return r;
  }
  void Insert(TDataCursor& c, const char* id, const char* day, const char* name, const char* num) {
    TRecordBuffer r = Row(c, id, day, name, num);
    c.Insert(r);
  }
  int64_t Int(TDataCursor& c, int column) {
    return c.current().GetInteger(F(c, column)).value_or(0);
  }
  // NUM of every record in the cursor's order.
  std::vector<int64_t> Nums(TDataCursor& c) {
    std::vector<int64_t> nums;
    c.First();
    while (c.Next()) nums.push_back(Int(c, 3));
    return nums;
  }
  std::string Files() { return TableFiles(dir_, "DRAWS"); }

  platform::TempDir temp_;
  std::string dir_ = temp_.path() + "/";
  EngineSettings settings_;
};

TEST_F(CursorTest, InsertsAndWalksNaturalOrderBothWays) {
  auto table = OpenTable();
  auto c = Cursor(table);
  Insert(*c, "", "2008-03-01", "b", "30");
  Insert(*c, "", "2008-03-05", "a", "10");
  Insert(*c, "", "", "", "20");
  EXPECT_EQ(Nums(*c), (std::vector<int64_t>{30, 10, 20}));
  c->Last();
  ASSERT_TRUE(c->Prior());
  EXPECT_EQ(Int(*c, 3), 20);
  EXPECT_EQ(c->current_slot(), 3u);
  EXPECT_EQ(c->current().record_id(), 3);
  EXPECT_EQ(c->RecordCount(), 3u);
  c->GoToSlot(2);
  EXPECT_EQ(Int(*c, 3), 10);
  EXPECT_EQ(CodeOf([&] { c->GoToSlot(4); }), kErrRecordNotFound);
  c->First();
  EXPECT_FALSE(c->Prior());
  EXPECT_EQ(CodeOf([&] { c->current(); }), kErrNoCurrentRecord);
}

TEST_F(CursorTest, AutoIncTakesLastPlusOneAndExplicitValuesRaiseIt) {
  auto table = OpenTable();
  auto c = Cursor(table);
  TRecordBuffer r = Row(*c, "", "", "", "1");
  c->Insert(r);
  EXPECT_EQ(r.GetInteger(F(*c, 0)), 1);
  EXPECT_EQ(r.link(), 1);  // the new slot, handed back in bytes 1..4
  Insert(*c, "50", "", "", "2");
  EXPECT_EQ(c->LastAutoIncValue(), 50u);
  Insert(*c, "7", "", "", "3");  // a smaller explicit value leaves it
  Insert(*c, "", "", "", "4");
  EXPECT_EQ(Int(*c, 0), 51);
  c->SetLastAutoIncValue(2147483647);
  Insert(*c, "", "", "", "5");
  EXPECT_EQ(Int(*c, 0), 1);  // wraps to 1, never 0
  EXPECT_EQ(table->last_record_id(), 5u);
}

TEST_F(CursorTest, IndexOrderAndFindKey) {
  auto table = OpenTable();
  auto c = Cursor(table);
  Insert(*c, "", "", "Cc", "30");
  Insert(*c, "", "", "aa", "10");
  Insert(*c, "", "", "BB", "20");
  c->SetCurrentIndex(1);  // ByNum
  EXPECT_EQ(Nums(*c), (std::vector<int64_t>{10, 20, 30}));
  c->SetCurrentIndex(2);  // ByName, case-insensitive: aa, BB, Cc
  EXPECT_EQ(Nums(*c), (std::vector<int64_t>{10, 20, 30}));
  c->Last();
  ASSERT_TRUE(c->Prior());
  EXPECT_EQ(Int(*c, 3), 30);
  c->SetCurrentIndex(1);
  EXPECT_TRUE(c->FindKey(Row(*c, "", "", "", "20")));
  EXPECT_EQ(c->current_slot(), 3u);
  ASSERT_TRUE(c->Next());
  EXPECT_EQ(Int(*c, 3), 30);
  EXPECT_FALSE(c->FindKey(Row(*c, "", "", "", "15")));
  ASSERT_TRUE(c->Next());  // positioned before the next greater key
  EXPECT_EQ(Int(*c, 3), 20);
  EXPECT_EQ(c->RecordCount(), 3u);
  EXPECT_EQ(CodeOf([&] { c->SetCurrentIndex(9); }), kErrRecordNotFound);
}

TEST_F(CursorTest, UpdateMovesIndexKeysAndDeleteRemovesThem) {
  auto table = OpenTable();
  auto c = Cursor(table);
  Insert(*c, "", "", "x", "10");
  Insert(*c, "", "", "y", "20");
  c->SetCurrentIndex(1);
  ASSERT_TRUE(c->FindKey(Row(*c, "", "", "", "10")));
  TRecordBuffer changed = c->current();
  changed.SetInteger(F(*c, 3), 40);
  c->Update(changed);
  EXPECT_EQ(Nums(*c), (std::vector<int64_t>{20, 40}));
  ASSERT_TRUE(c->FindKey(Row(*c, "", "", "", "20")));
  c->Delete();
  EXPECT_TRUE(c->Next());  // from between the deleted record's neighbours
  EXPECT_EQ(Int(*c, 3), 40);
  EXPECT_EQ(Nums(*c), (std::vector<int64_t>{40}));
  EXPECT_EQ(table->record_count(), 1u);
}

TEST_F(CursorTest, SecondCursorsChangeMakesFirstCursorsUpdateFail) {
  auto table = OpenTable();
  auto a = Cursor(table);
  auto b = Cursor(table);
  Insert(*a, "", "", "x", "10");
  a->First();
  ASSERT_TRUE(a->Next());
  b->First();
  ASSERT_TRUE(b->Next());
  TRecordBuffer by_b = b->current();
  by_b.SetInteger(F(*b, 3), 11);
  b->Update(by_b);
  TRecordBuffer by_a = a->current();
  by_a.SetInteger(F(*a, 3), 12);
  EXPECT_EQ(CodeOf([&] { a->Update(by_a); }), kErrRecordChanged);
  b->Delete();
  EXPECT_EQ(CodeOf([&] { a->Delete(); }), kErrRecordChanged);
}

TEST_F(CursorTest, DeleteThenInsertReusesTheSlot) {
  auto table = OpenTable();
  auto c = Cursor(table);
  Insert(*c, "", "", "", "1");
  Insert(*c, "", "", "", "2");
  uint64_t length = std::filesystem::file_size(dir_ + "DRAWS.dat");
  c->GoToSlot(1);
  c->Delete();
  EXPECT_EQ(table->data().free_chain_head(), 1u);
  Insert(*c, "", "", "", "3");
  EXPECT_EQ(c->current_slot(), 1u);
  EXPECT_EQ(table->data().free_chain_head(), 0u);
  EXPECT_EQ(std::filesystem::file_size(dir_ + "DRAWS.dat"), length);
  EXPECT_EQ(Nums(*c), (std::vector<int64_t>{3, 2}));
}

TEST_F(CursorTest, RefusedInsertLeavesEveryFileByteAsItWas) {
  auto table = OpenTable();
  auto c = Cursor(table);
  Insert(*c, "", "", "", "1");
  Insert(*c, "", "", "", "2");
  c->GoToSlot(1);
  c->Delete();  // a free chain to keep
  std::string before = Files();
  struct Case {
    const char *id, *name, *num;
    uint32_t code;
  } cases[] = {
      {"", "", "2", kErrDuplicateKey},     // duplicate in ByNum
      {"", "", "", kErrValueRequired},     // NUM is required
      {"", "zzz", "9", kErrAboveMaximum},  // NAME above "zz"
  };
  for (const Case& k : cases) {
    TRecordBuffer r = Row(*c, k.id, "", k.name, k.num);
    EXPECT_EQ(CodeOf([&] { c->Insert(r); }), k.code) << k.num << k.name;
    EXPECT_EQ(Files(), before);
  }
  EXPECT_EQ(table->record_count(), 1u);
  EXPECT_EQ(table->data().free_chain_head(), 1u);
  EXPECT_EQ(table->last_autoinc(), 2u);
}

TEST_F(CursorTest, TransactionKeepsChangesInMemoryUntilCommit) {
  auto table = OpenTable();
  auto c = Cursor(table);
  Insert(*c, "", "", "", "1");
  std::string before = Files();
  int32_t data_count = table->data().update_count();
  int32_t index_count = table->index().update_count();

  table->BeginTransaction();
  Insert(*c, "", "", "", "2");
  Insert(*c, "", "", "", "3");
  EXPECT_EQ(Files(), before);
  EXPECT_EQ(Nums(*c), (std::vector<int64_t>{1, 2, 3}));
  table->RollbackTransaction();
  EXPECT_EQ(Files(), before);
  EXPECT_EQ(table->data().update_count(), data_count);
  EXPECT_EQ(table->index().update_count(), index_count);
  EXPECT_EQ(Nums(*c), (std::vector<int64_t>{1}));

  table->BeginTransaction();
  Insert(*c, "", "", "", "4");
  EXPECT_EQ(Files(), before);
  table->CommitTransaction(/*force_flush=*/true);
  EXPECT_NE(Files(), before);
  auto other = OpenTable();  // a second open reads what reached the files
  auto d = Cursor(other);
  EXPECT_EQ(Nums(*d), (std::vector<int64_t>{1, 4}));
}

TEST_F(CursorTest, SecondTableObjectSeesChangesThroughUpdateCounts) {
  auto first = OpenTable();
  auto second = OpenTable();  // its own buffers, as another session has
  auto a = Cursor(first);
  auto b = Cursor(second);
  Insert(*a, "", "", "", "1");
  EXPECT_EQ(Nums(*b), (std::vector<int64_t>{1}));
  b->SetCurrentIndex(1);
  Insert(*a, "", "", "", "0");
  EXPECT_EQ(Nums(*b), (std::vector<int64_t>{0, 1}));
  EXPECT_EQ(b->RecordCount(), 2u);
  // Both hand out new RecordIDs from the same counter.
  Insert(*b, "", "", "", "5");
  EXPECT_EQ(b->current().record_id(), 3);
  // b stays on its record by key while a changes the tree around it.
  ASSERT_TRUE(b->FindKey(Row(*b, "", "", "", "1")));
  Insert(*a, "", "", "", "3");
  Insert(*a, "", "", "", "-1");
  ASSERT_TRUE(b->Next());
  EXPECT_EQ(Int(*b, 3), 3);
  ASSERT_TRUE(b->Prior());
  ASSERT_TRUE(b->Prior());
  EXPECT_EQ(Int(*b, 3), 0);
}

// A walk copies what it reads ahead (slots read in runs, the entries of the
// current leaf); a change through another cursor of the same table must
// show at the next step, in both orders, held or not.
TEST_F(CursorTest, StepsSeeChangesOfAnotherCursorOfTheSameTable) {
  for (bool held : {false, true}) {
    SCOPED_TRACE(held ? "held" : "not held");
    std::filesystem::remove(dir_ + "DRAWS.dat");
    std::filesystem::remove(dir_ + "DRAWS.idx");
    TNewTableDefinition plain;
    plain.table.fields = {Column("NUM", kTypeInteger)};
    TIndexDefinition by_num;
    by_num.name = "ByNum";
    by_num.unique = true;
    by_num.columns = {1};
    by_num.descending_of = {0};
    plain.secondary = {by_num};
    TDataTable::Create(dir_, "DRAWS", settings_, plain);
    auto table = OpenTable();
    auto writer = Cursor(table);
    auto reader = Cursor(table);
    auto put = [&](int64_t num) {
      TRecordBuffer r = writer->NewRecord();
      r.SetInteger(writer->fields()[0], num);
      writer->Insert(r);
    };
    for (int64_t num : {10, 30, 50}) put(num);
    std::optional<TTableReadHold> hold;
    if (held) hold.emplace(*table);
    const TFieldDef& num = reader->fields()[0];

    reader->SetCurrentIndex(1);
    ASSERT_TRUE(reader->Next());
    EXPECT_EQ(reader->current().GetInteger(num), 10);
    put(20);
    writer->SetCurrentIndex(1);
    TRecordBuffer key = writer->NewRecord();
    key.SetInteger(num, 30);
    ASSERT_TRUE(writer->FindKey(key));
    writer->Delete();
    ASSERT_TRUE(reader->Next());
    EXPECT_EQ(reader->current().GetInteger(num), 20);
    ASSERT_TRUE(reader->Next());
    EXPECT_EQ(reader->current().GetInteger(num), 50);

    reader->SetCurrentIndex(kNaturalOrder);
    ASSERT_TRUE(reader->Next());  // slot 1: 10, and the slots after it read ahead
    writer->GoToSlot(3);
    TRecordBuffer changed = writer->current();
    changed.SetInteger(num, 55);
    writer->Update(changed);
    ASSERT_TRUE(reader->Next());  // slot 2 was deleted, slot 3 changed
    EXPECT_EQ(reader->current().GetInteger(num), 55);
    ASSERT_TRUE(reader->Next());
    EXPECT_EQ(reader->current().GetInteger(num), 20);
    EXPECT_FALSE(reader->Next());
  }
}

TEST_F(CursorTest, RecordLockOfOneCursorRefusesAnother) {
  auto table = OpenTable();
  TSessionSettings pessimistic;
  pessimistic.lock_retry_count = 1;
  pessimistic.lock_wait_time = 1;
  auto a = std::make_unique<TDataCursor>(table, pessimistic);
  auto b = Cursor(table);
  Insert(*a, "", "", "", "1");
  a->Edit();
  b->First();
  ASSERT_TRUE(b->Next());
  TRecordBuffer r = b->current();
  EXPECT_EQ(CodeOf([&] { b->Update(r); }), kErrRecordLock);
  a->Cancel();
  EXPECT_EQ(CodeOf([&] { b->Update(r); }), 0u);
}

// A cursor put back into the state of a new one: natural order, before the
// first record, no filter or hidden columns, no record lock of an edit, the
// others' changes seen and the new session settings in force.
TEST_F(CursorTest, ReopenedCursorActsAsANewOne) {
  auto table = OpenTable();
  TSessionSettings pessimistic;
  pessimistic.lock_retry_count = 1;
  pessimistic.lock_wait_time = 1;
  auto a = std::make_unique<TDataCursor>(table, pessimistic);
  auto b = Cursor(table);
  Insert(*a, "", "", "", "30");
  Insert(*a, "", "", "", "10");
  a->SetCurrentIndex(1);
  a->set_filter([&](const TRecordBuffer& r) { return r.GetInteger(F(*a, 3)) != 10; });
  a->set_hidden_columns({true});
  ASSERT_TRUE(a->Next());
  EXPECT_EQ(Int(*a, 3), 30);
  a->Edit();
  Insert(*b, "", "", "", "20");

  TSessionSettings optimistic = pessimistic;
  optimistic.lock_protocol = lpOptimistic;
  a->Reopen(optimistic);
  EXPECT_FALSE(a->has_current());
  EXPECT_EQ(a->current_index(), kNaturalOrder);
  EXPECT_FALSE(a->has_filter());
  EXPECT_TRUE(a->hidden_columns().empty());
  b->GoToSlot(1);
  TRecordBuffer r = b->current();
  EXPECT_EQ(CodeOf([&] { b->Update(r); }), 0u);  // the edit's lock is gone
  EXPECT_EQ(Nums(*a), (std::vector<int64_t>{30, 10, 20}));
  a->GoToSlot(2);
  a->Edit();  // optimistic: no lock taken
  b->GoToSlot(2);
  r = b->current();
  EXPECT_EQ(CodeOf([&] { b->Update(r); }), 0u);
}

TEST_F(CursorTest, TableLockCoversEveryRecordLock) {
  auto first = OpenTable();
  auto second = OpenTable();
  auto a = Cursor(first);
  auto b = Cursor(second);
  Insert(*a, "", "", "", "1");
  a->LockTable();
  EXPECT_EQ(CodeOf([&] { b->LockTable(); }), kErrTableLock);
  EXPECT_EQ(CodeOf([&] { Insert(*b, "", "", "", "2"); }), kErrRecordLock);
  Insert(*a, "", "", "", "3");  // the holder still writes
  a->UnlockTable();
  Insert(*b, "", "", "", "2");
  EXPECT_EQ(Nums(*a), (std::vector<int64_t>{1, 3, 2}));
}

// Lock-file locks that log their calls (R/r read lock and unlock, W/w write
// lock and unlock) and, like the lock file, refuse the write lock over this
// table's own read lock.
class LoggingLocks : public TTableLocks {
 public:
  bool ReadLock() override {
    if (read_ || write_) return false;
    read_ = true;
    log += "R";
    return true;
  }
  void ReadUnlock() override {
    if (read_) log += "r";
    read_ = false;
  }
  void WriteLock(bool) override {
    if (read_) throw ETabulaEngineError(kErrTableWriteLock, {"DRAWS"});
    if (!write_) log += "W";
    write_ = true;
  }
  void WriteUnlock(bool) override {
    if (write_) log += "w";
    write_ = false;
  }
  bool HoldsTransactionByte() const override { return byte_held; }
  std::string log;
  bool byte_held = false;

 private:
  bool read_ = false, write_ = false;
};

TEST_F(CursorTest, ReadHoldLocksOnceForAScanAndStepsAsideForAChange) {
  LoggingLocks locks;
  auto table = OpenTable(false, &locks);
  auto c = Cursor(table);
  Insert(*c, "", "", "", "1");
  Insert(*c, "", "", "", "2");
  locks.log.clear();
  EXPECT_EQ(Nums(*c), (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(locks.log, "RrRrRrRr");  // First and three Next, each on its own
  locks.log.clear();
  {
    TTableReadHold hold(*table);
    EXPECT_EQ(Nums(*c), (std::vector<int64_t>{1, 2}));
    Insert(*c, "", "", "", "3");
    EXPECT_EQ(Nums(*c), (std::vector<int64_t>{1, 2, 3}));
  }
  EXPECT_EQ(locks.log, "RrWwRr");
}

// Inside the table's own transaction with its transaction byte held, changes
// take no write region (nobody else can write until the commit, which takes
// it); without the byte, and once the transaction is over, each change
// takes and releases it as before.
TEST_F(CursorTest, ChangesInsideAnOwnTransactionLeaveTheWriteRegionToTheCommit) {
  struct Case {
    bool byte_held;
    bool hold;  // a read hold around the transaction
    const char* changes;
    const char* commit;
  } cases[] = {
      {true, false, "", "Ww"},
      {true, true, "", "rWwR"},
      {false, false, "WwWwWw", "Ww"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.changes);
    platform::TempDir temp;
    const std::string dir = temp.path() + "/";
    CreateDraws(dir);
    LoggingLocks locks;
    auto table = OpenTable(false, &locks, dir);
    auto c = Cursor(table);
    Insert(*c, "", "", "", "1");
    std::optional<TTableReadHold> hold;
    if (k.hold) hold.emplace(*table);
    table->BeginTransaction();
    locks.byte_held = k.byte_held;
    c->First();
    ASSERT_TRUE(c->Next());
    TRecordBuffer changed = c->current();
    ASSERT_TRUE(SetColumnFromText(changed, F(*c, 3), "5"));
    locks.log.clear();
    c->Update(changed);
    c->Delete();
    Insert(*c, "", "", "", "2");
    EXPECT_EQ(locks.log, k.changes);
    locks.log.clear();
    table->CommitTransaction(false, /*end=*/false);  // stays in the transaction
    EXPECT_EQ(locks.log, k.commit);
    locks.log.clear();
    Insert(*c, "", "", "", "3");
    table->CommitTransaction(false);
    locks.byte_held = false;
    EXPECT_EQ(locks.log, std::string(k.byte_held ? "" : "Ww") + k.commit);
    locks.log.clear();
    Insert(*c, "", "", "", "4");
    EXPECT_EQ(locks.log, k.hold ? "rWwR" : "Ww");
    hold.reset();
    EXPECT_EQ(Nums(*c), (std::vector<int64_t>{2, 3, 4}));
  }
}

// A change by another table object drops this one's buffers while a tree
// still holds its pages pinned: letting go of the pins afterwards must not
// touch the dropped pages (the address sanitizer sees it when it does).
TEST_F(CursorTest, TreePinsSurviveBuffersDroppedForAnotherWritersChange) {
  auto first = OpenTable();
  auto second = OpenTable();
  auto a = Cursor(first);
  auto b = Cursor(second);
  Insert(*a, "", "", "", "1");
  {
    auto tree = first->Tree(first->indexes()[1]);
    EXPECT_NE(tree->First().page, 0u);
    Insert(*b, "", "", "", "2");
    EXPECT_TRUE(first->CheckForChanges());
  }
  EXPECT_EQ(Nums(*a), (std::vector<int64_t>{1, 2}));
}

TEST_F(CursorTest, ReadHoldSynchronisesWhenItBegins) {
  auto first = OpenTable();
  auto second = OpenTable();
  auto a = Cursor(first);
  auto b = Cursor(second);
  Insert(*a, "", "", "", "1");
  EXPECT_EQ(Nums(*b), (std::vector<int64_t>{1}));
  Insert(*a, "", "", "", "2");
  {
    TTableReadHold hold(*second);
    EXPECT_EQ(Nums(*b), (std::vector<int64_t>{1, 2}));
  }
  Insert(*a, "", "", "", "3");
  EXPECT_EQ(Nums(*b), (std::vector<int64_t>{1, 2, 3}));
}

// New records of a transaction hold their record locks in runs to the end of
// the transaction: another table object's table lock waits for the commit,
// while this table's own cursors and table lock go on as before.
TEST_F(CursorTest, NewRecordsOfATransactionKeepTheirLocksToItsEnd) {
  auto first = OpenTable();
  auto second = OpenTable();
  auto a = Cursor(first);
  auto b = Cursor(second);
  TSessionSettings pessimistic;
  pessimistic.lock_retry_count = 1;
  pessimistic.lock_wait_time = 1;
  TDataCursor editor(first, pessimistic);
  first->BeginTransaction();
  Insert(*a, "", "", "", "1");
  Insert(*a, "", "", "", "2");
  EXPECT_EQ(CodeOf([&] { b->LockTable(); }), kErrTableLock);
  a->LockTable();
  a->UnlockTable();
  Insert(*a, "", "", "", "3");
  editor.GoToSlot(3);
  editor.Edit();
  TRecordBuffer r = editor.current();
  ASSERT_TRUE(SetColumnFromText(r, F(editor, 3), "5"));
  editor.Update(r);
  first->CommitTransaction(false);
  EXPECT_EQ(CodeOf([&] { b->LockTable(); }), 0u);
  b->UnlockTable();
  EXPECT_EQ(Nums(*b), (std::vector<int64_t>{1, 2, 5}));
}

TEST_F(CursorTest, ReadOnlyTableRefusesWrites) {
  TTableOpenOptions options;
  options.directory = dir_;
  options.name = "DRAWS";
  options.settings = &settings_;
  options.read_only = true;
  auto c = Cursor(TDataTable::Open(options));
  EXPECT_EQ(CodeOf([&] { Insert(*c, "", "", "", "1"); }), kErrAccessDenied);
}

TEST_F(CursorTest, ExclusiveTableWritesWhenItsLastCursorCloses) {
  std::string before = Files();
  auto table = OpenTable(/*exclusive=*/true);
  auto c = Cursor(table);
  Insert(*c, "", "", "", "1");
  // Kept in memory while the table is held. (Windows lets no other handle
  // read the files of an exclusive table: there is nothing to compare.)
  const std::string held = Files();
  if (held != "|") {
    EXPECT_EQ(held, before);
  }
  c.reset();
  EXPECT_NE(Files(), before);
  table.reset();
  auto d = Cursor(OpenTable());
  EXPECT_EQ(Nums(*d), (std::vector<int64_t>{1}));
}

TEST(CursorEncrypted, IndexAndBlobFilesUseTheTablesPassword) {
  platform::TempDir temp;
  std::string dir = temp.path() + "/";
  EngineSettings settings;
  TNewTableDefinition new_table;
  new_table.table.fields = {Column("NUM", kTypeInteger), Column("NOTE", kTypeBlob, 22)};
  new_table.table.encrypted = true;
  new_table.table.password = "tajne";
  TIndexDefinition by_num;
  by_num.name = "ByNum";
  by_num.unique = true;
  by_num.columns = {1};
  by_num.descending_of = {1};
  new_table.secondary = {by_num};
  TDataTable::Create(dir, "E", settings, new_table);
  TTableOpenOptions options;
  options.directory = dir;
  options.name = "E";
  options.settings = &settings;
  options.passwords = {"wrong", "tajne"};
  {
    // One record on its own, two appended inside a transaction (written at
    // its commit, encrypted as well).
    std::shared_ptr<TDataTable> t = TDataTable::Open(options);
    TDataCursor c(t, TSessionSettings{});
    for (int n : {1, 3, 2}) {
      if (n == 3) t->BeginTransaction();
      TRecordBuffer r = c.NewRecord();
      r.SetInteger(c.fields()[0], n);
      c.SetBlob(r, c.fields()[1], std::vector<uint8_t>(100, uint8_t(n)));
      c.Insert(r);
    }
    t->CommitTransaction(false);
  }
  TDataCursor c(TDataTable::Open(options), TSessionSettings{});
  c.SetCurrentIndex(1);
  std::vector<int64_t> order;
  c.First();
  while (c.Next()) {
    order.push_back(*c.current().GetInteger(c.fields()[0]));
    EXPECT_EQ(c.ReadBlob(c.fields()[1]), std::vector<uint8_t>(100, uint8_t(order.back())));
  }
  EXPECT_EQ(order, (std::vector<int64_t>{3, 2, 1}));
  EXPECT_EQ(ReadWhole(dir + "E.idx").find(std::string(4, '\0') + "\x80"), std::string::npos);
  options.passwords = {"wrong"};
  EXPECT_EQ(CodeOf([&] { TDataTable::Open(options); }), kErrPasswordRequired);
}

TEST(CursorInMemory, TableInMemoryWorksAndIsDeleted) {
  EngineSettings settings;
  TNewTableDefinition new_table;
  new_table.table.fields = {Column("NUM", kTypeInteger)};
  TDataTable::Create("", "MEMTAB", settings, new_table, /*in_memory=*/true);
  TTableOpenOptions options;
  options.name = "MEMTAB";
  options.settings = &settings;
  options.in_memory = true;
  {
    TDataCursor c(TDataTable::Open(options), TSessionSettings{});
    TRecordBuffer r = c.NewRecord();
    r.SetInteger(c.fields()[0], 42);
    c.Insert(r);
  }
  {
    TDataCursor c(TDataTable::Open(options), TSessionSettings{});
    c.First();
    ASSERT_TRUE(c.Next());
    EXPECT_EQ(c.current().GetInteger(c.fields()[0]), 42);
  }
  EXPECT_FALSE(std::filesystem::exists("MEMTAB.dat"));
  TDataTable::Delete("", "MEMTAB", settings, /*in_memory=*/true);
  EXPECT_EQ(CodeOf([&] { TDataTable::Open(options); }), kErrFileNotFound);
}

// Answers the error event with the actions given, in turn.
class ScriptedEvents : public TRowEvents {
 public:
  std::vector<TDataAction> answers;
  std::function<void()> on_error;
  int before = 0, after = 0, errors = 0;
  void BeforeRow(TRowOperation, const std::string&, const TRecordBuffer&) override { ++before; }
  void AfterRow(TRowOperation, const std::string&, const TRecordBuffer&) override { ++after; }
  TDataAction RowError(TRowOperation, const std::string&, const TRecordBuffer&,
                       const std::exception&) override {
    if (on_error) on_error();
    return answers.at(static_cast<size_t>(errors++));
  }
};

TEST_F(CursorTest, ErrorEventRetriesAbortsOrFails) {
  auto table = OpenTable();
  ScriptedEvents events;
  auto c = Cursor(table, &events);
  Insert(*c, "", "", "", "1");
  EXPECT_EQ(events.before, 1);
  EXPECT_EQ(events.after, 1);

  // Retry after the handler removed the cause.
  auto other = Cursor(table);
  other->GoToSlot(1);
  events.answers = {daRetry};
  events.on_error = [&] {
    if (other->has_current()) other->Delete();
  };
  Insert(*c, "", "", "", "1");
  EXPECT_EQ(events.errors, 1);
  EXPECT_EQ(Nums(*c), (std::vector<int64_t>{1}));

  events.answers = {daFail, daAbort};
  events.errors = 0;
  events.on_error = nullptr;
  EXPECT_EQ(CodeOf([&] { Insert(*c, "", "", "", "1"); }), kErrDuplicateKey);
  EXPECT_THROW(Insert(*c, "", "", "", "1"), EOperationAborted);
  EXPECT_EQ(events.after, 2);
}

TEST_F(CursorTest, MissingIndexFileIsMadeAgainEmpty) {
  {
    auto table = OpenTable();
    Insert(*Cursor(table), "", "", "", "1");
  }
  std::filesystem::remove(dir_ + "DRAWS.idx");
  auto table = OpenTable();
  EXPECT_FALSE(table->indexes_usable());
  EXPECT_EQ(std::filesystem::file_size(dir_ + "DRAWS.idx"), 25088u);
  auto c = Cursor(table);
  EXPECT_EQ(Nums(*c), (std::vector<int64_t>{1}));
  EXPECT_EQ(CodeOf([&] { c->SetCurrentIndex(1); }), kErrRecordNotFound);
}

TEST_F(CursorTest, VerificationFindsADamagedTree) {
  {
    auto table = OpenTable();
    auto c = Cursor(table);
    for (const char* num : {"1", "2", "3"}) Insert(*c, "", "", "", num);
  }
  TTableOpenOptions options;
  options.directory = dir_;
  options.name = "DRAWS";
  options.settings = &settings_;
  options.verify = true;
  EXPECT_EQ(CodeOf([&] { TDataTable::Open(options); }), 0u);
  // Swap the two first keys of the one leaf page of ByNum (page 2).
  std::fstream f(dir_ + "DRAWS.idx", std::ios::in | std::ios::out | std::ios::binary);
  uint32_t page_size = 4096, key = 5, entry = key + 4;
  uint64_t entries = 25088 + page_size + 13;
  std::string a(entry, '\0'), b(entry, '\0');
  f.seekg(static_cast<std::streamoff>(entries));
  f.read(a.data(), entry);
  f.read(b.data(), entry);
  f.seekp(static_cast<std::streamoff>(entries));
  f.write(b.data(), entry);
  f.write(a.data(), entry);
  f.close();
  EXPECT_EQ(CodeOf([&] { TDataTable::Open(options); }), kErrIndexPageCorrupt);
}

TEST_F(CursorTest, MaintenanceNeedsTheTableExclusively) {
  {
    auto shared = OpenTable();
    EXPECT_EQ(CodeOf([&] { shared->Empty(); }), kErrExclusiveRequired);
  }
  auto table = OpenTable(/*exclusive=*/true);
  auto c = Cursor(table);
  Insert(*c, "", "", "b", "2");
  Insert(*c, "", "", "B", "3");
  TIndexDefinition unique_name;
  unique_name.name = "UniqueName";
  unique_name.unique = true;
  unique_name.case_insensitive = true;
  unique_name.columns = {3};
  unique_name.descending_of = {1};
  EXPECT_EQ(CodeOf([&] { table->AddIndex(unique_name); }), kErrDuplicateKey);  // "b" and "B"
  unique_name.case_insensitive = false;
  EXPECT_EQ(table->AddIndex(unique_name), 3);
  c->SetCurrentIndex(3);  // descending: "b" before "B"
  EXPECT_EQ(Nums(*c), (std::vector<int64_t>{2, 3}));
  c->SetCurrentIndex(kNaturalOrder);
  table->DropIndex("byname");
  EXPECT_EQ(CodeOf([&] { table->DropIndex("ByName"); }), kErrInvalidIndexName);
  table->Empty();
  EXPECT_EQ(Nums(*c), (std::vector<int64_t>{}));
  EXPECT_EQ(table->record_count(), 0u);
}

}  // namespace
}  // namespace downsql::storage

namespace downsql::storage {
namespace {

class CursorBlobTest : public ::testing::Test {
 protected:
  CursorBlobTest() {
    TNewTableDefinition new_table;
    new_table.table.fields = {Column("NUM", kTypeInteger), Column("NOTE", kTypeBlob, 22),
                              Column("DATA", kTypeBlob)};
    new_table.table.fields[2].compression = 6;
    new_table.table.blob_block_size = 64;
    TDataTable::Create(dir_, "B", settings_, new_table);
    TTableOpenOptions options;
    options.directory = dir_;
    options.name = "B";
    options.settings = &settings_;
    table_ = TDataTable::Open(options);
    cursor_ = std::make_unique<TDataCursor>(table_, TSessionSettings{});
  }
  std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
  }
  const TFieldDef& F(int i) { return cursor_->fields()[static_cast<size_t>(i)]; }
  void Insert(int num, std::vector<uint8_t> note, std::vector<uint8_t> data) {
    TRecordBuffer r = cursor_->NewRecord();
    r.SetInteger(F(0), num);
    cursor_->SetBlob(r, F(1), std::move(note));
    cursor_->SetBlob(r, F(2), std::move(data));
    cursor_->Insert(r);
  }

  platform::TempDir temp_;
  std::string dir_ = temp_.path() + "/";
  EngineSettings settings_;
  std::shared_ptr<TDataTable> table_;
  std::unique_ptr<TDataCursor> cursor_;
};

TEST_F(CursorBlobTest, ValuesAreWrittenReadRewrittenAndFreed) {
  Insert(1, Bytes(300, 1), Bytes(1000, 2));
  EXPECT_EQ(cursor_->ReadBlob(F(1)), Bytes(300, 1));
  EXPECT_EQ(cursor_->ReadBlob(F(2)), Bytes(1000, 2));
  EXPECT_GT(cursor_->current().GetBlobBlock(F(1)), 0);
  uint32_t first_version = cursor_->current().GetBlobVersion(F(1));

  TRecordBuffer changed = cursor_->current();
  cursor_->SetBlob(changed, F(1), Bytes(10, 3));
  cursor_->SetBlob(changed, F(2), {});  // NULL frees the chain
  cursor_->Update(changed);
  EXPECT_EQ(cursor_->ReadBlob(F(1)), Bytes(10, 3));
  EXPECT_GT(cursor_->current().GetBlobVersion(F(1)), first_version);
  EXPECT_TRUE(cursor_->current().IsNull(F(2)));

  uint64_t length = std::filesystem::file_size(dir_ + "B.blb");
  cursor_->Delete();
  EXPECT_NE(table_->blob()->free_head(), 0u);
  Insert(2, Bytes(300, 4), {});  // reuses the freed blocks
  EXPECT_EQ(std::filesystem::file_size(dir_ + "B.blb"), length);
  EXPECT_EQ(cursor_->ReadBlob(F(1)), Bytes(300, 4));

  // A second open reads the values from the files.
  TTableOpenOptions options;
  options.directory = dir_;
  options.name = "B";
  options.settings = &settings_;
  TDataCursor other(TDataTable::Open(options), TSessionSettings{});
  other.First();
  ASSERT_TRUE(other.Next());
  EXPECT_EQ(other.ReadBlob(other.fields()[1]), Bytes(300, 4));
}

TEST_F(CursorBlobTest, CopiedReferenceGetsItsOwnChain) {
  Insert(1, Bytes(200, 5), Bytes(50, 6));
  TRecordBuffer copy = cursor_->current();  // holds record 1's references
  copy.SetInteger(F(0), 2);
  cursor_->Insert(copy);
  EXPECT_NE(cursor_->current().GetBlobBlock(F(1)), 0);
  cursor_->GoToSlot(1);
  int32_t original = cursor_->current().GetBlobBlock(F(1));
  cursor_->Delete();
  cursor_->GoToSlot(2);
  EXPECT_NE(cursor_->current().GetBlobBlock(F(1)), original);
  EXPECT_EQ(cursor_->ReadBlob(F(1)), Bytes(200, 5));
  EXPECT_EQ(cursor_->ReadBlob(F(2)), Bytes(50, 6));
  TRecordBuffer forged = cursor_->NewRecord();
  forged.SetBlobRef(F(1), -77, 0);
  EXPECT_EQ(CodeOf([&] { cursor_->Insert(forged); }), kErrInvalidBlobHandle);
}

}  // namespace
}  // namespace downsql::storage
