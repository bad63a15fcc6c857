// Commits cut short: a process that dies at any write or flush of a commit,
// or a machine that loses power, leaves a table that the next opener brings
// back to its last whole commit.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>

#include "db/storage/data_cursor.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"
#include "db/storage/table_journal.h"
#include "db/storage/table_verifier.h"
#include "tests/platform/crash_files.h"
#include "tests/platform/temp_dir.h"

namespace downsql::storage {
namespace {

// What VERIFY TABLE finds wrong with the table, one finding a line.
std::string Findings(TDataTable& table) {
  std::string out;
  for (const auto& finding : TTableVerifier(table).Run().findings) out += finding.text + "\n";
  return out;
}

TFieldDef Column(const char* name, uint8_t type, uint8_t subtype = 0) {
  TFieldDef def;
  def.name = name;
  def.type = type;
  def.subtype = subtype;
  return def;
}

std::vector<uint8_t> Bytes(size_t n, int seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed * 31 + int(i) * 7);
  return v;
}

// T: ID AUTOINC, NUM INTEGER under the unique index ByNum, NOTE BLOB in
// 64-byte blocks, so that a commit writes all three files. Its files on the
// first open come from a CrashFiles.
class Table {
 public:
  explicit Table(const std::string& dir) : dir_(dir) {
    TNewTableDefinition new_table;
    new_table.table.fields = {Column("ID", kTypeInteger, kSubtypeAutoInc),
                              Column("NUM", kTypeInteger), Column("NOTE", kTypeBlob)};
    new_table.table.blob_block_size = 64;
    TIndexDefinition by_num;
    by_num.name = "ByNum";
    by_num.unique = true;
    by_num.columns = {2};
    by_num.descending_of = {0};
    new_table.secondary = {by_num};
    TDataTable::Create(dir_, "T", settings_, new_table);
    Open(&files);
  }

  void Open(platform::FileOpener* opener) {
    cursor.reset();
    table.reset();
    TTableOpenOptions options;
    options.directory = dir_;
    options.name = "T";
    options.settings = &settings_;
    options.files = opener;
    options.verify = opener == nullptr;
    table = TDataTable::Open(options);
    TSessionSettings session;
    session.lock_protocol = lpOptimistic;
    cursor = std::make_unique<TDataCursor>(table, session);
    cursor->SetCurrentIndex(1);
  }
  void Close() {
    cursor.reset();
    table.reset();
  }

  const TFieldDef& F(int i) { return cursor->fields()[size_t(i)]; }
  void Insert(int num) {
    TRecordBuffer r = cursor->NewRecord();
    r.SetInteger(F(1), num);
    cursor->SetBlob(r, F(2), Bytes(size_t(40 + num % 170), num));
    cursor->Insert(r);
  }
  bool Find(int num) {
    TRecordBuffer key = cursor->NewRecord();
    key.SetInteger(F(1), num);
    return cursor->FindKey(key);
  }
  void Renumber(int num, int to) {
    if (!Find(num)) return;
    TRecordBuffer r = cursor->current();
    r.SetInteger(F(1), to);
    cursor->SetBlob(r, F(2), Bytes(size_t(300 + to % 50), to));
    cursor->Update(r);
  }
  void Remove(int num) {
    if (Find(num)) cursor->Delete();
  }

  // One transaction: count new rows from first, every row below first
  // whose number is a multiple of 7 renumbered (a new key and value), every
  // one that is a multiple of 11 deleted.
  void Change(int first, int count, bool flush) {
    table->BeginTransaction();
    for (int n = first; n < first + count; ++n) Insert(n);
    for (int n = 7; n < first && n < 1000 * (first / 1000); n += 7) Renumber(n, n + 500);
    for (int n = 11; n < first && n < 1000 * (first / 1000); n += 11) Remove(n);
    table->CommitTransaction(flush);
  }

  // NUM, BLOB length and first byte of every row in ByNum order.
  std::string Rows() {
    std::string out;
    cursor->First();
    while (cursor->Next()) {
      std::vector<uint8_t> note = cursor->ReadBlob(F(2));
      out += std::to_string(*cursor->current().GetInteger(F(1))) + ":" +
             std::to_string(note.size()) + ":" + std::to_string(note.empty() ? 0 : note[0]) + " ";
    }
    return out + "(" + std::to_string(cursor->RecordCount()) + ")";
  }

  platform::CrashFiles files;
  std::shared_ptr<TDataTable> table;
  std::unique_ptr<TDataCursor> cursor;

