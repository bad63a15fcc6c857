// The query component running scripts against a real directory.
#include "db/access/tabula_query.h"

#include <algorithm>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/access/database_error.h"
#include "db/access/tabula_library.h"
#include "db/storage/engine_error.h"
#include "tests/platform/temp_dir.h"

namespace downsql::access {
namespace {

class QueryTest : public ::testing::Test {
 protected:
  // A query on the scratch directory with the given script lines.
  void Use(TTabulaQuery& q, std::vector<std::string> lines) {
    q.SetDatabaseName(dir_.path() + "/");
    q.SetSQL(std::move(lines));
  }
  void Run(std::vector<std::string> lines) {
    Use(query, std::move(lines));
    query.RunStatements();
  }
  // Whether the scratch directory's transaction is active, asked through a
  // query of its own.
  bool TransactionActive() {
    TTabulaQuery probe;
    Use(probe, {"START TRANSACTION"});
    probe.Prepare();
    bool active = probe.Database()->TransactionActive();
    probe.UnPrepare();
    return active;
  }
  std::string ErrorOf(std::vector<std::string> lines) {
    try {
      Run(std::move(lines));
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }

  TTabulaLibrary library_;
  platform::TempDir dir_;
  TTabulaQuery query;
};

TEST_F(QueryTest, EmptyStatementsAreSteppedOver) {
  // ";;" used to end the run there, leaving the COMMIT undone.
  for (std::vector<std::string> script :
       std::vector<std::vector<std::string>>{{"START TRANSACTION;;COMMIT;"},
                                             {"START TRANSACTION; ; -- nothing", ";COMMIT;;"},
                                             {";;START TRANSACTION;", "/* a */;", "COMMIT"}}) {
    std::vector<std::string> executed;
    query.BeforeExecute = [&](TTabulaQuery& q) { executed.push_back(q.StatementText()); };
    Run(script);
    EXPECT_EQ(executed.size(), 2u) << script[0];
    EXPECT_FALSE(TransactionActive()) << script[0];
  }
}

TEST_F(QueryTest, NoStatement) {
  EXPECT_EQ(ErrorOf({}), "No SQL statement available");
  EXPECT_EQ(ErrorOf({" ;; -- x"}), "No SQL statement available");
}

TEST_F(QueryTest, ParseErrorNamesThePlaceInTheWholeScript) {
  EXPECT_EQ(ErrorOf({"START TRANSACTION;", "ROLLBACK; START TRANSACTION", "  ;ROLLBACK x"}),
            "Tabula Engine Error # 11949 SQL parsing error - Expected end of statement but "
            "instead found x in ROLLBACK SQL statement at line 3, column 13");
}

TEST_F(QueryTest, ErrorRollsBackOnlyTheScriptsOwnTransaction) {
  // Begun by the script: undone before the error passes on.
  EXPECT_NE(ErrorOf({"START TRANSACTION;", "BOGUS;"}), "");
  EXPECT_FALSE(TransactionActive());
  // Begun before the script: left alone.
  Run({"START TRANSACTION"});
  EXPECT_NE(ErrorOf({"BOGUS"}), "");
  EXPECT_TRUE(TransactionActive());
  Run({"ROLLBACK"});
  // A COMMIT that does not even parse never ran: the script's transaction
  // is still its own and goes.
  EXPECT_NE(ErrorOf({"START TRANSACTION;", "ROLLBACK;", "START TRANSACTION;", "COMMIT x;"}), "");
  EXPECT_FALSE(TransactionActive());
}

TEST_F(QueryTest, OnQueryErrorActions) {
  struct Case {
    const char* name;
    std::vector<TAbortAction> answers;  // one per call, the last repeated
    int calls;
    bool aborted;
  };
  // The script fails at its first COMMIT (no transaction yet) and, when it
  // gets there, at "BOGUS".
  const Case cases[] = {
      {"continue skips", {aaContinue}, 2, false},
      {"retry runs it again", {aaRetry, aaContinue}, 3, false},
      {"abort ends silently", {aaAbort}, 1, true},
  };
  for (const Case& c : cases) {
    int calls = 0;
    std::vector<std::string> failed;
    query.OnQueryError = [&](TTabulaQuery& q, const std::exception&, TAbortAction& action) {
      failed.push_back(q.StatementText());
      action = c.answers[std::min<size_t>(static_cast<size_t>(calls), c.answers.size() - 1)];
      ++calls;
    };
    bool aborted = false;
    try {
      Run({"COMMIT;", "START TRANSACTION;", "BOGUS;", "ROLLBACK;", "START TRANSACTION"});
    } catch (const EAbort&) {
      aborted = true;
    }
    EXPECT_EQ(calls, c.calls) << c.name;
    EXPECT_EQ(aborted, c.aborted) << c.name;
    EXPECT_EQ(TransactionActive(), !c.aborted) << c.name;
    if (c.calls == 3) {
      EXPECT_EQ(failed[0], failed[1]) << c.name;
    }
    if (TransactionActive()) Run({"ROLLBACK"});
  }
  // An abort undoes the script's own transaction.
  query.OnQueryError = [](TTabulaQuery&, const std::exception&, TAbortAction& action) {
    action = aaAbort;
  };
  EXPECT_THROW(Run({"START TRANSACTION;", "BOGUS"}), EAbort);
  EXPECT_FALSE(TransactionActive());
}

TEST_F(QueryTest, RetryAfterTheHandlerMendsTheCause) {
  int calls = 0;
  query.OnQueryError = [&](TTabulaQuery& q, const std::exception&, TAbortAction& action) {
    ++calls;
    q.Database()->BeginTransaction();
    action = aaRetry;
  };
  Run({"COMMIT"});
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(TransactionActive());
}

TEST_F(QueryTest, ScriptStartsAgainFromTheTopAfterARun) {
  int executed = 0;
  query.BeforeExecute = [&](TTabulaQuery&) { ++executed; };
  Use(query, {"START TRANSACTION;", "COMMIT;"});
  const TScriptCounters top = query.Counters();
  const std::string first = query.StatementText();
  for (int run = 1; run <= 2; ++run) {
    query.RunStatements();
    EXPECT_EQ(executed, 2 * run);
    EXPECT_EQ(query.Counters(), top);
    EXPECT_EQ(query.StatementText(), first);
  }
  // Also after an error.
  Use(query, {"START TRANSACTION;", "BOGUS;"});
  EXPECT_THROW(query.RunStatements(), storage::ETabulaEngineError);
  EXPECT_EQ(query.Counters(), top);
  EXPECT_EQ(query.StatementText(), "START TRANSACTION\r\n");
}

TEST_F(QueryTest, ParamsFollowTheCurrentStatement) {
  Use(query, {"SELECT :a, :[b c], :\"d\"\"e\", :a FROM t WHERE x = : 1"});
  ASSERT_EQ(query.Params().Count(), 4u);
  EXPECT_EQ(query.Params().Items(1).Name(), "b c");
  EXPECT_EQ(query.Params().Items(2).Name(), "d\"e");
  EXPECT_EQ(query.StatementText(), "SELECT ?, ?, ?, ? FROM t WHERE x = ? 1\r\n");
  query.Params().ParamByName("A").SetAsInteger(7);
  // A new text keeps the values of parameters of the same name.
  query.SetSQL({"SELECT :b FROM t WHERE :a = 1"});
  ASSERT_EQ(query.Params().Count(), 2u);
  EXPECT_FALSE(query.Params().Items(0).Bound());
  EXPECT_EQ(query.Params().Items(1).Value().i, 7);
  EXPECT_EQ(query.Params().Items(1).DataType(), ftInteger);
  try {
    query.Params().ParamByName("zz");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Parameter 'zz' not found");
  }
  query.ParamCheck = false;
  query.SetSQL({"SELECT :x"});
  EXPECT_EQ(query.Params().Count(), 2u);
}

// A table with a unique key, for the tests that change rows.
class RowQueryTest : public QueryTest {
 protected:
  RowQueryTest() {
    Run({"CREATE TABLE draws (id INTEGER NOT NULL, [date] DATE, PRIMARY KEY (id));"});
  }
  int64_t Count() {
    TTabulaQuery q;
    Use(q, {"SELECT COUNT(*) AS n FROM draws"});
    q.Open();
    return q.Fields(0).AsInteger();
  }
};

TEST_F(RowQueryTest, ImportScriptCountsItsRowsWithoutProgress) {
  int progress = 0;
  query.OnQueryProgress = [&](TTabulaQuery&, uint16_t, bool&) { ++progress; };
  int executed = 0;
  query.AfterExecute = [&](TTabulaQuery&) { ++executed; };
  Use(query, {"START TRANSACTION;", "INSERT INTO draws VALUES (1, '2008-03-01');",
              "INSERT INTO draws VALUES (2, '2008-03-05');", "COMMIT;"});
  const TScriptCounters first = query.Counters();
  query.RunStatements();
  EXPECT_EQ(executed, 4);
  EXPECT_EQ(query.AffectedRows(), 2);
  EXPECT_GE(query.ExecutionTotal(), 0.0);
  EXPECT_EQ(progress, 0);
  EXPECT_FALSE(query.Active());
  EXPECT_EQ(query.Database(), nullptr);
  EXPECT_EQ(query.Counters(), first);  // cut from the first statement again
  EXPECT_EQ(Count(), 2);
  // A SELECT scans and reports, 100 at its end.
  std::vector<uint16_t> percents;
  query.OnQueryProgress = [&](TTabulaQuery&, uint16_t percent, bool&) {
    percents.push_back(percent);
  };
  Run({"SELECT * FROM draws"});
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), 100);
  EXPECT_TRUE(query.Active());  // the last statement was a SELECT
}

TEST_F(RowQueryTest, TableStatementsReportThroughTheEventsOfTheirKind) {
  Run({"INSERT INTO draws VALUES (1, '2008-03-01');",
       "INSERT INTO draws VALUES (2, '2008-03-05');"});
  std::vector<std::string> seen;
  auto progress = [&](const char* name) {
    return [&seen, name](TTabulaQuery&, uint16_t percent, bool&) {
      if (percent == 100) seen.push_back(std::string(name) + " 100");
    };
  };
  auto log = [&](const char* name) {
    return [&seen, name](TTabulaQuery&, const std::string& message) {
      seen.push_back(std::string(name) + ": " + message);
    };
  };
  query.OnQueryProgress = progress("query");
  query.OnAlterProgress = progress("alter");
  query.OnRepairProgress = progress("repair");
  query.OnRepairLog = log("repair");
  query.OnUpgradeLog = log("upgrade");
  bool go_on = false;
  query.OnDataLost = [&](TTabulaQuery&, const std::string& table, bool& go) {
    seen.push_back("lost in " + table);
    go = go_on;
  };
  Run({"REPAIR TABLE draws;", "UPGRADE TABLE draws;"});
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "repair: Table 'draws' is sound: nothing to repair", "repair 100",
                      "upgrade: Table 'draws' is already at the current version 6: nothing to "
                      "upgrade"}));
  // A date has no INTEGER form: the caller is asked, and stopping leaves
  // the table as it was.
  seen.clear();
  Run({"ALTER TABLE draws REDEFINE [date] INTEGER"});
  EXPECT_EQ(seen, std::vector<std::string>{"lost in draws"});
  auto first_date_is_null = [&] {
    TTabulaQuery q;
    Use(q, {"SELECT [date] FROM draws"});
    q.Open();
    return q.Fields(0).IsNull();
  };
  EXPECT_FALSE(first_date_is_null());
  seen.clear();
  go_on = true;
  Run({"ALTER TABLE draws REDEFINE [date] INTEGER"});
  EXPECT_EQ(seen, (std::vector<std::string>{"lost in draws", "alter 100"}));
  EXPECT_TRUE(first_date_is_null());
  EXPECT_EQ(Count(), 2);
}

