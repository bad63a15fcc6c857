#include <gtest/gtest.h>

#include <filesystem>

#include "db/access/data_directory.h"
#include "db/access/data_engine.h"
#include "db/access/database_error.h"
#include "db/access/directory_table.h"
#include "db/access/tabula_database.h"
#include "db/access/tabula_engine.h"
#include "db/access/tabula_library.h"
#include "db/access/tabula_session.h"
#include "db/storage/data_table.h"
#include "platform/file.h"
#include "platform/path.h"
#include "tests/access/access_test_util.h"
#include "tests/platform/temp_dir.h"

namespace downsql::access {
namespace {

using platform::TempDir;
using testing::FakeTable;

// The message of the EDatabaseError that f raises ("" when none).
template <typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const EDatabaseError& e) {
    return e.what();
  }
  return "";
}

class ComponentsTest : public ::testing::Test {
 protected:
  testing::FreshMemoryDatabase fresh_;
  TTabulaLibrary library_;
  TTabulaEngine& engine_ = library_.engine();
  TTabulaSession& default_ = library_.default_session();
};

TEST_F(ComponentsTest, DefaultObjectsExistWhileTheLibraryIsLoaded) {
  EXPECT_EQ(TTabulaEngine::Default(), &engine_);
  EXPECT_EQ(default_.SessionName(), "Default");
  EXPECT_EQ(engine_.FindSession(""), &default_);
  EXPECT_EQ(engine_.FindSession("DEFAULT"), &default_);
  EXPECT_EQ(engine_.EngineVersion(), "1.0 Build 1");
  EXPECT_EQ(engine_.users(), 1);
  EXPECT_EQ(&TTabulaEngine::Create(), &engine_);
  EXPECT_EQ(engine_.users(), 2);
  EXPECT_EQ(ErrorOf([] { TTabulaEngine::Create(); }), "An engine component already exists");
  engine_.Free();
  EXPECT_EQ(engine_.users(), 1);
}

TEST_F(ComponentsTest, EngineSettingsAreCheckedAndRequireAnInactiveEngine) {
  EXPECT_EQ(engine_.EngineSignature(), "TABULA_SIG");
  EXPECT_EQ(engine_.LockFileName(), "tabula.lck");
  EXPECT_EQ(engine_.TableBlobBackupExtension(), ".bbk");
  EXPECT_EQ(engine_.TableReadLockRetryCount(), 32768);
  engine_.SetTableDataExtension("dat");
  EXPECT_EQ(engine_.TableDataExtension(), ".dat");
  engine_.SetMaxTableIndexBufferSize(1000);
  EXPECT_EQ(engine_.MaxTableIndexBufferSize(), 32768u);
  engine_.SetTableFilterIndexThreshhold(150);
  EXPECT_EQ(engine_.TableFilterIndexThreshhold(), 1);
  engine_.SetActive(true);
  EXPECT_EQ(ErrorOf([&] { engine_.SetTableDataExtension("dat"); }),
            "Cannot perform this operation when the engine is active");
  EXPECT_EQ(ErrorOf([&] { engine_.SetLargeFileSupport(true); }),
            "Cannot perform this operation when the engine is active");
  engine_.SetActive(false);
  engine_.SetLargeFileSupport(true);
  EXPECT_TRUE(engine_.LargeFileSupport());
  EXPECT_EQ(engine_.core().lock_geometry().base(), 0x7FFFFFFFFFFFFFFFu);
}

TEST_F(ComponentsTest, EngineActivationRunsTheEventsAndDeactivatesSessions) {
  std::vector<std::string> log;
  engine_.OnStartup = [&](TTabulaEngine&) { log.push_back("engine up"); };
  engine_.OnShutdown = [&](TTabulaEngine&) { log.push_back("engine down"); };
  TTabulaSession& s = engine_.CreateSession();
  s.SetSessionName("S");
  s.OnStartup = [&](TTabulaSession&) { log.push_back("session up"); };
  s.OnShutdown = [&](TTabulaSession&) { log.push_back("session down"); };
  s.SetActive(true);
  EXPECT_TRUE(default_.Active()) << "the default session comes first";
  engine_.SetActive(false);
  EXPECT_FALSE(s.Active());
  EXPECT_FALSE(default_.Active());
  EXPECT_EQ(log,
            (std::vector<std::string>{"engine up", "session up", "session down", "engine down"}));
}

