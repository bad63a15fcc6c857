// Runs build/bin/downsql as a user would.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include "tests/platform/temp_dir.h"
#include "tests/updater/expected_output.h"

namespace downsql::updater {
namespace {

using platform::TempDir;

struct Result {
  int status;
  std::string out;
};

// Runs the program with arguments (shell words) and standard input from
// /dev/null, after launcher (shell words, such as an env command); captures
// standard output.
Result RunCli(const std::string& args, const std::string& launcher = "") {
  std::string command =
      launcher + std::string(DOWNSQL_CLI_PATH) + " " + args + " </dev/null 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, ""};
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

class CliTest : public ::testing::Test {
 protected:
  CliTest() { MakeGameTables(dir.path()); }
  TempDir dir;
};

TEST_F(CliTest, SummaryAndRequestOfTwoPresentGames) {
  // The program adds the missing separator itself.
  for (const std::string& d : {dir.path() + "/", dir.path()}) {
    Result summary = RunCli("summary '" + d + "'");
    EXPECT_EQ(summary.status, 0);
    EXPECT_EQ(summary.out, kTwoGameSummary);
    Result request = RunCli("request '" + d + "'");
    EXPECT_EQ(request.status, 0);
    EXPECT_EQ(request.out,
              "http://localhost/dtools/down_all_232.php?" + std::string(kTwoGamePayload) + "\n");
  }
}

TEST_F(CliTest, ServiceOverride) {
  Result request = RunCli("--service results.example:8080 request '" + dir.path() + "'");
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(request.out, "http://results.example:8080/dtools/down_all_232.php?" +
                             std::string(kTwoGamePayload) + "\n");
}

TEST_F(CliTest, RunShowsTheDialogAndEndsAtEndOfInput) {
  Result run = RunCli("run '" + dir.path() + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("                   KENO następne po dniu 30-12-1899\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("[Pobierz] (Wykonaj) [Zamknij]"), std::string::npos);
}

TEST_F(CliTest, GuiWithoutADisplayFails) {
  Result gui = RunCli("gui '" + dir.path() + "'", "env -u DISPLAY -u WAYLAND_DISPLAY ");
  EXPECT_EQ(gui.status, 1);
  EXPECT_EQ(gui.out, "");
}

TEST(CliUsageTest, HelpAndBadArguments) {
  Result help = RunCli("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--service HOST[:PORT]"), std::string::npos);
  EXPECT_NE(help.out.find("--timeout SECONDS"), std::string::npos);
  for (const char* args :
       {"", "summary", "summary ''", "bogus /tmp/", "summary a b", "--service", "--frob run /",
        "--timeout", "--timeout x fetch /", "--timeout -1 fetch /", "--timeout=2147484 fetch /",
        "--timeout= fetch /"}) {
    EXPECT_EQ(RunCli(args).status, 2) << args;
  }
}

}  // namespace
}  // namespace downsql::updater