TEST_F(RowQueryTest, LastDrawQueryOnEmptyAndFilledTable) {
  for (bool filled : {false, true}) {
    if (filled)
      Run({"INSERT INTO draws VALUES (4001, '2008-03-01');",
           "INSERT INTO draws VALUES (4002, '2008-03-05');"});
    query.Close();
    Use(query, {"select  max([date]) as mx,max(id) as mid from draws"});
    query.Open();
    ASSERT_EQ(query.FieldCount(), 2u);
    EXPECT_EQ(query.Fields(0).IsNull(), !filled);
    EXPECT_EQ(query.Fields(0).AsDateTime(), filled ? 39512.0 : 0.0);
    EXPECT_EQ(query.Fields(1).AsInteger(), filled ? 4002 : 0);
    EXPECT_EQ(query.FieldByName("MID").FieldName(), "mid");
  }
}

TEST_F(RowQueryTest, RequestLiveGivesTheTablesOwnRowsUnderWhere) {
  Run({"INSERT INTO draws VALUES (1, '2008-03-01');", "INSERT INTO draws VALUES (2, '2008-03-05');",
       "INSERT INTO draws VALUES (3, '2008-03-09');"});
  query.Close();
  query.SetRequestLive(true);
  query.PlanWanted = true;
  Use(query, {"SELECT [date] FROM draws WHERE id > 1"});
  query.Open();
  EXPECT_EQ(query.AffectedRows(), 2);
  ASSERT_EQ(query.FieldCount(), 1u);
  EXPECT_EQ(query.Fields(0).FieldName(), "date");
  EXPECT_EQ(query.Fields(0).AsDateTime(), 39512.0);  // 2008-03-05
  const auto& plan = query.Plan();
  EXPECT_NE(std::find(plan.begin(), plan.end(), "Result set will be live"), plan.end());
  // Rows stored later show through the open result.
  TTabulaQuery other;
  Use(other, {"INSERT INTO draws VALUES (4, '2008-03-12')"});
  other.RunStatements();
  EXPECT_EQ(query.DataSet().RecordCount(), 3u);
  // A statement that needs a result table stays canned.
  query.Close();
  Use(query, {"SELECT [date] FROM draws WHERE id > 1 ORDER BY [date]"});
  query.Open();
  EXPECT_NE(std::find(query.Plan().begin(), query.Plan().end(), "Result set will be canned"),
            query.Plan().end());
  EXPECT_EQ(query.DataSet().RecordCount(), 3u);
}

