// VERIFY TABLE and the other maintenance statements, on tables whose files
// are damaged on purpose byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "base/byte_order.h"
#include "db/storage/table_rebuild.h"
#include "tests/platform/fault_injection.h"
#include "tests/sql/statement_test_util.h"

namespace downsql::sql {
namespace {

using namespace storage;
using testing::StatementDb;

constexpr uint32_t kIndexPage = 1024;
constexpr uint32_t kBlobBlock = 64;
constexpr uint64_t kIndexStart = 25088;

// Reads and patches bytes of a table file in place.
class FileBytes {
 public:
  explicit FileBytes(std::string path) : path_(std::move(path)) {}
  std::vector<uint8_t> Read(uint64_t offset, size_t n) const {
    std::ifstream in(path_, std::ios::binary);
    in.seekg(std::streamoff(offset));
    std::vector<uint8_t> bytes(n);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(n));
    return bytes;
  }
  uint32_t Read32(uint64_t offset) const { return base::GetLE32(Read(offset, 4).data()); }
  void Write(uint64_t offset, const std::vector<uint8_t>& bytes) const {
    std::fstream out(path_, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(std::streamoff(offset));
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  void Write32(uint64_t offset, uint32_t value) const {
    std::vector<uint8_t> b(4);
    base::PutLE32(b.data(), value);
    Write(offset, b);
  }
  uint64_t Size() const { return std::filesystem::file_size(path_); }
  void Resize(uint64_t size) const { std::filesystem::resize_file(path_, size); }

 private:
  std::string path_;
};

// What a statement logged and the error it ended with.
struct TLogged {
  std::vector<std::string> lines;
  std::vector<uint16_t> percents;
  uint32_t code = 0;
  bool Logged(const std::string& part) const {
    for (const std::string& line : lines)
      if (line.find(part) != std::string::npos) return true;
    return false;
  }
};

class MaintenanceTest : public ::testing::Test {
 protected:
  // t: 300 rows, every tenth deleted (a free chain of 30 slots), a MEMO
  // spanning several BLOB blocks in every row, the primary index and one
  // secondary index over small pages.
  void MakeTable() {
    db.Run(
        "CREATE TABLE t (id INTEGER NOT NULL, name VARCHAR(20), note MEMO, PRIMARY KEY (id)) "
        "INDEX PAGE SIZE 1024 BLOB BLOCK SIZE 64");
    db.Run("CREATE INDEX byname ON t (name)");
    db.Run("START TRANSACTION");
    for (int i = 1; i <= 300; ++i) {
      db.Run("INSERT INTO t VALUES (" + std::to_string(i) + ", 'name" + std::to_string(i) + "', '" +
             std::string(100 + i % 50, char('a' + i % 26)) + "')");
    }
    db.Run("COMMIT");
    db.Run("DELETE FROM t WHERE id MOD 10 = 0");
    ASSERT_EQ(db.CheckTable("t"), "");
  }

  TLogged Run(const std::string& sql) {
    TLogged logged;
    TQueryStatement statement(db.database());
    statement.callbacks.log = [&](const std::string& line) { logged.lines.push_back(line); };
    statement.callbacks.progress = [&](uint16_t percent, bool&) {
      logged.percents.push_back(percent);
    };
    statement.Prepare(sql);
    try {
      statement.Execute({}, {.progress = true, .log = true});
    } catch (const ETabulaEngineError& e) {
      logged.code = e.code();
    }
    return logged;
  }

  FileBytes Data() const { return FileBytes(db_path() + "t.dat"); }
  std::string FileBytesOf(const std::string& name) const {
    std::ifstream in(db_path() + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The bytes of t's three files.
  std::string Files() const {
    return FileBytesOf("t.dat") + "|" + FileBytesOf("t.idx") + "|" + FileBytesOf("t.blb");
  }
  FileBytes Index() const { return FileBytes(db_path() + "t.idx"); }
  FileBytes Blob() const { return FileBytes(db_path() + "t.blb"); }
  std::string db_path() const { return db.path() + "/"; }

  // Offsets of record slots and their columns (id at 25, name at 30, note
  // at 52: null flag, first block, version).
  uint64_t SlotOffset(uint32_t slot) const {
    const FileBytes data = Data();
    const std::vector<uint8_t> h = data.Read(0, 512);
    const uint32_t record_size = base::GetLE16(&h[45]);
    const uint32_t columns = base::GetLE16(&h[47]);
    return 512 + 768 * columns + uint64_t(slot - 1) * record_size;
  }
  static constexpr uint32_t kNameValue = 31;
  static constexpr uint32_t kNoteBlock = 53;

  mutable StatementDb db;
};

TEST_F(MaintenanceTest, VerifyOfASoundTableLogsNothingAndSucceeds) {
  MakeTable();
  const TLogged logged = Run("VERIFY TABLE t");
  EXPECT_EQ(logged.code, 0u);
  EXPECT_TRUE(logged.lines.empty()) << logged.lines.front();
  ASSERT_FALSE(logged.percents.empty());
  EXPECT_EQ(logged.percents.back(), 100);
  EXPECT_TRUE(std::is_sorted(logged.percents.begin(), logged.percents.end()));
  EXPECT_EQ(Run("VERIFY TABLE IF EXISTS nothing").code, 0u);
  EXPECT_EQ(Run("VERIFY TABLE nothing").code, kErrFileNotFound);
}

TEST_F(MaintenanceTest, OptimizeWritesTheRowsInIndexOrderWithoutFreeSlots) {
  MakeTable();
  std::vector<std::string> rows = db.Rows("t");
  const uint64_t before = Data().Size();
  EXPECT_EQ(Run("OPTIMIZE TABLE t ON byname NOBACKUP").code, 0u);
  EXPECT_EQ(Data().Read32(25), 0u);    // no free chain
  EXPECT_EQ(Data().Read32(29), 271u);  // 270 slots
  EXPECT_LT(Data().Size(), before);
  EXPECT_EQ(db.CheckTable("t"), "");
  const std::vector<std::string> optimized = db.Rows("t");
  std::vector<std::string> names;
  for (const std::string& row : optimized) {
    const size_t from = row.find('|') + 1;
    names.push_back(row.substr(from, row.find('|', from) - from));
  }
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  std::sort(rows.begin(), rows.end());
  std::vector<std::string> sorted = optimized;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, rows);
  EXPECT_FALSE(std::filesystem::exists(db_path() + "t.dbk"));
  // By the primary index, keeping the previous files.
  EXPECT_EQ(Run("OPTIMIZE TABLE t").code, 0u);
  EXPECT_EQ(db.Rows("t").front().substr(0, 2), "1|");
  EXPECT_TRUE(std::filesystem::exists(db_path() + "t.dbk"));
  EXPECT_EQ(Run("OPTIMIZE TABLE t ON nothing").code, kErrInvalidIndexName);
}

TEST_F(MaintenanceTest, UpgradeAcceptsTheCurrentVersionAndRefusesOthers) {
  MakeTable();
  EXPECT_TRUE(Run("UPGRADE TABLE t").Logged("already at the current version 6"));
  Data().Write(8, {5});
  EXPECT_EQ(Run("UPGRADE TABLE t").code, kErrWrongVersion);
  Data().Write(8, {9});
  EXPECT_EQ(Run("UPGRADE TABLE t").code, kErrInvalidFile);
}

class DamageTest : public MaintenanceTest {
 protected:
  struct TCase {
    const char* name;
    void (DamageTest::*damage)();
    const char* finding;  // a part of the line VERIFY logs
    uint32_t code;
    const char* changed_row;  // the row REPAIR gives back changed ("" none), as "id|..."
  };

  void TruncateIndex() { Index().Resize(Index().Size() - 3 * kIndexPage); }
  void GarbageIndexPage() {
    Index().Write(kIndexStart + kIndexPage, std::vector<uint8_t>(kIndexPage, 0xA7));
  }
  void BreakFreeChain() {
    // The newest deleted slot now links to a live record.
    const uint32_t head = Data().Read32(25);
    Data().Write32(SlotOffset(head) + 1, 1);
  }
  void ChangeRecordBytes() {
    // "name5" becomes "oame5" behind the record's hash.
    Data().Write(SlotOffset(5) + kNameValue, {'o'});
  }
  void CutBlobChain() {
    const uint32_t first = Data().Read32(SlotOffset(3) + kNoteBlock);
    Blob().Write32(512 + uint64_t(first - 1) * kBlobBlock + 4, 0);
  }

  static const TCase kCases[];
};

const DamageTest::TCase DamageTest::kCases[] = {
    {"truncated index file", &DamageTest::TruncateIndex, "Index file truncated",
     kErrIndexPageCorrupt, ""},
    {"garbage index page", &DamageTest::GarbageIndexPage, "Index '", kErrIndexPageCorrupt, ""},
    {"broken free chain", &DamageTest::BreakFreeChain,
     "Free-slot chain broken after slot 300: it points at the live record in slot 1",
     kErrRecordBuffersCorrupt, ""},
    {"record hash", &DamageTest::ChangeRecordBytes,
     "Record in slot 5 (RecordID 5) does not match its RecordHash", kErrRecordBuffersCorrupt,
     "5|oame5|"},
    {"BLOB chain cut short", &DamageTest::CutBlobChain,
     "BLOB of column 'note' in slot 3: chain ends before its length", kErrBlobBuffersCorrupt,
     "3|name3|NULL"},
};

TEST_F(DamageTest, VerifyNamesEachDamageAndChangesNothing) {
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.name);
    db.Run("DROP TABLE IF EXISTS t");
    MakeTable();
    (this->*c.damage)();
    const auto data = Data().Read(0, Data().Size());
    const auto index = Index().Read(0, Index().Size());
    const auto blob = Blob().Read(0, Blob().Size());
    const TLogged logged = Run("VERIFY TABLE t");
    EXPECT_EQ(logged.code, c.code);
    EXPECT_TRUE(logged.Logged(c.finding)) << (logged.lines.empty() ? "" : logged.lines.front());
    EXPECT_EQ(Data().Read(0, Data().Size()), data);
    EXPECT_EQ(Index().Read(0, Index().Size()), index);
    EXPECT_EQ(Blob().Read(0, Blob().Size()), blob);
  }
}

TEST_F(DamageTest, RepairMakesVerifyCleanAndKeepsEveryReadableRow) {
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.name);
    db.Run("DROP TABLE IF EXISTS t");
    MakeTable();
    std::vector<std::string> rows = db.Rows("t");
    (this->*c.damage)();
    const TLogged repair = Run("REPAIR TABLE t");
    EXPECT_EQ(repair.code, 0u);
    const TLogged verify = Run("VERIFY TABLE t");
    EXPECT_EQ(verify.code, 0u);
    EXPECT_TRUE(verify.lines.empty()) << verify.lines.front();
    EXPECT_EQ(db.CheckTable("t"), "");
    // Every row reads back as it was, but the damaged one as far as it can
    // be read.
    const std::string changed = c.changed_row;
    if (!changed.empty()) {
      const std::string id = changed.substr(0, changed.find('|') + 1);
      for (std::string& row : rows) {
        if (row.rfind(id, 0) != 0) continue;
        row = changed.back() == '|' ? changed + row.substr(row.rfind('|') + 1) : changed;
      }
    }
    EXPECT_EQ(db.Rows("t"), rows);
    // The previous files are kept as backups.
    EXPECT_TRUE(std::filesystem::exists(db_path() + "t.dbk"));
    EXPECT_TRUE(std::filesystem::exists(db_path() + "t.ibk"));
    EXPECT_TRUE(std::filesystem::exists(db_path() + "t.bbk"));
  }
}

