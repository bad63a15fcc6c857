downsql_fuzz(draw_payload_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/draw_payload_fuzz.cc DEPS draws)