TEST_F(RowQueryTest, DuplicateKeyRollsBackTheScriptsInserts) {
  Run({"INSERT INTO draws VALUES (1, '2008-03-01');"});
  try {
    Run({"START TRANSACTION;", "INSERT INTO draws VALUES (2, '2008-03-02');",
         "INSERT INTO draws VALUES (3, '2008-03-03');", "INSERT INTO draws VALUES (1, NULL);",
         "COMMIT;"});
    FAIL();
  } catch (const storage::ETabulaEngineError& e) {
    EXPECT_EQ(e.code(), storage::kErrDuplicateKey);
  }
  EXPECT_EQ(query.AffectedRows(), 2);
  EXPECT_FALSE(TransactionActive());
  EXPECT_EQ(Count(), 1);
}

TEST_F(RowQueryTest, ImportStatementsThatBeginAlikeKeepTheirPlacesInTheScript) {
  EXPECT_EQ(ErrorOf({"START TRANSACTION;", "INSERT INTO draws VALUES (5, NULL);",
                     "INSERT INTO draws VALUES (6, '2008-02-30');", "COMMIT;"}),
            "Tabula Engine Error # 11949 SQL parsing error - Expected Date or Timestamp but "
            "instead found '2008-02-30' in INSERT SQL statement at line 3, column 30");
  Run({"START TRANSACTION;", "INSERT INTO draws VALUES (5, NULL);",
       "INSERT INTO draws VALUES (6, '2008-02-28');", "COMMIT;"});
  EXPECT_EQ(query.AffectedRows(), 2);
  EXPECT_EQ(Count(), 2);
}

