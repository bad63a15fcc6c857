// CREATE TABLE, CREATE INDEX and the other table statements, checked on the
// files they write.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "db/storage/column_def.h"
#include "tests/sql/statement_test_util.h"

namespace downsql::sql {
namespace {

using namespace storage;
using testing::StatementDb;

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(TableStatementTest, EachTypeNameMakesItsColumnType) {
  StatementDb db;
  db.Run(
      "CREATE TABLE every (a VARCHAR(10), b CHAR(4), c INTEGER, d SMALLINT, e WORD, "
      "f LARGEINT, g AUTOINC, h FLOAT, i MONEY, j DECIMAL(10,2), k BOOLEAN, l DATE, m TIME, "
      "n TIMESTAMP, o GUID, p BYTES(8), q VARBYTES(9), r MEMO, s BLOB, t GRAPHIC)");
  const struct {
    uint8_t type, subtype;
    uint16_t size;
    uint8_t scale;
  } expected[] = {
      {kTypeString, 0, 10, 0},
      {kTypeString, kSubtypeFixedChar, 4, 0},
      {kTypeInteger, 0, 0, 0},
      {kTypeSmallInt, 0, 0, 0},
      {kTypeWord, 0, 0, 0},
      {kTypeLargeInt, 0, 0, 0},
      {kTypeInteger, kSubtypeAutoInc, 0, 0},
      {kTypeFloat, 0, 0, 0},
      {kTypeFloat, kSubtypeMoney, 0, 0},
      {kTypeDecimal, 0, 0, 2},
      {kTypeBoolean, 0, 0, 0},
      {kTypeDate, 0, 0, 0},
      {kTypeTime, 0, 0, 0},
      {kTypeTimestamp, 0, 0, 0},
      {kTypeString, kSubtypeGuid, 38, 0},
      {kTypeBytes, 0, 8, 0},
      {kTypeVarBytes, 0, 9, 0},
      {kTypeBlob, kSubtypeMemo, 0, 0},
      {kTypeBlob, 0, 0, 0},
      {kTypeBlob, kSubtypeGraphic, 0, 0},
  };
  auto cursor = access::OpenTableCursor(db.directory(), "every");
  const std::vector<TFieldDef>& fields = cursor->fields();
  ASSERT_EQ(fields.size(), std::size(expected));
  for (size_t i = 0; i < fields.size(); ++i) {
    SCOPED_TRACE(fields[i].name);
    EXPECT_EQ(fields[i].type, expected[i].type);
    EXPECT_EQ(fields[i].subtype, expected[i].subtype);
    EXPECT_EQ(fields[i].size, expected[i].size);
    EXPECT_EQ(fields[i].scale, expected[i].scale);
  }
}

TEST(TableStatementTest, GuidColumnDeclaresThirtyEightCharacters) {
  StatementDb db;
  db.Run("CREATE TABLE g (id GUID, after INTEGER)");
  const std::vector<uint8_t> bytes = FileBytes(db.path() + "/g.dat");
  ASSERT_GE(bytes.size(), kTableHeaderSize + 2 * kFieldDefSize);
  const uint8_t* guid = bytes.data() + kTableHeaderSize;
  const uint8_t* after = guid + kFieldDefSize;
  // declared size 38, stored size 39, and the next column's null flag
  // right behind: 25 + 1 + 39.
  const uint8_t guid_sizes[] = {38, 0, 0, 39, 0, 0, 25, 0};
  EXPECT_EQ(0, std::memcmp(guid + 166, guid_sizes, sizeof guid_sizes));
  EXPECT_EQ(after[172] | after[173] << 8, 65);
  // A file that declares 0, as older writers did, reads the same.
  std::vector<uint8_t> old = bytes;
  old[kTableHeaderSize + 166] = 0;
  std::ofstream(db.path() + "/h.dat", std::ios::binary)
      .write(reinterpret_cast<const char*>(old.data()), std::streamsize(old.size()));
  auto cursor = access::OpenTableCursor(db.directory(), "h");
  EXPECT_EQ(cursor->fields()[1].offset, 65);
}

TEST(TableStatementTest, ColumnOptionsAndTableOptionsAreStored) {
  StatementDb db;
  db.Run(
      "CREATE TABLE IF NOT EXISTS o (id INTEGER NOT NULL DESCRIPTION 'key', "
      "name VARCHAR(10) CHARCASE UPPER DEFAULT 'X', n SMALLINT MIN 1 MAXIMUM 9 DEFAULT 5, "
      "at TIMESTAMP DEFAULT CURRENT_TIMESTAMP, body BLOB COMPRESS 6, "
      "CONSTRAINT pk PRIMARY KEY (id DESC) COMPRESS FULL) "
      "DESCRIPTION 'demo' INDEX PAGE SIZE 2048 BLOB BLOCK SIZE 1024 LOCALE CODE 0 "
      "USER MAJOR VERSION 3 USER MINOR VERSION 4 LAST AUTOINC 10 "
      "TEXT INDEX (name) STOP WORDS 'a an' SPACE CHARS ' ' INCLUDE CHARS '-'");
  auto cursor = access::OpenTableCursor(db.directory(), "o");
  const std::vector<TFieldDef>& f = cursor->fields();
  EXPECT_TRUE(f[0].required);
  EXPECT_EQ(f[0].description, "key");
  EXPECT_EQ(f[1].char_case, 2);
  EXPECT_EQ(f[1].default_value, "X");
  EXPECT_EQ(f[2].min_value, "1");
  EXPECT_EQ(f[2].max_value, "9");
  EXPECT_EQ(f[3].default_value, "CURRENT_TIMESTAMP");
  EXPECT_EQ(f[4].compression, 6);
  EXPECT_EQ(cursor->LastAutoIncValue(), 10u);
  const TTableIndex* primary = cursor->table().index_in_slot(0);
  ASSERT_NE(primary, nullptr);
  cursor.reset();
  db.Run("INSERT INTO o (id) VALUES (1)");
  db.Run("INSERT INTO o (id, name) VALUES (2, 'low')");
  EXPECT_EQ(db.ErrorOf("INSERT INTO o (id, n) VALUES (3, 10)"),
            "Tabula Engine Error # 9731 The value for the field 'n' in the table 'o' is above the "
            "maximum allowable value");
  auto rows = db.Rows("o");
  ASSERT_EQ(rows.size(), 2u);
  // Defaults applied; the name upper-cased.
  EXPECT_EQ(rows[0].substr(0, 6), "1|X|5|");
  EXPECT_EQ(rows[1].substr(0, 8), "2|LOW|5|");
  // IF NOT EXISTS leaves the table alone.
  db.Run("CREATE TABLE IF NOT EXISTS o (other INTEGER)");
  EXPECT_EQ(db.Rows("o").size(), 2u);
}

TEST(TableStatementTest, IndexesAreMadeUsedAndDropped) {
  StatementDb db;
  db.Run("CREATE TABLE t (id INTEGER UNIQUE, name VARCHAR(10))");
  db.Run("INSERT INTO t VALUES (1, 'b')");
  db.Run("INSERT INTO t VALUES (2, 'B')");
  EXPECT_EQ(db.ErrorOf("CREATE UNIQUE NOCASE INDEX byname ON t (name)"),
            "Tabula Engine Error # 9729 Duplicate key found in the index 'byname' of the table "
            "'t'");
  db.Run("CREATE NOCASE INDEX byname ON t (name DESC, id ASC) COMPRESS DUPBYTE");
  db.Run("CREATE INDEX IF NOT EXISTS byname ON t (id)");
  EXPECT_EQ(db.ErrorOf("INSERT INTO t VALUES (1, 'c')"),
            "Tabula Engine Error # 9729 Duplicate key found in the index 'id' of the table 't'");
  {
    auto cursor = access::OpenTableCursor(db.directory(), "t");
    EXPECT_EQ(cursor->table().indexes().size(), 3u);
  }
  db.Run("DROP INDEX t.byname");
  db.Run("DROP INDEX IF EXISTS t.byname");
  db.Run("DROP INDEX t");
  auto cursor = access::OpenTableCursor(db.directory(), "t");
  EXPECT_EQ(cursor->table().indexes().size(), 1u);
}

TEST(TableStatementTest, DropRenameAndEmpty) {
  StatementDb db;
  db.Run("CREATE TABLE t (id INTEGER, note MEMO)");
  db.Run("INSERT INTO t VALUES (1, 'x')");
  db.Run("RENAME TABLE t TO u");
  EXPECT_FALSE(db.database().TableExists("t"));
  EXPECT_EQ(db.Rows("u"), std::vector<std::string>{"1|x"});
  db.Run("EMPTY TABLE u");
  EXPECT_TRUE(db.Rows("u").empty());
  db.Run("RENAME TABLE IF EXISTS t TO v");
  db.Run("DROP TABLE u");
  db.Run("DROP TABLE IF EXISTS u");
  EXPECT_FALSE(db.database().TableExists("u"));
  const std::string error = db.ErrorOf("DROP TABLE u");
  EXPECT_EQ(error.rfind("Tabula Engine Error # 11010 Table or backup file ", 0), 0u) << error;
}

}  // namespace
}  // namespace downsql::sql