TEST_F(DamageTest, RepairLogsWhatItDidAndLeavesASoundTableAlone) {
  MakeTable();
  CutBlobChain();
  ChangeRecordBytes();
  const TLogged repair = Run("REPAIR TABLE t NOBACKUP");
  EXPECT_TRUE(
      repair.Logged("Record in slot 3: BLOB of column 'note' cannot be read and is set to NULL"));
  EXPECT_TRUE(repair.Logged("Record in slot 5: RecordHash computed again"));
  EXPECT_TRUE(repair.Logged("Table 't' repaired: 270 records kept"));
  EXPECT_FALSE(std::filesystem::exists(db_path() + "t.dbk"));

  const auto data = Data().Read(0, Data().Size());
  const TLogged again = Run("REPAIR TABLE t");
  EXPECT_TRUE(again.Logged("Table 't' is sound: nothing to repair"));
  EXPECT_EQ(Data().Read(0, Data().Size()), data);
  // FORCEINDEXREBUILD rebuilds a sound table all the same.
  EXPECT_TRUE(Run("REPAIR TABLE t FORCEINDEXREBUILD").Logged("repaired"));
  EXPECT_EQ(Run("VERIFY TABLE t").code, 0u);
}

// A file opener whose new files (those of the rebuild) fail at their nth
// write.
class FailingRebuildFiles : public platform::FileOpener {
 public:
  FailingRebuildFiles(std::string ending, int nth) : ending_(std::move(ending)), nth_(nth) {}
  std::unique_ptr<platform::File> Create(const std::string& path, platform::Share share) override {
    return Arm(platform::CreateFile(path, share));
  }
  std::unique_ptr<platform::File> Open(const std::string& path, platform::Access access,
                                       platform::Share share) override {
    return Arm(platform::OpenFile(path, access, share));
  }
  std::unique_ptr<platform::File> OpenOrReadOnly(const std::string& path,
                                                 platform::Share share) override {
    return Arm(platform::OpenFileOrReadOnly(path, share));
  }