 private:
  std::string dir_;
  EngineSettings settings_;
};

// After a crash: the table opens (restoring what the journal holds), is
// sound, and takes new rows.
void ExpectWholeAndWritable(Table& t, std::optional<std::string> rows,
                            const std::vector<std::string>& any_of = {}) {
  try {
    t.Open(nullptr);
    std::string now = t.Rows();
    if (rows) {
      EXPECT_EQ(now, *rows);
    }
    if (!any_of.empty()) {
      EXPECT_NE(std::find(any_of.begin(), any_of.end(), now), any_of.end())
          << "rows after the cut: " << now;
    }
    EXPECT_EQ(Findings(*t.table), "");
    t.Insert(90001);
    t.Insert(90002);
    EXPECT_EQ(Findings(*t.table), "");
    EXPECT_EQ(t.table->record_count(), uint32_t(t.cursor->RecordCount()));
  } catch (const ETabulaEngineError& e) {
    ADD_FAILURE() << "the table is damaged: " << e.what();
  }
}

TEST(CommitCrashTest, ADeathAtAnyWriteOrFlushOfACommitLeavesTheEarlierCommits) {
  // The stopped commit: 300 new rows with their BLOBs, renumbered and
  // deleted rows of the first commit: slots, free chains, index pages and
  // BLOB blocks overwritten in place and appended.
  for (bool flush : {false, true}) {
    SCOPED_TRACE(flush ? "COMMIT FLUSH" : "COMMIT");
    int changes = 0;
    std::string earlier, committed;
    {
      platform::TempDir dir;
      Table t(dir.path() + "/");
      t.Change(1, 200, flush);
      earlier = t.Rows();
      int before = t.files.changes();
      t.Change(1000, 300, flush);
      changes = t.files.changes() - before;
      committed = t.Rows();
    }
    ASSERT_GT(changes, 8);
    for (int k = 1; k <= changes; ++k) {
      SCOPED_TRACE("stopped at change " + std::to_string(k));
      platform::TempDir dir;
      Table t(dir.path() + "/");
      t.Change(1, 200, flush);
      t.files.CrashAt(t.files.changes() + k);
      EXPECT_THROW(t.Change(1000, 300, flush), ETabulaEngineError);
      ASSERT_TRUE(t.files.crashed());
      t.Close();
      std::string dir_path = dir.path() + "/";
      if (k % 2 == 0) {
        // The one who restores the table dies too, at one of its own
        // writes; the next opener starts over.
        platform::CrashFiles again;
        again.CrashAt(k / 2 % 5 + 1);
        try {
          t.Open(&again);
        } catch (const ETabulaEngineError&) {
        }
        t.Close();
      }
      // With FLUSH the last change flushes the journal's cleared header:
      // the commit is whole by then, and stays.
      ExpectWholeAndWritable(t, flush && k == changes ? committed : earlier);
      EXPECT_FALSE(TTableJournal::Armed(dir_path + "T.jnl", nullptr));
    }
  }
}

TEST(CommitCrashTest, APowerCutCostsAtMostTheLatestCommitAndNeverTheTable) {
  // Five commits; the power goes at a random change, and the disk keeps
  // what was flushed plus any sectors of what was not. With FLUSH no
  // finished commit is lost; without it the latest finished one may be,
  // but never an earlier one, and the table is always whole.
  constexpr int kCommits = 5;
  for (bool flush : {true, false}) {
    SCOPED_TRACE(flush ? "COMMIT FLUSH" : "COMMIT");
    auto run = [flush](Table& t, int* done) {
      for (int c = 1; c <= kCommits; ++c) {
        t.Change(1000 * c, 60, flush);
        *done = c;
      }
    };
    std::vector<std::string> states;
    int total = 0, opened = 0;
    {
      platform::TempDir dir;
      Table t(dir.path() + "/");
      opened = t.files.changes();
      states.push_back(t.Rows());
      for (int c = 1; c <= kCommits; ++c) {
        t.Change(1000 * c, 60, flush);
        states.push_back(t.Rows());
      }
      total = t.files.changes();
    }
    std::mt19937 random(2026);
    for (uint32_t seed = 1; seed <= 60; ++seed) {
      int at = opened + 1 + int(random() % uint32_t(total - opened));
      SCOPED_TRACE("power cut at change " + std::to_string(at) + ", seed " + std::to_string(seed));
      platform::TempDir dir;
      Table t(dir.path() + "/");
      t.files.CrashAt(at);
      int done = 0;
      EXPECT_THROW(run(t, &done), ETabulaEngineError);
      t.Close();
      t.files.LosePower(seed);
      std::vector<std::string> allowed(states.begin() + (flush || done == 0 ? done : done - 1),
                                       states.begin() + done + 2);
      ExpectWholeAndWritable(t, std::nullopt, allowed);
    }
  }
}

}  // namespace
}  // namespace downsql::storage
