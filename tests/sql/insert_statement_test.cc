// INSERT ... VALUES: the column and value checks, conversions and messages.
#include <gtest/gtest.h>

#include "tests/sql/statement_test_util.h"

namespace downsql::sql {
namespace {

using testing::StatementDb;

const std::string kParsing = "Tabula Engine Error # 11949 SQL parsing error - ";

class InsertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db.Run(
        "CREATE TABLE d (id INTEGER NOT NULL, day DATE, at TIMESTAMP, n SMALLINT, "
        "name VARCHAR(5), note MEMO, ok BOOLEAN)");
  }
  StatementDb db;
};

TEST_F(InsertTest, ValuesAreCheckedBeforeAnyRowIsWritten) {
  const struct {
    const char* sql;
    const char* message;
  } cases[] = {
      {"INSERT INTO d (id, day, n) VALUES (1, '2024-01-02')",
       "The number of columns must match match the number of values at line 1, column 25"},
      {"INSERT INTO d (id) VALUES (1, 2)",
       "The number of columns must match match the number of values at line 1, column 31"},
      {"INSERT INTO d (id, day) VALUES (1, '2024-02-30')",
       "Expected Date or Timestamp but instead found '2024-02-30' in INSERT SQL statement at "
       "line 1, column 36"},
      {"INSERT INTO d (id, day) VALUES (1, TRUE)",
       "Expected Date or Timestamp but instead found TRUE in INSERT SQL statement at line 1, "
       "column 36"},
      {"INSERT INTO d (id, nope) VALUES (1, 2)",
       "Expected column name but instead found nope in INSERT SQL statement at line 1, "
       "column 20"},
      {"INSERT INTO d (x.id) VALUES (1)",
       "Only columns from the table being updated can be assigned a value at line 1, column 16"},
      {"INSERT INTO d (id) 1",
       "Expected VALUES or SELECT but instead found 1 in INSERT SQL statement at line 1, "
       "column 20"},
      {"INSERT INTO d (id) VALUES (1) COMMIT NOW",
       "Expected INTERVAL and/or FLUSH but instead found NOW in INSERT SQL statement at line 1, "
       "column 38"},
      {"INSERT INTO d (id) VALUES (1) COMMIT INTERVAL x",
       "Expected Integer but instead found x in INSERT SQL statement at line 1, column 47"},
      {"INSERT INTO d (id) VALUES (id)",
       "Expected column name but instead found id in INSERT SQL statement at line 1, column 28"},
  };
  for (const auto& c : cases) EXPECT_EQ(db.ErrorOf(c.sql), kParsing + c.message) << c.sql;
  EXPECT_TRUE(db.Rows("d").empty());
}

TEST_F(InsertTest, ConvertsValuesToTheColumnTypes) {
  db.Run(
      "INSERT INTO d (id, day, at, n, name, ok) VALUES "
      "(1, '2024-02-29', '2024-02-29 10:20:30', 3.7, 'abcdefgh', 1)");
  db.Run("INSERT INTO d VALUES (2, NULL, NULL, -2, '', 'long note', FALSE)");
  EXPECT_EQ(db.Rows("d"),
            (std::vector<std::string>{"1|2024-02-29|2024-02-29 10:20:30|4|abcde|NULL|TRUE",
                                      "2|NULL|NULL|-2|NULL|long note|FALSE"}));
}