 private:
  std::unique_ptr<platform::File> Arm(std::unique_ptr<platform::File> file) {
    const std::string path = file->path();
    auto wrapped = std::make_unique<platform::FaultInjectingFile>(std::move(file));
    if (path.find("$rebuild") != std::string::npos && path.size() >= ending_.size() &&
        path.compare(path.size() - ending_.size(), ending_.size(), ending_) == 0) {
      wrapped->FailNth(platform::FaultOp::kWrite, nth_, platform::kErrorDiskFull);
    }
    return wrapped;
  }
  std::string ending_;
  int nth_;
};

TEST_F(DamageTest, ARebuildFailingInTheMiddleLeavesTheTableAsItWas) {
  const struct {
    const char* name;
    std::function<void(const TRebuildOptions&)> run;
  } operations[] = {
      {"repair", [](const TRebuildOptions& o) { RepairTable(o, true); }},
      {"optimize", [](const TRebuildOptions& o) { OptimizeTable(o, "byname"); }},
      {"alter",
       [](const TRebuildOptions& o) {
         // A column added in front: every column and index moves.
         TAlterPlan plan;
         plan.definition = DefinitionOf(o.table);
         std::vector<TFieldDef>& fields = plan.definition.table.fields;
         fields.insert(fields.begin(), TFieldDef{});
         fields.front().name = "added";
         fields.front().type = kTypeInteger;
         plan.definition.primary->columns = {2};
         plan.definition.secondary.front().columns = {3};
         plan.source_column = {0, 1, 2, 3};
         AlterTable(o, plan);
       }},
  };
  // Each write of each new file fails in turn, until the operation has
  // fewer writes than that and goes through.
  for (const auto& op : operations) {
    for (const std::string ending : {".dat", ".idx", ".blb"}) {
      db.Run("DROP TABLE IF EXISTS t");
      MakeTable();
      const std::string before = Files();
      int failures = 0;
      for (int nth = 1;; ++nth) {
        SCOPED_TRACE(std::string(op.name) + " " + ending + " " + std::to_string(nth));
        FailingRebuildFiles files(ending, nth);
        TRebuildOptions options;
        options.table = db.database().RebuildOptions("t");
        options.table.files = &files;
        try {
          op.run(options);
        } catch (const ETabulaEngineError& e) {
          ++failures;
          EXPECT_EQ(e.code(), kErrWriteFailed) << e.what();
          EXPECT_TRUE(Files() == before);
          for (const auto& entry : std::filesystem::directory_iterator(db.path())) {
            const std::string file = entry.path().filename().string();
            EXPECT_TRUE(file.rfind("t.", 0) != 0 || file == "t.dat" || file == "t.idx" ||
                        file == "t.blb" || file == "t.jnl")
                << file;
            EXPECT_EQ(file.find("$rebuild"), std::string::npos) << file;
          }
          continue;
        }
        break;
      }
      EXPECT_GE(failures, 1) << op.name << ending;
      EXPECT_EQ(db.CheckTable("t"), "");
      EXPECT_EQ(db.Rows("t").size(), 270u);
      for (const char* backup : {"t.dbk", "t.ibk", "t.bbk"})
        std::filesystem::remove(db_path() + backup);
    }
  }
}

