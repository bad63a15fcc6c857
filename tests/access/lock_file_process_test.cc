// The lock file shared by real processes: each test forks before opening
// anything, so that parent and child hold their own file handles and locks.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "db/access/data_directory_locks.h"
#include "db/access/data_engine.h"
#include "db/storage/engine_error.h"
#include "platform/file.h"
#include "tests/access/access_test_util.h"
#include "tests/platform/temp_dir.h"

namespace downsql::access {
namespace {

using platform::TempDir;
using storage::ETabulaEngineError;
using testing::LockFileBytes;
using testing::ReadAll;

// A pipe between parent and child carrying single bytes.
class Channel {
 public:
  Channel() { EXPECT_EQ(pipe(fds_), 0); }
  ~Channel() {
    close(fds_[0]);
    close(fds_[1]);
  }
  void Send(char c) { EXPECT_EQ(write(fds_[1], &c, 1), 1); }
  char Receive() {
    char c = 0;
    return read(fds_[0], &c, 1) == 1 ? c : '?';
  }
  // True when a byte arrives within ms.
  bool Waiting(int ms) {
    pollfd p{fds_[0], POLLIN, 0};
    return poll(&p, 1, ms) == 1;
  }

 private:
  int fds_[2];
};

int WaitChild(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

std::unique_ptr<TDataDirectoryLocks> OpenLocks(TLockFileStore& store, const TempDir& dir) {
  auto locks = std::make_unique<TDataDirectoryLocks>(store, dir.EnginePath(), "tabula.lck", ".dat",
                                                     "Games", TLockSettings{});
  locks->Open();
  return locks;
}

TEST(LockFileProcesses, SecondProcessReadsTheSameTableNumbers) {
  TempDir dir;
  Channel to_child, to_parent;
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    to_child.Receive();
    TEngineLockFileStore store(false);
    auto locks = OpenLocks(store, dir);
    TDataTableLocks* lotto = locks->FindEntry("lotto");
    int code = lotto && lotto->number() == 1 ? 0 : 1;
    if (locks->TableEntry("MINI").number() != 2) code |= 2;
    to_parent.Send('x');
    _exit(code);
  }
  TEngineLockFileStore store(false);
  auto locks = OpenLocks(store, dir);
  const std::string path = dir.path() + "/tabula.lck";
  EXPECT_EQ(ReadAll(store, path), LockFileBytes(1, {}));
  EXPECT_EQ(ReadAll(store, path).size(), 8u);
  EXPECT_EQ(locks->TableEntry("LOTTO").number(), 1u);
  EXPECT_EQ(ReadAll(store, path), LockFileBytes(2, {"LOTTO"}));
  to_child.Send('g');
  to_parent.Receive();
  EXPECT_EQ(WaitChild(pid), 0);
  EXPECT_EQ(locks->TableEntry("Mini").number(), 2u);
  EXPECT_EQ(ReadAll(store, path), LockFileBytes(3, {"LOTTO", "MINI"}));
}

// Another process probing the lock file with the operating system's own
// lock call sees exactly the bytes of table 1 taken.
TEST(LockFileProcesses, OtherProcessSeesTableOneAtItsOffsets) {
  TempDir dir;
  Channel to_child, to_parent;
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    to_child.Receive();
    auto file = platform::OpenFile(dir.path() + "/tabula.lck", platform::Access::kReadWrite,
                                   platform::Share::kShared);
    int code = 0;
    if (file->TryLock(0xFFFEFFFF, 1)) code |= 1;          // table 1's transaction byte
    if (file->TryLock(0xFFFDF001, 1)) code |= 2;          // first byte of its region
    if (file->TryLock(0xFFFDF001 + 65534, 1)) code |= 4;  // last byte of its region
    if (!file->TryLock(0xFFFDF000, 1)) code |= 8;         // region 2 ends just below
    if (!file->TryLock(0xFFFEFFFE, 1)) code |= 16;        // table 2's transaction byte
    to_parent.Send('x');
    _exit(code);
  }
  TEngineLockFileStore store(false);
  auto locks = OpenLocks(store, dir);
  locks->TableEntry("T1").WriteLock(true);
  to_child.Send('g');
  to_parent.Receive();
  EXPECT_EQ(WaitChild(pid), 0);
}

TEST(LockFileProcesses, NewLockFileListsTheDataFilesInListingOrder) {
  TempDir dir;
  for (const char* f : {"Lotto.dat", "Lotto.idx", "Mini.DAT", "notes.txt", "Keno.dat"})
    dir.AddFile(f, "x");
  std::vector<std::string> expected;
  for (const std::string& f : platform::ListFiles(dir.path(), ".dat"))
    expected.push_back(f.substr(0, f.size() - 4));
  ASSERT_EQ(expected.size(), 3u);
  TEngineLockFileStore store(false);
  auto locks = OpenLocks(store, dir);
  EXPECT_EQ(ReadAll(store, dir.path() + "/tabula.lck"), LockFileBytes(1, expected));
  EXPECT_EQ(locks->TableEntry(expected[2]).number(), 3u);
}

TEST(LockFileProcesses, UnrestrictedTransactionsAreSerialised) {
  TempDir dir;
  Channel to_child, to_parent;
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    to_child.Receive();
    int code = 0;
    {
      // Without retries the other process's transaction is an error ...
      TDataEngine impatient;
      impatient.settings().table_trans_lock_retry_count = 0;
      TDataDirectory& d =
          impatient.CreateSession("C_1").OpenDirectory("Games", dir.EnginePath(), false);
      try {
        d.BeginTransaction();
        code |= 1;
      } catch (const ETabulaEngineError& e) {
        if (e.code() != storage::kErrTransactionLock) code |= 2;
      }
    }
    to_parent.Send('r');
    // ... with them, the begin waits for the other's commit.
    TDataEngine engine;
    TDataDirectory& d = engine.CreateSession("C_1").OpenDirectory("Games", dir.EnginePath(), false);
    d.BeginTransaction();
    if (!d.TransactionActive()) code |= 4;
    to_parent.Send('s');
    d.CommitTransaction(false);
    _exit(code);
  }
  TDataEngine engine;
  TDataDirectory& d = engine.CreateSession("P_1").OpenDirectory("Games", dir.EnginePath(), false);
  d.BeginTransaction();
  ASSERT_TRUE(d.TransactionActive());
  to_child.Send('g');
  EXPECT_EQ(to_parent.Receive(), 'r');
  EXPECT_FALSE(to_parent.Waiting(300)) << "the child began while this transaction was active";
  d.CommitTransaction(false);
  EXPECT_EQ(to_parent.Receive(), 's');
  EXPECT_EQ(WaitChild(pid), 0);
}

}  // namespace
}  // namespace downsql::access
