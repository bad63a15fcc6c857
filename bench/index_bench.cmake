# Index B+-tree: inserts and lookups of INTEGER keys through the index file.
find_package(benchmark REQUIRED)
downsql_program(index_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/index_bench.cc
  DEPS storage benchmark::benchmark)