TEST_F(MaintenanceTest, RebuildsReportProgressInStepsAndStopWhenAsked) {
  MakeTable();
  for (const char* sql :
       {"REPAIR TABLE t FORCEINDEXREBUILD", "OPTIMIZE TABLE t", "ALTER TABLE t ADD x INTEGER"}) {
    SCOPED_TRACE(sql);
    // Stopped half way: no error, the table as it was, nothing left beside.
    const std::string before = Files();
    std::vector<uint16_t> percents;
    {
      TQueryStatement statement(db.database());
      statement.callbacks.progress = [&](uint16_t percent, bool& abort) {
        percents.push_back(percent);
        abort = percent >= 50;
      };
      statement.Prepare(sql);
      statement.Execute({}, {.progress = true});
    }
    ASSERT_FALSE(percents.empty());
    EXPECT_GE(percents.back(), 50);
    EXPECT_LT(percents.back(), 100);
    EXPECT_TRUE(Files() == before);
    EXPECT_FALSE(std::filesystem::exists(db_path() + "t.dbk"));
    EXPECT_FALSE(std::filesystem::exists(db_path() + "t$rebuild.dat"));
    // Run through: the session's steps of 5 up to 100.
    const TLogged logged = Run(sql);
    EXPECT_EQ(logged.code, 0u);
    ASSERT_FALSE(logged.percents.empty());
    EXPECT_EQ(logged.percents.back(), 100);
    for (size_t i = 1; i < logged.percents.size(); ++i)
      EXPECT_GE(logged.percents[i], logged.percents[i - 1] + 5) << i;
    EXPECT_GE(logged.percents.size(), 15u);
    EXPECT_EQ(db.CheckTable("t"), "");
    std::filesystem::remove(db_path() + "t.dbk");
    std::filesystem::remove(db_path() + "t.ibk");
    std::filesystem::remove(db_path() + "t.bbk");
  }
}