TEST_F(ComponentsTest, SessionRules) {
  TTabulaSession& s = engine_.CreateSession("Worker");
  EXPECT_EQ(ErrorOf([&] { s.SetActive(true); }), "Session name is missing");
  EXPECT_FALSE(s.Active());
  EXPECT_EQ(ErrorOf([&] { s.SetSessionName("default"); }), "Session name 'default' already exists");
  EXPECT_EQ(s.KeepConnections, true);
  EXPECT_EQ(s.LockRetryCount, 15);
  EXPECT_EQ(s.LockWaitTime, 100);
  EXPECT_EQ(s.ProgressSteps(), 20);
  s.SetProgressSteps(150);
  EXPECT_EQ(s.ProgressSteps(), 20);
  s.SetPrivateDir("/tmp/priv");
  EXPECT_EQ(s.PrivateDir(), "\\tmp\\priv\\");
  EXPECT_EQ(ErrorOf([&] { s.RememberPassword("x"); }),
            "Cannot perform this operation on an inactive session");
  s.SetAutoSessionName(true);
  TTabulaSession& t = engine_.CreateSession("Worker");
  t.SetAutoSessionName(true);
  EXPECT_EQ(s.SessionName(), "Worker_1");
  EXPECT_EQ(t.SessionName(), "Worker_2");
  s.SetActive(true);
  EXPECT_EQ(s.core()->name().rfind("Worker_1_", 0), 0u);
  EXPECT_EQ(s.core()->private_dir(), "\\tmp\\priv\\");
  s.SetProgressSteps(50);
  EXPECT_EQ(s.core()->progress_step(), 2u);
  EXPECT_EQ(ErrorOf([&] { s.SetAutoSessionName(false); }),
            "Cannot perform this operation on an active session");
  s.RememberPassword("pw");
  EXPECT_EQ(s.core()->passwords().size(), 1u);
  s.Free();
  TTabulaSession& u = engine_.CreateSession("Worker");
  u.SetAutoSessionName(true);
  EXPECT_EQ(u.SessionName(), "Worker_1") << "the freed number is handed out again";
}

TEST_F(ComponentsTest, CoreAsksThePasswordEventAndRaisesRowEventsWithComponents) {
  default_.SetActive(true);
  EXPECT_FALSE(default_.core()->AskPassword()) << "no handler: the open fails";
  int asked = 0;
  default_.OnPassword = [&](TTabulaSession& sender, bool& again) {
    EXPECT_EQ(&sender, &default_);
    EXPECT_FALSE(again);
    again = ++asked == 1;
  };
  EXPECT_TRUE(default_.core()->AskPassword());
  EXPECT_FALSE(default_.core()->AskPassword());

  TTabulaDatabase& db = default_.AcquireDatabase("Memory");
  std::string seen;
  engine_.AfterInsertTrigger = [&](TTabulaEngine&, TTabulaSession* s, TTabulaDatabase* d,
                                   const std::string& table, TTabulaRecord*) {
    EXPECT_EQ(s, &default_);
    EXPECT_EQ(d, &db);
    seen = table;
  };
  engine_.RaiseRowEvent(TTabulaEngine::kBeforeInsert, *default_.core(), *db.Handle(), "T", nullptr);
  EXPECT_EQ(seen, "") << "an unassigned event is skipped";
  engine_.RaiseRowEvent(TTabulaEngine::kAfterInsert, *default_.core(), *db.Handle(), "T", nullptr);
  EXPECT_EQ(seen, "T");
  std::runtime_error error("x");
  EXPECT_EQ(engine_.RaiseRowError(TTabulaEngine::kInsertError, *default_.core(), *db.Handle(), "T",
                                  nullptr, error),
            daFail);
  engine_.OnInsertError = [](TTabulaEngine&, TTabulaSession*, TTabulaDatabase*, const std::string&,
                             TTabulaRecord*, const std::exception& e, TDataAction& action) {
    EXPECT_STREQ(e.what(), "x");
    EXPECT_EQ(action, daFail);
    action = daRetry;
  };
  EXPECT_EQ(engine_.RaiseRowError(TTabulaEngine::kInsertError, *default_.core(), *db.Handle(), "T",
                                  nullptr, error),
            daRetry);
}

