# tabula: runs SQL scripts against a database directory (tabula --help).
downsql_program(tabula
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tabula_main.cc ${CMAKE_CURRENT_LIST_DIR}/tabula_output.cc
  DEPS access base platform)
