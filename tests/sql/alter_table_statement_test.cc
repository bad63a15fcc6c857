// ALTER TABLE through the statement: the items and options, the conversion
// of every row with INSERT's rules, the data-lost hook, indexes kept or
// dropped, and a table left as it was when the caller stops.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/sql/statement_test_util.h"

namespace downsql::sql {
namespace {

using namespace storage;
using testing::StatementDb;

// What one ALTER TABLE did: the hooks it called and the error it ended
// with.
struct TAltered {
  std::vector<std::string> asked;  // tables the data-lost hook named
  std::vector<std::string> log;
  uint32_t code = 0;
  std::string message;
};

class AlterTableTest : public ::testing::Test {
 protected:
  // go_on: the data-lost hook's answer.
  TAltered Alter(const std::string& sql, bool go_on = true) {
    TAltered altered;
    TQueryStatement statement(db.database());
    statement.callbacks.data_lost = [&](const std::string& table, bool& go) {
      altered.asked.push_back(table);
      go = go_on;
    };
    statement.callbacks.log = [&](const std::string& line) { altered.log.push_back(line); };
    try {
      statement.Prepare(sql);
      statement.Execute({}, {.log = true, .data_lost = true});
    } catch (const ETabulaEngineError& e) {
      altered.code = e.code();
      altered.message = e.what();
    }
    return altered;
  }

