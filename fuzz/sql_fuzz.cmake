downsql_fuzz(sql_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/sql_fuzz.cc DEPS sql)
