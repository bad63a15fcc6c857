// Statement recognition, the end-of-statement rule, positions, parameters
// and the transaction statements.
#include <gtest/gtest.h>

#include "tests/sql/statement_test_util.h"

namespace downsql::sql {
namespace {

using testing::StatementDb;

class StatementTest : public ::testing::Test {
 protected:
  void SetUp() override { db.Run("CREATE TABLE t (id INTEGER, name VARCHAR(20))"); }
  StatementDb db;
};

TEST_F(StatementTest, ImportScriptRunsStatementsOfEachKind) {
  const char* script[] = {
      "START TRANSACTION;",
      "INSERT INTO t (id, name) VALUES (1, 'a');",
      "INSERT INTO t (id, name) VALUES (2, 'b');",
      "INSERT INTO t VALUES (3, 'c');",
      "COMMIT;",
  };
  const TStatementKind kinds[] = {skStartTransaction, skInsert, skInsert, skInsert, skCommit};
  const uint32_t rows[] = {0, 1, 1, 1, 0};
  for (int i = 0; i < 5; ++i) {
    TQueryStatement statement(db.database());
    statement.Prepare(script[i], uint32_t(i + 1), 1);
    EXPECT_EQ(statement.Kind(), kinds[i]) << script[i];
    statement.Execute();
    EXPECT_EQ(statement.RowsAffected(), rows[i]) << script[i];
  }
  EXPECT_EQ(db.Rows("t"), (std::vector<std::string>{"1|a", "2|b", "3|c"}));
}

TEST_F(StatementTest, RecognisesEveryKindByItsLeadingWords) {
  const struct {
    const char* sql;
    TStatementKind kind;
  } cases[] = {
      {"insert into t values (1, 'x')", skInsert},
      {"UPDATE t SET id = 1", skUpdate},
      {"DELETE FROM t", skDelete},
      {"CREATE TABLE u (a INTEGER)", skCreateTable},
      {"ALTER TABLE t ADD x INTEGER", skAlterTable},
      {"EMPTY TABLE t", skEmptyTable},
      {"OPTIMIZE TABLE t", skOptimizeTable},
      {"EXPORT TABLE t TO 'f'", skExportTable},
      {"IMPORT TABLE t FROM 'f'", skImportTable},
      {"VERIFY TABLE t", skVerifyTable},
      {"REPAIR TABLE t", skRepairTable},
      {"UPGRADE TABLE t", skUpgradeTable},
      {"DROP TABLE t", skDropTable},
      {"RENAME TABLE t TO u", skRenameTable},
      {"CREATE INDEX i ON t (id)", skCreateIndex},
      {"CREATE UNIQUE NOCASE INDEX i ON t (name DESC)", skCreateIndex},
      {"CREATE NOCASE INDEX i ON t (name)", skCreateIndex},
      {"DROP INDEX t.i", skDropIndex},
      {"start transaction;", skStartTransaction},
      {"Rollback Work", skRollback},
      {"commit work flush;", skCommit},
  };
  for (const auto& c : cases) {
    TQueryStatement statement(db.database());
    statement.Prepare(c.sql);
    EXPECT_EQ(statement.Kind(), c.kind) << c.sql;
  }
}

TEST_F(StatementTest, RecognitionErrors) {
  const struct {
    const char* sql;
    const char* message;
  } cases[] = {
      {"(INSERT INTO t VALUES (1, 'a'))",
       "Expected SELECT but instead found INSERT in SQL statement at line 1, column 2"},
      {"FROB t",
       "Expected SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, DROP, RENAME, EMPTY, OPTIMIZE, "
       "EXPORT, IMPORT, VERIFY, REPAIR, UPGRADE, START, ROLLBACK, or COMMIT but instead found "
       "FROB in SQL statement at line 1, column 1"},
      {"CREATE VIEW v",
       "Expected TABLE, INDEX, UNIQUE, or NOCASE but instead found VIEW in SQL statement at "
       "line 1, column 8"},
      {"DROP VIEW v",
       "Expected TABLE or INDEX but instead found VIEW in SQL statement at line 1, column 6"},
      {"START TRANSACTION\nCOMMIT",
       "Expected end of statement but instead found COMMIT in START TRANSACTION SQL statement at "
       "line 2, column 1"},
      {"COMMIT WORK NOW",
       "Expected end of statement but instead found NOW in COMMIT SQL statement at line 1, "
       "column 13"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(db.ErrorOf(c.sql),
              std::string("Tabula Engine Error # 11949 SQL parsing error - ") + c.message)
        << c.sql;
  }
}

TEST_F(StatementTest, PositionsCountFromTheStatementsPlaceInTheScript) {
  TQueryStatement statement(db.database());
  try {
    statement.Prepare("COMMIT ROLLBACK", 7, 5);
    FAIL();
  } catch (const storage::ETabulaEngineError& e) {
    EXPECT_EQ(e.code(), storage::kErrSqlParsing);
    EXPECT_EQ(e.names()[1], "7");
    EXPECT_EQ(e.names()[2], "12");
  }
  EXPECT_FALSE(statement.Prepared());
}

TEST_F(StatementTest, StatementWithoutFinalSemicolonIsComplete) {
  EXPECT_EQ(db.Run("INSERT INTO t VALUES (1, 'a')"), 1u);
  EXPECT_EQ(db.Rows("t"), (std::vector<std::string>{"1|a"}));
}

TEST_F(StatementTest, TransactionMessages) {
  const std::string prefix = "Tabula Engine Error # 11950 SQL execution error - ";
  EXPECT_EQ(db.ErrorOf("COMMIT"), prefix + "No transaction in progress for TestDb database");
  EXPECT_EQ(db.ErrorOf("ROLLBACK"), prefix + "No transaction in progress for TestDb database");
  db.Run("START TRANSACTION");
  EXPECT_EQ(db.ErrorOf("START TRANSACTION"),
            prefix + "Transaction already in progress for TestDb database");
  db.Run("ROLLBACK WORK");
  EXPECT_FALSE(db.database().TransactionActive());
}

TEST_F(StatementTest, InsertInTransactionCountsOneAndWaitsForCommit) {
  db.Run("START TRANSACTION WITH t");
  EXPECT_EQ(db.Run("INSERT INTO t VALUES (1, 'a')"), 1u);
  {
    // Another engine reading the files sees nothing before the commit.
    StatementDb other(db.path());
    EXPECT_TRUE(other.Rows("t").empty());
  }
  db.Run("ROLLBACK");
  EXPECT_TRUE(db.Rows("t").empty());
  db.Run("START TRANSACTION");
  db.Run("INSERT INTO t VALUES (2, 'b')");
  db.Run("COMMIT FLUSH");
  EXPECT_EQ(db.Rows("t"), (std::vector<std::string>{"2|b"}));
}

TEST_F(StatementTest, ParametersBindInOrder) {
  TQueryStatement statement(db.database());
  statement.Prepare("INSERT INTO t (name, id) VALUES (?, ?)");
  EXPECT_EQ(statement.ParameterCount(), 2);
  statement.Execute({TValue::String("x"), TValue::Integer(7)});
  statement.Execute({TValue::String("y")});
  EXPECT_EQ(db.Rows("t"), (std::vector<std::string>{"7|x", "NULL|y"}));
}

TEST_F(StatementTest, PlanHoldsTheStatementText) {
  TQueryStatement statement(db.database());
  statement.Prepare("INSERT INTO t VALUES (1, 'a');  ");
  TExecuteOptions options;
  options.plan = true;
  statement.Execute({}, options);
  const std::string rule(80, '=');
  const std::vector<std::string> plan = statement.Plan();
  ASSERT_EQ(plan.size(), 12u);
  EXPECT_EQ(std::vector<std::string>(plan.begin(), plan.begin() + 5),
            (std::vector<std::string>{rule, "SQL statement (Executed with 1.0 Build 1)", rule, "",
                                      "INSERT INTO t VALUES (1, 'a')"}));
  EXPECT_EQ(plan[10], rule);
  EXPECT_EQ(plan[11].substr(0, 25), ">>>>> 1 rows affected in ");
  EXPECT_EQ(plan[11].substr(plan[11].size() - 8), " seconds");
  EXPECT_GE(statement.ExecutionTime(), 0.0);
}

// Between the statement's text and the closing rule, the statements that
// change rows name their tables and, like SELECT, their WHERE and joins.
TEST_F(StatementTest, PlanSectionsOfChangeStatements) {
  db.Run("INSERT INTO t VALUES (1, 'a')");
  db.Run("INSERT INTO t VALUES (2, 'b')");
  db.Run("CREATE TABLE u (id INTEGER, v INTEGER)");
  db.Run("INSERT INTO u VALUES (2, 5)");
  const std::string tables[] = {"", "Tables Involved", "---------------"};
  const std::string where[] = {"", "WHERE Clause Execution", "----------------------"};
  const std::string joins[] = {
      "", "Join Ordering",  "-------------", "The joins will be executed in the order written",
      "", "Join Execution", "--------------"};
  auto join = [](std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  auto lines = [](const std::string* first, size_t n) {
    return std::vector<std::string>(first, first + n);
  };
  const struct {
    const char* sql;
    std::vector<std::string> sections;
  } cases[] = {
      {"INSERT INTO t VALUES (3, 'c')",
       join({lines(tables, 3), {"t (t) table opened shared, has 2 rows"}})},
      {"INSERT INTO t AS x EXCLUSIVE (id) SELECT id FROM u WHERE v > 1",
       join({lines(tables, 3),
             {"t (x) table opened exclusively, has 3 rows", "u (u) table opened shared, has 1 rows",
              "", "Result Set Generation", "---------------------", "Result set will be canned"},
             lines(where, 3),
             {"The expression v > 1 will be evaluated against every joined row"}})},
      {"UPDATE t SET name = 'z' WHERE id = 1",
       join({lines(tables, 3),
             {"t (t) table opened shared, has 4 rows"},
             lines(where, 3),
             {"The expression id = 1 will be evaluated against every joined row"}})},
      {"UPDATE t SET name = 'y' FROM t JOIN u ON t.id = u.id",
       join({lines(tables, 3),
             {"t (t) table opened shared, has 4 rows", "u (u) table opened shared, has 1 rows"},
             lines(joins, 7),
             {"Inner join of t to u: rows of u found through a hash of u.id"}})},
      {"DELETE FROM t WHERE id > 2",
       join({lines(tables, 3),
             {"t (t) table opened shared, has 4 rows"},
             lines(where, 3),
             {"The expression id > 2 will be evaluated against every joined row"}})},
      {"DELETE FROM t", join({lines(tables, 3), {"t (t) table opened shared, has 3 rows"}})},
  };
  for (const auto& c : cases) {
    TQueryStatement statement(db.database());
    statement.Prepare(c.sql);
    TExecuteOptions options;
    options.plan = true;
    statement.Execute({}, options);
    const std::vector<std::string>& plan = statement.Plan();
    ASSERT_GE(plan.size(), 8u) << c.sql;
    EXPECT_EQ(plan[4], c.sql);
    // The frame and the text come before, the blank line, the rule and the
    // rows line after.
    EXPECT_EQ(std::vector<std::string>(plan.begin() + 5, plan.end() - 3), c.sections) << c.sql;
  }
}

}  // namespace
}  // namespace downsql::sql
