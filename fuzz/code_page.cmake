downsql_fuzz(code_page_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/code_page_fuzz.cc DEPS base)
