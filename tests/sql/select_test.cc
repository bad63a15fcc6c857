// SELECT over real tables: the last-draw statement, aggregates and their
// names and types, grouping, ordering, joins, set operations, progress and
// the parsing errors of the statement.
#include <gtest/gtest.h>

#include <map>

#include "db/sql/date_time_text.h"
#include "db/sql/query_statement.h"
#include "db/storage/engine_error.h"
#include "tests/sql/select_test_util.h"

namespace downsql::sql::testing {
namespace {

using namespace storage;

TValue I(int64_t v) { return TValue::Integer(v); }
TValue S(const char* s) { return TValue::String(s); }
TValue D(int y, int m, int d) { return TValue::Date(*DayNumberOf(y, m, d)); }
TValue N() { return TValue{}; }

// The text of a result cell, "NULL" for NULL.
std::string Text(const TValue& v) { return v.null ? "NULL" : ValueText(v); }

std::string RowsText(const SelectResult& r) {
  std::string out;
  for (const auto& row : r.rows) {
    for (size_t i = 0; i < row.size(); ++i) out += (i ? "," : "") + Text(row[i]);
    out += ";";
  }
  return out;
}

std::string ErrorOf(TestDatabase& db, const std::string& sql) {
  try {
    RunSelect(db, sql);
  } catch (const ETabulaEngineError& e) {
    return e.text();
  }
  return "";
}

// lotto: id AUTOINC, date DATE, n1 SMALLINT; draws: the same filled with
// three draws; nums: k INTEGER, v INTEGER (NULL, NULL, -5, -2, -9), s VARCHAR.
class SelectTest : public ::testing::Test {
 protected:
  SelectTest() {
    auto lotto = std::vector<TFieldDef>{Column("id", kTypeInteger, kSubtypeAutoInc),
                                        Column("date", kTypeDate), Column("n1", kTypeSmallInt)};
    MakeTable(db_, "lotto", lotto, {});
    MakeTable(
        db_, "draws", lotto,
        {{N(), D(2009, 3, 14), I(4)}, {N(), D(2010, 1, 2), I(7)}, {N(), D(2009, 12, 31), I(4)}});
    MakeTable(
        db_, "nums",
        {Column("k", kTypeInteger), Column("v", kTypeInteger), Column("s", kTypeString, 0, 10)},
        {{I(1), N(), S("b")},
         {I(2), N(), S("a")},
         {I(3), I(-5), S("B")},
         {I(4), I(-2), N()},
         {I(5), I(-9), S("a")}});
  }
  TestDatabase db_;
};

TEST_F(SelectTest, LastDrawStatement) {
  const std::string sql = "select  max([date]) as mx,max(id) as mid from ";
  const SelectResult empty = RunSelect(db_, sql + "lotto");
  EXPECT_EQ(empty.names, (std::vector<std::string>{"mx", "mid"}));
  EXPECT_EQ(RowsText(empty), "NULL,NULL;");
  EXPECT_EQ(empty.rows_affected, 1u);

  const SelectResult full = RunSelect(db_, sql + "draws");
  EXPECT_EQ(RowsText(full), "2010-01-02,3;");
  EXPECT_EQ(full.rows_affected, 1u);
  EXPECT_EQ(full.columns[0].type, kTypeDate);
  // MAX of an AUTOINC column is a plain Integer.
  EXPECT_EQ(full.columns[1].type, kTypeInteger);
  EXPECT_EQ(full.columns[1].subtype, 0);
}

// Simple WHERE comparisons, grouping by one number and aggregates over
// plain numeric columns are decided on the records' bytes; the same query
// with its columns inside expressions goes through evaluation and must give
// the same rows. NULLs, "<>" (true for a NULL), a constant on the left, a
// parameter, and numbers of both kinds on either side.
TEST_F(SelectTest, ColumnComparisonsAndAggregatesMatchEvaluation) {
  auto F = [](double v) { return TValue::Float(v); };
  MakeTable(db_, "m",
            {Column("k", kTypeSmallInt), Column("f", kTypeFloat), Column("w", kTypeLargeInt),
             Column("t", kTypeTimestamp)},
            {{I(1), F(1.5), I(10), N()},
             {N(), F(2), I(-4), N()},
             {I(3), N(), N(), N()},
             {I(3), F(3), I(7), N()},
             {I(-2), F(-2), I(7), N()},
             {N(), F(0), I(1), N()}});
  const std::vector<TValue> param{I(3)};
  const struct {
    const char* fast;
    const char* evaluated;
  } cases[] = {
      {"select count(*) from m where k = 3", "select count(*) from m where k + 0 = 3"},
      {"select count(*) from m where k <> 3", "select count(*) from m where k + 0 <> 3"},
      {"select count(*) from m where 3 < k", "select count(*) from m where 3 < k + 0"},
      {"select count(*) from m where 2 >= k", "select count(*) from m where 2 >= k + 0"},
      {"select count(*) from m where k > 2.5", "select count(*) from m where k + 0 > 2.5"},
      {"select count(*) from m where f <= 2", "select count(*) from m where f + 0 <= 2"},
      {"select count(*) from m where f <> 2 and w < 8",
       "select count(*) from m where f + 0 <> 2 and w + 0 < 8"},
      {"select count(*) from m where k = ?", "select count(*) from m where k + 0 = ?"},
      {"select k, f from m where w >= 7", "select k, f from m where w + 0 >= 7"},
      {"select min(k), max(k), max(f), sum(w), avg(k), count(f), count(*), max(t) from m",
       "select min(k + 0), max(k + 0), max(f + 0), sum(w + 0), avg(k + 0), count(f + 0), "
       "count(*), max(t) from m where w = w or w is null"},
      {"select k, count(*), min(f), sum(w), max(k) from m group by k",
       "select k, count(k + 0) + count(*) - count(k), min(f + 0), sum(w + 0), max(k + 0) "
       "from m group by k"},
      {"select w, count(*), sum(k) from m where f > -5 group by w",
       "select w, count(*), sum(k + 0) from m where f + 0 > -5 group by w"},
  };
  for (const auto& c : cases) {
    SelectOptions options;
    options.parameters = param;
    EXPECT_EQ(RowsText(RunSelect(db_, c.fast, options)),
              RowsText(RunSelect(db_, c.evaluated, options)))
        << c.fast;
  }
  EXPECT_EQ(RowsText(RunSelect(db_, "select count(*) from m where k <> 3")), "4;");
  EXPECT_EQ(RowsText(RunSelect(db_, "select k, count(*) from m group by k")),
            "NULL,2;-2,1;1,1;3,2;");
}

TEST_F(SelectTest, AggregateValuesAndTypes) {
  struct Case {
    const char* sql;
    const char* rows;
  } cases[] = {
      {"select max(v) from nums", "-2;"},  // NULLs first, then negatives
      {"select min(v), count(v), count(*), sum(v) from nums", "-9,3,5,-16;"},
      {"select count(*) from lotto", "0;"},
      {"select count(v), count(*), max(v) from nums where k > 100", "0,0,NULL;"},
      {"select avg(v) from nums", "-5;"},   // -16 / 3 truncated
      {"select avg(n1) from draws", "5;"},  // 15 / 3
      {"select stddev(n1) from draws", "1.7320508075688772;"},
      {"select stddev(n1) from draws where n1 = 7", "0;"},
      {"select max(v) + 1, count(*) * 2 from nums", "-1,10;"},
      {"select min(s), max(s) from nums", "B,b;"},
      {"select max(k) from nums where s is null", "4;"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RowsText(RunSelect(db_, c.sql)), c.rows) << c.sql;
  }
  const SelectResult r =
      RunSelect(db_, "select sum(v), sum(n1), count(k), avg(k) from nums, draws");
  EXPECT_EQ(r.columns[0].type, kTypeLargeInt);  // SUM of Integer
  EXPECT_EQ(r.columns[1].type, kTypeInteger);   // SUM of SmallInt
  EXPECT_EQ(r.columns[2].type, kTypeInteger);
  EXPECT_EQ(r.columns[3].type, kTypeLargeInt);
}

TEST_F(SelectTest, ResultColumnNames) {
  struct Case {
    const char* sql;
    std::vector<std::string> names;
  } cases[] = {
      {"select max(id), max(id) from draws", {"Max Of id", "Max Of id_1"}},
      {"select count(*), sum(n1 + 1), n1 + 1 from draws group by 3",
       {"Count Of Expr", "Sum Of Expr", "Expression"}},
      {"select min(n1), avg(n1), stddev(n1), runsum(n1) from draws",
       {"Min Of n1", "Average Of n1", "StdDev Of n1", "Running Sum Of n1"}},
      {"select k recordid, k, k from nums", {"recordid_1", "k", "k_1"}},
      {"select * from nums", {"k", "v", "s"}},
      {"select a.k, b.k from nums a, nums b where a.k = b.k", {"k", "k_1"}},
  };
  for (const Case& c : cases) EXPECT_EQ(RunSelect(db_, c.sql).names, c.names) << c.sql;
}

TEST_F(SelectTest, RowsOrderingGroupingAndSets) {
  struct Case {
    const char* sql;
    const char* rows;
  } cases[] = {
      {"select k, s from nums where v < -3 order by k", "3,B;5,a;"},
      {"select * from nums where k = 4", "4,-2,NULL;"},
      {"select k, s from nums order by s desc, k", "1,b;2,a;5,a;3,B;4,NULL;"},
      {"select k, s from nums order by s, k nocase", "4,NULL;2,a;5,a;1,b;3,B;"},
      {"select distinct s from nums order by 1", "NULL;B;a;b;"},
      {"select distinct v from nums", "NULL;-5;-2;-9;"},  // as first met
      {"select distinct s from nums top 2", "b;a;"},
      {"select k from nums order by k desc top 2", "5;4;"},
      {"select n1, count(*) from draws group by n1", "4,2;7,1;"},
      {"select n1, count(*) as c from draws group by n1 having count(*) > 1", "4,2;"},
      {"select n1, runsum(n1) from draws group by n1", "4,8;7,15;"},
      {"select k from nums where k < 3 union select k from nums where k > 3 order by 1",
       "1;2;4;5;"},
      {"select s from nums union select s from nums order by 1", "NULL;B;a;b;"},
      {"select s from nums union all select s from nums where k = 1 order by 1", "NULL;B;a;a;b;b;"},
      {"select k from nums intersect select n1 from draws", "4;"},
      {"select k from nums except select n1 from draws order by k", "1;2;3;5;"},
      {"select k from nums where k in (select n1 from draws) or k = 1 order by k", "1;4;"},
      {"select k from nums where k not in (select n1 from draws) order by k desc top 1", "5;"},
      {"(select k from nums where k = 2)", "2;"},
  };
  for (const Case& c : cases) EXPECT_EQ(RowsText(RunSelect(db_, c.sql)), c.rows) << c.sql;
}

// ORDER BY on a canned result: the rows are stored in the order they were
// computed and a temporary index on the ordering columns is the result's
// order; TOP deletes rows from its end. A key too long for an index is
// sorted before the rows are stored, with the same order.
TEST_F(SelectTest, OrderByThroughATemporaryIndex) {
  std::unique_ptr<TResultTable> kept;
  std::vector<std::string> plan;
  SelectOptions options;
  options.keep = &kept;
  options.plan = &plan;
  const SelectResult r = RunSelect(db_, "select k, s from nums order by s desc, k top 4", options);
  EXPECT_EQ(RowsText(r), "1,b;2,a;5,a;3,B;");
  EXPECT_EQ(r.rows_affected, 4u);
  EXPECT_NE(
      std::find(plan.begin(), plan.end(), "Result set will be ordered through a temporary index"),
      plan.end());
  TDataCursor& c = kept->cursor();
  EXPECT_EQ(c.RecordCount(), 4u);
  c.SetCurrentIndex(kNaturalOrder);
  std::string natural;
  c.First();
  while (c.Next()) natural += Text(ReadColumnValue(c.current(), c.fields()[0])) + ";";
  EXPECT_EQ(natural, "1;2;3;5;");  // stored in scan order, the one beyond TOP deleted

  MakeTable(db_, "wide", {Column("a", kTypeString, 0, 250), Column("b", kTypeInteger)},
            {{S("y"), I(1)}, {S("x"), I(2)}, {S("y"), I(0)}});
  std::string columns = "b", order = "1";
  for (int i = 0; i < 20; ++i) {
    columns += ", a";
    order = std::to_string(i + 2) + ", " + order;
  }
  plan.clear();
  const SelectResult wide =
      RunSelect(db_, "select " + columns + " from wide order by " + order + " top 2", options);
  ASSERT_EQ(wide.rows.size(), 2u);
  EXPECT_EQ(Text(wide.rows[0][0]) + Text(wide.rows[1][0]), "20");
  EXPECT_NE(
      std::find(plan.begin(), plan.end(), "Result set will be ordered by the ORDER BY columns"),
      plan.end());
}

bool HasLine(const std::vector<std::string>& plan, const std::string& line) {
  return std::find(plan.begin(), plan.end(), line) != plan.end();
}

// Grouping, DISTINCT and the set operations find equal rows through
// temporary indexes on generated tables: the results are those of the
// rules (NULL group first, groups in key order, ties of a later ORDER BY in
// group order, AVG truncated, HAVING over aggregates that are no column).
TEST_F(SelectTest, GroupingDistinctAndSetsThroughTemporaryIndexes) {
  const std::string grouped = "Grouped rows will be found through a temporary index";
  const std::string distinct = "Distinct rows will be found through a temporary index";
  const std::string sets =
      "Duplicate rows of the set operation will be found through a temporary index";
  struct Case {
    const char* sql;
    const char* rows;
    std::string plan_line;
  } cases[] = {
      {"select s, count(*), avg(v), min(k), max(s) from nums group by s",
       "NULL,1,-2,4,NULL;B,1,-5,3,B;a,2,-9,2,a;b,1,NULL,1,b;", grouped},
      {"select s, count(*) from nums group by s order by 2", "NULL,1;B,1;b,1;a,2;", grouped},
      {"select s, count(*) from nums group by s order by 1 nocase", "NULL,1;a,2;B,1;b,1;", grouped},
      {"select s, avg(k) from nums group by s having stddev(k) > 0", "a,3;", grouped},
      {"select s, runsum(k), max(k) + count(*) from nums group by s having count(*) > 1", "a,14,7;",
       grouped},
      {"select distinct s, count(*) from nums group by s", "NULL,1;B,1;a,2;b,1;", distinct},
      {"select distinct s from nums", "b;a;B;NULL;", distinct},
      {"select s from nums union select s from nums where k > 2", "b;a;B;NULL;", sets},
      {"select n1 from draws intersect all select n1 from draws where n1 = 4", "4;4;", sets},
      {"select n1 from draws except all select n1 from draws where id = 1", "7;4;", sets},
      {"select k from nums where s in (select s from nums where k <> 1) order by k", "2;3;4;5;",
       ""},
      {"select k from nums where k in (select n1 from draws group by n1 having count(*) > 1)", "4;",
       ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> plan;
    SelectOptions options;
    options.plan = &plan;
    EXPECT_EQ(RowsText(RunSelect(db_, c.sql, options)), c.rows) << c.sql;
    EXPECT_TRUE(c.plan_line.empty() || HasLine(plan, c.plan_line)) << c.sql;
  }

  // AVG and STDDEV keep their counts and sums in hidden columns of the
  // generated table.
  std::unique_ptr<TResultTable> kept;
  SelectOptions options;
  options.keep = &kept;
  const SelectResult r =
      RunSelect(db_, "select s, avg(k) from nums group by s having stddev(k) > 0", options);
  EXPECT_EQ(r.names, (std::vector<std::string>{"s", "Average Of k"}));
  std::vector<std::string> hidden;
  for (size_t i = 0; i < kept->cursor().fields().size(); ++i) {
    if (kept->cursor().hidden_columns()[i]) hidden.push_back(kept->cursor().fields()[i].name);
  }
  EXPECT_EQ(hidden, (std::vector<std::string>{"Sys__Avg__Count", "Sys__Aggregate",
                                              "Sys__StdDev__Count", "Sys__StdDev__Sum"}));

  // A grouping key too long for an index: the groups are kept in memory,
  // with the same result.
  MakeTable(db_, "wide", {Column("a", kTypeString, 0, 250), Column("b", kTypeInteger)},
            {{S("y"), I(1)}, {S("x"), I(2)}, {S("y"), I(0)}});
  std::string columns = "count(*)", group = "2";
  for (int i = 0; i < 20; ++i) columns += ", a";
  for (int i = 3; i <= 21; ++i) group += ", " + std::to_string(i);
  std::vector<std::string> plan;
  options = {};
  options.plan = &plan;
  const SelectResult wide =
      RunSelect(db_, "select " + columns + " from wide group by " + group, options);
  ASSERT_EQ(wide.rows.size(), 2u);
  EXPECT_EQ(Text(wide.rows[0][0]) + Text(wide.rows[0][1]) + Text(wide.rows[1][0]), "1x2");
  EXPECT_FALSE(HasLine(plan, grouped));
}

// More groups than are kept in memory: the in-place grouping by one column
// moves its groups to the temporary index and goes on there; the general
// path groups through the index from the start. Both give every group once,
// in key order, as grouping in memory alone does.
TEST_F(SelectTest, ManyGroups) {
  std::vector<std::vector<TValue>> rows;
  std::map<int64_t, std::pair<int64_t, int64_t>> expected;  // g -> count, sum
  const int64_t groups = 101;
  for (int64_t i = 0; i < 2 * groups; ++i) {
    const int64_t g = (i * 7919) % groups;
    rows.push_back({I(g), I(i)});
    ++expected[g].first;
    expected[g].second += i;
  }
  rows.push_back({N(), I(1)});
  MakeTable(db_, "big", {Column("g", kTypeInteger), Column("v", kTypeInteger)}, rows);
  std::string want = "NULL,1,1;";
  for (const auto& [g, cs] : expected) {
    want +=
        std::to_string(g) + "," + std::to_string(cs.first) + "," + std::to_string(cs.second) + ";";
  }
  for (size_t memory : {size_t{16}, size_t{1000}}) {
    SelectOptions options;
    options.memory_groups = memory;
    EXPECT_EQ(RowsText(RunSelect(db_, "select g, count(*), sum(v) from big group by g", options)),
              want);
  }
  EXPECT_EQ(RowsText(RunSelect(db_, "select g, count(*), sum(v + 0) from big group by g")), want);
}

// ORDER BY into a named table: the table holds the rows in that order
// (TOP applied) and keeps no temporary index.
TEST_F(SelectTest, OrderByIntoANamedTable) {
  RunSelect(db_, "select k, s into sorted from nums order by s desc, k top 3");
  EXPECT_EQ(RowsText(RunSelect(db_, "select * from sorted")), "1,b;2,a;5,a;");
  EXPECT_TRUE(db_.OpenTable("sorted", false)->table().indexes().size() <= 1);
}

// An index over the given columns (1-based), descending where desc says.
TIndexDefinition Index(const char* name, std::vector<int16_t> columns,
                       std::vector<uint8_t> desc = {}, bool nocase = false) {
  TIndexDefinition index;
  index.name = name;
  desc.resize(columns.size(), 0);
  index.columns = std::move(columns);
  index.descending_of = std::move(desc);
  index.descending = std::any_of(index.descending_of.begin(), index.descending_of.end(),
                                 [](uint8_t d) { return d != 0; });
  index.case_insensitive = nocase;
  return index;
}

TEST_F(SelectTest, Joins) {
  // The same rows under indexes of every shape: a join finds its rows
  // through an index that leads with the joined column, else through a hash,
  // with the same result.
  const std::vector<std::vector<TValue>> names = {
      {I(4), S("four")}, {I(7), S("seven")}, {I(9), S("nine")}, {N(), S("b")}};
  const std::vector<TFieldDef> columns = {Column("n", kTypeInteger),
                                          Column("name", kTypeString, 0, 10)};
  const struct {
    const char* table;
    std::vector<TIndexDefinition> indexes;
  } variants[] = {
      {"names", {}},
      {"names_n", {Index("byn", {1})}},
      {"names_n_name", {Index("bynname", {1, 2})}},
      {"names_n_desc", {Index("byndesc", {1}, {1})}},
      {"names_name_nocase", {Index("byname", {2}, {}, true), Index("bynamedesc", {2, 1}, {0, 1})}},
  };
  struct Case {
    const char* sql;  // names stands for the variant's table
    const char* rows;
  } cases[] = {
      {"select d.id, x.name from draws d, names x where d.n1 = x.n order by 1",
       "1,four;2,seven;3,four;"},
      {"select d.id, x.name from draws d join names x on x.n = d.n1 where d.id > 1 order by 1",
       "2,seven;3,four;"},
      {"select x.name, d.id from names x left join draws d on d.n1 = x.n order by 1, 2",
       "b,NULL;four,1;four,3;nine,NULL;seven,2;"},
      {"select x.name, d.id from draws d right outer join names x on d.n1 = x.n order by 1, 2",
       "b,NULL;four,1;four,3;nine,NULL;seven,2;"},
      {"select count(*) from draws a, draws b", "9;"},
      {"select a.id, b.id from (draws a inner join draws b on a.n1 = b.n1 and a.id < b.id)",
       "1,3;"},
      {"select n.k, x.n from nums n left join names x on x.n = n.k + 3 where x.name is null "
       "order by 1",
       "2,NULL;3,NULL;5,NULL;"},
      // Two NULLs are equal.
      {"select n.k, x.name from nums n join names x on x.n = n.v order by 1", "1,b;2,b;"},
      // The other side converted to the column's type, exactly or not at all.
      {"select d.id, x.name from draws d join names x on d.n1 + 0.0 = x.n order by 1",
       "1,four;2,seven;3,four;"},
      {"select d.id, x.name from draws d left join names x on x.n = d.n1 + 0.5 order by 1",
       "1,NULL;2,NULL;3,NULL;"},
      {"select d.id, x.name from draws d join names x on x.n = 4 order by 1",
       "1,four;2,four;3,four;"},
      // Text is matched with its case.
      {"select n.k, x.name from nums n join names x on x.name = n.s order by 1", "1,b;"},
      {"select n.k, x.n from nums n join names x on x.name = n.s and x.n is null order by 1",
       "1,NULL;"},
  };
  for (const auto& v : variants) {
    MakeTable(db_, v.table, columns, names, v.indexes);
    for (const Case& c : cases) {
      std::string sql = c.sql;
      const size_t at = sql.find("names");
      if (at != std::string::npos) sql.replace(at, 5, v.table);
      EXPECT_EQ(RowsText(RunSelect(db_, sql)), c.rows) << sql;
    }
  }

  // The plan says how each joined source finds its rows.
  const struct {
    const char* sql;
    const char* line;
  } plans[] = {
      {"select d.id from draws d join names_n x on x.n = d.n1",
       "Inner join of d to x: rows of x found through the index byn for x.n = d.n1"},
      {"select d.id from draws d, names_n_desc x where d.n1 = x.n and d.id > 1",
       "Cross join of d to x: rows of x found through the index byndesc for x.n = d.n1"},
      {"select d.id from draws d join names x on x.n = d.n1",
       "Inner join of d to x: rows of x found through a hash of x.n"},
      {"select n.k from nums n join names_name_nocase x on x.name = n.s",
       "Inner join of n to x: rows of x found through the index byname for x.name = n.s"},
      {"select d.id from draws d, names_n_desc x where d.n1 + 1 = x.n and d.id > 1",
       "Cross join of d to x: rows of x found through the index byndesc for x.n = d.n1 +"},
      {"select n.k from nums n left join names_n x on x.n * 2 = n.k",
       "Left outer join of n to x: rows of x found through a hash of x.n * 2"},
  };
  for (const auto& p : plans) {
    std::vector<std::string> plan;
    SelectOptions options;
    options.plan = &plan;
    RunSelect(db_, p.sql, options);
    EXPECT_NE(std::find(plan.begin(), plan.end(), p.line), plan.end()) << p.sql;
    for (const std::string& line : plan) {
      EXPECT_LE(line.size(), 80u) << line;
      EXPECT_TRUE(line.empty() || line[0] != ' ') << line;
    }
  }
}

TEST_F(SelectTest, IndexShortcutMatchesScan) {
  TIndexDefinition by_v;
  by_v.name = "ByV";
  by_v.columns = {2};
  by_v.descending_of = {1};
  MakeTable(db_, "inums", {Column("k", kTypeInteger), Column("v", kTypeInteger)},
            {{I(1), N()}, {I(2), N()}, {I(3), I(-5)}, {I(4), I(-2)}, {I(5), I(-9)}}, {by_v});
  EXPECT_EQ(RowsText(RunSelect(db_, "select max(v) from inums")), "-2;");
  EXPECT_EQ(RowsText(RunSelect(db_, "select min(v) from inums")), "-9;");
  EXPECT_EQ(RowsText(RunSelect(db_, "select count(*) from inums")), "5;");
  EXPECT_EQ(RowsText(RunSelect(db_, "select max(v) from inums where k < 3")), "NULL;");
}

TEST_F(SelectTest, ProgressAndAbort) {
  std::vector<std::vector<TValue>> rows;
  for (int i = 0; i < 1000; ++i) rows.push_back({I(i)});
  MakeTable(db_, "big", {Column("x", kTypeInteger)}, rows);
  std::vector<int> seen;
  SelectOptions options;
  options.progress = [&](uint16_t percent, bool&) { seen.push_back(percent); };
  RunSelect(db_, "select max(x) from big", options);
  std::vector<int> expected;
  for (int p = 5; p <= 100; p += 5) expected.push_back(p);
  EXPECT_EQ(seen, expected);

  seen.clear();
  RunSelect(db_, "select  max([date]) as mx,max(id) as mid from lotto", options);
  EXPECT_EQ(seen, std::vector<int>{100});

  // A join reports the rows of its first source it has been through.
  seen.clear();
  RunSelect(db_, "select b.x, d.id from big b, draws d where d.n1 = b.x", options);
  EXPECT_EQ(seen, expected);
  seen.clear();
  RunSelect(db_, "select b.x from lotto l right join big b on b.x = l.id", options);
  EXPECT_EQ(seen, std::vector<int>{100});

  options.progress = [](uint16_t percent, bool& abort) { abort = percent >= 50; };
  for (const char* sql : {"select max(x) from big", "select x from big",
                          "select b.x from big b join big c on c.x = b.x",
                          "select x, count(*) from big group by x", "select distinct x from big"}) {
    const SelectResult aborted = RunSelect(db_, sql, options);
    EXPECT_TRUE(aborted.rows.empty()) << sql;
    EXPECT_EQ(aborted.rows_affected, 0u) << sql;
  }

  SelectOptions limited;
  limited.max_row_count = 10;
  EXPECT_EQ(RowsText(RunSelect(db_, "select count(*), max(x) from big", limited)), "10,9;");
  EXPECT_EQ(RunSelect(db_, "select x from big", limited).rows.size(), 10u);
  EXPECT_EQ(
      RowsText(RunSelect(db_, "select b.x from big b join big c on c.x = b.x + 990", limited)),
      "0;1;2;3;4;5;6;7;8;9;");
}

TEST_F(SelectTest, ParsingErrors) {
  struct Case {
    const char* sql;
    const char* message;
  } cases[] = {
      {"select n1 draws",
       "SQL parsing error - Missing FROM in SELECT SQL statement at line 1, column 16"},
      {"select nope from draws",
       "SQL parsing error - Expected column name but instead found nope in SELECT SQL statement at "
       "line 1, column 8"},
      {"select n1 from draws having n1 > 1",
       "SQL parsing error - A GROUP BY clause must exist in order to use the HAVING clause at line "
       "1, column 22"},
      {"select n1, max(id) from draws",
       "SQL parsing error - Invalid use of aggregate function(s), the necessary GROUP BY clause is "
       "missing at line 1, column 8"},
      {"select max(max(id)) from draws",
       "SQL parsing error - Invalid nesting of aggregate functions at line 1, column 12"},
      {"select a.id from draws a full join draws b on a.id = b.id",
       "SQL parsing error - Invalid expression full found in SELECT SQL statement at line 1, "
       "column 26"},
      {"select id from draws a, lotto a",
       "SQL parsing error - Duplicate table or table correlation name a at line 1, column 25"},
      {"select id, n1 from draws union select id from draws",
       "SQL parsing error - The number of columns in queries involved in a UNION, INTERSECT, or "
       "EXCEPT operation must match at line 1, column 47"},
      {"select id from draws top x",
       "SQL parsing error - Expected Integer but instead found x in SELECT SQL statement at line "
       "1, column 26"},
      {"select id from draws locale 'Klingon'",
       "SQL parsing error - Expected locale constant but instead found 'Klingon' in SELECT SQL "
       "statement at line 1, column 29"},
      {"select k from nums where k in (select k, v from nums)",
       "SQL parsing error - The number of columns in an IN sub-query cannot be more than 1 at line "
       "1, column 53"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(db_, c.sql), c.message) << c.sql;

  // Columns that cannot be ordered, grouped or compared, limits, and what
  // HAVING may name.
  MakeTable(db_, "memos",
            {Column("k", kTypeInteger), Column("m", kTypeBlob, kSubtypeMemo),
             Column("w", kTypeString, 0, 400)},
            {});
  std::string many = "select k";
  for (int i = 0; i < 1024; ++i) many += ", k";
  many += " from memos";
  const Case more[] = {
      {"select k, m from memos order by 2",
       "SQL parsing error - Invalid ORDER BY BLOB column number at line 1, column 33"},
      {"select k, m from memos order by m",
       "SQL parsing error - Invalid ORDER BY BLOB column name at line 1, column 33"},
      {"select m, count(*) from memos group by 1",
       "SQL parsing error - Invalid GROUP BY BLOB column number at line 1, column 40"},
      {"select m, count(*) from memos group by m",
       "SQL parsing error - Invalid GROUP BY BLOB column name at line 1, column 40"},
      {"select distinct k, m from memos",
       "SQL parsing error - Invalid DISTINCT BLOB column at line 1, column 20"},
      {"select m from memos union select m from memos",
       "SQL parsing error - You cannot perform a UNION, INTERSECT, or EXCEPT operation without the "
       "ALL clause on queries containing BLOB columns at line 1, column 8"},
      {"select x.* from memos",
       "SQL parsing error - Invalid use of column correlation name x at line 1, column 8"},
      {"select w || w as ww from memos",
       "SQL parsing error - Maximum field size (512) exceeded for column expression ww at line 1, "
       "column 8"},
      {many.c_str(),
       "SQL parsing error - Maximum number of columns (1024) exceeded at line "
       "1, column 3080"},
      {"select n1, count(*) from draws group by n1 having id > 1",
       "SQL parsing error - Expression in HAVING clause not found in source columns at line 1, "
       "column 51"},
      {"select n1, count(*) from draws group by n1 having count(*) > 1 and date > '2000-01-01'",
       "SQL parsing error - Expression in HAVING clause not found in source columns at line 1, "
       "column 68"},
  };
  for (const Case& c : more) EXPECT_EQ(ErrorOf(db_, c.sql), c.message) << c.sql;
  EXPECT_EQ(RowsText(RunSelect(db_, "select m from memos union all select m from memos")), "");
  EXPECT_EQ(RowsText(RunSelect(db_, "select n1, count(*) from draws group by n1 having n1 > 5")),
            "7,1;");
  EXPECT_EQ(ErrorOf(db_, "select id from draws locale 'default' top 1"), "");
  EXPECT_EQ(ErrorOf(db_, "select id from draws locale code 0"), "");
  // Storage errors pass through with their own code.
  try {
    RunSelect(db_, "select * from missing");
    ADD_FAILURE();
  } catch (const ETabulaEngineError& e) {
    EXPECT_EQ(e.code(), storage::kErrFileNotFound);
  }
}

TEST_F(SelectTest, LiveResultsOnlyWhenAskedForAndPossible) {
  TIndexDefinition by_v = Index("ByV", {2}, {1});
  TIndexDefinition by_s = Index("ByS", {3}, {}, true);
  MakeTable(db_, "inums",
            {Column("k", kTypeInteger), Column("v", kTypeInteger), Column("s", kTypeString, 0, 10)},
            {{I(1), N(), S("b")},
             {I(2), N(), S("a")},
             {I(3), I(-5), S("B")},
             {I(4), I(-2), N()},
             {I(5), I(-9), S("a")}},
            {by_v, by_s});
  // Asked for, each query gives the same rows whether live or canned.
  const struct {
    const char* sql;
    bool live;
    const char* rows;
  } cases[] = {
      {"select * from inums where v < -3", true, "3,-5,B;5,-9,a;"},
      {"select k, s from inums where s = 'a'", true, "2,a;5,a;"},
      {"select k from inums where v < ?", true, "3;5;"},
      {"select k, v from inums order by v desc", true, "4,-2;3,-5;5,-9;1,NULL;2,NULL;"},
      {"select k, s from inums order by s nocase", true, "4,NULL;2,a;5,a;1,b;3,B;"},
      {"select k, v from inums order by v", false, "1,NULL;2,NULL;5,-9;3,-5;4,-2;"},
      {"select k, s from inums order by s", false, "4,NULL;3,B;2,a;5,a;1,b;"},
      {"select k, v from inums order by k", false, "1,NULL;2,NULL;3,-5;4,-2;5,-9;"},
      {"select v, k from inums where k = 3", false, "-5,3;"},
      {"select k as key from inums where k = 3", false, "3;"},
      {"select k, k from inums where k = 3", false, "3,3;"},
      {"select k + 0 from inums where k = 3", false, "3;"},
      {"select count(*) from inums", false, "5;"},
      {"select distinct s from inums where k < 3", false, "b;a;"},
      {"select k from inums top 1", false, "1;"},
      {"select k from inums where k in (select n1 from draws)", false, "4;"},
      {"select a.k from inums a, draws b where a.k = b.id and a.k = 2", false, "2;"},
      {"select k from inums where k = 1 union all select k from inums where k = 1", false, "1;1;"},
  };
  for (const auto& c : cases) {
    SelectOptions options;
    options.parameters = {I(-3)};
    options.request_live = true;
    const SelectResult live = RunSelect(db_, c.sql, options);
    EXPECT_EQ(live.live, c.live) << c.sql;
    EXPECT_EQ(RowsText(live), c.rows) << c.sql;
    EXPECT_EQ(live.rows_affected, live.rows.size()) << c.sql;
    options.request_live = false;
    const SelectResult canned = RunSelect(db_, c.sql, options);
    EXPECT_FALSE(canned.live) << c.sql;
    EXPECT_EQ(RowsText(canned), c.rows) << c.sql;
    EXPECT_EQ(canned.names, live.names) << c.sql;
  }
}

TEST_F(SelectTest, LiveResultIsTheTablesCursorFilteredByWhere) {
  // The result outlives the query that made it (and its parameters) and
  // shows the table's later changes through its filter.
  std::unique_ptr<TResultTable> result;
  std::vector<std::string> plan;
  {
    SelectOptions options;
    options.request_live = true;
    options.parameters = {I(-3)};
    options.keep = &result;
    options.plan = &plan;
    const SelectResult r = RunSelect(db_, "select k from nums where v < ?", options);
    ASSERT_TRUE(r.live);
    EXPECT_EQ(RowsText(r), "3;5;");
  }
  EXPECT_NE(std::find(plan.begin(), plan.end(), "Result set will be live"), plan.end());
  auto other = db_.OpenTable("nums", false);
  TRecordBuffer record = other->NewRecord();
  WriteColumnValue(record, other->fields()[0], I(6));
  WriteColumnValue(record, other->fields()[1], I(-7));
  other->Insert(record);
  record = other->NewRecord();
  WriteColumnValue(record, other->fields()[0], I(7));
  WriteColumnValue(record, other->fields()[1], I(7));
  other->Insert(record);

  TDataCursor& c = result->cursor();
  EXPECT_EQ(c.RecordCount(), 3u);
  std::string keys;
  for (c.First(); c.Next();) keys += Text(ReadColumnValue(c.current(), c.fields()[0])) + ";";
  EXPECT_EQ(keys, "3;5;6;");
  keys.clear();
  for (c.Last(); c.Prior();) keys += Text(ReadColumnValue(c.current(), c.fields()[0])) + ";";
  EXPECT_EQ(keys, "6;5;3;");
  EXPECT_EQ(c.hidden_columns(), (std::vector<bool>{false, true, true}));
}

TEST_F(SelectTest, IntoKeepsTheResultUnderItsName) {
  {
    const SelectResult r = RunSelect(db_, "select k, s into kept from nums where k < 3");
    EXPECT_EQ(RowsText(r), "1,b;2,a;");
  }
  // The named table stays when the result goes, and reads like any other.
  ASSERT_TRUE(db_.TableExists("kept"));
  EXPECT_EQ(RowsText(RunSelect(db_, "select * from kept order by k desc")), "2,a;1,b;");
}

TEST_F(SelectTest, ThroughTheStatement) {
  TQueryStatement statement(db_);
  statement.Prepare("select  max([date]) as mx,max(id) as mid from draws;", 3, 5);
  EXPECT_EQ(statement.Kind(), skSelect);
  EXPECT_EQ(statement.TableName(), "draws");
  std::vector<int> progress;
  statement.callbacks.progress = [&](uint16_t p, bool&) { progress.push_back(p); };
  TExecuteOptions options;
  options.progress = true;
  options.plan = true;
  auto result = statement.Execute({}, options);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(statement.RowsAffected(), 1u);
  EXPECT_EQ(progress.back(), 100);
  TDataCursor& c = result->cursor();
  c.First();
  ASSERT_TRUE(c.Next());
  EXPECT_EQ(ValueText(ReadColumnValue(c.current(), c.fields()[1])), "3");
  EXPECT_FALSE(c.Next());
  const auto& plan = statement.Plan();
  EXPECT_NE(std::find(plan.begin(), plan.end(), "Result set will consist of one grouped row"),
            plan.end());
  EXPECT_EQ(plan.back().substr(0, 6), ">>>>> ");

  statement.Prepare("(select k from nums where k > ?)");
  EXPECT_EQ(statement.Kind(), skSelect);
  EXPECT_EQ(statement.ParameterCount(), 1);
  statement.Execute({I(3)});
  EXPECT_EQ(statement.RowsAffected(), 2u);
  try {
    statement.Prepare("select k from nums x y");
    ADD_FAILURE();
  } catch (const ETabulaEngineError& e) {
    EXPECT_EQ(e.text(),
              "SQL parsing error - Expected end of statement but instead found y in SELECT SQL "
              "statement at line 1, column 22");
  }
}

}  // namespace
}  // namespace downsql::sql::testing
