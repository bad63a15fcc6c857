#include "db/sql/expression_evaluator.h"

#include <gtest/gtest.h>

#include "db/storage/engine_error.h"
#include "tests/sql/test_resolver.h"

namespace downsql::sql {
namespace {

using namespace storage;
using testing::Prepare;
using testing::TestResolver;

std::string Evaluate(const std::string& sql, TestResolver& r, TEvalContext& ctx) {
  TExpressionParser p;
  try {
    auto root = Prepare(sql, r, p);
    const TValue v = EvaluateExpression(*root, ctx);
    return v.null ? "NULL" : ValueText(v);
  } catch (const ETabulaEngineError& e) {
    return e.what();
  }
}

struct Case {
  const char* sql;
  const char* result;
};

void RunCases(const Case* begin, const Case* end) {
  TestResolver r;
  TEvalContext ctx;
  ctx.resolver = &r;
  for (const Case* c = begin; c != end; ++c)
    EXPECT_EQ(Evaluate(c->sql, r, ctx), c->result) << c->sql;
}

TEST(Evaluator, NullSemantics) {
  const Case cases[] = {
      {"n = NULL", "TRUE"},
      {"n = n", "TRUE"},
      {"n = 1", "FALSE"},
      {"n <> NULL", "FALSE"},
      {"n <> 1", "TRUE"},
      {"n is null and id is not null", "TRUE"},
      {"'' is null", "TRUE"},
      {"s < 'a'", "TRUE"},  // a NULL string orders as the empty string
      {"s >= ''", "TRUE"},
      {"n < 1", "FALSE"},
      {"n >= 1", "FALSE"},
      {"not n < 1", "TRUE"},
      {"s like '%'", "FALSE"},
      {"s not like 'a%'", "TRUE"},
      {"n between 1 and 2", "FALSE"},
      {"n not between 1 and 2", "TRUE"},
      {"n in (1, NULL)", "TRUE"},
      {"n not in (1, 2)", "TRUE"},
      {"n + 1", "NULL"},
      {"name || s", "NULL"},
      {"id / 0", "NULL"},
      {"id mod 0", "NULL"},
      {"nb and b", "FALSE"},
      {"nb or b", "TRUE"},
      {"not nb", "TRUE"},
      {"upper(s)", "NULL"},
      {"coalesce(n, 5)", "5"},
      {"ifnull(n, 0)", "0"},
      {"nullif(id, 7)", "NULL"},
      {"nullif(id, 8)", "7"},
      {"if(n > 1 then 'a' else 'b')", "b"},
      {"case when n > 0 then 1 end", "NULL"},
  };
  RunCases(std::begin(cases), std::end(cases));
}

TEST(Evaluator, OperatorsAndComparisons) {
  const Case cases[] = {
      {"id + 1", "8"},
      {"-id * 2", "-14"},
      {"id / 2", "3.5"},
      {"id mod 4", "3"},
      {"f mod 2", "0.5"},
      {"2147483647 + big", "7147483647"},
      {"name + '!' || 'x'", "Lotto!x"},
      {"id between 7 and 8 and id not between 1 and 6", "TRUE"},
      {"id in (1, 7)", "TRUE"},
      {"name like 'Lo%o' and name like 'L_tto' and name like '%'", "TRUE"},
      {"name like 'lotto'", "FALSE"},
      {"'a%b' like 'a\\%b' escape '\\'", "TRUE"},
      {"'axb' like 'a\\%b' escape '\\'", "FALSE"},
      {"'abcabd' like '%ab_'", "TRUE"},
      {"name > 'Lott' and name < 'Lottp'", "TRUE"},
      {"d = '2009-3-14' and d > '2009-03-13'", "TRUE"},
      {"ts > d and ts < d + 1", "TRUE"},
      {"t = '1:05 PM'", "TRUE"},
      {"d + 1", "2009-03-15"},
      {"d - '2009-3-1'", "13"},
      {"t + 60000", "13:06"},
      {"b and not f > 3", "TRUE"},
      {"big > id", "TRUE"},
      {"f = 2.5 and id = 7.0", "TRUE"},
  };
  RunCases(std::begin(cases), std::end(cases));
}

TEST(Evaluator, Functions) {
  const Case cases[] = {
      {"upper(name) || lower(name)", "LOTTOlotto"},
      {"left(name, 2) || right(name for 3)", "Lotto"},
      {"substring(name from 2 for 3) || substring(name, 4)", "ottto"},
      {"substring(name from 9)", "NULL"},
      {"repeat('ab' with 3) || concat(name, '!')", "abababLotto!"},
      {"length(name)", "5"},
      {"replace('t' with 'T' in name)", "LoTTo"},
      {"position('tt' in name) + pos('x', name) + occurs('t' in name)", "5"},
      {"trim(both 'x' from 'xxaxx') || trim(leading 'x' from 'xa') || trim(' b ')", "aab"},
      {"ltrim('  a ') || '|' || rtrim(' a  ') || alltrim('  a  ')", "a | aa"},
      {"extract(dayofweek from d)", "7"},
      {"extract(dayofyear from d) + extract(month from d) * 1000", "3073"},
      {"extract(week from '2009-1-4')", "2"},
      {"extract(hour from ts) + extract(minute from t)", "18"},
      {"extract(year from '2009-2-3 10:00')", "2009"},
      {"cast(id as varchar(1)) || cast(d as varchar(10))", "72009-03-14"},
      {"cast('2009-2-3' as date)", "2009-02-03"},
      {"cast(f as integer)", "3"},
      {"cast(' 12 ' as integer) + 1", "13"},
      {"cast(d as timestamp)", "2009-03-14 00:00"},
      {"cast('true' as boolean)", "TRUE"},
      {"cast(1.005 as decimal(10,2))", "1"},
      {"round(1.25, 1) + round(2.5)", "4.3"},
      {"cast(2147483647 as largeint) + 1", "2147483648"},
      {"truncate(-1.99) + abs(-3) + sign(-2.5)", "1"},
      {"power(2, 10) + floor(2.5) + ceiling(2.1) + mod(7, 3)", "1030"},
      {"sqrt(-1)", "NULL"},
      {"log(0)", "NULL"},
      {"case id when 7 then 'seven' else 'other' end", "seven"},
      {"case when id > 7 then 'big' when id > 5 then 'mid' else 'small' end", "mid"},
      {"yearsfrommsecs(31622400000) + daysfrommsecs(31622400000) + hoursfrommsecs(7200000)", "4"},
      {"textsearch('lotto plus' in 'Duzy LOTTO, Plus')", "TRUE"},
      {"textsearch('mini' in 'Duzy LOTTO')", "FALSE"},
      {"textoccurs('lotto' in 'lotto Lotto x')", "2"},
      {"lastautoinc('lotto')", "NULL"},
      {"length(current_guid)", "38"},
      {"rand(range 1) + 0 * rand()", "0"},
  };
  RunCases(std::begin(cases), std::end(cases));
}

TEST(Evaluator, ExecutionErrors) {
  const Case cases[] = {
      {"big * big",
       "Tabula Engine Error # 11950 SQL execution error - Numeric overflow in the "
       "expression big * big"},
      {"2147483647 + 1",
       "Tabula Engine Error # 11950 SQL execution error - Numeric overflow in the "
       "expression 2147483647 + 1"},
      {"-(id - 2147483647 - 8)",
       "Tabula Engine Error # 11950 SQL execution error - Numeric overflow in the "
       "expression -(id - 2147483647 - 8)"},
      {"round(f, id)",
       "Tabula Engine Error # 11950 SQL execution error - Scale argument must be an integer "
       "less than or equal to 4 but greater than or equal to 0"},
      {"cast('2009/02/03' as date)",
       "Tabula Engine Error # 11950 SQL execution error - "
       "'2009/02/03' is not a valid date"},
      {"cast('x' as timestamp)",
       "Tabula Engine Error # 11950 SQL execution error - 'x' is not "
       "a valid date and time"},
      {"cast('yes' as boolean)",
       "Tabula Engine Error # 11950 SQL execution error - 'yes' is not "
       "a valid boolean"},
      {"ts + 1E55",
       "Tabula Engine Error # 11950 SQL execution error - Timestamp value out of "
       "range in ts + 1E55"},
      {"d + 1E9",
       "Tabula Engine Error # 11950 SQL execution error - Date value out of range in "
       "d + 1E9"},
      {"cast('1x' as integer)",
       "Tabula Engine Error # 11950 SQL execution error - '1x' is not a "
       "valid integer"},
  };
  RunCases(std::begin(cases), std::end(cases));
  TestResolver r;
  r.has_row = false;
  TEvalContext ctx;
  ctx.resolver = &r;
  EXPECT_EQ(Evaluate("id + 1", r, ctx),
            "Tabula Engine Error # 11950 SQL execution error - Internal error: Column \"id\" "
            "specified illegally");
}

// Records the order in which columns are read.
class OrderResolver : public TestResolver {
 public:
  bool ReadColumn(const TColumnBinding& binding, TValue* value) override {
    reads += columns[binding.field].name + " ";
    return TestResolver::ReadColumn(binding, value);
  }
  std::string reads;
};

TEST(Evaluator, AndOrEvaluateTheRightOperandFirst) {
  struct OrderCase {
    const char* sql;
    const char* reads;
  };
  const OrderCase cases[] = {
      {"name = 'x' and id = 8", "id "},
      {"name = 'x' and id = 7", "id name "},
      {"name = 'x' or id = 7", "id "},
      {"name = 'x' or id = 8", "id name "},
  };
  for (const auto& c : cases) {
    OrderResolver r;
    TEvalContext ctx;
    ctx.resolver = &r;
    TExpressionParser p;
    auto root = Prepare(c.sql, r, p);
    EvaluateCondition(*root, ctx);
    EXPECT_EQ(r.reads, c.reads) << c.sql;
  }
}

TEST(Evaluator, ParametersAndTheClock) {
  TestResolver r;
  TEvalContext ctx;
  ctx.resolver = &r;
  ctx.clock = [] { return platform::LocalDateTime{2009, 3, 14, 13, 5, 7, 9}; };
  const std::vector<TValue> params = {TValue::String("2009-3-14"), TValue::Integer(7)};
  ctx.parameters = &params;
  EXPECT_EQ(Evaluate("d = ? and id = ?", r, ctx), "TRUE");
  const std::vector<TValue> texts = {TValue::String("5"), TValue::String("2")};
  ctx.parameters = &texts;
  EXPECT_EQ(Evaluate("? + id", r, ctx), "12");
  EXPECT_EQ(Evaluate("d + ?", r, ctx), "2009-03-19");
  EXPECT_EQ(Evaluate("name || ?", r, ctx), "Lotto5");
  ctx.parameters = &params;
  EXPECT_EQ(Evaluate("current_date", r, ctx), "2009-03-14");
  EXPECT_EQ(Evaluate("current_time", r, ctx), "13:05:07.009");
  EXPECT_EQ(Evaluate("current_timestamp", r, ctx), "2009-03-14 13:05:07.009");
  EXPECT_EQ(Evaluate("current_date = d", r, ctx), "TRUE");
}

TEST(Evaluator, AggregatesYieldTheirArgumentOnASourceRow) {
  TestResolver r;
  TEvalContext ctx;
  ctx.resolver = &r;
  EXPECT_EQ(Evaluate("max([d])", r, ctx), "2009-03-14");
  EXPECT_EQ(Evaluate("count(*) + count(n)", r, ctx), "NULL");
  EXPECT_EQ(Evaluate("count(id)", r, ctx), "1");
  EXPECT_EQ(Evaluate("sum(id)", r, ctx), "7");
}

}  // namespace
}  // namespace downsql::sql
