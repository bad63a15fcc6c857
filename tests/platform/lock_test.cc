// Byte-range locks between two File objects of one process and between two
// real processes.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "platform/file.h"
#include "platform/os_error.h"
#include "tests/platform/temp_dir.h"

namespace downsql::platform {
namespace {

constexpr uint64_t kLockBase = 0xFFFF0000ull;
constexpr uint64_t kTopEnd = 0x7FFFFFFFFFFFFFFFull;  // the largest allowed end of a range

// A forked process that runs a body between two handshakes: it starts when
// the parent calls Start(), signals when the body has run, and keeps
// everything it opened until the parent calls Finish(), which returns the
// body's result (0 = success).
class Child {
 public:
  explicit Child(std::function<int()> body) {
    if (::pipe(to_child_) != 0 || ::pipe(to_parent_) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      char c;
      int result = 99;
      if (::read(to_child_[0], &c, 1) == 1 && c == 's') {
        try {
          result = body();
        } catch (...) {
          result = 98;
        }
      }
      if (c == 's') {
        (void)!::write(to_parent_[1], "x", 1);
        (void)!::read(to_child_[0], &c, 1);
      }
      ::_exit(result);
    }
  }
  ~Child() {
    if (pid_ > 0 && !finished_) Finish();
    for (int fd : {to_child_[0], to_child_[1], to_parent_[0], to_parent_[1]}) ::close(fd);
  }

  // Lets the body run and waits until it has.
  void Start() {
    char c;
    (void)!::write(to_child_[1], "s", 1);
    (void)!::read(to_parent_[0], &c, 1);
  }
  // Lets the child exit and returns the body's result.
  int Finish() {
    (void)!::write(to_child_[1], "f", 1);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    finished_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
  }

 private:
  int to_child_[2], to_parent_[2];
  pid_t pid_ = -1;
  bool finished_ = false;
};

struct Range {
  uint64_t offset, length;
};

// The ranges each test locks: ordinary bytes, a lock-file-style region far
// beyond the end of the file, and a range that ends at the largest end.
constexpr Range kRanges[] = {
    {0, 1},
    {100, 50},
    {kLockBase, 65535},
    {kTopEnd - 10, 10},
};

class LockTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateFile(path_, Share::kShared)->WriteAt(0, "data", 4); }
  std::unique_ptr<File> Open() { return OpenFile(path_, Access::kReadWrite, Share::kShared); }

  TempDir dir_;
  std::string path_ = dir_.File("tabula.lck");
};

TEST_F(LockTest, TwoHandlesInOneProcess) {
  auto a = Open(), b = Open();
  for (const Range& r : kRanges) {
    SCOPED_TRACE(r.offset);
    ASSERT_TRUE(a->TryLock(r.offset, r.length));
    EXPECT_FALSE(b->TryLock(r.offset, r.length));                  // same range
    EXPECT_FALSE(b->TryLock(r.offset + r.length - 1, 1));          // last byte
    EXPECT_FALSE(a->TryLock(r.offset, 1));                         // same handle, overlapping
    EXPECT_FALSE(b->TryLock(r.offset > 0 ? r.offset - 1 : 0, 2));  // straddling the start
    if (r.offset > 0) {
      EXPECT_TRUE(b->TryLock(r.offset - 1, 1));  // the byte before
    }
    if (r.offset + r.length < kTopEnd) {
      EXPECT_TRUE(b->TryLock(r.offset + r.length, 1));  // the byte after
    }
    EXPECT_FALSE(b->Unlock(r.offset, r.length));  // b does not hold it
    EXPECT_TRUE(a->Unlock(r.offset, r.length));
    EXPECT_FALSE(a->Unlock(r.offset, r.length));  // already released
    EXPECT_TRUE(b->TryLock(r.offset, 1));
    EXPECT_TRUE(b->Unlock(r.offset, 1));
  }
}

TEST_F(LockTest, ReadOnlyHandlesStillExcludeEachOtherInProcess) {
  auto a = OpenFile(path_, Access::kReadOnly, Share::kShared);
  auto b = OpenFile(path_, Access::kReadOnly, Share::kShared);
  auto c = Open();
  ASSERT_TRUE(a->TryLock(kLockBase, 10));
  EXPECT_FALSE(b->TryLock(kLockBase + 5, 1));
  EXPECT_FALSE(c->TryLock(kLockBase + 9, 1));
  EXPECT_TRUE(b->TryLock(kLockBase + 10, 1));
}

