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
