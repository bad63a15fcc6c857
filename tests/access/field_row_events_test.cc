// The cursor's row events reach the engine component's handlers, and the
// error handler's answer steers the cursor.
#include "db/access/row_events.h"

#include <gtest/gtest.h>

#include "db/access/data_directory.h"
#include "db/access/data_engine.h"
#include "db/access/data_session.h"
#include "db/access/directory_table.h"
#include "db/access/tabula_library.h"
#include "db/storage/data_table.h"
#include "db/storage/engine_error.h"
#include "tests/platform/temp_dir.h"

namespace downsql::access {
namespace {

TEST(RowEvents, HandlersSeeEveryChangeAndAnswerErrors) {
  platform::TempDir temp;
  std::string dir = temp.path() + "/";
  TTabulaLibrary library;
  TTabulaEngine& engine = library.engine();
  TDataEngine& core = engine.core();
  InstallTableOpener(core);
  storage::TNewTableDefinition new_table;
  storage::TFieldDef num;
  num.name = "NUM";
  num.type = storage::kTypeInteger;
  new_table.table.fields = {num};
  storage::TIndexDefinition by_num;
  by_num.name = "ByNum";
  by_num.unique = true;
  by_num.columns = {1};
  by_num.descending_of = {0};
  new_table.secondary = {by_num};
  storage::TDataTable::Create(dir, "T", core.settings(), new_table);

  TDataSession& session = core.CreateSession("events");
  TDataDirectory& directory = session.OpenDirectory("db", dir, false);
  std::vector<std::string> seen;
  engine.BeforeInsertTrigger = [&](TTabulaEngine&, TTabulaSession*, TTabulaDatabase*,
                                   const std::string& table, TTabulaRecord* record) {
    seen.push_back("before " + table + " " +
                   std::to_string(*record->buffer().GetInteger(record->fields()[0])));
  };
  engine.AfterInsertTrigger = [&](TTabulaEngine&, TTabulaSession*, TTabulaDatabase*,
                                  const std::string& table,
                                  TTabulaRecord*) { seen.push_back("after " + table); };
  int errors = 0;
  engine.OnInsertError = [&](TTabulaEngine&, TTabulaSession*, TTabulaDatabase*, const std::string&,
                             TTabulaRecord*, const std::exception&, TDataAction& action) {
    ++errors;
    action = daAbort;
  };
  {
    auto probe = OpenTableCursor(directory, "T");
    TEngineRowEvents events(engine, session, directory, probe->fields());
    auto cursor = OpenTableCursor(directory, "T", false, &events);
    storage::TRecordBuffer r = cursor->NewRecord();
    r.SetInteger(cursor->fields()[0], 7);
    cursor->Insert(r);
    EXPECT_EQ(seen, (std::vector<std::string>{"before T 7", "after T"}));
    EXPECT_THROW(cursor->Insert(r), storage::EOperationAborted);  // duplicate, aborted
    EXPECT_EQ(errors, 1);
    engine.OnInsertError = nullptr;
    try {
      cursor->Insert(r);
      FAIL();
    } catch (const storage::ETabulaEngineError& e) {
      EXPECT_EQ(e.code(), storage::kErrDuplicateKey);
    }
  }
  session.ReleaseDirectory(directory);
  core.FreeSession(session);
}

}  // namespace
}  // namespace downsql::access
