// One process's share of the tests where several processes insert into one
// table at once: table T of dir (ID AUTOINC, NUM INTEGER with a unique
// index) gets the rows NUM = base+1 .. base+rows, in transactions of batch
// rows (0: each row on its own), through an engine, session and directory
// of its own. Waits at most a second for a lock another process holds.
// Returns 0 when done, 2 on an engine error (written to stderr), 3 when a
// number does not fit the column.
#pragma once

#include <cstdio>
#include <exception>
#include <string>

#include "db/access/data_directory.h"
#include "db/access/data_engine.h"
#include "db/access/data_session.h"
#include "db/access/directory_table.h"
#include "db/storage/field_text.h"

namespace downsql::access::testing {

inline int InsertRows(const std::string& dir, long base, long rows, long batch) {
  try {
    TDataEngine engine;
    engine.settings().table_write_lock_wait_time = 1;
    engine.settings().table_trans_lock_wait_time = 1;
    InstallTableOpener(engine);
    engine.Start();
    TDataSession& session = engine.CreateSession("worker");
    session.lock_wait_time = 1;
    TDataDirectory& directory = session.OpenDirectory("db", dir, false);
    auto cursor = OpenTableCursor(directory, "T");
    for (long i = 1; i <= rows; ++i) {
      if (batch > 0 && i % batch == 1) directory.BeginTransaction();
      storage::TRecordBuffer r = cursor->NewRecord();
      if (!storage::SetColumnFromText(r, cursor->fields()[1], std::to_string(base + i))) return 3;
      cursor->Insert(r);
      if (batch > 0 && (i % batch == 0 || i == rows)) directory.CommitTransaction(false);
    }
    cursor.reset();
    session.ReleaseDirectory(directory);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "worker: %s\n", e.what());
    return 2;
  }
}

}  // namespace downsql::access::testing