TEST_F(MaintenanceTest, EncryptedTablesGoThroughEveryRebuildAndBackThroughText) {
  db.session().RememberPassword("secret");
  const std::string columns = "(id INTEGER, name VARCHAR(20), note MEMO, PRIMARY KEY (id))";
  db.Run("CREATE TABLE e " + columns + " ENCRYPTED WITH 'secret'");
  db.Run("CREATE INDEX byname ON e (name)");
  db.Run("START TRANSACTION");
  for (int i = 1; i <= 50; ++i) {
    db.Run("INSERT INTO e VALUES (" + std::to_string(i) + ", 'plainname" + std::to_string(51 - i) +
           "', 'plainnote" + std::to_string(i) + "')");
  }
  db.Run("COMMIT");
  const std::vector<std::string> rows = db.Rows("e");
  auto readable = [&] {
    const std::string files = FileBytesOf("e.dat") + FileBytesOf("e.idx") + FileBytesOf("e.blb");
    return files.find("plainname") != std::string::npos ||
           files.find("plainnote") != std::string::npos;
  };
  ASSERT_FALSE(readable());
  for (const char* sql :
       {"ALTER TABLE e ADD extra INTEGER DEFAULT 1 AT 1", "OPTIMIZE TABLE e ON byname NOBACKUP",
        "REPAIR TABLE e FORCEINDEXREBUILD NOBACKUP", "ALTER TABLE e DROP extra NOBACKUP"}) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(Run(sql).code, 0u);
    EXPECT_EQ(db.CheckTable("e"), "");
    EXPECT_FALSE(readable());
  }
  std::vector<std::string> sorted = db.Rows("e");
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::string> expected = rows;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted, expected);

  // Through text into another encrypted table.
  db.Run("CREATE TABLE copy " + columns + " ENCRYPTED WITH 'secret'");
  const std::string text = db.path() + "/e.txt";
  EXPECT_EQ(db.Run("EXPORT TABLE e TO '" + text + "'"), 50u);
  EXPECT_EQ(db.Run("IMPORT TABLE copy FROM '" + text + "'"), 50u);
  EXPECT_EQ(db.Rows("copy"), db.Rows("e"));

  // A new password; a session that knows only the old one is refused.
  EXPECT_EQ(Run("ALTER TABLE e ENCRYPTED WITH 'other'").code, 0u);
  StatementDb other(db.path());
  other.session().RememberPassword("secret");
  for (const char* sql : {"OPTIMIZE TABLE e", "ALTER TABLE e ADD x INTEGER", "REPAIR TABLE e"}) {
    SCOPED_TRACE(sql);
    try {
      other.Run(sql);
      ADD_FAILURE() << "no error";
    } catch (const ETabulaEngineError& e) {
      EXPECT_EQ(e.code(), kErrPasswordRequired);
    }
  }
  other.session().RememberPassword("other");
  EXPECT_EQ(other.Rows("e"), db.Rows("copy"));
}

