# tabula-dump: prints a table's data file (header, columns, records, free
# chain) and reports damage with the engine's error.
downsql_program(tabula-dump
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tabula_dump.cc ${CMAKE_CURRENT_LIST_DIR}/tabula_dump_index.cc
  DEPS storage base platform)
