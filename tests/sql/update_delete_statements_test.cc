// UPDATE and DELETE: each qualifying record changed once, own transactions
// with interval commits, progress, rollback on error and abort.
#include <gtest/gtest.h>

#include "tests/sql/statement_test_util.h"

namespace downsql::sql {
namespace {

using testing::StatementDb;

// A table of n rows: id 1..n (primary key), k = id, a pad that makes a
// record 240 bytes (so an own transaction commits every 273 rows).
void Fill(StatementDb& db, int n) {
  db.Run("CREATE TABLE t (id INTEGER PRIMARY KEY, k INTEGER, pad VARCHAR(200))");
  db.Run("CREATE INDEX byk ON t (k)");
  db.Run("START TRANSACTION");
  TQueryStatement insert(db.database());
  insert.Prepare("INSERT INTO t VALUES (?, ?, 'x')");
  for (int i = 1; i <= n; ++i) insert.Execute({TValue::Integer(i), TValue::Integer(i)});
  db.Run("COMMIT");
}

TEST(UpdateTest, KeyChangesUpdateEachRecordOnce) {
  const struct {
    const char* set;
    int (*expect)(int id);
  } cases[] = {
      {"id = id + 100, k = k + 100", [](int id) { return id + 100; }},
      {"id = id - 100, k = k - 100", [](int id) { return id - 100; }},
      {"id = 0 - id, k = 21 - k", [](int id) { return -id; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.set);
    StatementDb db;
    Fill(db, 20);
    EXPECT_EQ(db.Run(std::string("UPDATE t SET ") + c.set), 20u);
    EXPECT_EQ(db.CheckTable("t"), "");
    std::vector<std::string> rows = db.Rows("t");
    ASSERT_EQ(rows.size(), 20u);
    for (int id = 1; id <= 20; ++id)
      EXPECT_EQ(rows[id - 1].substr(0, rows[id - 1].find('|')), std::to_string(c.expect(id)));
  }
}

TEST(UpdateTest, WhereSetAndMessages) {
  StatementDb db;
  Fill(db, 10);
  EXPECT_EQ(db.Run("update t as x set x.pad = 'even', k = x.k * 10 where mod(x.id, 2) = 0"), 5u);
  EXPECT_EQ(db.Rows("t")[1], "2|20|even");
  EXPECT_EQ(db.Rows("t")[2], "3|3|x");
  EXPECT_EQ(db.Run("UPDATE t SET pad = 'y' FROM t WHERE id > 8"), 2u);
  const std::string parsing = "Tabula Engine Error # 11949 SQL parsing error - ";
  EXPECT_EQ(db.ErrorOf("UPDATE t SET u.k = 1"),
            parsing +
                "Only columns from the table being updated can be assigned a value at line 1, "
                "column 14");
  EXPECT_EQ(db.ErrorOf("UPDATE t SET k = 'a'"),
            parsing +
                "Expected Boolean, SmallInt, Integer, AutoInc, Word, LargeInt, Float, Currency or "
                "BCD but instead found 'a' in UPDATE SQL statement at line 1, column 18");
  EXPECT_EQ(db.ErrorOf("UPDATE t SET k = 1 FROM u"),
            parsing +
                "Expected UPDATE table name but instead found u in UPDATE SQL statement at "
                "line 1, column 25");
  EXPECT_EQ(db.CheckTable("t"), "");
}

TEST(UpdateTest, FailureRollsBackToTheLastIntervalCommit) {
  StatementDb db;
  Fill(db, 30);
  // Every id moves to 1000 + id; the 25th collides with the row of id 1025.
  db.Run("INSERT INTO t VALUES (1025, 0, 'x')");
  EXPECT_EQ(db.ErrorOf("UPDATE t SET id = 1000 + id WHERE k > 0 COMMIT INTERVAL 10"),
            "Tabula Engine Error # 9729 Duplicate key found in the index 'Primary' of the table "
            "'t'");
  EXPECT_FALSE(db.database().TransactionActive());
  int moved = 0;
  for (const std::string& row : db.Rows("t"))
    if (std::stoi(row) > 1000) ++moved;
  EXPECT_EQ(moved, 1 + 20);  // the extra row and two intervals of ten
  EXPECT_EQ(db.CheckTable("t"), "");
}

TEST(DeleteTest, AllRowsOutsideATransactionCommitInIntervalsWithProgress) {
  StatementDb db;
  Fill(db, 1000);
  TQueryStatement statement(db.database());
  statement.Prepare("DELETE FROM t");
  std::vector<int> reported;
  size_t seen_by_other = 0;
  statement.callbacks.progress = [&](uint16_t percent, bool&) {
    reported.push_back(percent);
    if (percent == 50) {
      // Another engine sees what the interval commits wrote.
      StatementDb other(db.path());
      seen_by_other = other.Rows("t").size();
    }
  };
  TExecuteOptions options;
  options.progress = true;
  statement.Execute({}, options);
  EXPECT_EQ(statement.RowsAffected(), 1000u);
  std::vector<int> expected;
  for (int p = 5; p <= 100; p += 5) expected.push_back(p);
  EXPECT_EQ(reported, expected);
  EXPECT_EQ(seen_by_other, 1000u - 273u);
  EXPECT_FALSE(db.database().TransactionActive());
  EXPECT_TRUE(db.Rows("t").empty());
  EXPECT_EQ(db.CheckTable("t"), "");
}

TEST(DeleteTest, CommitIntervalInsideATransactionCommitsWithoutEndingIt) {
  StatementDb db;
  Fill(db, 100);
  db.Run("START TRANSACTION");
  EXPECT_EQ(db.Run("DELETE FROM t WHERE id <= 70 COMMIT INTERVAL 30 FLUSH"), 70u);
  EXPECT_TRUE(db.database().TransactionActive());
  db.Run("ROLLBACK");
  // Two intervals of 30 were committed; the last 10 deletions went back.
  EXPECT_EQ(db.Rows("t").size(), 40u);
  EXPECT_EQ(db.CheckTable("t"), "");
}

TEST(DeleteTest, AbortRollsBackTheOwnTransaction) {
  StatementDb db;
  Fill(db, 100);
  TQueryStatement statement(db.database());
  statement.Prepare("DELETE FROM t WHERE k > 10");
  statement.callbacks.progress = [](uint16_t percent, bool& abort) { abort = percent >= 50; };
  TExecuteOptions options;
  options.progress = true;
  statement.Execute({}, options);
  EXPECT_FALSE(db.database().TransactionActive());
  EXPECT_EQ(db.Rows("t").size(), 100u);
  EXPECT_EQ(db.CheckTable("t"), "");
}

TEST(DeleteTest, FilesAfterEveryChangePassTheCheckAndReadBackAfterReopen) {
  StatementDb db;
  Fill(db, 50);
  db.Run("CREATE TABLE b (id AUTOINC, note MEMO, UNIQUE_CODE VARCHAR(5) UNIQUE)");
  db.Run("INSERT INTO b (note, unique_code) VALUES ('first note', 'a')");
  db.Run("INSERT INTO b (note, unique_code) VALUES ('second', 'b')");
  db.Run("UPDATE b SET note = 'changed' WHERE unique_code = 'a'");
  db.Run("DELETE FROM t WHERE mod(id, 3) = 0");
  db.Run("UPDATE t SET k = 0 - k WHERE id > 40");
  db.Run("INSERT INTO t VALUES (1000, 1, 'new')");
  for (const char* table : {"t", "b"}) EXPECT_EQ(db.CheckTable(table), "") << table;
  const std::vector<std::string> before_t = db.Rows("t"), before_b = db.Rows("b");
  db.directory().CloseUnusedTables();
  {
    StatementDb reopened(db.path());
    EXPECT_EQ(reopened.Rows("t"), before_t);
    EXPECT_EQ(reopened.Rows("b"), before_b);
  }
  EXPECT_EQ(before_b, (std::vector<std::string>{"1|changed|a", "2|second|b"}));
  db.Run("EMPTY TABLE t");
  EXPECT_EQ(db.CheckTable("t"), "");
}

// t of Fill(10) joined to u: two rows for id 2, one for 5, one for no id.
void FillJoined(StatementDb& db, bool index_on_u) {
  Fill(db, 10);
  db.Run("CREATE TABLE u (id INTEGER, v INTEGER, name VARCHAR(10))");
  if (index_on_u) db.Run("CREATE INDEX byid ON u (id)");
  db.Run("INSERT INTO u VALUES (2, 20, 'two')");
  db.Run("INSERT INTO u VALUES (2, 21, 'two again')");
  db.Run("INSERT INTO u VALUES (5, 50, 'five')");
  db.Run("INSERT INTO u VALUES (11, 110, 'none')");
}

TEST(JoinedChangeTest, EachQualifyingRecordChangesOnceByItsFirstJoinedRow) {
  const struct {
    const char* sql;
    uint32_t rows;
    const char* changed;  // the rows of t that differ from Fill's, in natural order
  } cases[] = {
      {"UPDATE t SET k = u.v FROM t JOIN u ON u.id = t.id", 2, "2|20|x;5|50|x;"},
      {"UPDATE t SET k = u.v FROM t, u WHERE t.id = u.id", 2, "2|20|x;5|50|x;"},
      {"update t x set pad = u.name from t x, u where u.id = x.id and u.v > 20", 2,
       "2|2|two again;5|5|five;"},
      {"UPDATE t SET id = id + 100, k = v FROM t INNER JOIN u ON t.id = u.id", 2,
       "102|20|x;105|50|x;"},
      {"UPDATE t SET k = 0 FROM t LEFT JOIN u ON u.id = t.id WHERE u.id IS NULL AND t.id < 5", 3,
       "1|0|x;3|0|x;4|0|x;"},
      {"UPDATE t SET pad = 'r' FROM t RIGHT OUTER JOIN u ON u.id = t.id", 2, "2|2|r;5|5|r;"},
      {"UPDATE t SET k = 1 FROM t WHERE id IN (SELECT v / 10 FROM u)", 2, "2|1|x;5|1|x;"},
      {"DELETE FROM t JOIN u ON u.id = t.id", 2, "-2;-5;"},
      {"DELETE FROM t x, u WHERE x.id = u.v / 10", 2, "-2;-5;"},
      {"DELETE FROM t RIGHT JOIN u ON u.id = t.id COMMIT INTERVAL 1", 2, "-2;-5;"},
      {"DELETE FROM t LEFT OUTER JOIN u ON u.id = t.id WHERE u.id IS NULL", 8,
       "-1;-3;-4;-6;-7;-8;-9;-10;"},
      {"DELETE FROM t WHERE id IN (SELECT id FROM u WHERE v > 20)", 2, "-2;-5;"},
      {"DELETE FROM (t) JOIN u AS w ON w.id = t.id AND w.name = 'five' NOJOINOPTIMIZE", 1, "-5;"},
  };
  for (bool index_on_u : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.sql) + (index_on_u ? " (u indexed)" : ""));
      StatementDb db;
      FillJoined(db, index_on_u);
      const std::vector<std::string> before = db.Rows("t");
      EXPECT_EQ(db.Run(c.sql), c.rows);
      const std::vector<std::string> after = db.Rows("t");
      // What changed: new or changed rows as they are, vanished ones as -id.
      std::string changed;
      for (const std::string& row : after)
        if (std::find(before.begin(), before.end(), row) == before.end()) changed += row + ";";
      for (const std::string& row : before) {
        const std::string id = row.substr(0, row.find('|'));
        bool kept = false;
        for (const std::string& a : after) kept |= a.substr(0, a.find('|')) == id;
        if (!kept && changed.find(id + "|") == std::string::npos) changed += "-" + id + ";";
      }
      EXPECT_EQ(changed, c.changed);
      EXPECT_EQ(db.CheckTable("t"), "");
      EXPECT_EQ(db.Rows("u").size(), 4u);
    }
  }
}

