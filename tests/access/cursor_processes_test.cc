// Two processes inserting into one table at the same time, each through its
// own engine, session and directory: no row is lost, no RecordID is used
// twice and every index holds every row. A third process scans the table
// meanwhile and never sees a half-written row.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <set>
#include <thread>

#include "db/access/data_directory.h"
#include "db/access/data_engine.h"
#include "db/access/data_session.h"
#include "db/access/directory_table.h"
#include "db/storage/data_table.h"
#include "db/storage/field_text.h"
#include "tests/access/insert_rows.h"
#include "tests/platform/temp_dir.h"
#include "tests/storage/storage_test_util.h"

namespace downsql::access {
namespace {

// Rows each writer inserts. Every commit outside a transaction waits for the
// disk several times, so that round inserts fewer rows to stay well inside
// the reader's deadline on a slow disk.
constexpr int kRowsPerProcessInTransactions = 10000;
constexpr int kRowsPerProcessEachCommitted = 2000;

using access::testing::InsertRows;
using storage::testing::Column;

// Scans the table again and again until it holds total rows, alternately
// holding the table for the whole scan and locking step by step. Every row
// seen must be whole (its RecordHash matches its bytes) and seen once; a
// held scan sees exactly the rows the header counts, since no writer can
// come between. Returns the exit code for the parent.
int ScanWhileWritten(const std::string& dir, size_t total) {
  // The reader joins once the writers have opened the directory: three
  // processes registering in the lock file at the same moment on a loaded
  // machine can use up a writer's open retries, which leaves that writer's
  // directory read-only and is not what this test is about.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  try {
    TDataEngine engine;
    engine.settings().table_read_lock_wait_time = 1;
    InstallTableOpener(engine);
    engine.Start();
    TDataSession& session = engine.CreateSession("reader");
    TDataDirectory& directory = session.OpenDirectory("db", dir, false);
    auto cursor = OpenTableCursor(directory, "T");
    size_t previous = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    for (int scan = 0; std::chrono::steady_clock::now() < deadline; ++scan) {
      const bool held = scan % 2 == 0;
      std::optional<storage::TTableReadHold> hold;
      if (held) hold.emplace(cursor->table());
      std::set<int64_t> nums;
      cursor->First();
      while (cursor->Next()) {
        const storage::TRecordBuffer& r = cursor->current();
        if (r.record_hash() != storage::ComputeRecordHash(r.data(), r.size(), cursor->fields()))
          return 4;
        if (!nums.insert(*r.GetInteger(cursor->fields()[1])).second) return 5;
      }
      if (held && nums.size() != cursor->table().record_count()) return 6;
      if (nums.size() < previous) return 7;
      previous = nums.size();
      if (nums.size() == total) break;
    }
    cursor.reset();
    session.ReleaseDirectory(directory);
    return previous == total ? 0 : 8;
  } catch (const std::exception& e) {
    fprintf(stderr, "reader: %s\n", e.what());
    return 2;
  }
}

void RunTwoWriters(int batch) {
  const int rows = batch == 0 ? kRowsPerProcessEachCommitted : kRowsPerProcessInTransactions;
  platform::TempDir temp;
  std::string dir = temp.path() + "/";
  {
    storage::EngineSettings settings;
    storage::TNewTableDefinition new_table;
    new_table.table.fields = {Column("ID", 6, 29), Column("NUM", 6)};
    storage::TIndexDefinition by_num;
    by_num.name = "ByNum";
    by_num.unique = true;
    by_num.columns = {2};
    by_num.descending_of = {0};
    new_table.secondary = {by_num};
    storage::TDataTable::Create(dir, "T", settings, new_table);
  }
  // The children open everything themselves: nothing is open in the parent
  // when it forks, so no lock is shared through an inherited descriptor.
  pid_t children[3];
  for (int k = 0; k < 3; ++k) {
    children[k] = fork();
    ASSERT_GE(children[k], 0);
    if (children[k] == 0) {
      _exit(k < 2 ? InsertRows(dir, k * 100000, rows, batch) : ScanWhileWritten(dir, 2u * rows));
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }

  storage::EngineSettings settings;
  storage::TTableOpenOptions options;
  options.directory = dir;
  options.name = "T";
  options.settings = &settings;
  auto table = storage::TDataTable::Open(options);
  storage::TDataCursor cursor(table, storage::TSessionSettings{});
  std::set<int32_t> ids, autoincs;
  std::set<int64_t> nums;
  cursor.First();
  while (cursor.Next()) {
    ids.insert(cursor.current().record_id());
    autoincs.insert(static_cast<int32_t>(*cursor.current().GetInteger(cursor.fields()[0])));
    nums.insert(*cursor.current().GetInteger(cursor.fields()[1]));
  }
  EXPECT_EQ(table->record_count(), 2u * rows);
  EXPECT_EQ(ids.size(), 2u * rows);
  EXPECT_EQ(autoincs.size(), 2u * rows);
  EXPECT_EQ(nums.size(), 2u * rows);
  for (const storage::TTableIndex& index : table->indexes()) {
    auto tree = table->Tree(index);
    std::set<uint32_t> pages;
    EXPECT_EQ(tree->Total(), 2u * rows) << index.name;
    EXPECT_EQ(tree->Check(&pages), "") << index.name;
  }
  cursor.SetCurrentIndex(1);
  int64_t previous = -1;
  size_t seen = 0;
  cursor.First();
  while (cursor.Next()) {
    int64_t num = *cursor.current().GetInteger(cursor.fields()[1]);
    EXPECT_GT(num, previous);
    previous = num;
    ++seen;
  }
  EXPECT_EQ(seen, 2u * rows);
}

// Single bytes between the two processes of a test; Wait gives up after
// ms and returns '?'.
class Pipe {
 public:
  Pipe() { EXPECT_EQ(pipe(fds_), 0); }
  ~Pipe() {
    close(fds_[0]);
    close(fds_[1]);
  }
  void Send(char c) { EXPECT_EQ(write(fds_[1], &c, 1), 1); }
  char Wait(int ms) {
    pollfd p{fds_[0], POLLIN, 0};
    char c = '?';
    if (poll(&p, 1, ms) != 1 || read(fds_[0], &c, 1) != 1) return '?';
    return c;
  }

 private:
  int fds_[2];
};

void CreateTableT(const std::string& dir) {
  storage::EngineSettings settings;
  storage::TNewTableDefinition new_table;
  new_table.table.fields = {Column("ID", 6, 29), Column("NUM", 6)};
  storage::TDataTable::Create(dir, "T", settings, new_table);
}

// The reader's side: holds the table for reading while the writer's
// transaction inserts more rows, then counts whole rows twice: before the
// commit (the committed ones only) and after it.
int ReadBesideATransaction(const std::string& dir, Pipe& from_writer, Pipe& to_writer) {
  try {
    if (from_writer.Wait(60000) != 'b') return 10;
    TDataEngine engine;
    InstallTableOpener(engine);
    engine.Start();
    TDataSession& session = engine.CreateSession("reader");
    TDataDirectory& directory = session.OpenDirectory("db", dir, false);
    auto cursor = OpenTableCursor(directory, "T");
    auto count = [&] {
      size_t rows = 0;
      for (cursor->First(); cursor->Next(); ++rows) {
        const storage::TRecordBuffer& r = cursor->current();
        if (r.record_hash() != storage::ComputeRecordHash(r.data(), r.size(), cursor->fields()))
          return size_t{1000};
      }
      return rows;
    };
    int code = 0;
    {
      storage::TTableReadHold hold(cursor->table());
      to_writer.Send('h');
      // The writer's inserts must not wait for this read lock.
      if (from_writer.Wait(20000) != 'i') code = 11;
      if (count() != 5) code = 12;
    }
    to_writer.Send('r');
    if (from_writer.Wait(60000) != 'c') return 13;
    if (count() != 15) code = 14;
    cursor.reset();
    session.ReleaseDirectory(directory);
    return code;
  } catch (const std::exception& e) {
    fprintf(stderr, "reader: %s\n", e.what());
    return 2;
  }
}

// Inside its own transaction a process writes nothing to the table's files
// before the commit and already keeps other writers out with the table's
// transaction byte, so its inserts take no write region: a reader in another
// process holds its read lock meanwhile and sees only committed rows.
TEST(CursorProcesses, ReaderHoldsTheTableWhileAnotherProcessInsertsInATransaction) {
  for (bool restricted : {true, false}) {
    SCOPED_TRACE(restricted ? "restricted" : "all tables");
    platform::TempDir temp;
    const std::string dir = temp.path() + "/";
    CreateTableT(dir);
    Pipe to_reader, to_writer;
    pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) _exit(ReadBesideATransaction(dir, to_reader, to_writer));
    {
      TDataEngine engine;
      InstallTableOpener(engine);
      engine.Start();
      TDataSession& session = engine.CreateSession("writer");
      TDataDirectory& directory = session.OpenDirectory("db", dir, false);
      auto cursor = OpenTableCursor(directory, "T");
      auto insert = [&](int from, int to) {
        for (int n = from; n <= to; ++n) {
          storage::TRecordBuffer r = cursor->NewRecord();
          ASSERT_TRUE(storage::SetColumnFromText(r, cursor->fields()[1], std::to_string(n)));
          cursor->Insert(r);
        }
      };
      insert(1, 5);
      directory.BeginTransaction(restricted ? std::vector<std::string>{"T"}
                                            : std::vector<std::string>{});
      insert(6, 10);
      to_reader.Send('b');
      EXPECT_EQ(to_writer.Wait(60000), 'h');
      insert(11, 15);
      to_reader.Send('i');
      EXPECT_EQ(to_writer.Wait(60000), 'r');
      directory.CommitTransaction(false);
      to_reader.Send('c');
      cursor.reset();
      session.ReleaseDirectory(directory);
    }
    int status = 0;
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
}

TEST(CursorProcesses, TwoWritersEachInsertOutsideTransactions) { RunTwoWriters(0); }

TEST(CursorProcesses, TwoWritersEachInsertInTransactionsOf100) { RunTwoWriters(100); }

}  // namespace
}  // namespace downsql::access
