#include "db/access/script_cutter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace downsql::access {
namespace {

struct Piece {
  std::string text;
  uint32_t line, column;  // where the statement begins
  bool operator==(const Piece&) const = default;
};

void PrintTo(const Piece& p, std::ostream* os) {
  *os << "{\"" << p.text << "\", " << p.line << ", " << p.column << "}";
}

// Every statement of script, cut one after the other.
std::vector<Piece> CutAll(const std::string& script) {
  TScriptCutter cutter;
  std::vector<Piece> pieces;
  do {
    std::string text = cutter.Cut(script);
    pieces.push_back({text, cutter.start_line(), cutter.start_column()});
  } while (!cutter.AtEnd(script));
  return pieces;
}

struct CutCase {
  const char* name;
  std::string script;
  std::vector<Piece> pieces;
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

class CutTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutTest, StatementsAndWhereTheyBegin) {
  EXPECT_EQ(CutAll(GetParam().script), GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, CutTest,
    ::testing::Values(
        CutCase{"import",
                "START TRANSACTION;\r\nINSERT INTO t VALUES (1);\r\nINSERT INTO t VALUES (2);\r\n"
                "COMMIT;\r\n",
                {{"START TRANSACTION\r\n", 1, 1},
                 {"INSERT INTO t VALUES (1)\r\n", 2, 1},
                 {"INSERT INTO t VALUES (2)\r\n", 3, 1},
                 {"COMMIT\r\n", 4, 1}}},
        CutCase{"semicolon in a literal",
                "SELECT 'a;b' FROM t;SELECT 2",
                {{"SELECT 'a;b' FROM t", 1, 1}, {"SELECT 2", 1, 21}}},
        CutCase{"doubled quotes stay inside",
                "SELECT 'it''s;' , \"a\"\";\" FROM t;X",
                {{"SELECT 'it''s;' , \"a\"\";\" FROM t", 1, 1}, {"X", 1, 33}}},
        CutCase{"semicolon in brackets",
                "SELECT [a;b] FROM t;X",
                {{"SELECT [a;b] FROM t", 1, 1}, {"X", 1, 21}}},
        CutCase{"semicolon in comments",
                "SELECT 1 -- a;b\nFROM /* c;\r\nd */ t;X",
                {{"SELECT 1 -- a;b\nFROM /* c;\r\nd */ t", 1, 1}, {"X", 3, 8}}},
        CutCase{"comment and line break belong to the first",
                "SELECT 1; -- first\r\nSELECT 2",
                {{"SELECT 1 -- first\r\n", 1, 1}, {"SELECT 2", 2, 1}}},
        CutCase{"no semicolon", "SELECT 1\r\nFROM t\r\n", {{"SELECT 1\r\nFROM t\r\n", 1, 1}}},
        CutCase{"empty statement", "A;;B", {{"A", 1, 1}, {"", 1, 3}, {"B", 1, 4}}},
        CutCase{"unterminated literal runs to the end",
                "SELECT 'a;b\r\n;c",
                {{"SELECT 'a;b\r\n;c", 1, 1}}},
        CutCase{"unterminated comment runs to the end", "A;/* x;", {{"A/* x;", 1, 1}}},
        CutCase{"CR, LF and CR LF are one break each",
                "A;\rB;\nC;\r\nD;\n\rE",
                {{"A\r", 1, 1}, {"B\n", 2, 1}, {"C\r\n", 3, 1}, {"D\n\r", 4, 1}, {"E", 6, 1}}},
        CutCase{"line breaks inside a literal count",
                "SELECT 'x\r\ny' ; SELECT 2",
                {{"SELECT 'x\r\ny'  ", 1, 1}, {"SELECT 2", 2, 6}}}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name) {
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

struct ParamCase {
  std::string script;
  std::string statement;
  std::vector<std::string> names;
};

void PrintTo(const ParamCase& c, std::ostream* os) { *os << c.script; }

class ParamTest : public ::testing::TestWithParam<ParamCase> {};

TEST_P(ParamTest, ReferencesBecomeQuestionMarks) {
  TScriptCutter cutter;
  std::vector<std::string> names;
  EXPECT_EQ(cutter.Cut(GetParam().script, &names), GetParam().statement);
  EXPECT_EQ(names, GetParam().names);
}

INSTANTIATE_TEST_SUITE_P(
    References, ParamTest,
    ::testing::Values(
        ParamCase{"SELECT * FROM t WHERE a=:plain", "SELECT * FROM t WHERE a=?", {"plain"}},
        ParamCase{"WHERE a=:[with space]+1", "WHERE a=?+1", {"with space"}},
        ParamCase{"WHERE a=:\"with \"\"quote\"\"\"", "WHERE a=?", {"with \"quote\""}},
        ParamCase{"WHERE a=: 1", "WHERE a=? 1", {}},
        ParamCase{"VALUES (:a, :b_1$!@, :a)", "VALUES (?, ?, ?)", {"a", "b_1$!@", "a"}},
        ParamCase{"VALUES (:\xB3\xF3\x64\xBA)", "VALUES (?)", {"\xB3\xF3\x64\xBA"}},
        ParamCase{"SELECT ':no', [:no] -- :no\r\n", "SELECT ':no', [:no] -- :no\r\n", {}},
        ParamCase{"A=:x;B=:y", "A=?", {"x"}}));

TEST(ScriptCutter, RestoreSavedCutsTheSameStatementAgain) {
  const std::string script = "A;\r\nB;\r\nC";
  TScriptCutter cutter;
  EXPECT_EQ(cutter.Cut(script), "A\r\n");
  EXPECT_EQ(cutter.Cut(script), "B\r\n");
  cutter.RestoreSaved();
  EXPECT_EQ(cutter.Cut(script), "B\r\n");
  EXPECT_EQ(cutter.start_line(), 2u);
  EXPECT_EQ(cutter.Cut(script), "C");
  EXPECT_TRUE(cutter.AtEnd(script));
  cutter.Reset();
  EXPECT_EQ(cutter.current(), TScriptCounters{});
  EXPECT_EQ(cutter.Cut(script), "A\r\n");
}

TEST(ScriptCutter, EmptyStatements) {
  for (const char* text : {"", " \r\n\t", "-- only a comment", "/* a */ -- b\r\n"}) {
    EXPECT_TRUE(IsEmptyStatement(text)) << text;
  }
  for (const char* text : {"x", " -- a\r\nx", "/* a */x"}) {
    EXPECT_FALSE(IsEmptyStatement(text)) << text;
  }
}

// What an editor waits for: every statement ended at a ";" outside
// literals, names and comments.
TEST(ScriptCutter, CompleteScripts) {
  for (const char* text : {"", " \n-- note", "SELECT 1;", "SELECT 1\n  FROM t;\n", "A; B; -- done",
                           "A; /* a; b */", "SELECT ';' ;", "A;;"}) {
    EXPECT_TRUE(IsCompleteScript(text)) << text;
  }
  for (const char* text : {"SELECT 1", "A; B", "SELECT 'a;", "SELECT [a;", "SELECT \"x;\"",
                           "SELECT 1 -- ;", "A; /* b;", "SELECT 1 /* ; */", "/* x"}) {
    EXPECT_FALSE(IsCompleteScript(text)) << text;
  }
}

}  // namespace
}  // namespace downsql::access