TEST_F(ComponentsTest, PathNamedQueriesShareOneTemporaryDatabaseAndDirectory) {
  TempDir scratch;
  const std::string native = scratch.path() + "/Games";  // POSIX: "/tmp/.../Games"
  std::filesystem::create_directory(native);
  std::string engine_path = native;
  std::replace(engine_path.begin(), engine_path.end(), '/', '\\');

  TTabulaDatabase& a = default_.AcquireDatabase(native + "/");
  EXPECT_TRUE(a.IsTemporary());
  EXPECT_EQ(a.DatabaseName(), engine_path + "\\");
  EXPECT_EQ(a.Directory(), engine_path);
  ASSERT_TRUE(a.Connected());
  EXPECT_EQ(a.Handle()->path(), engine_path + "\\");
  EXPECT_TRUE(platform::FileExists(native + "/tabula.lck"));

  TTabulaDatabase& b = default_.AcquireDatabase(engine_path);
  EXPECT_EQ(&b, &a);
  EXPECT_EQ(a.UseCount(), 2);
  EXPECT_EQ(default_.core()->directory_count(), 1u);

  // Another spelling of the letters is another directory exactly when the
  // file system tells letter case apart.
  std::string upper = engine_path;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  TTabulaDatabase& c = default_.AcquireDatabase(upper);
  EXPECT_EQ(&c == &a, !platform::PathsCaseSensitive());

  // With KeepConnections the database outlives its last user ...
  default_.ReleaseDatabase(a);
  default_.ReleaseDatabase(a);
  EXPECT_EQ(a.UseCount(), 0);
  EXPECT_TRUE(a.Connected());
  EXPECT_EQ(default_.LookupDatabase(native), &a);
  // ... until its session ends.
  default_.SetActive(false);
  EXPECT_EQ(default_.database_count(), 0u);
}

TEST_F(ComponentsTest, ReleasingWithoutKeepConnectionsFreesTheTemporaryDatabase) {
  TempDir scratch;
  TTabulaSession& s = engine_.CreateSession();
  s.SetSessionName("S");
  s.KeepConnections = false;
  TTabulaDatabase& db = s.AcquireDatabase(scratch.EnginePath());
  EXPECT_FALSE(db.KeepConnection);
  s.ReleaseDatabase(db);
  EXPECT_EQ(s.database_count(), 0u);
  EXPECT_EQ(s.core()->directory_count(), 0u);
}

TEST_F(ComponentsTest, BareWordOpensTheCurrentDirectory) {
  TempDir scratch;
  auto old = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path());
  TTabulaDatabase& db = default_.AcquireDatabase("Games");
  EXPECT_TRUE(db.IsTemporary());
  EXPECT_EQ(db.Directory(), "");
  EXPECT_EQ(db.Handle()->path(), scratch.EnginePath());
  EXPECT_EQ(default_.AcquireDatabase("GAMES").Handle(), db.Handle());
  EXPECT_TRUE(platform::FileExists(scratch.path() + "/tabula.lck"));
  default_.SetActive(false);
  std::filesystem::current_path(old);
}

TEST_F(ComponentsTest, MemoryNamesOpenTheInMemoryDirectory) {
  TTabulaDatabase& a = default_.AcquireDatabase("\\Memory\\");
  TTabulaDatabase& b = default_.AcquireDatabase("memory");
  EXPECT_TRUE(a.Handle()->in_memory());
  EXPECT_EQ(a.Handle(), b.Handle());
  EXPECT_EQ(a.Directory(), "");
  EXPECT_EQ(a.Handle()->name(), "Memory");
  EXPECT_FALSE(a.Handle()->read_only());
  TempDir scratch;
  auto old = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path());
  TTabulaDatabase& c = default_.AcquireDatabase("Memory2");
  EXPECT_FALSE(c.Handle()->in_memory());
  default_.SetActive(false);
  std::filesystem::current_path(old);
}

TEST_F(ComponentsTest, DatabaseComponentNameRules) {
  TTabulaDatabase db;
  EXPECT_EQ(ErrorOf([&] { db.SetDatabaseName("/data/games"); }),
            "Database name '\\data\\games' is not valid");
  EXPECT_EQ(ErrorOf([&] { db.SetConnected(true); }), "Database name is missing");
  db.SetDatabaseName("Lotto");
  db.SetDirectory("/no/such/dir/");
  EXPECT_EQ(db.Directory(), "\\no\\such\\dir");
  TTabulaDatabase twin;
  EXPECT_EQ(ErrorOf([&] { twin.SetDatabaseName("LOTTO"); }),
            "Database name 'LOTTO' already exists");
  EXPECT_EQ(twin.DatabaseName(), "");
  EXPECT_EQ(default_.LookupDatabase("lotto"), &db);

  db.SetConnected(true);
  EXPECT_TRUE(db.Handle()->read_only()) << "a directory that does not exist";
  EXPECT_EQ(ErrorOf([&] { db.SetDirectory("/x"); }),
            "Cannot perform this operation on an open database");
  EXPECT_EQ(&default_.AcquireDatabase("Lotto"), &db);
  EXPECT_EQ(db.UseCount(), 1);

  TTabulaDatabase stray;
  stray.SetSessionName("Nope");
  stray.SetDatabaseName("X");
  EXPECT_EQ(ErrorOf([&] { stray.SetConnected(true); }), "Session name 'Nope' is not valid");
  EXPECT_FALSE(stray.Connected());
}