TEST(JoinedChangeTest, Messages) {
  StatementDb db;
  FillJoined(db, false);
  const std::string parsing = "Tabula Engine Error # 11949 SQL parsing error - ";
  const struct {
    const char* sql;
    const char* message;
  } cases[] = {
      {"UPDATE t x SET k = 1 FROM t y",
       "Expected UPDATE table correlation name but instead found y in UPDATE SQL statement at "
       "line 1, column 27"},
      {"UPDATE t SET u.v = 1 FROM t, u",
       "Only columns from the table being updated can be assigned a value at line 1, column 14"},
      {"UPDATE t SET k = w.v FROM t JOIN u ON u.id = t.id",
       "Expected column name but instead found w.v in UPDATE SQL statement at line 1, column 18"},
      {"DELETE FROM t FULL JOIN u ON u.id = t.id",
       "Invalid expression FULL found in DELETE SQL statement at line 1, column 15"},
      {"DELETE FROM t, t", "Duplicate table or table correlation name t at line 1, column 16"},
      {"DELETE FROM t JOIN u ON u.id = t.id WHERE",
       "Missing expression in DELETE SQL statement at line 1, column 42"},
  };
  for (const auto& c : cases) EXPECT_EQ(db.ErrorOf(c.sql), parsing + c.message) << c.sql;
  EXPECT_EQ(db.Rows("t").size(), 10u);
}

}  // namespace
}  // namespace downsql::sql
