# downsql: the import dialog on the command line (summary, request, run).
# The target has its own name; the shared library owns the name "downsql".
downsql_program(downsql_cli
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/downsql_main.cc ${CMAKE_CURRENT_LIST_DIR}/downsql_update.cc
  DEPS updater ui ui_gtk base platform)
set_target_properties(downsql_cli PROPERTIES OUTPUT_NAME downsql)