TEST_F(ComponentsTest, NamedDatabaseFreesAnUnusedTemporaryOfItsName) {
  TTabulaDatabase& temp = default_.AcquireDatabase("Memory");
  default_.ReleaseDatabase(temp);
  TTabulaDatabase db;
  db.SetDatabaseName("memory");
  EXPECT_EQ(default_.database_count(), 1u);
  EXPECT_EQ(default_.LookupDatabase("Memory"), &db);
}

class ComponentTransactionTest : public ComponentsTest {
 protected:
  void SetUp() override {
    db_.SetDatabaseName("Memory");
    db_.SetConnected(true);
    TDataDirectory& dir = *db_.Handle();
    dir.AddTable(std::make_unique<FakeTable>("A", &dir.locks()->TableEntry("A"), log_));
  }
  std::vector<std::string> log_;
  TTabulaDatabase db_;
};

TEST_F(ComponentTransactionTest, ComponentMessages) {
  EXPECT_EQ(ErrorOf([&] { db_.CommitTransaction(); }),
            "Database 'Memory' has no active transaction");
  EXPECT_EQ(ErrorOf([&] { db_.RollbackTransaction(); }),
            "Database 'Memory' has no active transaction");
  db_.BeginTransaction();
  EXPECT_TRUE(db_.TransactionActive());
  EXPECT_EQ(ErrorOf([&] { db_.BeginTransaction(); }),
            "Database 'Memory' already has an active transaction");
  db_.CommitTransaction(true);
  EXPECT_EQ(log_, (std::vector<std::string>{"begin A", "commit! A"}));
  db_.SetConnected(false);
  EXPECT_FALSE(db_.TransactionActive());
  EXPECT_EQ(ErrorOf([&] { db_.BeginTransaction(); }),
            "Cannot perform this operation on a closed database");
}

TEST_F(ComponentTransactionTest, DatabasesSharingADirectoryShareItsTransaction) {
  TTabulaDatabase& other = default_.AcquireDatabase("\\memory\\");
  EXPECT_EQ(other.Handle(), db_.Handle());
  db_.BeginTransaction();
  EXPECT_TRUE(other.TransactionActive());
  // Disconnecting the first keeps the directory, and the transaction, alive.
  db_.SetConnected(false);
  EXPECT_TRUE(other.TransactionActive());
  EXPECT_EQ(log_, (std::vector<std::string>{"begin A"}));
  // Disconnecting the last database of the directory rolls it back.
  other.SetConnected(false);
  EXPECT_EQ(log_, (std::vector<std::string>{"begin A", "rollback A"}));
}

TEST_F(ComponentTransactionTest, ReadOnlyDirectoryStartsNoTransaction) {
  TTabulaDatabase ro;
  ro.SetDatabaseName("RO");
  ro.SetDirectory("/no/such/dir");
  ro.SetConnected(true);
  ro.BeginTransaction();
  EXPECT_FALSE(ro.TransactionActive());
  EXPECT_EQ(ErrorOf([&] { ro.CommitTransaction(); }), "Database 'RO' has no active transaction");
}

// The engine lets a restricted transaction open a listed table that no
// cursor has open, so a cursor opened afterwards changes it inside the
// transaction: nothing reaches the file until the commit, and a rollback
// leaves it as it was.
TEST_F(ComponentsTest, RestrictedTransactionTakesInATableNoCursorHasOpen) {
  TempDir scratch;
  TTabulaDatabase db;
  db.SetDatabaseName("Draws");
  db.SetDirectory(scratch.EnginePath());
  db.SetConnected(true);
  storage::TNewTableDefinition new_table;
  storage::TFieldDef num;
  num.name = "NUM";
  num.type = storage::kTypeInteger;
  new_table.table.fields = {num};
  storage::TDataTable::Create(db.Handle()->path(), "T", engine_.core().settings(), new_table);
  const auto data_file = std::filesystem::path(scratch.path()) / "T.dat";
  const auto empty_size = std::filesystem::file_size(data_file);

  auto insert_one = [&](int64_t value) {
    db.BeginTransaction({"T"});
    ASSERT_NE(db.Handle()->FindTable("T"), nullptr);
    auto cursor = OpenTableCursor(*db.Handle(), "T");
    storage::TRecordBuffer r = cursor->NewRecord();
    r.SetInteger(cursor->fields()[0], value);
    cursor->Insert(r);
    EXPECT_EQ(std::filesystem::file_size(data_file), empty_size);
  };
  auto record_count = [&] { return OpenTableCursor(*db.Handle(), "T")->RecordCount(); };

  insert_one(1);
  db.RollbackTransaction();
  EXPECT_EQ(record_count(), 0u);
  insert_one(2);
  db.CommitTransaction();
  EXPECT_GT(std::filesystem::file_size(data_file), empty_size);
  EXPECT_EQ(record_count(), 1u);
}

}  // namespace
}  // namespace downsql::access
