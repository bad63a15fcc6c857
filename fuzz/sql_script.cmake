downsql_fuzz(sql_script_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/sql_script_fuzz.cc DEPS sql access)