// Constants written alone take a shorter road than expressions (no tree,
// written into the record once at preparation); both must give the same
// row, and the later of two values for one column wins whatever its kind.
TEST_F(InsertTest, ConstantsAndExpressionsStoreTheSameRow) {
  db.Run("CREATE TABLE e (id INTEGER, v INTEGER DEFAULT 7)");
  const struct {
    const char* table;
    const char* sql;
    const char* row;
  } cases[] = {
      {"d", "INSERT INTO d (id, n, name, ok) VALUES (1, 2, 'xy', TRUE)",
       "1|NULL|NULL|2|xy|NULL|TRUE"},
      {"d", "INSERT INTO d (id, n, name, ok) VALUES (0 + 1, (2), 'x' || 'y', NOT FALSE)",
       "1|NULL|NULL|2|xy|NULL|TRUE"},
      {"d", "INSERT INTO d (n, id, n) VALUES (5, 1, 6)", "1|NULL|NULL|6|NULL|NULL|NULL"},
      {"d", "INSERT INTO d (n, id, n) VALUES (5, 1, 6 * 1)", "1|NULL|NULL|6|NULL|NULL|NULL"},
      {"d", "INSERT INTO d (n, id, n) VALUES (5 * 1, 1, 6)", "1|NULL|NULL|6|NULL|NULL|NULL"},
      {"d", "INSERT INTO d (id, day, at) VALUES (1, '2024-03-01', NULL)",
       "1|2024-03-01|NULL|NULL|NULL|NULL|NULL"},
      {"e", "INSERT INTO e (id) VALUES (1)", "1|7"},
      {"e", "INSERT INTO e VALUES (1, 2)", "1|2"},
  };
  for (const auto& c : cases) {
    db.Run(std::string("EMPTY TABLE ") + c.table);
    db.Run(c.sql);
    EXPECT_EQ(db.Rows(c.table), std::vector<std::string>{c.row}) << c.sql;
  }
  // The prepared record serves every execution; a constant read back
  // from a broken line keeps the positions of what follows it.
  db.Run("EMPTY TABLE e");
  TQueryStatement statement(db.database());
  statement.Prepare("INSERT INTO e (v, id) VALUES (3, ?)");
  statement.Execute({TValue::Integer(1)});
  statement.Execute({TValue::Integer(2)});
  EXPECT_EQ(db.Rows("e"), (std::vector<std::string>{"1|3", "2|3"}));
  EXPECT_EQ(db.ErrorOf("INSERT INTO d (id, day) VALUES (1\n + 1, TRUE)"),
            kParsing +
                "Expected Date or Timestamp but instead found TRUE in INSERT SQL statement at line "
                "2, column 7");
}

// A statement handle that prepares one INSERT after another reads each
// text that begins like the one before it on from VALUES, with that one's
// columns and cursor. Whatever it reuses, every step must give what a new
// handle preparing the same text gives: rows, errors and their positions
// (the texts start at different places of their script), plans.
TEST_F(InsertTest, StatementsThatBeginAlikeGiveWhatNewOnesGive) {
  StatementDb fresh;
  fresh.Run(
      "CREATE TABLE d (id INTEGER NOT NULL, day DATE, at TIMESTAMP, n SMALLINT, "
      "name VARCHAR(5), note MEMO, ok BOOLEAN)");
  const struct {
    const char* sql;
    uint32_t line;
    uint32_t column;
  } steps[] = {
      {"INSERT INTO d (id, n) VALUES (1, 2)", 1, 1},
      {"INSERT INTO d (id, n) VALUES (2, ?);", 3, 5},
      {"INSERT INTO d (id, n) VALUES (3)", 4, 7},  // the column without a value
      {"INSERT INTO d (id,\r\n n, day) VALUES (4, 5, '2024-01-02')", 1, 1},
      {"INSERT INTO d (id,\r\n n, day) VALUES (5, 6, '2024-02-30')", 5, 9},
      {"INSERT INTO d (id,\r\n n, day) VALUES (6, 7, '2024-01-03')", 1, 1},
      {"INSERT INTO d (id,\r\n n, day) VALUES (7, 8, '2024-01-03', 9)", 2, 2},
      {"INSERT INTO d (id) VALUES (8)", 1, 1},
      {"INSERT INTO d (id) VALUESX (9)", 1, 1},  // the word goes on
      {"INSERT INTO d (id) VALUES (10) COMMIT FLUSH", 1, 1},
      {"INSERT INTO d (id) VALUES (11) COMMIT NOW", 1, 1},
      {"INSERT INTO d (id) VALUES (12)", 1, 1},
      {"INSERT INTO d (id) VALUES", 1, 1},
      {"INSERT INTO d EXCLUSIVE (id) VALUES (13)", 1, 1},
      {"INSERT INTO d EXCLUSIVE (id) VALUES (14)", 1, 1},
      {"INSERT INTO d (id, name) VALUES (15, 'a')", 1, 1},
      {"UPDATE d SET n = 1 WHERE id = 15", 1, 1},
      {"INSERT INTO d (id, name) VALUES (16, 'b')", 1, 1},
      {"INSERT INTO d (id, name) VALUES (17, NULL)", 1, 1},
      {"INSERT INTO d (id, name) VALUES ('', 'c')", 1, 1},  // refused by the table
      {"INSERT INTO d (id, name) VALUES (18, 'd')", 1, 1},
      {"INSERT INTO d (id, name) VALUES (19, 'e')", 1, 1},
  };
  TExecuteOptions options;
  options.plan = true;
  // The outcome of a step: its error, or its rows and plan without the
  // timed last line.
  auto outcome = [&](TQueryStatement& statement, const auto& step) {
    try {
      statement.Prepare(step.sql, step.line, step.column);
      statement.Execute({TValue::Integer(7)}, options);
    } catch (const storage::ETabulaEngineError& e) {
      return std::string(e.what());
    }
    std::string out = std::to_string(statement.RowsAffected()) + " rows, " +
                      std::to_string(statement.ParameterCount()) + " parameters\n";
    for (size_t i = 0; i + 1 < statement.Plan().size(); ++i) out += statement.Plan()[i] + "\n";
    return out;
  };
  TQueryStatement kept(db.database());
  for (const auto& step : steps) {
    TQueryStatement once(fresh.database());
    EXPECT_EQ(outcome(kept, step), outcome(once, step)) << step.sql;
  }
  EXPECT_EQ(db.Rows("d"), fresh.Rows("d"));
  EXPECT_EQ(db.Rows("d").size(), 14u);
  EXPECT_EQ(db.CheckTable("d"), "");
}

