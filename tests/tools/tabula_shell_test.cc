// The shell's logic without a terminal: lines in, printed text out.
#include "tools/tabula_shell.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "db/access/tabula_library.h"
#include "tests/platform/temp_dir.h"

namespace downsql::tools {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ShellTest : public ::testing::Test {
 protected:
  // A shell over dir (in the temporary directory) printing results and
  // messages, in their order, into one text that Take() returns.
  std::unique_ptr<TShell> Open(const std::string& dir, TShellTerminal terminal = {}) {
    return std::make_unique<TShell>(library_, temp_.path() + "/" + dir, out_, out_, terminal);
  }
  // Runs text in shell and returns what it printed, both streams.
  std::string Run(TShell& shell, const std::string& text) {
    shell.RunText(text);
    return Take();
  }
  std::string Take() {
    std::string all = out_.str();
    out_.str("");
    return all;
  }
  std::string Path(const std::string& name) const { return temp_.path() + "/" + name; }

  platform::TempDir temp_;
  access::TTabulaLibrary library_;
  std::ostringstream out_;
};

// The table's text, as .schema prints it, for a table that uses every
// kind of column option, a declared primary key and secondary indexes.
const char kSchema[] =
    "CREATE TABLE \"draw results\" (\n"
    "  id AUTOINC NOT NULL,\n"
    "  day DATE NOT NULL DESCRIPTION 'day of the ''draw''',\n"
    "  name VARCHAR(40) DEFAULT 'none' CHARCASE UPPER,\n"
    "  n SMALLINT DEFAULT '1' MIN '1' MAX '49',\n"
    "  amount MONEY,\n"
    "  price DECIMAL(0,2),\n"
    "  at TIMESTAMP DEFAULT CURRENT_TIMESTAMP,\n"
    "  flag BOOLEAN DEFAULT FALSE,\n"
    "  code CHAR(3) CHARCASE LOWER,\n"
    "  raw BYTES(4),\n"
    "  note MEMO COMPRESS 6,\n"
    "  \"key\" INTEGER,\n"
    "  PRIMARY KEY (id, day DESC) COMPRESS FULL\n"
    ")\n"
    "DESCRIPTION 'draws'\n"
    "INDEX PAGE SIZE 8192\n"
    "BLOB BLOCK SIZE 1024\n"
    "USER MAJOR VERSION 2;\n"
    "CREATE UNIQUE INDEX \"key\" ON \"draw results\" (\"key\");\n"
    "CREATE NOCASE INDEX by_name ON \"draw results\" (name DESC, n) COMPRESS DUPBYTE;\n";

TEST_F(ShellTest, SchemaRecreatesTheTableItDescribes) {
  auto first = Open("first");
  EXPECT_EQ(Run(*first,
                "CREATE TABLE [draw results] (id AUTOINC NOT NULL,\n"
                "  day DATE NOT NULL DESCRIPTION 'day of the ''draw''',\n"
                "  name VARCHAR(40) DEFAULT 'none' CHARCASE UPPER,\n"
                "  n SMALLINT MIN 1 MAX 49 DEFAULT 1, amount MONEY, price DECIMAL(10,2),\n"
                "  at TIMESTAMP DEFAULT CURRENT_TIMESTAMP, flag BOOLEAN DEFAULT FALSE,\n"
                "  code CHAR(3) CHARCASE LOWER, raw BYTES(4), note MEMO COMPRESS 6,\n"
                "  \"key\" INTEGER UNIQUE, PRIMARY KEY (id, day DESC) COMPRESS FULL)\n"
                "  DESCRIPTION 'draws' INDEX PAGE SIZE 8192 BLOB BLOCK SIZE 1024\n"
                "  USER MAJOR VERSION 2;\n"
                "CREATE NOCASE INDEX by_name ON [draw results] (name DESC, n) COMPRESS DUPBYTE;\n"
                "CREATE TABLE plain (x INTEGER);\n"),
            "");
  EXPECT_EQ(Run(*first, ".schema \"draw results\""), kSchema);
  const std::string all = Run(*first, ".schema");
  EXPECT_EQ(all, std::string(kSchema) + "CREATE TABLE plain (\n  x INTEGER\n);\n");

  // The text run as a script in an empty directory makes the same tables.
  auto second = Open("second");
  std::ofstream(Path("schema.sql"), std::ios::binary) << all;
  EXPECT_EQ(Run(*second, ".read " + Path("schema.sql")), "");
  EXPECT_EQ(Run(*second, ".schema"), all);
  EXPECT_EQ(Run(*second, ".tables"), "draw results\nplain\n");
  EXPECT_EQ(Run(*second, ".indexes \"draw results\""), "key\nby_name\n");
}

class ShellOutputTest : public ShellTest {
 protected:
  ShellOutputTest() {
    shell_ = Open("db", terminal_);
    Run(*shell_,
        "CREATE TABLE t (id INTEGER, name VARCHAR(30));\n"
        "INSERT INTO t VALUES (1, 'a, \"quoted\" name');\n"
        "INSERT INTO t (id) VALUES (22);\n");
  }
  TShellTerminal terminal_;
  std::unique_ptr<TShell> shell_;
};

TEST_F(ShellOutputTest, ModesAndHeaders) {
  const std::string select = "SELECT * FROM t ORDER BY id;\n";
  struct Case {
    std::string commands, printed;
  };
  for (const Case& c : {
           Case{"", "id | name\n---+-----------------\n 1 | a, \"quoted\" name\n22 |\n"},
           Case{".headers off\n", " 1 | a, \"quoted\" name\n22 |\n"},
           Case{".mode csv\n", "id,name\n1,\"a, \"\"quoted\"\" name\"\n22,\n"},
           Case{".mode tsv\n.headers off\n", "1\t\"a, \"\"quoted\"\" name\"\n22\t\n"},
           Case{".mode json\n",
                "[\n  {\"id\": 1, \"name\": \"a, \\\"quoted\\\" name\"},\n"
                "  {\"id\": 22, \"name\": null}\n]\n"},
           Case{".timer on\n.mode csv\n", "id,name\n1,\"a, \"\"quoted\"\" name\"\n22,\n"},
       }) {
    auto shell = Open("db");
    std::string printed = Run(*shell, c.commands + select);
    // The timer's line comes after the result.
    if (c.commands.find(".timer on") != std::string::npos) {
      ASSERT_TRUE(printed.starts_with(c.printed)) << printed;
      EXPECT_TRUE(printed.substr(c.printed.size()).starts_with("Run Time: ")) << printed;
    } else {
      EXPECT_EQ(printed, c.printed) << c.commands;
    }
  }
}

TEST_F(ShellOutputTest, LongValuesAreCutToTheTerminal) {
  TShellTerminal narrow;
  narrow.columns = [] { return size_t{14}; };
  auto shell = Open("db", narrow);
  EXPECT_EQ(Run(*shell, "SELECT id, name FROM t ORDER BY id;"),
            "id | name\n"
            "---+----------\n"
            " 1 | a, \"quot\u2026\n"
            "22 |\n");
}

TEST_F(ShellOutputTest, OutputGoesToAFileAndBack) {
  EXPECT_EQ(Run(*shell_, ".mode csv\n.output " + Path("out.csv") +
                             "\nSELECT id FROM t ORDER BY id;\n.output stdout\nSELECT id FROM t "
                             "WHERE id = 22;"),
            "id\n22\n");
  EXPECT_EQ(ReadAll(Path("out.csv")), "id\n1\n22\n");
}

TEST_F(ShellOutputTest, ExportAndImportOverCsv) {
  EXPECT_EQ(Run(*shell_, ".export t " + Path("t.csv")), "");
  EXPECT_EQ(ReadAll(Path("t.csv")), "id,name\n1,\"a, \"\"quoted\"\" name\"\n22,\n");
  EXPECT_EQ(Run(*shell_, "CREATE TABLE u (name VARCHAR(30), id INTEGER);\n.import " +
                             Path("t.csv") + " u\n.mode csv\nSELECT * FROM u ORDER BY id;"),
            "2 rows imported into u.\nname,id\n\"a, \"\"quoted\"\" name\",1\n,22\n");
  // A record that cannot go in leaves the table as it was.
  std::ofstream(Path("bad.csv")) << "id,name\n5,x\nfive,y\n";
  std::string printed = Run(*shell_, ".import " + Path("bad.csv") + " u");
  EXPECT_NE(printed.find("record 3: "), std::string::npos) << printed;
  EXPECT_NE(printed.find("Nothing was imported."), std::string::npos) << printed;
  EXPECT_EQ(Run(*shell_, ".mode csv\nSELECT COUNT(*) AS n FROM u;"), "n\n2\n");
}

TEST_F(ShellOutputTest, ErrorsPointIntoTheTextAndEndIt) {
  // The error's line and column are those of the file, and the statements
  // after it do not run.
  std::ofstream(Path("script.sql")) << "INSERT INTO t VALUES (3, 'c');\n"
                                       "\n"
                                       "SELECT id\n"
                                       "\tFROM t WHERE id = = 1;\n"
                                       "INSERT INTO t VALUES (4, 'd');\n";
  EXPECT_EQ(Run(*shell_, ".read " + Path("script.sql")),
            "Tabula Engine Error # 11949 SQL parsing error - Expected expression but instead "
            "found = in SELECT SQL statement at line 4, column 20\n"
            "  \tFROM t WHERE id = = 1;\n"
            "  \t                  ^\n");
  EXPECT_EQ(Run(*shell_, ".mode csv\nSELECT COUNT(*) AS n FROM t;"), "n\n3\n");

  // A transaction that the text began is rolled back with it.
  std::string printed = Run(
      *shell_, "START TRANSACTION; INSERT INTO t VALUES (5, 'e'); INSERT INTO nowhere VALUES (1);");
  EXPECT_NE(printed.find("The transaction begun in this input was rolled back."), std::string::npos)
      << printed;
  EXPECT_EQ(Run(*shell_, "SELECT COUNT(*) AS n FROM t;"), "n\n3\n");
}

TEST_F(ShellOutputTest, VerifyRunsTheStatement) {
  EXPECT_EQ(Run(*shell_, ".verify t"), "t: no damage found.\n");
  std::string printed = Run(*shell_, ".verify nowhere");
  EXPECT_TRUE(printed.starts_with("Tabula Engine Error # 11010")) << printed;
}

TEST_F(ShellOutputTest, DotCommandMistakes) {
  for (const auto& [line, message] : std::vector<std::pair<std::string, std::string>>{
           {".bogus", "Unknown command .bogus; .help lists the commands.\n"},
           {".mode xml", "Usage: .mode csv|tsv|json|table\n"},
           {".headers maybe", "Usage: .headers on|off\n"},
           {".import only-one", "Usage: .import FILE TABLE\n"},
           {".read /nonexistent/x.sql", "Cannot read /nonexistent/x.sql\n"},
       }) {
    EXPECT_EQ(Run(*shell_, line), message) << line;
  }
  EXPECT_NE(Run(*shell_, ".help").find(".schema [TABLE]"), std::string::npos);
  EXPECT_FALSE(shell_->Finished());
  shell_->Feed(".quit");
  EXPECT_TRUE(shell_->Finished());
}

TEST_F(ShellOutputTest, LinesGatherUntilTheStatementEnds) {
  shell_->set_mode(OutputMode::kCsv);
  for (const char* line :
       {"SELECT id", "FROM t -- the table; still open", "WHERE name = 'x;y' /* a ;"}) {
    shell_->Feed(line);
    EXPECT_TRUE(shell_->Continuing()) << line;
  }
  EXPECT_EQ(shell_->Prompt().substr(shell_->Prompt().size() - 5), "...> ");
  shell_->Feed("and more */ OR id = 22;");
  EXPECT_FALSE(shell_->Continuing());
  EXPECT_EQ(Take(), "id\n22\n");
  shell_->Feed("SELECT id FROM t");
  shell_->CancelInput();
  EXPECT_FALSE(shell_->Continuing());
  EXPECT_EQ(shell_->Prompt(), temp_.path() + "/db> ");
}

}  // namespace
}  // namespace downsql::tools