// --- EXPORT and IMPORT ------------------------------------------------------

class ExportImportTest : public MaintenanceTest {
 protected:
  static constexpr const char* kColumns =
      "(a VARCHAR(40), b CHAR(4), c INTEGER, d SMALLINT, e WORD, f LARGEINT, g AUTOINC, "
      "h FLOAT, i MONEY, j DECIMAL(10,2), k BOOLEAN, l DATE, m TIME, n TIMESTAMP, o GUID, "
      "p BYTES(4), q VARBYTES(9), r MEMO, s BLOB, t GRAPHIC)";

  static TValue Bytes(std::string bytes, uint8_t type) {
    TValue v = TValue::String(std::move(bytes));
    v.type = type;
    return v;
  }

  // every: a row of awkward values, a row of NULLs, a row of plain ones.
  void MakeEvery() {
    db.Run(std::string("CREATE TABLE every ") + kColumns);
    db.Run("CREATE TABLE copy " + std::string(kColumns));
    const std::string insert =
        "INSERT INTO every VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    db.Run(insert, {TValue::String("a,b;\"quoted\"\r\nnext line"),
                    TValue::String("x\"y"),
                    TValue::Integer(-2147483647),
                    TValue::Integer(-32768),
                    TValue::Integer(65535),
                    TValue::Integer(-9007199254740993, kTypeLargeInt),
                    TValue::Integer(7),
                    TValue::Float(-1.0 / 3),
                    TValue::Float(1234.5678),
                    TValue::Float(-12.25),
                    TValue::Boolean(true),
                    TValue::String("2009-3-14"),
                    TValue::String("23:59:58.123"),
                    TValue::String("1999-12-31 00:00:00.001"),
                    TValue::String("{3F2504E0-4F89-11D3-9A0C-0305E82C3301}"),
                    Bytes(std::string("\x01,\n\"", 4), kTypeBytes),
                    Bytes(std::string("\r\n;\x7f", 4), kTypeVarBytes),
                    TValue::String("memo,\"with\"\nline breaks\r\nand ; delimiters"),
                    Bytes(std::string("\x00\xff,\n", 4), kTypeBlob),
                    Bytes("graphic", kTypeBlob)});
    db.Run("INSERT INTO every (c) VALUES (NULL)");
    db.Run(insert, {TValue::String("plain"),
                    TValue::String("abcd"),
                    TValue::Integer(1),
                    TValue::Integer(2),
                    TValue::Integer(3),
                    TValue::Integer(4),
                    TValue::Integer(50),
                    TValue::Float(6.5),
                    TValue::Float(7),
                    TValue::Float(8.01),
                    TValue::Boolean(false),
                    TValue::String("1-1-1"),
                    TValue::String("0:00"),
                    TValue::String("9999-12-31 23:59:59.999"),
                    TValue::Null(),
                    Bytes("abcd", kTypeBytes),
                    Bytes("v", kTypeVarBytes),
                    TValue::String("m"),
                    Bytes("b", kTypeBlob),
                    TValue::Null()});
  }

  std::string TextFile() const { return db.path() + "/every.txt"; }
  std::string FileText() const {
    std::ifstream in(TextFile(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(ExportImportTest, EveryTypeRoundTripsUnderEachSetOfOptions) {
  MakeEvery();
  const std::vector<std::string> rows = db.Rows("every");
  ASSERT_EQ(rows.size(), 3u);
  const struct {
    const char* options;
    const char* expected_text;  // a part of the written file
  } cases[] = {
      {"", "\"a,b;\"\"quoted\"\"\r\nnext line\""},
      {" WITH HEADERS", "a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q,r,s,t\r\n"},
      {" DELIMITER ';' DATE 'dd.mm.yyyy' TIME 'hh:nn:ss.zzz' DECIMAL ','",
       ";14.03.2009;23:59:58.123;31.12.1999 00:00:00.001;"},
      {" DELIMITER '\t' WITH HEADERS DATE 'm/d/yy' TIME 'h:nn:ss ampm'", "\t3/14/09\t11:59:58 PM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    db.Run("EMPTY TABLE copy");
    EXPECT_EQ(db.Run("EXPORT TABLE every TO '" + TextFile() + "'" + c.options), 3u);
    EXPECT_NE(FileText().find(c.expected_text), std::string::npos) << FileText();
    EXPECT_EQ(db.Run("IMPORT TABLE copy FROM '" + TextFile() + "'" + c.options), 3u);
    std::vector<std::string> copied = db.Rows("copy");
    if (std::string(c.options).find("ampm") != std::string::npos) {
      // Without milliseconds in the format the times lose them.
      EXPECT_EQ(copied.size(), 3u);
      continue;
    }
    EXPECT_EQ(copied, rows);
  }
}

TEST_F(ExportImportTest, ColumnsChooseAndOrderTheFields) {
  MakeEvery();
  db.Run("EXPORT TABLE every TO '" + TextFile() + "' COLUMNS (c, a)");
  EXPECT_EQ(FileText().substr(0, 15), "-2147483647,\"a,");
  db.Run("CREATE TABLE two (c INTEGER, a VARCHAR(40))");
  EXPECT_EQ(db.Run("IMPORT TABLE two FROM '" + TextFile() + "'"), 3u);
  EXPECT_EQ(db.Rows("two")[1], "NULL|NULL");
}

TEST_F(ExportImportTest, ABadFieldNamesItsLineAndColumnAndImportsNothing) {
  db.Run("CREATE TABLE n (id INTEGER, day DATE)");
  {
    std::ofstream out(TextFile(), std::ios::binary);
    out << "id,day\r\n1,2009-01-01\r\n2,\"2009-01-02\"\r\n3,2009-02-30\r\n";
  }
  const std::string message = db.ErrorOf("IMPORT TABLE n FROM '" + TextFile() + "' WITH HEADERS");
  EXPECT_NE(message.find("Invalid value in line 4, column 2 of the file"), std::string::npos)
      << message;
  EXPECT_NE(message.find("is not a valid date"), std::string::npos) << message;
  EXPECT_TRUE(db.Rows("n").empty());
  EXPECT_NE(db.ErrorOf("IMPORT TABLE n FROM '" + TextFile() + "' COLUMNS (id, nothing)")
                .find("Column 'nothing' not found"),
            std::string::npos);
}

}  // namespace
}  // namespace downsql::sql
