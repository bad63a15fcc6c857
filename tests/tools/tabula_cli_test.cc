// Runs build/bin/tabula as a user would.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "tests/platform/temp_dir.h"

namespace downsql {
namespace {

struct Result {
  int status;
  std::string out, err;
  bool operator==(const Result&) const = default;
};

void PrintTo(const Result& r, std::ostream* os) {
  *os << "{" << r.status << ", \"" << r.out << "\", \"" << r.err << "\"}";
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TabulaTest : public ::testing::Test {
 protected:
  // Runs "tabula ARGS" (shell words) in the shell, standard input from
  // input; captures both outputs.
  Result Tabula(const std::string& args, const std::string& input = "") {
    std::string in = temp_.path() + "/in", out = temp_.path() + "/out", err = temp_.path() + "/err";
    std::ofstream(in, std::ios::binary) << input;
    std::string command =
        std::string(TABULA_PATH) + " " + args + " <" + in + " >" + out + " 2>" + err;
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
  }
  std::string Db() const { return "'" + temp_.path() + "/db'"; }

  platform::TempDir temp_;
};

TEST_F(TabulaTest, TransactionSpansScriptArguments) {
  EXPECT_EQ(Tabula("--affected " + Db() + " 'START TRANSACTION' 'COMMIT;'"),
            (Result{0, "rows affected: 0\nrows affected: 0\n", ""}));
  // Each run is a session of its own: nothing is left active.
  EXPECT_EQ(Tabula(Db() + " 'START TRANSACTION'").status, 0);
  EXPECT_EQ(Tabula(Db() + " 'START TRANSACTION'").status, 0);
}

TEST_F(TabulaTest, ErrorsEndTheRun) {
  Result r = Tabula("--affected " + Db() + " 'START TRANSACTION' 'START TRANSACTION' 'COMMIT'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "rows affected: 0\n");
  // The database's name in the message is the path as the engine writes
  // it, without leading and trailing separators.
  std::string name = temp_.path().substr(1) + "\\db";
  std::replace(name.begin(), name.end(), '/', '\\');
  EXPECT_EQ(r.err,
            "Tabula Engine Error # 11950 SQL execution error - Transaction already in "
            "progress for " +
                name + " database\n");
  EXPECT_EQ(Tabula(Db() + " 'COMMIT;' 'x'").status, 1);
  EXPECT_EQ(Tabula(Db() + " ''"), (Result{1, "", "No SQL statement available\n"}));
}

TEST_F(TabulaTest, ScriptFromAPipeAndFromFiles) {
  EXPECT_EQ(Tabula("--affected " + Db(), "START TRANSACTION;\nCOMMIT;\n"),
            (Result{0, "rows affected: 0\n", ""}));
  std::ofstream(temp_.path() + "/a.sql") << "START TRANSACTION;\r\n";
  std::ofstream(temp_.path() + "/b.sql") << "COMMIT;;\r\nCOMMIT;\r\n";
  Result r = Tabula(Db() + " -f '" + temp_.path() + "/a.sql' -f '" + temp_.path() + "/b.sql'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("No transaction in progress"), std::string::npos) << r.err;
}

// A table holding every column type: a row of values, a row of a few and a
// row of NULLs.
class TabulaOutputTest : public TabulaTest {
 protected:
  TabulaOutputTest() {
    Result made = Tabula(Sql(
        "CREATE TABLE t (id INTEGER NOT NULL, s VARCHAR(20), d DATE, tm TIME, ts TIMESTAMP,\n"
        "  b BOOLEAN, f FLOAT, sm SMALLINT, w WORD, li LARGEINT, dc DECIMAL(10,2), by BYTES(2),\n"
        "  bl BLOB, m MEMO, PRIMARY KEY (id));\n"
        "INSERT INTO t VALUES (1, '" +
        kPolish +
        ", \"x\"', '2024-01-04', '12:30:00.250',\n"
        "  '2013-05-04 21:40:00', TRUE, 0.1, -3, 65535, 12345678901, 12.5,\n"
        "  CAST('AB' AS BYTES(2)), CAST('xyz' AS BLOB), 'line');\n"
        "INSERT INTO t (id, tm, ts, b) VALUES (2, '07:00:00', '2000-02-29 00:00:00', FALSE);\n"
        "INSERT INTO t (id) VALUES (3);\n"));
    EXPECT_EQ(made.status, 0) << made.err;
  }
  // "-f FILE" with text in it.
  std::string Sql(const std::string& text) {
    std::string path = temp_.path() + "/" + std::to_string(++files_) + ".sql";
    std::ofstream(path, std::ios::binary) << text;
    return Db() + " -f '" + path + "'";
  }

  const std::string kPolish = "za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87";  // UTF-8
  int files_ = 0;
};

TEST_F(TabulaOutputTest, EachModeOnEveryColumnType) {
  const std::string all = Sql("SELECT * FROM t ORDER BY id");
  EXPECT_EQ(Tabula("--csv " + all),
            (Result{0,
                    "id,s,d,tm,ts,b,f,sm,w,li,dc,by,bl,m\n"
                    "1,\"" +
                        kPolish +
                        ", \"\"x\"\"\",2024-01-04,12:30:00.250,"
                        "2013-05-04 21:40:00,TRUE,0.1,-3,65535,12345678901,12.5,4142,78797A,line\n"
                        "2,,,07:00:00,2000-02-29 00:00:00,FALSE,,,,,,,,\n"
                        "3,,,,,,,,,,,,,\n",
                    ""}));
  EXPECT_EQ(Tabula(all).out, Tabula("--csv " + all).out);  // not a terminal: CSV
  const std::string three = Sql("SELECT id, s, b FROM t ORDER BY id");
  EXPECT_EQ(Tabula("--tsv " + three).out,
            "id\ts\tb\n1\t\"" + kPolish + ", \"\"x\"\"\"\tTRUE\n2\t\tFALSE\n3\t\t\n");
  EXPECT_EQ(Tabula("--json " + Sql("SELECT id, s, f, b, d FROM t ORDER BY id")).out,
            "[\n"
            "  {\"id\": 1, \"s\": \"" +
                kPolish +
                ", \\\"x\\\"\", \"f\": 0.1, \"b\": true, "
                "\"d\": \"2024-01-04\"},\n"
                "  {\"id\": 2, \"s\": null, \"f\": null, \"b\": false, \"d\": null},\n"
                "  {\"id\": 3, \"s\": null, \"f\": null, \"b\": null, \"d\": null}\n"
                "]\n");
  EXPECT_EQ(Tabula("--json " + Sql("SELECT id FROM t WHERE id > 5")).out, "[]\n");
  EXPECT_EQ(Tabula("--table " + Sql("SELECT id, s, li FROM t ORDER BY id")).out,
            "id | s           | li\n"
            "---+-------------+------------\n"
            " 1 | " +
                kPolish +
                ", \"x\" | 12345678901\n"
                " 2 |             |\n"
                " 3 |             |\n");
}

TEST_F(TabulaOutputTest, PolishLettersGoInAndComeOut) {
  const std::string name = "\xC5\x81\xC3\xB3\x64\xC5\xBA";  // Łódź
  EXPECT_EQ(Tabula("--affected " + Sql("INSERT INTO t (id, s) VALUES (4, '" + name + "')")).out,
            "rows affected: 1\n");
  EXPECT_EQ(Tabula(Sql("SELECT id FROM t WHERE s = '" + name + "'")).out, "id\n4\n");
  EXPECT_EQ(Tabula(Sql("SELECT s FROM t WHERE id = 4")).out, "s\n" + name + "\n");
  // A letter outside Windows-1250 cannot be stored: it becomes "?".
  EXPECT_EQ(Tabula(Sql("SELECT '\xE2\x82\xAC\xE4\xB8\x80' AS x FROM t WHERE id = 4")).out,
            "x\n\xE2\x82\xAC?\n");
}

TEST_F(TabulaTest, UsageErrors) {
  for (const std::string& args :
       {std::string(""), std::string("--bogus " + Db()), std::string(Db() + " -f"),
        std::string(Db() + " -f /nonexistent/x.sql")}) {
    Result r = Tabula(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_NE(r.err.find("usage: tabula"), std::string::npos) << args;
  }
  EXPECT_EQ(Tabula("--help").status, 0);
}

}  // namespace
}  // namespace downsql
