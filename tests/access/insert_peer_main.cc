// insert-peer DIR BASE ROWS BATCH: inserts the rows NUM = BASE+1 ..
// BASE+ROWS into table T of directory DIR (see insert_rows.h). A process of
// its own, built for Linux and for Windows, so that the test script can run
// one of each on the same table at the same time.
// Exit status: 0 done, 1 wrong arguments, 2 an engine error (on stderr).
#include <cstdio>
#include <cstdlib>

#include "tests/access/insert_rows.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: insert-peer DIR BASE ROWS BATCH\n");
    return 1;
  }
  return downsql::access::testing::InsertRows(argv[1], std::atol(argv[2]), std::atol(argv[3]),
                                              std::atol(argv[4]));
}
