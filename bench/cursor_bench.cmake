# The table cursor against SQLite: inserts in one transaction, natural-order scans.
find_package(benchmark REQUIRED)
find_package(SQLite3 REQUIRED)
downsql_program(cursor_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cursor_bench.cc
  DEPS storage benchmark::benchmark SQLite::SQLite3)
