# storage_bench: sequential appends and reads of records through the data
# file's buffer pool, in memory and on disk (records per second).
find_package(benchmark REQUIRED)
downsql_program(storage_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/storage_bench.cc
  DEPS storage base platform benchmark::benchmark)
