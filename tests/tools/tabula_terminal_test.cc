// The interactive tabula shell driven through a pseudo-terminal, keys in
// and screen out, as a user at a terminal would.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/platform/temp_dir.h"

namespace downsql {
namespace {

// build/bin/tabula DIR on a new pseudo-terminal of 100 columns, started in
// work (so the prompt shows DIR as given) with HOME set to home.
class TerminalSession {
 public:
  TerminalSession(const std::string& work, const std::string& home, const std::string& dir) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 100;
    pid_ = forkpty(&fd_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      if (chdir(work.c_str()) != 0) _exit(126);
      setenv("HOME", home.c_str(), 1);
      setenv("TERM", "xterm", 1);
      execl(TABULA_PATH, "tabula", dir.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~TerminalSession() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }

  void Keys(const std::string& keys) {
    ASSERT_EQ(write(fd_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Reads the screen until text appears after what earlier waits found;
  // false when it does not within a minute or the program ends first.
  bool WaitFor(const std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
      size_t at = screen_.find(text, mark_);
      if (at != std::string::npos) {
        mark_ = at + text.size();
        return true;
      }
      if (std::chrono::steady_clock::now() > deadline || !ReadSome()) return false;
    }
  }

  // Like WaitFor, and then until the line editor has put the terminal out
  // of canonical mode: keys typed before that would be read by the line
  // discipline (a Ctrl-D there becomes an end of file that the editor
  // never sees).
  bool WaitForPrompt(const std::string& text) {
    if (!WaitFor(text)) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
      termios mode{};
      if (tcgetattr(fd_, &mode) == 0 && (mode.c_lflag & ICANON) == 0) return true;
      if (std::chrono::steady_clock::now() > deadline || !ReadSome()) return false;
    }
  }

  // Waits up to a minute for the program to end; its exit status (-1 when
  // it had to be killed).
  int ExitStatus() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() < deadline) ended = !ReadSome();
    if (!ended) kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    exited_ = true;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Everything after the last wait's find.
  std::string Rest() const { return screen_.substr(mark_); }

 private:
  // False at the end of the output.
  bool ReadSome() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) return true;
    char buffer[4096];
    ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) return false;
    screen_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  bool exited_ = false;
  std::string screen_;
  size_t mark_ = 0;
};

class TabulaTerminalTest : public ::testing::Test {
 protected:
  TabulaTerminalTest() { std::filesystem::create_directory(Home()); }
  std::string Home() const { return temp_.path() + "/home"; }
  platform::TempDir temp_;
};

TEST_F(TabulaTerminalTest, MultiLineStatementsAndDotCommands) {
  TerminalSession shell(temp_.path(), Home(), "db");
  ASSERT_TRUE(shell.WaitForPrompt("db> "));
  shell.Keys("CREATE TABLE t (id INTEGER,\r");
  ASSERT_TRUE(shell.WaitForPrompt("...> ")) << shell.Rest();
  shell.Keys("  name VARCHAR(10));\r");
  ASSERT_TRUE(shell.WaitForPrompt("db> ")) << shell.Rest();
  // A ";" inside a literal or a comment does not end the statement.
  shell.Keys("INSERT INTO t VALUES (1, 'a;b') /* the ; here\r");
  ASSERT_TRUE(shell.WaitForPrompt("...> ")) << shell.Rest();
  shell.Keys("ends nothing */;\r");
  ASSERT_TRUE(shell.WaitForPrompt("db> ")) << shell.Rest();
  shell.Keys("SELECT id, name\r");
  ASSERT_TRUE(shell.WaitForPrompt("...> ")) << shell.Rest();
  shell.Keys("FROM t;\r");
  ASSERT_TRUE(shell.WaitFor("id | name\r\n---+-----\r\n 1 | a;b\r\n")) << shell.Rest();
  ASSERT_TRUE(shell.WaitForPrompt("db> ")) << shell.Rest();
  shell.Keys(".tables\r");
  ASSERT_TRUE(shell.WaitForPrompt(".tables\r\nt\r\ndb> ")) << shell.Rest();
  shell.Keys(".quit\r");
  EXPECT_EQ(shell.ExitStatus(), 0);
}

TEST_F(TabulaTerminalTest, ErrorsPointAtTheirColumn) {
  TerminalSession shell(temp_.path(), Home(), "db");
  ASSERT_TRUE(shell.WaitForPrompt("db> "));
  shell.Keys("CREATE TABLE t (id INTEGER);\r");
  ASSERT_TRUE(shell.WaitForPrompt("db> "));
  shell.Keys("SELECT id\r");
  shell.Keys("  FROM t WHERE id = = 1;\r");
  // Red on a terminal, the line again and a caret under the column.
  ASSERT_TRUE(shell.WaitFor("\x1b[31mTabula Engine Error # 11949")) << shell.Rest();
  ASSERT_TRUE(
      shell.WaitFor("at line 2, column 21\x1b[0m\r\n"
                    "    FROM t WHERE id = = 1;\r\n"
                    "  \x1b[31m                    ^\x1b[0m\r\n"
                    "db> "))
      << shell.Rest();
  shell.Keys(".quit\r");
  EXPECT_EQ(shell.ExitStatus(), 0);
}

TEST_F(TabulaTerminalTest, HistoryIsKeptBetweenRuns) {
  {
    TerminalSession shell(temp_.path(), Home(), "db");
    ASSERT_TRUE(shell.WaitForPrompt("db> "));
    shell.Keys("CREATE TABLE h (x INTEGER); INSERT INTO h VALUES (7);\r");
    ASSERT_TRUE(shell.WaitForPrompt("db> "));
    shell.Keys("SELECT x * 6 AS answer FROM h;\r");
    ASSERT_TRUE(shell.WaitFor("    42\r\n")) << shell.Rest();
    ASSERT_TRUE(shell.WaitForPrompt("db> "));
    shell.Keys("\x04");  // Ctrl-D at an empty line ends the shell
    EXPECT_EQ(shell.ExitStatus(), 0);
  }
  TerminalSession shell(temp_.path(), Home(), "db");
  ASSERT_TRUE(shell.WaitForPrompt("db> "));
  // Ctrl-P brings back the last line of the earlier run.
  shell.Keys("\x10");
  ASSERT_TRUE(shell.WaitFor("SELECT x * 6 AS answer FROM h;")) << shell.Rest();
  shell.Keys("\r");
  ASSERT_TRUE(shell.WaitFor("answer\r\n------\r\n    42\r\n")) << shell.Rest();
  shell.Keys(".quit\r");
  EXPECT_EQ(shell.ExitStatus(), 0);
}

TEST_F(TabulaTerminalTest, CtrlCStopsALongUpdateAndTheShellGoesOn) {
  TerminalSession shell(temp_.path(), Home(), "db");
  ASSERT_TRUE(shell.WaitForPrompt("db> "));
  std::string fill = "CREATE TABLE t (v INTEGER, s VARCHAR(20)); INSERT INTO t VALUES (0, 'x');";
  // 131072 rows: the update runs for seconds after its first percentage,
  // time enough for the Ctrl-C to find it under way on a loaded machine.
  for (int i = 0; i < 17; ++i) fill += " INSERT INTO t SELECT v, s FROM t;";
  shell.Keys(fill + "\r");
  ASSERT_TRUE(shell.WaitForPrompt("db> ")) << shell.Rest();
  shell.Keys("UPDATE t SET v = v + 1, s = 'changed';\r");
  // The percentage on the status line shows the statement under way.
  ASSERT_TRUE(shell.WaitFor("% ")) << shell.Rest();
  shell.Keys("\x03");
  ASSERT_TRUE(shell.WaitFor("Interrupted: the statement was stopped")) << shell.Rest();
  ASSERT_TRUE(shell.WaitForPrompt("db> ")) << shell.Rest();
  // The update commits every few thousand rows: what it committed before
  // the stop stays, the rest of the table is untouched and no row is torn.
  shell.Keys("SELECT COUNT(*) AS n, MIN(v) AS low FROM t;\r");
  ASSERT_TRUE(shell.WaitFor("n      | low\r\n-------+----\r\n131072 |   0\r\n")) << shell.Rest();
  shell.Keys(
      "SELECT COUNT(*) AS torn FROM t WHERE (v = 1 AND s = 'x') OR (v = 0 AND s = 'changed');\r");
  ASSERT_TRUE(shell.WaitFor("torn\r\n----\r\n   0\r\n")) << shell.Rest();
  // Ctrl-C at the prompt drops the half-typed statement only.
  shell.Keys("SELECT\r");
  ASSERT_TRUE(shell.WaitForPrompt("...> "));
  shell.Keys("\x03");
  ASSERT_TRUE(shell.WaitForPrompt("^C\r\ndb> ")) << shell.Rest();
  shell.Keys(".quit\r");
  EXPECT_EQ(shell.ExitStatus(), 0);
}

}  // namespace
}  // namespace downsql