TEST_F(InsertTest, StorageErrorsPassThrough) {
  EXPECT_EQ(db.ErrorOf("INSERT INTO d (id, name) VALUES ('', 'x')"),
            "Tabula Engine Error # 9732 A value must be provided for the field 'id' in the table "
            "'d'");
  db.Run("CREATE TABLE k (id INTEGER PRIMARY KEY)");
  db.Run("INSERT INTO k VALUES (1)");
  EXPECT_EQ(db.ErrorOf("INSERT INTO k VALUES (1)"),
            "Tabula Engine Error # 9729 Duplicate key found in the index 'Primary' of the table "
            "'k'");
  EXPECT_EQ(db.Rows("k"), std::vector<std::string>{"1"});
}

TEST_F(InsertTest, IntegerArithmeticOutOfRangeIsRefusedNotStoredWrapped) {
  EXPECT_EQ(db.ErrorOf("INSERT INTO d (id) VALUES (2147483647 + 1)"),
            "Tabula Engine Error # 11950 SQL execution error - Numeric overflow in the "
            "expression 2147483647 + 1");
  EXPECT_TRUE(db.Rows("d").empty());
}

TEST_F(InsertTest, FailedConversionNamesColumnAndValue) {
  TQueryStatement statement(db.database());
  statement.Prepare("INSERT INTO d (id, n) VALUES (1, ?)");
  EXPECT_THROW(
      {
        try {
          statement.Execute({TValue::String("many")});
        } catch (const storage::ETabulaEngineError& e) {
          EXPECT_EQ(std::string(e.what()),
                    "Tabula Engine Error # 11950 SQL execution error - Internal error: type "
                    "mismatch between column n and constant value many in INSERT statement");
          throw;
        }
      },
      storage::ETabulaEngineError);
  EXPECT_TRUE(db.Rows("d").empty());
}

}  // namespace
}  // namespace downsql::sql

