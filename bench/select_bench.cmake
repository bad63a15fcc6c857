# SELECT beside SQLite on a keno-like table of 1,000,000 rows.
find_package(benchmark REQUIRED)
find_package(SQLite3 REQUIRED)
downsql_program(select_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/select_bench.cc
  DEPS sql access benchmark::benchmark SQLite::SQLite3)
