#include "db/access/data_directory.h"

#include <gtest/gtest.h>

#include "db/access/data_engine.h"
#include "db/storage/engine_error.h"
#include "tests/access/access_test_util.h"
#include "tests/platform/temp_dir.h"

namespace downsql::access {
namespace {

using storage::ETabulaEngineError;
using testing::FakeTable;
using Strings = std::vector<std::string>;

class DirectoryTransactionTest : public ::testing::Test {
 protected:
  DirectoryTransactionTest() {
    auto& s = engine_.settings();
    s.table_trans_lock_retry_count = 2;
    s.table_trans_lock_wait_time = 1;
    s.table_write_lock_retry_count = 2;
    s.table_write_lock_wait_time = 1;
    engine_.Start();
    engine_.table_opener = [this](TDataDirectory& dir, const std::string& name) {
      log_.push_back("open " + name);
      auto t = std::make_unique<FakeTable>(name, &dir.locks()->TableEntry(name), log_);
      return t;
    };
  }

  TDataDirectory& Directory(TDataSession& session) {
    return session.OpenDirectory("Memory", "", false);
  }
  // Opens tables in the given order; their lock entries are numbered in the
  // order of first appearance in the directory's lock file.
  FakeTable& Add(TDataDirectory& dir, const std::string& name) {
    auto t = std::make_unique<FakeTable>(name, &dir.locks()->TableEntry(name), log_);
    return static_cast<FakeTable&>(dir.AddTable(std::move(t)));
  }
  uint8_t Held(TDataDirectory& dir, const std::string& name) {
    return dir.locks()->FindEntry(name)->held();
  }