namespace downsql::sql {
namespace {

using testing::StatementDb;

TEST(InsertSelectTest, CopiesTheQueryRowsInItsOwnTransaction) {
  StatementDb db;
  db.Run("CREATE TABLE a (id INTEGER, name VARCHAR(10), note MEMO)");
  for (int i = 1; i <= 40; ++i)
    db.Run("INSERT INTO a VALUES (" + std::to_string(i) + ", 'n" + std::to_string(i) +
           "', 'memo')");
  db.Run("CREATE TABLE b (id INTEGER PRIMARY KEY, name VARCHAR(3), note MEMO)");
  TQueryStatement statement(db.database());
  statement.Prepare("INSERT INTO b SELECT id, name, note FROM a WHERE id <= 20 ORDER BY id DESC");
  std::vector<int> reported;
  statement.callbacks.progress = [&](uint16_t percent, bool&) { reported.push_back(percent); };
  TExecuteOptions options;
  options.progress = true;
  statement.Execute({}, options);
  EXPECT_EQ(statement.RowsAffected(), 20u);
  EXPECT_EQ(reported.front(), 5);
  EXPECT_EQ(reported.back(), 100);
  const std::vector<std::string> rows = db.Rows("b");
  ASSERT_EQ(rows.size(), 20u);
  EXPECT_EQ(rows.front(), "20|n20|memo");
  EXPECT_EQ(db.CheckTable("b"), "");
  EXPECT_EQ(db.ErrorOf("INSERT INTO b (id) SELECT id, name FROM a"),
            kParsing +
                "The number of columns must match match the number of values at line 1, "
                "column 42");
}

TEST(InsertSelectTest, FailureRollsBackToTheLastIntervalCommit) {
  StatementDb db;
  db.Run("CREATE TABLE a (id INTEGER)");
  for (int i = 1; i <= 30; ++i) db.Run("INSERT INTO a VALUES (" + std::to_string(i % 25) + ")");
  db.Run("CREATE TABLE b (id INTEGER PRIMARY KEY)");
  // The source holds 1..24, 0, 1..5: the 26th row is the first duplicate.
  EXPECT_EQ(db.ErrorOf("INSERT INTO b SELECT id FROM a COMMIT INTERVAL 10"),
            "Tabula Engine Error # 9729 Duplicate key found in the index 'Primary' of the table "
            "'b'");
  EXPECT_FALSE(db.database().TransactionActive());
  EXPECT_EQ(db.Rows("b").size(), 20u);
  EXPECT_EQ(db.CheckTable("b"), "");
}

TEST(IdentityTest, LastAutoIncStoredByAnInsertOfTheSession) {
  StatementDb db;
  EXPECT_EQ(db.Select("SELECT @@IDENTITY"), std::vector<std::string>{"NULL"});
  db.Run("CREATE TABLE a (id AUTOINC, v INTEGER)");
  db.Run("CREATE TABLE plain (v INTEGER)");
  db.Run("CREATE TABLE c (v INTEGER, id AUTOINC)");
  db.Run("INSERT INTO c (v) VALUES (1)");
  // Each step's statement, then what SELECT @@IDENTITY gives after it.
  const struct {
    const char* sql;
    const char* identity;
  } steps[] = {
      {"INSERT INTO a (v) VALUES (1)", "1"},
      {"INSERT INTO a (v) VALUES (2)", "2"},
      {"INSERT INTO plain VALUES (7)", "2"},  // no AUTOINC column: unchanged
      {"INSERT INTO c (v) VALUES (2)", "2"},  // the other table's own counter
      {"INSERT INTO a (v) SELECT v FROM plain", "3"},
      {"INSERT INTO a VALUES (40, 4)", "40"},  // a value given for the column
      {"UPDATE a SET v = 0", "40"},
      {"DELETE FROM a WHERE id = 40", "40"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.sql);
    db.Run(s.sql);
    EXPECT_EQ(db.Select("select @@identity;"), std::vector<std::string>{s.identity});
  }
  // Another query of the session sees it; LASTAUTOINC reads a table's counter.
  access::TDirectoryStatementDatabase other(db.directory());
  TQueryStatement statement(other);
  statement.Prepare("SELECT @@IDENTITY");
  EXPECT_EQ(StatementDb::RowsOf(statement.Execute({})->cursor()), std::vector<std::string>{"40"});
  EXPECT_EQ(db.Select("SELECT LASTAUTOINC('a'), IDENT_CURRENT('c') FROM plain"),
            std::vector<std::string>{"40|2"});
  EXPECT_EQ(db.ErrorOf("SELECT @@IDENTITY FROM a"),
            kParsing +
                "Expected end of statement but instead found FROM in SELECT SQL statement at "
                "line 1, column 19");
}

}  // namespace
}  // namespace downsql::sql
