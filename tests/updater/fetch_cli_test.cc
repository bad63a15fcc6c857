// "downsql fetch" as a user runs it, against a scripted results service on
// the loopback interface.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/http/script_server.h"
#include "tests/platform/temp_dir.h"
#include "tests/updater/expected_output.h"

namespace downsql::updater {
namespace {

using http::testing::AnswerAndClose;
using http::testing::ReadHead;
using http::testing::ScriptServer;
using platform::TempDir;

struct Result {
  int status;
  std::string out, err;
};

Result Fetch(const std::string& service, const TempDir& dir, const std::string& options = "") {
  std::string err_path = dir.path() + "/stderr.txt";
  std::string command = std::string(DOWNSQL_CLI_PATH) + " --service " + service + options +
                        " fetch '" + dir.path() + "' </dev/null 2>'" + err_path + "'";
  Result r{-1, "", ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::stringstream err;
  err << std::ifstream(err_path).rdbuf();
  r.err = err.str();
  return r;
}

TEST(FetchCliTest, PrintsTheAnswerAndTheStatusTexts) {
  TempDir dir;
  MakeGameTables(dir.path(), /*keno=*/false);
  ScriptServer server(
      {AnswerAndClose("HTTP/1.1 200 OK\r\nContent-Length: 13\r\n\r\nINSERT 1;\r\n\xB9;")});
  std::string service = "127.0.0.1:" + std::to_string(server.port());
  Result r = Fetch(service, dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "INSERT 1;\n\xC4\x85;\n");  // Windows-1250 printed as UTF-8
  EXPECT_EQ(r.err,
            "\xC5\x81\xC4\x85"
            "cz\xC4\x99 z serwisem http://" +
                service +
                "\nOdebrano 13 bajt\xC3\xB3w\n"
                "GOTOWE mo\xC5\xBCna wprowadzi\xC4\x87 losowania do bazy\n");
  ASSERT_EQ(server.requests().size(), 1u);
}

TEST(FetchCliTest, ErrorEndsWithItsMessage) {
  TempDir dir;
  Result r = Fetch("127.0.0.1:1", dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("downsql: Socket Error # 10061\r\nConnection refused.\n"),
            std::string::npos);
}

TEST(FetchCliTest, SilentServiceEndsAfterTheTimeout) {
  TempDir dir;
  ScriptServer server({{ReadHead()}});
  Result r = Fetch("127.0.0.1:" + std::to_string(server.port()), dir, " --timeout 1");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("downsql: Read Timeout.\n"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace downsql::updater