  testing::FreshMemoryDatabase fresh_;
  TDataEngine engine_;
  Strings log_;
};

TEST_F(DirectoryTransactionTest, RestrictedLocksListedTablesByNumberAndCommitsLastToFirst) {
  TDataSession& session = engine_.CreateSession("S_1");
  TDataDirectory& dir = Directory(session);
  for (const char* n : {"A", "B", "C"}) dir.locks()->TableEntry(n);  // numbers 1, 2, 3
  Add(dir, "C");
  Add(dir, "A");
  Add(dir, "B").in_use = true;
  dir.BeginTransaction({"c.DAT", "b"});
  EXPECT_TRUE(dir.TransactionActive());
  EXPECT_TRUE(dir.restricted());
  EXPECT_EQ(log_, (Strings{"begin B", "begin C"}));
  EXPECT_EQ(Held(dir, "B"), TDataTableLocks::kTransactionBit);
  EXPECT_EQ(Held(dir, "C"), TDataTableLocks::kTransactionBit);
  EXPECT_EQ(Held(dir, "A"), 0);
  log_.clear();
  dir.CommitTransaction(true);
  EXPECT_EQ(log_, (Strings{"commit! C", "commit! B"}));
  EXPECT_FALSE(dir.TransactionActive());
  for (const char* n : {"A", "B", "C"}) EXPECT_EQ(Held(dir, n), 0) << n;
  // Tables that no cursor uses are closed at the end.
  EXPECT_EQ(dir.table_count(), 1u);
  EXPECT_NE(dir.FindTable("b"), nullptr);
}

TEST_F(DirectoryTransactionTest, RestrictedOpensListedTablesNotYetOpen) {
  TDataDirectory& dir = Directory(engine_.CreateSession("S_1"));
  dir.BeginTransaction({"NEW.dat"});
  EXPECT_EQ(log_, (Strings{"open NEW", "begin NEW"}));
  dir.RollbackTransaction();
  EXPECT_EQ(log_.back(), "rollback NEW");
  EXPECT_EQ(Held(dir, "NEW"), 0);
}

TEST_F(DirectoryTransactionTest, UnrestrictedHoldsAllBytesAndCommitsUnderAllWriteRegions) {
  TDataDirectory& dir = Directory(engine_.CreateSession("S_1"));
  FakeTable& a = Add(dir, "A");
  FakeTable& b = Add(dir, "B");
  dir.BeginTransaction();
  EXPECT_FALSE(dir.restricted());
  EXPECT_TRUE(dir.locks()->all_transaction_bytes_held());
  EXPECT_EQ(log_, (Strings{"begin A", "begin B"}));
  FakeTable& c = Add(dir, "C");  // opened during the transaction: joins it
  EXPECT_TRUE(c.in_transaction);
  int checked = 0;
  for (FakeTable* t : {&a, &b, &c})
    t->on_commit = [&] {
      EXPECT_TRUE(dir.locks()->all_write_locks_held());
      ++checked;
    };
  log_.clear();
  dir.CommitTransaction(false);
  EXPECT_EQ(checked, 3);
  EXPECT_EQ(log_, (Strings{"commit C", "commit B", "commit A"}));
  EXPECT_FALSE(dir.locks()->all_write_locks_held());
  EXPECT_FALSE(dir.locks()->all_transaction_bytes_held());
}

TEST_F(DirectoryTransactionTest, FailedBeginLeavesNoTransactionAndNoLock) {
  TDataDirectory& dir = Directory(engine_.CreateSession("S_1"));
  Add(dir, "A").in_use = true;
  Add(dir, "B").fail_begin = true;
  EXPECT_THROW(dir.BeginTransaction({"A", "B"}), std::runtime_error);
  EXPECT_EQ(log_, (Strings{"begin A", "begin B", "rollback A"}));
  EXPECT_FALSE(dir.TransactionActive());
  EXPECT_EQ(Held(dir, "A"), 0);
  EXPECT_EQ(Held(dir, "B"), 0);
  log_.clear();
  EXPECT_THROW(dir.BeginTransaction(), std::runtime_error);
  EXPECT_EQ(log_, (Strings{"begin A", "begin B", "rollback A"}));
  EXPECT_FALSE(dir.TransactionActive());
  EXPECT_FALSE(dir.locks()->all_transaction_bytes_held());
}

TEST_F(DirectoryTransactionTest, FailedCommitKeepsTheRestInTheTransaction) {
  TDataDirectory& dir = Directory(engine_.CreateSession("S_1"));
  Add(dir, "A");
  Add(dir, "B").fail_commit = true;
  Add(dir, "C");
  dir.BeginTransaction();
  log_.clear();
  EXPECT_THROW(dir.CommitTransaction(false), std::runtime_error);
  EXPECT_EQ(log_, (Strings{"commit C", "commit B"}));
  EXPECT_FALSE(dir.locks()->all_write_locks_held());
  EXPECT_TRUE(dir.TransactionActive());
  log_.clear();
  dir.RollbackTransaction();
  EXPECT_EQ(log_, (Strings{"rollback B", "rollback A"}));
  EXPECT_FALSE(dir.locks()->all_transaction_bytes_held());
}

TEST_F(DirectoryTransactionTest, SessionsOfOneProcessExcludeEachOthersTransactions) {
  TDataDirectory& one = Directory(engine_.CreateSession("S_1"));
  TDataDirectory& two = Directory(engine_.CreateSession("S_2"));
  ASSERT_NE(&one, &two);
  one.BeginTransaction();
  try {
    two.BeginTransaction();
    FAIL();
  } catch (const ETabulaEngineError& e) {
    EXPECT_EQ(e.code(), storage::kErrTransactionLock);
    EXPECT_EQ(e.text(), "Transaction cannot lock the database 'Memory'");
  }
  EXPECT_FALSE(two.TransactionActive());
  one.RollbackTransaction();
  two.BeginTransaction();
  EXPECT_TRUE(two.TransactionActive());
}

TEST_F(DirectoryTransactionTest, FreeingTheDirectoryRollsBack) {
  TDataSession& session = engine_.CreateSession("S_1");
  TDataDirectory& dir = Directory(session);
  Add(dir, "A");
  dir.BeginTransaction();
  session.ReleaseDirectory(dir);
  EXPECT_EQ(log_, (Strings{"begin A", "rollback A"}));
  EXPECT_EQ(session.directory_count(), 0u);
  // The bytes were released: another session gets them.
  TDataDirectory& other = Directory(engine_.CreateSession("S_2"));
  other.BeginTransaction();
  EXPECT_TRUE(other.TransactionActive());
}

TEST_F(DirectoryTransactionTest, DirectoryWithoutLockFileIsReadOnlyAndStartsNoTransaction) {
  TDataSession& session = engine_.CreateSession("S_1");
  TDataDirectory& dir = session.OpenDirectory("Gone", "\\no\\such\\directory", false);
  EXPECT_EQ(dir.path(), "\\no\\such\\directory\\");
  EXPECT_TRUE(dir.read_only());
  dir.BeginTransaction();
  EXPECT_FALSE(dir.TransactionActive());
}

TEST(DataSession, OpenDirectorySharesOneObjectPerPath) {
  testing::FreshMemoryDatabase fresh;
  TDataEngine engine;
  TDataSession& session = engine.CreateSession("S_1");
  platform::TempDir scratch;
  std::string p = scratch.EnginePath();
  TDataDirectory& a = session.OpenDirectory("x", p, false);
  TDataDirectory& b = session.OpenDirectory("y", p.substr(0, p.size() - 1), false);
  TDataDirectory& memory = session.OpenDirectory("\\MEMORY\\", "", false);
  EXPECT_EQ(&a, &b);
  EXPECT_EQ(a.ref_count(), 2);
  EXPECT_EQ(a.path(), p);
  EXPECT_NE(&memory, &a);
  EXPECT_EQ(memory.path(), "");
  EXPECT_TRUE(memory.in_memory());
  TDataDirectory& long_path = session.OpenDirectory("z", "\\" + std::string(300, 'z'), false);
  EXPECT_EQ(long_path.path().size(), 255u);
  EXPECT_EQ(long_path.path().back(), '\\');
  session.ReleaseDirectory(long_path);
  session.ReleaseDirectory(a);
  EXPECT_EQ(session.directory_count(), 2u);
  session.ReleaseDirectory(b);
  EXPECT_EQ(session.directory_count(), 1u);
}

TEST(DataSession, PasswordsAndProgressStep) {
  TDataEngine engine;
  TDataSession& s = engine.CreateSession("S_1");
  s.RememberPassword("");
  s.RememberPassword("Secret");
  s.RememberPassword("Secret");
  s.RememberPassword("secret");
  ASSERT_EQ(s.passwords().size(), 2u);
  const TDataPassword& p = s.passwords()[0];
  EXPECT_EQ(p.digest, base::Md5("Secret"));
  auto check = p.check;
  base::BlowfishCbc(p.digest.data(), 16).Decrypt(check.data(), 16);
  EXPECT_TRUE(std::equal(check.begin(), check.end(), p.digest.begin()));
  s.ForgetPassword("SECRET");
  EXPECT_EQ(s.passwords().size(), 2u);
  s.ForgetPassword("secret");
  EXPECT_EQ(s.passwords().size(), 1u);
  EXPECT_EQ(s.progress_step(), 5u);
  s.set_progress_steps(0);
  EXPECT_EQ(s.progress_step(), 100u);
  s.set_progress_steps(3);
  EXPECT_EQ(s.progress_step(), 33u);
}

}  // namespace
}  // namespace downsql::access
