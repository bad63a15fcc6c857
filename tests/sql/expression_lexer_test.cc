#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/sql/expression_parser.h"
#include "db/storage/engine_error.h"

namespace downsql::sql {
namespace {

// Kind and text of every token up to and including the end of text, written
// "kind:text" with single-character tokens as the character alone.
std::string Tokens(const std::string& sql) {
  TExpressionParser p;
  p.Load(sql, 1, 1);
  std::string out;
  for (;;) {
    const uint8_t k = p.NextToken();
    if (!out.empty()) out += ' ';
    if (k >= kTokEnd && k <= kTokFloat) {
      out += std::to_string(k) + ":" + p.TokenValue();
    } else {
      out += p.TokenText();
    }
    if (k == kTokEnd) return out;
  }
}

struct TokenCase {
  const char* sql;
  const char* tokens;
};

TEST(Lexer, TokenStreams) {
  const TokenCase cases[] = {
      {"select  max([date]) as mx,max(id) as mid from lotto",
       "1:select 1:max ( 2:date ) 1:as 1:mx , 1:max ( 1:id ) 1:as 1:mid 1:from 1:lotto 0:"},
      {"'it''s' ''", "3:it's 3: 0:"},
      {"\"a\"\"b\" [x''y]", "4:a\"b 2:x'y 0:"},
      {"1E-5 1-2 .5 7. 1.2.3 2e+3", "7:1E-5 6:1 - 6:2 7:.5 7:7. 7:1.2.3 7:2e+3 0:"},
      {"#13 # a", "5:#13 5:# 1:a 0:"},
      {"a$b@c!1 12ab _x \xE6z", "1:a$b@c!1 6:12 1:ab 1:_x 1:\xE6z 0:"},
      {"id--comment\n- -x", "1:id - - 1:x 0:"},
      {"/* a\r\n b */ x <> y || z ? ;", "1:x < > 1:y | | 1:z ? ; 0:"},
      {"a.b . c", "1:a . 1:b . 1:c 0:"},
  };
  for (const auto& c : cases) EXPECT_EQ(Tokens(c.sql), c.tokens) << c.sql;
}

struct ErrorCase {
  const char* sql;
  uint32_t line, column;  // where the text begins in the script
  const char* message;
};

std::string ErrorOf(const std::string& sql, uint32_t line, uint32_t column) {
  TExpressionParser p;
  p.Load(sql, line, column);
  try {
    while (p.NextToken() != kTokEnd) {
    }
  } catch (const storage::ETabulaEngineError& e) {
    EXPECT_EQ(e.code(), storage::kErrSqlParsing);
    return e.text();
  }
  return "no error";
}

TEST(Lexer, UnterminatedTokensReportTheMissingCharacter) {
  const ErrorCase cases[] = {
      {"x = 'abc", 1, 1, "SQL parsing error - Missing ' in SQL statement at line 1, column 9"},
      {"x = 'ab\nc'", 1, 1, "SQL parsing error - Missing ' in SQL statement at line 1, column 8"},
      {"\"abc", 3, 5, "SQL parsing error - Missing \" in SQL statement at line 3, column 9"},
      {"[abc\r\n]", 1, 1, "SQL parsing error - Missing ] in SQL statement at line 1, column 5"},
      {"a /* x\n y", 1, 1, "SQL parsing error - Missing / in SQL statement at line 2, column 3"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf(c.sql, c.line, c.column), c.message) << c.sql;
}

TEST(Lexer, PositionsCountFromTheStatementStart) {
  TExpressionParser p;
  // The statement starts at line 4, column 10 of the script.
  p.Load("a\r\n  b /* x\n */ c\rd", 4, 10);
  p.NextToken();
  EXPECT_EQ(p.line(), 4u);
  EXPECT_EQ(p.column(), 10u);
  p.NextToken();
  EXPECT_EQ(p.line(), 5u);
  EXPECT_EQ(p.column(), 3u);
  p.NextToken();
  EXPECT_EQ(p.line(), 6u);
  EXPECT_EQ(p.column(), 5u);
  p.NextToken();
  EXPECT_EQ(p.line(), 7u);
  EXPECT_EQ(p.column(), 1u);
}

TEST(Lexer, KeywordsIgnoreCaseButNotQuotes) {
  TExpressionParser p;
  p.Load("SeLeCt \"SELECT\" [select]", 1, 1);
  p.NextToken();
  EXPECT_TRUE(p.IsKeyword("SELECT"));
  p.NextToken();
  EXPECT_FALSE(p.IsKeyword("SELECT"));
  EXPECT_TRUE(p.IsIdentifier());
  EXPECT_EQ(p.TokenValue(), "SELECT");
  p.NextToken();
  EXPECT_FALSE(p.IsKeyword("select"));
  EXPECT_TRUE(p.IsIdentifier());
}

TEST(Lexer, MessagesTakeTheContextAndTheMark) {
  TExpressionParser p;
  p.Load("start\n  transaction   with x", 2, 7);
  p.NextToken();
  p.MarkStatementStart();
  p.MarkKeywordsStart();
  p.NextToken();
  p.NextToken();
  EXPECT_EQ(p.KeywordText(), "start  transaction");
  p.set_context("START TRANSACTION SQL statement");
  p.Mark();
  p.NextToken();
  EXPECT_EQ(p.StatementText(), "start\n  transaction   with");
  try {
    p.ExpectedError("TABLE");
  } catch (const storage::ETabulaEngineError& e) {
    EXPECT_EQ(e.text(),
              "SQL parsing error - Expected TABLE but instead found x in START TRANSACTION SQL "
              "statement at line 3, column 22");
  }
  try {
    p.MarkedInvalidExpressionError();
  } catch (const storage::ETabulaEngineError& e) {
    EXPECT_EQ(e.text(),
              "SQL parsing error - Invalid expression with x found in START TRANSACTION SQL "
              "statement at line 3, column 17");
  }
  p.NextToken();
  try {
    p.ExpectedError("table name");
  } catch (const storage::ETabulaEngineError& e) {
    EXPECT_EQ(e.text(),
              "SQL parsing error - Missing table name in START TRANSACTION SQL statement at line "
              "3, column 23");
  }
}

TEST(Lexer, ContextComesFromTheKeywords) {
  TExpressionParser p;
  p.Load("create\r\ntable t", 1, 1);
  p.NextToken();
  p.MarkKeywordsStart();
  p.NextToken();
  p.NextToken();
  p.SetContextFromKeywords();
  EXPECT_EQ(p.context(), "CREATE TABLE SQL statement");
}

}  // namespace
}  // namespace downsql::sql