TEST_F(RowQueryTest, Parameters) {
  Use(query, {"INSERT INTO draws VALUES (:id, :[the date])"});
  query.Params().ParamByName("id").SetAsInteger(7);
  EXPECT_EQ(ErrorOf({"INSERT INTO draws VALUES (:id, :[the date])"}),
            "No parameter type for parameter 'the date'");
  query.Params().ParamByName("the date").SetAsDate(39512.0);
  query.RunStatements();
  // The master dataset fills what has no value.
  TTabulaQuery master;
  Use(master, {"SELECT id + 1 AS id, [date] AS [the date] FROM draws"});
  master.Open();
  TTabulaQuery detail;
  Use(detail, {"INSERT INTO draws VALUES (:ID, :[the date])"});
  detail.SetDataSource(&master.DataSet());
  detail.RunStatements();
  EXPECT_EQ(detail.Params().Items(0).Value().i, 8);
  query.SetSQL({"SELECT id FROM draws WHERE [date] = :d ORDER BY id"});
  query.SetDataSource(nullptr);
  query.Params().ParamByName("d").SetAsDate(39512.0);
  query.Open();
  EXPECT_EQ(query.Fields(0).AsInteger(), 7);
  query.Next();
  EXPECT_EQ(query.Fields(0).AsInteger(), 8);
  EXPECT_THROW(query.SetDataSource(&query.DataSet()), EDatabaseError);
}

TEST_F(RowQueryTest, OpenWantsAResult) {
  Use(query, {"INSERT INTO draws VALUES (1, NULL)"});
  try {
    query.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Error creating table handle");
  }
  EXPECT_EQ(Count(), 1);  // it ran all the same
  Use(query, {"SELECT * FROM draws"});
  query.Open();
  EXPECT_THROW(query.RunStatements(), EDatabaseError);
  EXPECT_THROW(query.SetDatabaseName("elsewhere"), EDatabaseError);
  query.Close();
  EXPECT_THROW(query.DataSet(), EDatabaseError);
}

}  // namespace
}  // namespace downsql::access
