// insert-peer DIR BASE ROWS BATCH: inserts the rows NUM = BASE+1 ..
// BASE+ROWS into table T of directory DIR (ID AUTOINC, NUM INTEGER with a
// unique index), in transactions of BATCH rows (0: each row on its own).
// A process of its own, built for Linux and for Windows, so that the test
// script can run one of each on the same table at the same time.
// Exit status: 0 done, 1 wrong arguments, 2 an engine error (on stderr).
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "db/access/data_directory.h"
#include "db/access/data_engine.h"
#include "db/access/data_session.h"
#include "db/access/directory_table.h"
#include "db/storage/field_text.h"

using namespace downsql;

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: insert-peer DIR BASE ROWS BATCH\n");
    return 1;
  }
  const std::string dir = argv[1];
  const long base = std::atol(argv[2]);
  const long rows = std::atol(argv[3]);
  const long batch = std::atol(argv[4]);
  try {
    access::TDataEngine engine;
    // Waiting a second for a lock the other process holds is plenty.
    engine.settings().table_write_lock_wait_time = 1;
    engine.settings().table_trans_lock_wait_time = 1;
    access::InstallTableOpener(engine);
    engine.Start();
    access::TDataSession& session = engine.CreateSession("peer");
    session.lock_wait_time = 1;
    access::TDataDirectory& directory = session.OpenDirectory("db", dir, false);
    auto cursor = access::OpenTableCursor(directory, "T");
    for (long i = 1; i <= rows; ++i) {
      if (batch > 0 && i % batch == 1) directory.BeginTransaction();
      storage::TRecordBuffer r = cursor->NewRecord();
      if (!storage::SetColumnFromText(r, cursor->fields()[1], std::to_string(base + i))) return 2;
      cursor->Insert(r);
      if (batch > 0 && (i % batch == 0 || i == rows)) directory.CommitTransaction(false);
    }
    cursor.reset();
    session.ReleaseDirectory(directory);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "insert-peer: %s\n", e.what());
    return 2;
  }
}
