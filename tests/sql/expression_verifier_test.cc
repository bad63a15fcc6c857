#include <gtest/gtest.h>

#include "db/storage/engine_error.h"
#include "tests/sql/test_resolver.h"

namespace downsql::sql {
namespace {

using namespace storage;
using testing::Prepare;
using testing::TestResolver;

struct TypeCase {
  const char* sql;
  uint8_t type;
  uint32_t size = 0;  // checked when not 0
};

TEST(Verifier, ResultTypes) {
  const TypeCase cases[] = {
      {"id + 1", kTypeInteger},
      {"id + big", kTypeLargeInt},
      {"id * f", kTypeFloat},
      {"id / 2", kTypeFloat},
      {"id mod 2", kTypeInteger},
      {"name || 'x'", kTypeString},
      {"cast(name as varchar(400)) + cast(name as varchar(400))", kTypeString, 800},
      {"d = '2009-2-3'", kTypeBoolean},
      {"d + 1", kTypeDate},
      {"d - d", kTypeInteger},
      {"ts - 1000", kTypeTimestamp},
      {"NULL + 1", kTypeInteger},
      {"max(d)", kTypeDate},
      {"max(NULL)", kTypeFloat},
      {"sum(id)", kTypeLargeInt},
      {"avg(f)", kTypeFloat},
      {"count(*)", kTypeInteger},
      {"stddev(id)", kTypeFloat},
      {"upper(name)", kTypeString},
      {"length(name)", kTypeInteger},
      {"extract(year from '2009-2-3')", kTypeInteger},
      {"cast(id as varchar(5))", kTypeString},
      {"coalesce(n, id, 0)", kTypeInteger},
      {"case when b then d else '2001-1-1' end", kTypeDate},
      {"if(b then 1 else 2.5)", kTypeFloat},
      {"current_timestamp", kTypeTimestamp},
      {"t1.id in (1, 2)", kTypeBoolean},
  };
  TestResolver r;
  for (const auto& c : cases) {
    TExpressionParser p;
    try {
      auto root = Prepare(c.sql, r, p);
      EXPECT_EQ(root->type, c.type) << c.sql;
      if (c.size != 0) {
        EXPECT_EQ(root->size, c.size) << c.sql;
      }
    } catch (const ETabulaEngineError& e) {
      ADD_FAILURE() << c.sql << ": " << e.what();
    }
  }
}

TEST(Verifier, StringConstantsBecomeDatesOppositeDates) {
  TestResolver r;
  TExpressionParser p;
  auto root = Prepare("d between '2009-2-3' and '2009-12-31 '", r, p);
  EXPECT_EQ(root->args[0]->type, kTypeDate);
  EXPECT_EQ(root->args[0]->value.i, *DayNumberOf(2009, 2, 3));
  root = Prepare("'13:05' < t", r, p);
  EXPECT_EQ(root->left->value.i, 47100000);
  root = Prepare("ts in ('2009-3-14 13:05', '2009-3-14')", r, p);
  EXPECT_EQ(root->args[1]->type, kTypeTimestamp);
}

struct ErrorCase {
  const char* sql;
  const char* message;
};

TEST(Verifier, Errors) {
  const ErrorCase cases[] = {
      {"id = nosuch",
       "Expected column name but instead found nosuch in SELECT SQL statement at "
       "line 1, column 6"},
      {"x.id = 1",
       "Expected column name but instead found x.id in SELECT SQL statement at line "
       "1, column 1"},
      {"d = '2009/02/03'", "'2009/02/03' is not a valid date at line 1, column 5"},
      {"t = '25:00'", "'25:00' is not a valid time at line 1, column 5"},
      {"name + 1",
       "Expected string expression but instead found 1 in SELECT SQL statement at "
       "line 1, column 8"},
      {"id = 'x'",
       "Expected numeric expression but instead found 'x' in SELECT SQL statement at "
       "line 1, column 6"},
      {"id and b",
       "Expected boolean expression but instead found id in SELECT SQL statement at "
       "line 1, column 1"},
      {"max(sum(id))", "Invalid nesting of aggregate functions at line 1, column 5"},
      {"round(f, 5)",
       "Scale argument must be an integer less than or equal to 4 but greater than "
       "or equal to 0 at line 1, column 10"},
      {"round(f, -1)",
       "Scale argument must be an integer less than or equal to 4 but greater than "
       "or equal to 0 at line 1, column 10"},
      {"left(name, 0)",
       "Length argument must be greater than 0 and less than or equal to 512 at "
       "line 1, column 12"},
      {"coalesce(NULL, NULL)",
       "At least one of the COALESCE expression arguments must be a "
       "non-NULL value at line 1, column 1"},
      {"name like 1",
       "Expected string expression but instead found 1 in SELECT SQL statement at "
       "line 1, column 11"},
  };
  TestResolver r;
  for (const auto& c : cases) {
    TExpressionParser p;
    try {
      Prepare(c.sql, r, p);
      ADD_FAILURE() << c.sql << ": no error";
    } catch (const ETabulaEngineError& e) {
      EXPECT_EQ(e.code(), kErrSqlParsing);
      EXPECT_EQ(e.text(), std::string("SQL parsing error - ") + c.message) << c.sql;
    }
  }
}

TEST(Verifier, PermittedOperandKinds) {
  TestResolver r;
  TExpressionParser p;
  TExpressionVerifier v;
  v.set_context("SELECT SQL statement");
  EXPECT_EQ(OperandKindNames(kOperandColumnName), "column name");
  EXPECT_EQ(OperandKindNames(kOperandColumnName | kOperandFunctionName),
            "column name or function name");
  auto root = Prepare("name || upper(name) like 'x' and -f = 1", r, p);
  EXPECT_EQ(OperandKindOf(*root), kOperandBinaryOperator);
  EXPECT_EQ(OperandKindOf(*root->left), kOperandExtendedBinaryOperator);
  EXPECT_EQ(OperandKindOf(*root->right), kOperandCompareOperator);
  EXPECT_EQ(OperandKindOf(*root->right->left), kOperandUnaryOperator);
  v.RequireOperandKind(*root->right->right, kOperandConstantValue);
  try {
    v.RequireOperandKind(*root->left->left,
                         kOperandColumnName | kOperandConstantValue | kOperandFunctionName);
    ADD_FAILURE();
  } catch (const ETabulaEngineError& e) {
    EXPECT_EQ(e.text(),
              "SQL parsing error - Expected column name, constant value or function name but "
              "instead found name || upper(name) in SELECT SQL statement at line 1, column 1");
  }
}

TEST(Verifier, AggregateUse) {
  TestResolver r;
  TExpressionVerifier v;
  v.set_resolver(&r);
  struct Case {
    const char* sql;
    bool grouped;
    bool ok;
  };
  const Case cases[] = {
      {"max(d) + 1", false, true}, {"max(d) + id", false, false}, {"max(d) + id", true, true},
      {"max(d) + f", true, false}, {"id + f", false, true},
  };
  for (const auto& c : cases) {
    TExpressionParser p;
    auto root = Prepare(c.sql, r, p);
    bool ok = true;
    try {
      v.CheckAggregateUse(*root, c.grouped);
    } catch (const ETabulaEngineError& e) {
      ok = false;
      EXPECT_NE(e.text().find("Invalid use of non-aggregated column in expression"),
                std::string::npos);
    }
    EXPECT_EQ(ok, c.ok) << c.sql;
  }
}

}  // namespace
}  // namespace downsql::sql
