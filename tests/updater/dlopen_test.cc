// Loads libdownsql.so as the host would and calls DoUpdate with host strings.
// Each call runs in a child process whose standard input holds the terminal
// dialog's commands and whose standard output is captured.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/platform/temp_dir.h"
#include "tests/updater/expected_output.h"

namespace downsql::updater {
namespace {

using platform::TempDir;
using DoUpdateFn = void (*)(uint32_t, int32_t, int32_t, const char*, const char*, const char*,
                            uint32_t, const char*, const char*);

// A host string: reference count, length, characters, NUL; text() points at
// the first character.
class HostString {
 public:
  explicit HostString(const std::string& text, int32_t refcount = 1)
      : block_(8 + text.size() + 1, '\0') {
    int32_t length = static_cast<int32_t>(text.size());
    std::memcpy(block_.data(), &refcount, 4);
    std::memcpy(block_.data() + 4, &length, 4);
    std::memcpy(block_.data() + 8, text.data(), text.size());
  }
  const char* text() const { return block_.data() + 8; }
  const std::vector<char>& block() const { return block_; }

 private:
  std::vector<char> block_;
};

struct Call {
  int exit_code;
  std::string out;
};

// Child exit codes: 0 fine, 10 dlopen failed, 11 no DoUpdate, 12 a host
// string changed.
Call CallDoUpdate(const char* directory_text, bool use_directory, const std::string& commands) {
  TempDir io;
  const std::string in_path = io.path() + "/in", out_path = io.path() + "/out";
  std::ofstream(in_path) << commands;
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(in_path.c_str(), O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    // Without a display DoUpdate runs the terminal dialog, which these
    // tests drive; the window has its own test.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    void* library = dlopen(DOWNSQL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) _exit(10);
    auto do_update = reinterpret_cast<DoUpdateFn>(dlsym(library, "DoUpdate"));
    if (do_update == nullptr) _exit(11);
    HostString a4("four"), a5(""), a6("six", -1), a9("nine");
    HostString dir(directory_text ? directory_text : "");
    std::vector<std::vector<char>> before = {a4.block(), a5.block(), a6.block(), dir.block(),
                                             a9.block()};
    do_update(0xDEADBEEF, -1, 7, a4.text(), a5.text(), a6.text(), 0xFFFFFF01u,
              use_directory ? dir.text() : nullptr, a9.text());
    std::vector<std::vector<char>> after = {a4.block(), a5.block(), a6.block(), dir.block(),
                                            a9.block()};
    fflush(stdout);
    _exit(before == after ? 0 : 12);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  std::ifstream out(out_path);
  std::stringstream text;
  text << out.rdbuf();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class DoUpdateTest : public ::testing::Test {
 protected:
  DoUpdateTest() { MakeGameTables(dir.path()); }
  TempDir dir;
};

TEST_F(DoUpdateTest, DirectoryWithSeparatorShowsPresentGames) {
  Call call = CallDoUpdate((dir.path() + "/").c_str(), true, "Zamknij\n");
  EXPECT_EQ(call.exit_code, 0);
  // The terminal dialog prints the opened editor: the summary, then the hint.
  EXPECT_NE(call.out.find(kTwoGameSummary), std::string::npos) << call.out;
}

TEST_F(DoUpdateTest, DirectoryWithoutSeparatorMarksAllAbsentAndStillSendsGameZero) {
  // "pasek" shows the last request; the fetch itself reports an error.
  Call call = CallDoUpdate(dir.path().c_str(), true, "pobierz\nzamknij\n");
  EXPECT_EQ(call.exit_code, 0);
  EXPECT_EQ(Count(call.out, "gra nie jest aktywna\n"), 13u * 2) << call.out;  // shown twice
  EXPECT_EQ(Count(call.out, "następne po dniu"), 0u);
  EXPECT_NE(call.out.find("http://localhost/dtools/down_all_232.php?"
                          R"(data={"dl":["LOTTO","1899-12-30",6,1]})"
                          "\n"),
            std::string::npos);
  EXPECT_NE(call.out.find("*** Błąd: "), std::string::npos);
}

TEST_F(DoUpdateTest, NullDirectoryIsTheEmptyText) {
  Call call = CallDoUpdate(nullptr, false, "");  // end of input closes the dialog
  EXPECT_EQ(call.exit_code, 0);
  EXPECT_NE(call.out.find("Pobrane będą losowania :\n"), std::string::npos);
}

TEST(DoUpdateExportTest, OnlyDoUpdateIsExported) {
  void* library = dlopen(DOWNSQL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  EXPECT_NE(dlsym(library, "DoUpdate"), nullptr);
  // Internal functions stay hidden.
  EXPECT_EQ(dlsym(library, "_ZN7downsql7updater14ReadHostStringEPKc"), nullptr);
  dlclose(library);
}

}  // namespace
}  // namespace downsql::updater