TEST_F(LockTest, ClosingAHandleReleasesOnlyItsOwnLocks) {
  // Children are forked before any lock is taken, so that only the kernel,
  // not a copy of this process's memory, tells them what is locked.
  Child child([&] {
    auto f = Open();
    bool ok = f->TryLock(kLockBase + 300, 1) && !f->TryLock(kLockBase + 150, 1);
    return ok ? 0 : 1;
  });
  auto a = Open(), b = Open(), c = Open();
  ASSERT_TRUE(a->TryLock(kLockBase, 100));
  ASSERT_TRUE(b->TryLock(kLockBase + 100, 100));
  a.reset();
  EXPECT_TRUE(c->TryLock(kLockBase, 100));
  EXPECT_FALSE(c->TryLock(kLockBase + 150, 1));

  auto d = Open();
  ASSERT_TRUE(d->TryLock(kLockBase + 300, 1));
  d.reset();  // the parent's other handle b keeps its lock
  child.Start();
  EXPECT_EQ(child.Finish(), 0);
}

TEST_F(LockTest, UnlockAllReleasesOnlyTheHandlesOwnLocks) {
  // Adjacent locks of one handle may go in one system call; a lock of
  // another handle between them, or beside them, must stay.
  Child child([&] {
    auto f = Open();
    for (uint64_t k : {0, 1, 2, 4})
      if (!f->TryLock(kLockBase + k, 1)) return 1;
    return f->TryLock(kLockBase + 3, 1) || f->TryLock(kLockBase + 5, 1) ? 2 : 0;
  });
  auto a = Open(), b = Open();
  for (uint64_t k : {0, 1, 2, 4}) ASSERT_TRUE(a->TryLock(kLockBase + k, 1));
  ASSERT_TRUE(b->TryLock(kLockBase + 3, 1));
  ASSERT_TRUE(b->TryLock(kLockBase + 5, 1));
  // Out of order, and one range a never held.
  EXPECT_FALSE(a->UnlockAll({{kLockBase + 2, 1},
                             {kLockBase + 0, 1},
                             {kLockBase + 9, 1},
                             {kLockBase + 4, 1},
                             {kLockBase + 1, 1}}));
  EXPECT_FALSE(a->TryLock(kLockBase + 3, 1));
  EXPECT_FALSE(a->Unlock(kLockBase + 1, 1));  // already released
  child.Start();
  EXPECT_EQ(child.Finish(), 0);
  EXPECT_TRUE(b->TryLock(kLockBase + 0, 3));
}

TEST_F(LockTest, TwoProcesses) {
  // The first child sees the parent's locks, can take the bytes beside them,
  // and holds its own until the parent has tried them. Both are forked
  // before any lock is taken (see above).
  std::unique_ptr<File> held;  // lives in each child until Finish()
  Child second([&] {
    held = Open();
    return held->TryLock(kLockBase, 65535) && !held->TryLock(0, 1) ? 0 : 1;
  });
  Child child([&] {
    held = Open();
    File* f = held.get();
    for (const Range& r : kRanges) {
      if (f->TryLock(r.offset, r.length) || f->TryLock(r.offset + r.length - 1, 1)) return 1;
      if (r.offset > 0 && !f->TryLock(r.offset - 1, 1)) return 2;
    }
    if (!f->TryLock(1000, 10)) return 3;
    return 0;
  });
  auto a = Open();
  for (const Range& r : kRanges) ASSERT_TRUE(a->TryLock(r.offset, r.length));
  child.Start();
  auto b = Open();
  EXPECT_FALSE(b->TryLock(1005, 1));  // held by the child
  EXPECT_FALSE(a->TryLock(kLockBase - 1, 1));
  EXPECT_EQ(child.Finish(), 0);
  EXPECT_TRUE(b->TryLock(1005, 1));  // the child's exit released its locks
  EXPECT_TRUE(a->TryLock(kLockBase - 1, 1));

  // Unlocking in the parent makes the range available to another process.
  ASSERT_TRUE(a->Unlock(kLockBase, 65535));
  second.Start();
  EXPECT_FALSE(b->TryLock(kLockBase + 65534, 1));
  EXPECT_EQ(second.Finish(), 0);
}

TEST_F(LockTest, RejectsEmptyAndOversizedRanges) {
  auto a = Open();
  for (Range r : {Range{0, 0}, Range{kTopEnd, 1}, Range{kTopEnd - 10, 11}, Range{1, UINT64_MAX}}) {
    try {
      a->TryLock(r.offset, r.length);
      ADD_FAILURE() << r.offset << "+" << r.length;
    } catch (const OsError& e) {
      EXPECT_EQ(e.code(), kErrorInvalidParameter);
    }
  }
}

}  // namespace
}  // namespace downsql::platform
