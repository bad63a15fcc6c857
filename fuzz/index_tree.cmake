downsql_fuzz(index_tree_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/index_tree_fuzz.cc DEPS storage)
