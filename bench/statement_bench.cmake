# 100,000 single-row INSERT statements, prepared and run one by one: the
# statement layer against SQLite.
find_package(benchmark REQUIRED)
find_package(SQLite3 REQUIRED)
downsql_program(statement_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/statement_bench.cc
  DEPS access sql benchmark::benchmark SQLite::SQLite3)
