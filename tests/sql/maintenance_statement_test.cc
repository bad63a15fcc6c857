// VERIFY TABLE and the other maintenance statements, on tables whose files
// are damaged on purpose byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "base/byte_order.h"
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

class DamageTest : public MaintenanceTest {
 protected:
  struct TCase {
    const char* name;
    void (DamageTest::*damage)();
    const char* finding;  // a part of the line VERIFY logs
    uint32_t code;
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
     kErrIndexPageCorrupt},
    {"garbage index page", &DamageTest::GarbageIndexPage, "Index '", kErrIndexPageCorrupt},
    {"broken free chain", &DamageTest::BreakFreeChain,
     "Free-slot chain broken after slot 300: it points at the live record in slot 1",
     kErrRecordBuffersCorrupt},
    {"record hash", &DamageTest::ChangeRecordBytes,
     "Record in slot 5 (RecordID 5) does not match its RecordHash", kErrRecordBuffersCorrupt},
    {"BLOB chain cut short", &DamageTest::CutBlobChain,
     "BLOB of column 'note' in slot 3: chain ends before its length", kErrBlobBuffersCorrupt},
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

}  // namespace
}  // namespace downsql::sql
