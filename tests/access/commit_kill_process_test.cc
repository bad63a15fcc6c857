// A process importing rows transaction after transaction is killed with
// SIGKILL at random moments, again and again: every time, the table opens,
// is sound, and holds exactly the rows of the transactions that committed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "db/access/data_directory.h"
#include "db/access/data_engine.h"
#include "db/access/data_session.h"
#include "db/access/directory_table.h"
#include "db/storage/data_table.h"
#include "db/storage/table_verifier.h"
#include "tests/platform/temp_dir.h"

namespace downsql::access {
namespace {

// What VERIFY TABLE finds wrong with the table, one finding a line.
std::string Findings(storage::TDataTable& table) {
  std::string out;
  for (const auto& finding : storage::TTableVerifier(table).Run().findings)
    out += finding.text + "\n";
  return out;
}

storage::TFieldDef Column(const char* name, uint8_t type, uint8_t subtype = 0) {
  storage::TFieldDef def;
  def.name = name;
  def.type = type;
  def.subtype = subtype;
  return def;
}

// Transaction n imports RowsOf(n) rows numbered n * 1000 + 1 ... with a
// BLOB each.
int RowsOf(int64_t n) { return 100 + int(n * 37 % 200); }

std::vector<uint8_t> Note(int64_t num) {
  return std::vector<uint8_t>(size_t(20 + num % 90), uint8_t(num));
}

// Imports transactions from the one after the table's last, forever.
int ImportForever(const std::string& dir) {
  try {
    TDataEngine engine;
    InstallTableOpener(engine);
    engine.Start();
    TDataSession& session = engine.CreateSession("importer");
    TDataDirectory& directory = session.OpenDirectory("db", dir, false);
    auto cursor = OpenTableCursor(directory, "T");
    cursor->SetCurrentIndex(1);
    const auto& f = cursor->fields();
    cursor->Last();
    int64_t n = cursor->Prior() ? *cursor->current().GetInteger(f[1]) / 1000 + 1 : 1;
    for (;; ++n) {
      directory.BeginTransaction();
      for (int i = 1; i <= RowsOf(n); ++i) {
        storage::TRecordBuffer r = cursor->NewRecord();
        r.SetInteger(f[1], n * 1000 + i);
        cursor->SetBlob(r, f[2], Note(n * 1000 + i));
        cursor->Insert(r);
      }
      directory.CommitTransaction(false);
    }
  } catch (const std::exception& e) {
    fprintf(stderr, "importer: %s\n", e.what());
    return 2;
  }
}

// The journal's header says a commit is under way. Read past the engine, so
// that the writer's unshared open does not keep the test out.
bool JournalArmed(const std::string& path) {
  char magic[8] = {};
  std::ifstream in(path, std::ios::binary);
  return in.read(magic, sizeof magic) && std::memcmp(magic, "TBJRNL2", 8) == 0;
}

TEST(CommitKillProcess, EveryKillLeavesWholeTransactions) {
  platform::TempDir temp;
  const std::string dir = temp.path() + "/";
  storage::EngineSettings settings;
  {
    storage::TNewTableDefinition new_table;
    new_table.table.fields = {Column("ID", storage::kTypeInteger, storage::kSubtypeAutoInc),
                              Column("NUM", storage::kTypeInteger),
                              Column("NOTE", storage::kTypeBlob)};
    new_table.table.blob_block_size = 64;
    storage::TIndexDefinition by_num;
    by_num.name = "ByNum";
    by_num.unique = true;
    by_num.columns = {2};
    by_num.descending_of = {0};
    new_table.secondary = {by_num};
    storage::TDataTable::Create(dir, "T", settings, new_table);
  }
  std::mt19937 random(23);
  int journals_left = 0;
  int64_t committed = 0;
  for (int round = 1; round <= 30; ++round) {
    SCOPED_TRACE("kill " + std::to_string(round));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(ImportForever(dir));
    if (round % 2 == 0) {
      // Half of the kills wait for a commit to be under way (its journal
      // is armed) and come a moment into it.
      for (int wait = 0; wait < 20000 && !JournalArmed(dir + "T.jnl"); ++wait)
        usleep(100);
      usleep(useconds_t(random() % 800));
    } else {
      usleep(useconds_t(30000 + random() % 150000));
    }
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the importer stopped by itself";

    if (JournalArmed(dir + "T.jnl")) ++journals_left;
    storage::TTableOpenOptions options;
    options.directory = dir;
    options.name = "T";
    options.settings = &settings;
    options.verify = true;
    auto table = storage::TDataTable::Open(options);
    ASSERT_EQ(Findings(*table), "");
    // Rows per transaction, each row as imported.
    std::map<int64_t, int> rows;
    storage::TDataCursor cursor(table, storage::TSessionSettings{});
    const auto& f = cursor.fields();
    cursor.First();
    while (cursor.Next()) {
      int64_t num = *cursor.current().GetInteger(f[1]);
      ASSERT_EQ(cursor.ReadBlob(f[2]), Note(num)) << num;
      ++rows[num / 1000];
    }
    int64_t n = 0;
    for (const auto& [txn, count] : rows) {
      ASSERT_EQ(txn, ++n) << "transactions follow one another";
      ASSERT_EQ(count, RowsOf(txn)) << "transaction " << txn << " is whole";
    }
    ASSERT_GE(n, committed) << "a committed transaction was lost";
    committed = n;
  }
  // How many kills came in the middle of a commit (timing decides).
  RecordProperty("journals_left", journals_left);
  RecordProperty("transactions", int(committed));
  printf("%d of 30 kills left a commit to undo; %lld transactions committed\n", journals_left,
         static_cast<long long>(committed));
}

}  // namespace
}  // namespace downsql::access
