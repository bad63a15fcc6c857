#include <gtest/gtest.h>

#include <string>

#include "db/sql/expression_parser.h"
#include "db/storage/engine_error.h"

namespace downsql::sql {
namespace {

using namespace storage;

// The tree as a compact prefix form: (code children...), constants as
// type:value, columns as correlation.name, functions by SQL name.
std::string Dump(const TExpToken* n) {
  if (n == nullptr) return "_";
  switch (n->kind) {
    case kNodeConstant:
      if (n->param_index >= 0) return "?" + std::to_string(n->param_index);
      if (n->value.null) return std::to_string(n->value.type) + ":null";
      if (n->value.type == kTypeString) return "'" + n->value.s + "'";
      if (n->value.type == kTypeFloat) return "f:" + std::to_string(n->value.f);
      return std::to_string(n->value.type) + ":" + std::to_string(n->value.i);
    case kNodeColumn:
      return (n->correlation.empty() ? "" : n->correlation + ".") +
             (n->star ? "*" : n->column_name);
    case kNodeFunction: {
      std::string s = std::string("(") + FunctionName(n->code);
      if (n->option) s += "/" + std::to_string(n->option);
      for (const auto& a : n->args) s += " " + Dump(a.get());
      return s + ")";
    }
    default: {
      std::string s = "(" + std::to_string(n->code) + " " + Dump(n->left.get());
      if (n->right) s += " " + Dump(n->right.get());
      for (const auto& a : n->args) s += " " + Dump(a.get());
      return s + ")";
    }
  }
}

constexpr uint32_t kAll = kAllowAggregates | kAllowQualified | kAllowStar | kAllowParameters;

std::string Parse(const std::string& sql, uint32_t flags = kAll) {
  TExpressionParser p;
  p.Load(sql, 1, 1);
  p.NextToken();
  try {
    auto root = p.ParseExpression(flags);
    if (!p.IsKind(kTokEnd)) return Dump(root.get()) + " <rest " + p.TokenText() + ">";
    return Dump(root.get());
  } catch (const ETabulaEngineError& e) {
    return e.text();
  }
}

struct Case {
  const char* sql;
  const char* tree;
};

TEST(Parser, TreesAndPrecedence) {
  const Case cases[] = {
      {"max([date])", "(MAX date)"},
      {"a + b * c - d", "(18 (17 a (19 b c)) d)"},
      {"a || 'x' + b", "(17 (17 a 'x') b)"},
      {"NOT a = 1 AND b OR c", "(11 (10 (9 (3 a 6:1)) b) c)"},
      {"a <> 1 or a < = 2 or a>=3", "(11 (11 (4 a 6:1) (8 a 6:2)) (7 a 6:3))"},
      {"x NOT BETWEEN 1 AND 2+3", "(34 x 6:1 (17 6:2 6:3))"},
      {"x not like 'a%' escape '\\'", "(35 x 'a%' '\\')"},
      {"x IN (1, 'a', NULL)", "(29 x 6:1 'a' 0:null)"},
      {"x is null and y IS NOT NULL", "(10 (3 x 0:null) (4 y 0:null))"},
      {"-a mod 3 / +2", "(20 (72 (15 a) 6:3) (16 6:2))"},
      {"mod(7, 2)", "(72 6:7 6:2)"},
      {"t.x = [my col].\"y\" and t.* is null", "(10 (3 t.x my col.y) (3 t.* 0:null))"},
      {"? + ?", "(17 ?0 ?1)"},
      {"2147483647 + 2147483648 + 12345678901234567890",
       "(17 (17 6:2147483647 18:2147483648) f:12345678901234567168.000000)"},
      {"1.5e3 + .25 + #13 + '' + TRUE",
       "(17 (17 (17 (17 f:1500.000000 f:0.250000) '\r') 1:null) 4:1)"},
      {"#00065 || #066", "(17 'A' 'B')"},
      {"count(*) + Count(x)", "(17 (COUNT/1) (COUNT x))"},
      {"left(s for 2) || right(s, 1)", "(17 (LEFT s 6:2) (RIGHT s 6:1))"},
      {"substring(s from 2 for 3) + substring(s, 2)",
       "(17 (SUBSTRING s 6:2 6:3) (SUBSTRING s 6:2))"},
      {"replace('a' with 'b' in s)", "(REPLACE 'a' 'b' s)"},
      {"pos('a' in s) + position('a', s) + occurs('a' in s)",
       "(17 (17 (POSITION 'a' s) (POSITION 'a' s)) (OCCURS 'a' s))"},
      {"trim(leading 'x' from s) || trim(trailing from s) || trim(s)",
       "(17 (17 (TRIM/1 'x' s) (TRIM/2 ' ' s)) (TRIM ' ' s))"},
      {"extract(dayofweek from d) + round(x to 2) + power(x, 2)",
       "(17 (17 (EXTRACT/4 d) (ROUND x 6:2)) (POWER x 6:2))"},
      {"if(a > 1 then 'x' else 'y')", "(IF (5 a 6:1) 'x' 'y')"},
      {"coalesce(a, b, 1) + ifnull(a, 0) + nullif(a, 0)",
       "(17 (17 (COALESCE a b 6:1) (IFNULL a 6:0)) (NULLIF a 6:0))"},
      {"case when a then 1 when b then 2 else 3 end", "(CASE/2 a 6:1 b 6:2 6:3)"},
      {"case x when 1 then 'a' end", "(CASE/1 x 6:1 'a')"},
      {"current_date + CURRENT_GUID", "(17 (CURRENT_DATE) (CURRENT_GUID))"},
      {"ucase(lcase(s)) + rand(range 10) + pi()", "(17 (17 (UPPER (LOWER s)) (RAND 6:10)) (PI))"},
      {"select + from", "(17 select from)"},
      {"a b", "a <rest b>"},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.sql), c.tree) << c.sql;
}

TEST(Parser, CastTakesADataType) {
  TExpressionParser p;
  p.Load("cast(x as varchar(20)) + cast(y, decimal(10, 2)) + cast(z as money)", 1, 1);
  p.NextToken();
  auto root = p.ParseExpression(kAll);
  const TExpToken& a = *root->left->left;
  const TExpToken& b = *root->left->right;
  const TExpToken& c = *root->right;
  EXPECT_EQ(a.type, kTypeString);
  EXPECT_EQ(a.size, 20u);
  EXPECT_EQ(b.type, kTypeDecimal);
  EXPECT_EQ(b.scale, 2);
  EXPECT_EQ(c.type, kTypeFloat);
  EXPECT_EQ(c.subtype, kSubtypeMoney);
}

TEST(Parser, ErrorsNameWhatWasExpected) {
  const Case cases[] = {
      {"a +", "SQL parsing error - Missing expression in SQL statement at line 1, column 4"},
      {"a + )",
       "SQL parsing error - Expected expression but instead found ) in SQL statement at "
       "line 1, column 5"},
      {"(a", "SQL parsing error - Missing ) in SQL statement at line 1, column 3"},
      {"a is 1",
       "SQL parsing error - Expected NULL or NOT but instead found 1 in SQL statement "
       "at line 1, column 6"},
      {"a not = 1",
       "SQL parsing error - Expected expression but instead found = in SQL statement "
       "at line 1, column 7"},
      {"a between 1 or 2",
       "SQL parsing error - Expected AND but instead found or in SQL "
       "statement at line 1, column 13"},
      {"#256",
       "SQL parsing error - Expected character constant but instead found #256 in SQL "
       "statement at line 1, column 1"},
      {"#000000256",
       "SQL parsing error - Expected character constant but instead found #000000256 in SQL "
       "statement at line 1, column 1"},
      {"# + 1",
       "SQL parsing error - Expected character constant but instead found # in SQL "
       "statement at line 1, column 1"},
      {"1.2.3",
       "SQL parsing error - Expected numeric expression but instead found 1.2.3 in SQL "
       "statement at line 1, column 1"},
      {"cast(x as text)",
       "SQL parsing error - Expected SQL data type but instead found text in "
       "SQL statement at line 1, column 11"},
      {"cast(x as char(513))",
       "SQL parsing error - Length argument must be greater than 0 and "
       "less than or equal to 512 at line 1, column 16"},
      {"left(s 2)",
       "SQL parsing error - Expected FOR or , but instead found 2 in SQL statement "
       "at line 1, column 8"},
      {"x in (select 1)",
       "SQL parsing error - Invalid expression select found in SQL statement "
       "at line 1, column 7"},
      {"a | b",
       "SQL parsing error - Expected | but instead found b in SQL statement at line 1, "
       "column 5"},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.sql), c.tree) << c.sql;
}