  std::string ReadFile(const std::string& name) const {
    std::ifstream in(db.path() + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string Files(const std::string& table) const {
    return ReadFile(table + ".dat") + "|" + ReadFile(table + ".idx") + "|" +
           ReadFile(table + ".blb");
  }
  // The columns of a table as "name TYPE", in order.
  std::string Columns(const std::string& table) {
    std::string text;
    auto cursor = db.database().OpenTable(table);
    for (const TFieldDef& f : cursor->fields()) {
      if (!text.empty()) text += ", ";
      text += f.name + " " + TypeName(f);
    }
    return text;
  }
  // The secondary indexes of a table as "name(column numbers)", and the
  // primary index's columns.
  std::string Indexes(const std::string& table) {
    std::string text;
    auto cursor = db.database().OpenTable(table);
    for (const TTableIndex& index : cursor->table().indexes()) {
      const TIndexDefinition& def = cursor->table().index().definition(index.slot);
      if (!text.empty()) text += " ";
      text += index.name + "(";
      for (size_t i = 0; i < def.columns.size(); ++i)
        text += (i ? "," : "") + std::to_string(def.columns[i]);
      text += ")";
    }
    return text;
  }

  mutable StatementDb db;
};

// A table of 10,000 rows with two indexes; one code is no number.
TEST_F(AlterTableTest, TenThousandRowsAreConvertedAndTheirIndexesStayConsistent) {
  db.Run(
      "CREATE TABLE big (id INTEGER NOT NULL, name VARCHAR(20), amount FLOAT, code VARCHAR(10), "
      "PRIMARY KEY (id))");
  db.Run("CREATE INDEX byname ON big (name)");
  db.Run("CREATE INDEX bycode ON big (code)");
  db.Run("START TRANSACTION");
  for (int i = 1; i <= 10000; ++i) {
    const std::string code = i == 4321 ? "x4321" : std::to_string(10000 - i);
    db.Run("INSERT INTO big VALUES (" + std::to_string(i) + ", 'name" + std::to_string(i % 997) +
           "', " + std::to_string(i) + ".5, '" + code + "')");
  }
  db.Run("COMMIT");
  const std::string before = Files("big");
  const std::string alter =
      "ALTER TABLE big ADD added INTEGER DEFAULT 5 AT 2, DROP amount, REDEFINE code INTEGER";

  // Stopped at the code that is no number: nothing changes.
  TAltered stopped = Alter(alter, false);
  EXPECT_EQ(stopped.code, 0u) << stopped.message;
  EXPECT_EQ(stopped.asked, std::vector<std::string>{"big"});
  EXPECT_EQ(Files("big"), before);
  EXPECT_FALSE(std::filesystem::exists(db.path() + "/big.dbk"));

  TAltered done = Alter(alter, true);
  EXPECT_EQ(done.code, 0u) << done.message;
  EXPECT_EQ(done.asked, std::vector<std::string>{"big"});
  EXPECT_EQ(done.log, std::vector<std::string>{"Record with RecordID 4321: the value of column "
                                               "'code' cannot be kept in column 'code'"});
  EXPECT_EQ(Columns("big"), "id INTEGER, added INTEGER, name VARCHAR(20), code INTEGER");
  const std::vector<std::string> rows = db.Rows("big");
  ASSERT_EQ(rows.size(), 10000u);
  EXPECT_EQ(rows[0], "1|5|name1|9999");
  EXPECT_EQ(rows[4320], "4321|5|name333|NULL");
  EXPECT_EQ(rows[9999], "10000|5|name30|0");
  EXPECT_EQ(Indexes("big"), "Primary(1) byname(3) bycode(4)");
  EXPECT_EQ(db.CheckTable("big"), "");
  // The converted index answers by the new values.
  EXPECT_EQ(db.Select("SELECT id FROM big WHERE code = 9990"), std::vector<std::string>{"10"});
  EXPECT_EQ(db.Select("SELECT COUNT(*) FROM big WHERE name = 'name1'"),
            std::vector<std::string>{"11"});
  EXPECT_TRUE(std::filesystem::exists(db.path() + "/big.dbk"));
}

TEST_F(AlterTableTest, ItemsChangeColumnsKeysAndOptionsInOrder) {
  db.Run("CREATE TABLE t (id INTEGER, name VARCHAR(10) UNIQUE, note VARCHAR(20))");
  db.Run("CREATE INDEX bynote ON t (note DESC)");
  db.Run("INSERT INTO t VALUES (1, 'one', 'first')");
  db.Run("INSERT INTO t VALUES (2, 'two', 'second')");
  const struct {
    const char* sql;
    const char* columns;
    const char* indexes;
    const char* first_row;
  } cases[] = {
      {"ALTER TABLE t ADD COLUMN day DATE DEFAULT '2009-03-14' AT 1",
       "day DATE, id INTEGER, name VARCHAR(10), note VARCHAR(20)", "Primary(-1) name(3) bynote(4)",
       "2009-03-14|1|one|first"},
      // A new name, a new type and a new place; the indexes follow.
      {"ALTER TABLE t REDEFINE note remark VARCHAR(30) AT 1, REDEFINE id INTEGER NOT NULL",
       "remark VARCHAR(30), day DATE, id INTEGER, name VARCHAR(10)",
       "Primary(-1) name(4) bynote(1)", "first|2009-03-14|1|one"},
      {"ALTER TABLE t ADD PRIMARY KEY (id) COMPRESS FULL", nullptr, "Primary(3) name(4) bynote(1)",
       nullptr},
      // A dropped column takes its indexes with it.
      {"ALTER TABLE t DROP remark, DROP day", "id INTEGER, name VARCHAR(10)", "Primary(1) name(2)",
       "1|one"},
      {"ALTER TABLE t DROP CONSTRAINT pk, REDEFINE [name] VARCHAR(10) UNIQUE PRIMARY KEY", nullptr,
       "Primary(2) name(2)", nullptr},
      {"ALTER TABLE t DROP PRIMARY KEY ADD flag BOOLEAN, DROP name", "id INTEGER, flag BOOLEAN",
       "Primary(-1)", "1|NULL"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    const TAltered altered = Alter(c.sql);
    ASSERT_EQ(altered.code, 0u) << altered.message;
    if (c.columns) {
      EXPECT_EQ(Columns("t"), c.columns);
    }
    EXPECT_EQ(Indexes("t"), c.indexes);
    if (c.first_row) {
      EXPECT_EQ(db.Rows("t").front(), c.first_row);
    }
    EXPECT_EQ(db.CheckTable("t"), "");
  }
  // Table options not named stay; NOBACKUP keeps no previous files.
  db.Run("ALTER TABLE t DESCRIPTION 'draws' USER MAJOR VERSION 3 LAST AUTOINC 41 NOBACKUP");
  auto cursor = db.database().OpenTable("t");
  EXPECT_EQ(cursor->table().data().description(), "draws");
  EXPECT_EQ(cursor->table().data().user_major(), 3);
  EXPECT_EQ(cursor->table().data().index_page_size(), 4096u);
  EXPECT_EQ(cursor->LastAutoIncValue(), 41);
  EXPECT_FALSE(std::filesystem::exists(db.path() + "/t.dbk"));
}

TEST_F(AlterTableTest, DroppedIndexesAreLogged) {
  db.Run("CREATE TABLE t (id INTEGER, name VARCHAR(10), note MEMO, PRIMARY KEY (id, name))");
  db.Run("CREATE INDEX bynote ON t (name)");
  const TAltered altered = Alter("ALTER TABLE t DROP name");
  EXPECT_EQ(altered.log,
            (std::vector<std::string>{"Index 'Primary' is dropped: a column of it is gone",
                                      "Index 'bynote' is dropped: a column of it is gone"}));
  EXPECT_EQ(Indexes("t"), "Primary(-1)");
}

TValue Bytes(std::string bytes) {
  TValue v = TValue::String(std::move(bytes));
  v.type = kTypeBytes;
  return v;
}

TEST_F(AlterTableTest, ValuesConvertByTheRulesOfInsertOrAreLost) {
  const struct {
    const char* from;
    TValue value;
    const char* to;
    const char* kept;  // nullptr: the value cannot be kept
  } cases[] = {
      {"VARCHAR(10)", TValue::String("123"), "INTEGER", "123"},
      {"VARCHAR(10)", TValue::String("12a"), "INTEGER", nullptr},
      {"VARCHAR(10)", TValue::String("abcdefgh"), "VARCHAR(5)", nullptr},
      {"CHAR(6)", TValue::String("abc   "), "VARCHAR(3)", "abc"},
      {"VARCHAR(10)", TValue::String("2009-3-14"), "DATE", "2009-03-14"},
      {"VARCHAR(10)", TValue::String("2009-2-30"), "DATE", nullptr},
      {"VARCHAR(10)", TValue::String("true"), "BOOLEAN", "TRUE"},
      {"INTEGER", TValue::Integer(70000), "SMALLINT", nullptr},
      {"INTEGER", TValue::Integer(-1), "WORD", nullptr},
      {"INTEGER", TValue::Integer(65535), "WORD", "65535"},
      {"INTEGER", TValue::Integer(5), "BOOLEAN", "TRUE"},
      {"INTEGER", TValue::Integer(123456), "VARCHAR(4)", nullptr},
      {"LARGEINT", TValue::Integer(3000000000, kTypeLargeInt), "INTEGER", nullptr},
      {"FLOAT", TValue::Float(3.7), "INTEGER", "4"},
      {"FLOAT", TValue::Float(1e30), "LARGEINT", nullptr},
      {"FLOAT", TValue::Float(12.345), "DECIMAL(10,2)", "12.35"},
      {"BOOLEAN", TValue::Boolean(true), "SMALLINT", "1"},
      {"DATE", TValue::String("2009-3-14"), "TIMESTAMP", "2009-03-14 00:00"},
      {"TIMESTAMP", TValue::String("2009-3-14 10:11:12"), "DATE", "2009-03-14"},
      {"DATE", TValue::String("2009-3-14"), "TIME", nullptr},
      {"MEMO", TValue::String("a longer text"), "VARCHAR(20)", "a longer text"},
      {"MEMO", TValue::String("a longer text"), "VARCHAR(3)", nullptr},
      {"VARCHAR(10)", TValue::String("text"), "MEMO", "text"},
      {"INTEGER", TValue::Integer(42), "BLOB", "42"},
      {"BYTES(4)", Bytes("ab"), "VARBYTES(2)", "ab"},
      {"VARBYTES(4)", Bytes("abc"), "BYTES(2)", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " " + ValueText(c.value) + " -> " + c.to);
    db.Run("DROP TABLE IF EXISTS c");
    db.Run(std::string("CREATE TABLE c (id INTEGER, v ") + c.from + ")");
    db.Run("INSERT INTO c VALUES (1, ?)", {c.value});
    const TAltered altered = Alter(std::string("ALTER TABLE c REDEFINE v ") + c.to);
    ASSERT_EQ(altered.code, 0u) << altered.message;
    EXPECT_EQ(altered.asked.size(), c.kept ? 0u : 1u);
    std::string row = db.Rows("c").front();
    while (!row.empty() && row.back() == '\0') row.pop_back();
    EXPECT_EQ(row, std::string("1|") + (c.kept ? c.kept : "NULL"));
  }
}

TEST_F(AlterTableTest, ErrorsLeaveTheTableAsItWas) {
  db.Run("CREATE TABLE t (id INTEGER, name VARCHAR(10), PRIMARY KEY (id))");
  db.Run("INSERT INTO t VALUES (1, 'one')");
  db.Run("INSERT INTO t VALUES (2, 'one')");
  const std::string before = Files("t");
  const struct {
    const char* sql;
    uint32_t code;
  } cases[] = {
      {"ALTER TABLE t DROP nothing", kErrInvalidFieldName},
      {"ALTER TABLE t ADD name INTEGER", kErrInvalidFieldName},
      {"ALTER TABLE t REDEFINE id name INTEGER", kErrInvalidFieldName},
      {"ALTER TABLE t ADD PRIMARY KEY (name)", kErrPrimaryIndexExists},
      {"ALTER TABLE t REDEFINE PRIMARY KEY (nothing)", kErrInvalidIndexField},
      {"ALTER TABLE t REDEFINE name VARCHAR(10) UNIQUE", kErrDuplicateKey},
      {"ALTER TABLE t ADD must INTEGER NOT NULL", kErrValueRequired},
      {"ALTER TABLE t REDEFINE id INTEGER MAX 1", kErrAboveMaximum},
      {"ALTER TABLE nothing ADD x INTEGER", kErrFileNotFound},
      {"ALTER TABLE t", kErrSqlParsing},
      {"ALTER TABLE t ADD x INTEGER,", kErrSqlParsing},
      {"ALTER TABLE t REDEFINE x y", kErrSqlParsing},
      {"ALTER TABLE t ADD x INTEGER AT first", kErrSqlParsing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(Alter(c.sql).code, c.code);
    EXPECT_EQ(Files("t"), before);
  }
  EXPECT_EQ(Alter("ALTER TABLE IF EXISTS nothing ADD x INTEGER").code, 0u);
  EXPECT_NE(
      Alter("ALTER TABLE t;")
          .message.find(
              "Expected ADD, DROP, or REDEFINE but instead found ; in ALTER TABLE SQL statement"),
      std::string::npos);
  // A table in use stays as it is.
  {
    auto cursor = db.database().OpenTable("t");
    EXPECT_EQ(Alter("ALTER TABLE t ADD x INTEGER").code, kErrExclusiveRequired);
  }
  EXPECT_EQ(Files("t"), before);
}

}  // namespace
}  // namespace downsql::sql
