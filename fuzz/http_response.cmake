downsql_fuzz(http_response_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_response_fuzz.cc DEPS http)