TEST(Parser, PermissionFlagsRestrictTheGrammar) {
  EXPECT_EQ(Parse("sum(x)", 0),
            "SQL parsing error - Invalid expression sum( found in SQL statement at line 1, "
            "column 1");
  EXPECT_EQ(Parse("t.x", 0),
            "SQL parsing error - Invalid expression . found in SQL statement at line 1, column 2");
  EXPECT_EQ(Parse("*", 0),
            "SQL parsing error - Expected expression but instead found * in SQL statement at line "
            "1, column 1");
  EXPECT_EQ(Parse("?", 0),
            "SQL parsing error - Expected expression but instead found ? in SQL statement at line "
            "1, column 1");
}

TEST(Parser, ErrorsPointIntoTheScript) {
  // The statement begins at line 2, column 15 of the script: errors on its
  // first line count on from there, later lines count from 1.
  struct PlaceCase {
    const char* sql;
    const char* message;
  };
  const PlaceCase cases[] = {
      {"a = )", "Expected expression but instead found ) at line 2, column 19"},
      {"a = 1 and\r\n  b in (1,\n\t2 c", "Expected ) but instead found c at line 4, column 4"},
      {"a\n\n  -- note\n  between 'x\ny'", "Missing ' at line 5, column 13"},
  };
  for (const auto& c : cases) {
    TExpressionParser p;
    p.Load(c.sql, 2, 15);
    p.set_context("UPDATE SQL statement");
    try {
      p.NextToken();
      p.ParseExpression(kAll);
      ADD_FAILURE() << c.sql;
    } catch (const ETabulaEngineError& e) {
      std::string expected = c.message;
      expected.insert(expected.find(" at line"), " in UPDATE SQL statement");
      EXPECT_EQ(e.text(), "SQL parsing error - " + expected) << c.sql;
    }
  }
}

