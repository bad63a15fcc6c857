downsql_fuzz(data_file_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/data_file_fuzz.cc DEPS storage)