TEST(Parser, DeepExpressionsAreRejected) {
  const std::string parens = std::string(300, '(') + "1" + std::string(300, ')');
  EXPECT_EQ(Parse(parens).substr(0, 39), "SQL parsing error - Invalid expression ");
  std::string signs;
  for (int i = 0; i < 300; ++i) signs += "- ";  // "--" would start a comment
  EXPECT_EQ(Parse(signs + "1").substr(0, 39), "SQL parsing error - Invalid expression ");
  std::string chain = "1";
  for (int i = 0; i < 300; ++i) chain += "+1";
  EXPECT_EQ(Parse(chain).substr(0, 39), "SQL parsing error - Invalid expression ");
  std::string fine = std::string(50, '(') + "1" + std::string(50, ')');
  for (int i = 0; i < 100; ++i) fine += "+1";
  EXPECT_EQ(Parse(fine).substr(0, 5), "(17 (");
}

TEST(Parser, ExpressionsKeepTheCallersMark) {
  TExpressionParser p;
  p.Load("where upper(x) = count(*)", 1, 1);
  p.NextToken();
  p.Mark();
  p.NextToken();
  p.ParseExpression(kAll);
  EXPECT_EQ(p.MarkColumn(), 1u);
  EXPECT_EQ(p.MarkedText(), "where upper(x) = count(*)");
}

TEST(Parser, NodesKeepTheirTextAndPlace) {
  TExpressionParser p;
  p.Load("x = 1 and\n  upper( name ) = 'A'", 3, 8);
  p.NextToken();
  auto root = p.ParseExpression(kAll);
  EXPECT_EQ(root->text, "x = 1 and\n  upper( name ) = 'A'");
  const TExpToken& fn = *root->right->left;
  EXPECT_EQ(fn.text, "upper( name )");
  EXPECT_EQ(fn.line, 4u);
  EXPECT_EQ(fn.column, 3u);
  EXPECT_EQ(root->left->column, 8u);
}

}  // namespace
}  // namespace downsql::sql
